#include "archive/tar_header.h"

#include <cstring>

namespace zrk {

namespace {

// "ustar", blank, blank, NUL across magic and version: the GNU form, which
// keeps access and change times where the POSIX form keeps the prefix.
constexpr char kGnuMagic[8] = {'u', 's', 't', 'a', 'r', ' ', ' ', '\0'};

// Above this, one more octal digit would push bits out of 64.
constexpr std::uint64_t kOctalShiftLimit = 0x1FFFFFFFFFFFFFFFULL;

bool refuse(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

bool is_blank(unsigned char byte) { return byte == 0x00 || byte == ' '; }

bool is_checksum_byte(std::size_t offset) {
  return offset >= kTarChecksum.offset && offset < kTarChecksum.offset + kTarChecksum.width;
}

// Writers disagree on whether header bytes are signed, so either sum is taken.
bool checksum_matches(const unsigned char* block, std::uint64_t stored) {
  std::uint64_t unsigned_sum = 0;
  std::int64_t signed_sum = 0;
  for (std::size_t i = 0; i < kTarBlockSize; ++i) {
    const unsigned char byte = is_checksum_byte(i) ? ' ' : block[i];
    unsigned_sum += byte;
    signed_sum += byte < 0x80 ? byte : static_cast<std::int64_t>(byte) - 256;
  }
  return stored == unsigned_sum ||
         (signed_sum >= 0 && stored == static_cast<std::uint64_t>(signed_sum));
}

}  // namespace

bool parse_octal_field(const unsigned char* bytes, std::size_t width, std::uint64_t* value) {
  std::size_t i = 0;
  while (i < width && is_blank(bytes[i])) ++i;
  std::uint64_t gathered = 0;
  for (; i < width && bytes[i] >= '0' && bytes[i] <= '7'; ++i) {
    if (gathered > kOctalShiftLimit) return false;
    gathered = gathered * 8 + (bytes[i] - '0');
  }
  for (; i < width; ++i) {
    if (!is_blank(bytes[i])) return false;
  }
  *value = gathered;
  return true;
}

std::string read_header_text(const unsigned char* block, std::size_t offset, std::size_t width) {
  const unsigned char* start = block + offset;
  const void* nul = std::memchr(start, 0, width);
  const std::size_t length =
      nul == nullptr ? width
                     : static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start);
  return std::string(reinterpret_cast<const char*>(start), length);
}

bool parse_tar_header(const unsigned char* block, TarMember* member, std::string* reason) {
  if (block == nullptr || member == nullptr) return refuse(reason, "no tar header");

  std::uint64_t checksum = 0;
  if (!parse_octal_field(block + kTarChecksum.offset, kTarChecksum.width, &checksum)) {
    return refuse(reason, "tar header checksum is not octal");
  }
  if (!checksum_matches(block, checksum)) return refuse(reason, "tar header checksum mismatch");
  if (std::memcmp(block + kTarMagic.offset, kUstarMagic.data(), kUstarMagic.size()) != 0) {
    return refuse(reason, "tar header is not ustar");
  }

  const std::string name = read_header_text(block, kTarName.offset, kTarName.width);
  const bool gnu_form = std::memcmp(block + kTarMagic.offset, kGnuMagic, sizeof kGnuMagic) == 0;
  const std::string prefix =
      gnu_form ? std::string() : read_header_text(block, kTarPrefix.offset, kTarPrefix.width);
  if (name.empty()) return refuse(reason, "tar header has no name");

  std::uint64_t mode = 0;
  if (!parse_octal_field(block + kTarMode.offset, kTarMode.width, &mode)) {
    return refuse(reason, "tar header mode is not octal");
  }
  std::uint64_t size = 0;
  if (!parse_octal_field(block + kTarSize.offset, kTarSize.width, &size)) {
    return refuse(reason, "tar header size is not octal");
  }

  member->name = prefix.empty() ? name : prefix + "/" + name;
  member->size = size;
  member->mode = static_cast<std::uint32_t>(mode);
  member->type = block[kTarType.offset] == 0 ? '0' : static_cast<char>(block[kTarType.offset]);
  return true;
}

}  // namespace zrk
