// Tar header blocks: every 512-byte block after the first byte (the last one
// padded with zeros) is parsed; a refused block leaves the record as it was.
// An odd first byte has the harness set each block's checksum, so that the
// checks behind the checksum test are reached too.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/tar_header.h"

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "tar_header_fuzz: %s\n", what);
  std::abort();
}

bool same(const zrk::TarMember& a, const zrk::TarMember& b) {
  return a.name == b.name && a.size == b.size && a.mode == b.mode && a.type == b.type;
}

void check_block(const unsigned char* block) {
  zrk::TarMember member;
  member.name = "sentinel";
  member.size = 12345;
  member.mode = 0644;
  member.type = 'q';
  const zrk::TarMember before = member;
  std::string reason;
  const bool parsed = zrk::parse_tar_header(block, &member, &reason);
  zrk::TarMember quiet;
  require(parsed == zrk::parse_tar_header(block, &quiet, nullptr), "verdict depends on reason");

  if (!parsed) {
    require(same(member, before), "record changed by a refused block");
    require(!reason.empty(), "refusal without a reason");
    return;
  }
  require(std::memcmp(block + 257, "ustar", 5) == 0, "accepted a block without ustar magic");
  require(!member.name.empty() && member.name.size() <= 256, "name length out of range");
  require(member.name.find('\0') == std::string::npos, "name holds a NUL");
  require(member.type != '\0', "NUL typeflag not read as '0'");
  require(member.size < (std::uint64_t{1} << 36), "size past twelve octal digits");
  const std::string field = zrk::read_header_text(block, 0, 100);
  require(member.name.size() >= field.size() &&
              member.name.compare(member.name.size() - field.size(), field.size(), field) == 0,
          "name does not end with the name field");
}

void set_checksum(unsigned char* block) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < zrk::kTarBlockSize; ++i) sum += i >= 148 && i < 156 ? ' ' : block[i];
  char field[9];
  std::snprintf(field, sizeof field, "%07o", sum & 07777777);
  std::memcpy(block + 148, field, 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return 0;
  for (std::size_t offset = 1; offset < size; offset += zrk::kTarBlockSize) {
    unsigned char block[zrk::kTarBlockSize] = {};
    std::memcpy(block, data + offset, std::min(zrk::kTarBlockSize, size - offset));
    if ((data[0] & 1) != 0) set_checksum(block);
    check_block(block);
  }
  return 0;
}
