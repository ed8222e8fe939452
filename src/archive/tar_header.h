// The ustar header block: checked in a fixed order and turned into a member
// record, or refused with a one-line reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrk {

inline constexpr std::size_t kTarBlockSize = 512;

struct TarMember {
  std::string name;        // prefix + "/" + name field, or the name field alone (GNU form)
  std::uint64_t size = 0;  // declared data length
  std::uint32_t mode = 0;  // low 32 bits of the mode field, applied to nothing
  char type = '0';         // typeflag; a NUL typeflag reads as '0'
};

// Parses one 512-byte block. True: `member` is filled. False: `member` keeps
// what it held and `reason` (when given) is replaced by the reason text.
bool parse_tar_header(const unsigned char* block, TarMember* member, std::string* reason);

// Blanks, one run of octal digits, blanks (each part possibly empty) across all
// `width` bytes. True with `value` set, false for anything else.
bool parse_octal_field(const unsigned char* bytes, std::size_t width, std::uint64_t* value);

// The bytes at [offset, offset + width) up to the first NUL.
std::string read_header_text(const unsigned char* block, std::size_t offset, std::size_t width);

}  // namespace zrk
