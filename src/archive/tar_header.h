// The ustar layout, which the tarball reader and zrk-pack's writer share, and
// the header block's parser: checked in a fixed order and turned into a
// member record, or refused with a one-line reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zrk {

// Headers, member data and the end of the archive all come in blocks.
inline constexpr std::size_t kTarBlockSize = 512;
// The end of the archive as writers make it: two zero blocks. Readers stop
// at the first.
inline constexpr std::size_t kTarEndSize = 2 * kTarBlockSize;

// The zero bytes after `size` bytes of member data, up to the next block.
constexpr std::uint64_t tar_padding(std::uint64_t size) {
  return (kTarBlockSize - size % kTarBlockSize) % kTarBlockSize;
}
// The data and its padding, modulo 2^64.
constexpr std::uint64_t tar_padded_size(std::uint64_t size) { return size + tar_padding(size); }

// One field of the header block.
struct TarField {
  std::size_t offset;
  std::size_t width;
};

// The fields in block order. Numbers are octal text; texts end at the first
// NUL or fill their field.
inline constexpr TarField kTarName{0, 100};
inline constexpr TarField kTarMode{100, 8};
inline constexpr TarField kTarUid{108, 8};
inline constexpr TarField kTarGid{116, 8};
inline constexpr TarField kTarSize{124, 12};
inline constexpr TarField kTarMtime{136, 12};
inline constexpr TarField kTarChecksum{148, 8};  // summed as eight blanks
inline constexpr TarField kTarType{156, 1};
inline constexpr TarField kTarLinkName{157, 100};
inline constexpr TarField kTarMagic{257, 6};
inline constexpr TarField kTarVersion{263, 2};
inline constexpr TarField kTarUserName{265, 32};
inline constexpr TarField kTarGroupName{297, 32};
inline constexpr TarField kTarDevMajor{329, 8};
inline constexpr TarField kTarDevMinor{337, 8};
inline constexpr TarField kTarPrefix{345, 155};  // joined in front of the name with a "/"
static_assert(kTarPrefix.offset + kTarPrefix.width <= kTarBlockSize, "the fields fit a block");

// What the magic field starts with in both header forms. The POSIX form ends
// the field with a NUL and has "00" as its version; the GNU form has
// "ustar  " and a NUL across the two.
inline constexpr std::string_view kUstarMagic = "ustar";

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
