#include "pack/tar_writer.h"

#include <cstdio>
#include <cstring>

namespace zrk {

namespace {

constexpr std::size_t kNameWidth = 100;
constexpr std::size_t kPrefixWidth = 155;
constexpr std::size_t kPrefixOffset = 345;

// `value` as octal digits filling `width - 1` bytes, then a NUL.
void put_octal(char* field, std::size_t width, std::uint64_t value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1),
                static_cast<unsigned long long>(value));
}

// The split of a name into ustar's prefix and name fields, at a "/" that
// leaves both within their widths; false when there is none.
bool split_name(std::string_view name, std::string_view* prefix, std::string_view* rest) {
  if (name.size() <= kNameWidth) {
    *prefix = {};
    *rest = name;
    return true;
  }
  // A folder's trailing slash stays with the name field.
  const std::size_t search_end = name.size() - 1;
  for (std::size_t slash = name.rfind('/', search_end - 1); slash != std::string_view::npos;
       slash = slash == 0 ? std::string_view::npos : name.rfind('/', slash - 1)) {
    const std::size_t rest_size = name.size() - slash - 1;
    if (rest_size > kNameWidth) break;
    if (slash <= kPrefixWidth && rest_size > 0) {
      *prefix = name.substr(0, slash);
      *rest = name.substr(slash + 1);
      return true;
    }
  }
  return false;
}

void put_header(char* block, std::string_view prefix, std::string_view name, std::uint64_t size,
                char type, std::uint64_t mtime) {
  std::memset(block, 0, kTarBlock);
  std::memcpy(block, name.data(), std::min(name.size(), kNameWidth));
  put_octal(block + 100, 8, type == '5' ? 0755 : 0644);
  put_octal(block + 108, 8, 0);
  put_octal(block + 116, 8, 0);
  put_octal(block + 124, 12, size);
  put_octal(block + 136, 12, mtime);
  block[156] = type;
  std::memcpy(block + 257,
              "ustar\0"
              "00",
              8);
  put_octal(block + 329, 8, 0);
  put_octal(block + 337, 8, 0);
  if (!prefix.empty()) std::memcpy(block + kPrefixOffset, prefix.data(), prefix.size());
  std::memset(block + 148, ' ', 8);
  unsigned sum = 0;
  for (std::size_t i = 0; i < kTarBlock; ++i) sum += static_cast<unsigned char>(block[i]);
  std::snprintf(block + 148, 7, "%06o", sum);
  block[154] = '\0';
  block[155] = ' ';
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

std::uint64_t tar_padding(std::uint64_t size) { return (kTarBlock - size % kTarBlock) % kTarBlock; }

std::string tar_member_headers(std::string_view name, std::uint64_t size, bool folder,
                               std::uint64_t mtime) {
  const char type = folder ? '5' : '0';
  std::string_view prefix;
  std::string_view rest;
  if (split_name(name, &prefix, &rest)) {
    std::string out(kTarBlock, '\0');
    put_header(out.data(), prefix, rest, size, type, mtime);
    return out;
  }
  const std::string record = pax_path_record(name);
  const std::size_t padded = record.size() + tar_padding(record.size());
  std::string out(2 * kTarBlock + padded, '\0');
  put_header(out.data(), {}, "PaxHeader", record.size(), 'x', mtime);
  std::memcpy(out.data() + kTarBlock, record.data(), record.size());
  // Readers without pax support get the name cut to the field.
  put_header(out.data() + kTarBlock + padded, {}, name, size, type, mtime);
  return out;
}

TarOverhead tar_member_overhead(std::string_view name) {
  std::string_view prefix;
  std::string_view rest;
  if (split_name(name, &prefix, &rest)) return {1, 0, kTarBlock};
  const std::uint64_t record = pax_path_record(name).size();
  return {2, record, 2 * kTarBlock + record + tar_padding(record)};
}

}  // namespace zrk
