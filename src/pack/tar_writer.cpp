#include "pack/tar_writer.h"

#include <cstdio>
#include <cstring>

namespace zrk {

namespace {

// `value` as octal digits filling all but the field's last byte, then a NUL.
void put_octal(char* block, TarField field, std::uint64_t value) {
  std::snprintf(block + field.offset, field.width, "%0*llo", static_cast<int>(field.width - 1),
                static_cast<unsigned long long>(value));
}

// The split of a name into ustar's prefix and name fields, at a "/" that
// leaves both within their widths; false when there is none.
bool split_name(std::string_view name, std::string_view* prefix, std::string_view* rest) {
  if (name.size() <= kTarName.width) {
    *prefix = {};
    *rest = name;
    return true;
  }
  // A folder's trailing slash stays with the name field.
  const std::size_t search_end = name.size() - 1;
  for (std::size_t slash = name.rfind('/', search_end - 1); slash != std::string_view::npos;
       slash = slash == 0 ? std::string_view::npos : name.rfind('/', slash - 1)) {
    const std::size_t rest_size = name.size() - slash - 1;
    if (rest_size > kTarName.width) break;
    if (slash <= kTarPrefix.width && rest_size > 0) {
      *prefix = name.substr(0, slash);
      *rest = name.substr(slash + 1);
      return true;
    }
  }
  return false;
}

void put_header(char* block, std::string_view prefix, std::string_view name, std::uint64_t size,
                char type, unsigned mode, std::uint64_t mtime) {
  std::memset(block, 0, kTarBlockSize);
  std::memcpy(block + kTarName.offset, name.data(), std::min(name.size(), kTarName.width));
  put_octal(block, kTarMode, mode);
  put_octal(block, kTarUid, 0);
  put_octal(block, kTarGid, 0);
  put_octal(block, kTarSize, size);
  put_octal(block, kTarMtime, mtime);
  block[kTarType.offset] = type;
  // The POSIX form: the magic's NUL is already there.
  std::memcpy(block + kTarMagic.offset, kUstarMagic.data(), kUstarMagic.size());
  std::memcpy(block + kTarVersion.offset, "00", kTarVersion.width);
  put_octal(block, kTarDevMajor, 0);
  put_octal(block, kTarDevMinor, 0);
  if (!prefix.empty()) std::memcpy(block + kTarPrefix.offset, prefix.data(), prefix.size());
  char* const checksum = block + kTarChecksum.offset;
  std::memset(checksum, ' ', kTarChecksum.width);
  unsigned sum = 0;
  for (std::size_t i = 0; i < kTarBlockSize; ++i) sum += static_cast<unsigned char>(block[i]);
  // Six digits, a NUL and a blank, as most writers end it.
  std::snprintf(checksum, kTarChecksum.width - 1, "%06o", sum);
  checksum[6] = '\0';
  checksum[7] = ' ';
}

// "<length> path=<name>\n", where the length counts the whole record.
std::string pax_path_record(std::string_view name) {
  const std::size_t body = std::strlen(" path=") + name.size() + 1;
  std::size_t length = body + 1;
  while (std::to_string(length).size() + body != length)
    length = std::to_string(length).size() + body;
  return std::to_string(length) + " path=" + std::string(name) + "\n";
}

}  // namespace

std::string tar_member_headers(std::string_view name, std::uint64_t size, bool folder,
                               bool executable, std::uint64_t mtime) {
  const char type = folder ? '5' : '0';
  const unsigned mode = folder || executable ? 0755 : 0644;
  std::string_view prefix;
  std::string_view rest;
  if (split_name(name, &prefix, &rest)) {
    std::string out(kTarBlockSize, '\0');
    put_header(out.data(), prefix, rest, size, type, mode, mtime);
    return out;
  }
  const std::string record = pax_path_record(name);
  const auto padded = static_cast<std::size_t>(tar_padded_size(record.size()));
  std::string out(2 * kTarBlockSize + padded, '\0');
  put_header(out.data(), {}, "PaxHeader", record.size(), 'x', 0644, mtime);
  std::memcpy(out.data() + kTarBlockSize, record.data(), record.size());
  // Readers without pax support get the name cut to the field.
  put_header(out.data() + kTarBlockSize + padded, {}, name, size, type, mode, mtime);
  return out;
}

TarOverhead tar_member_overhead(std::string_view name) {
  std::string_view prefix;
  std::string_view rest;
  if (split_name(name, &prefix, &rest)) return {1, 0, kTarBlockSize};
  const std::uint64_t record = pax_path_record(name).size();
  return {2, record, 2 * kTarBlockSize + record + tar_padding(record)};
}

}  // namespace zrk
