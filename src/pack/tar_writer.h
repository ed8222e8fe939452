// The tar layer of a made tarball: POSIX ustar headers with fixed owner, mode
// and time, and a pax "path" record in front of a name that ustar cannot hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/tar_header.h"

namespace zrk {

// The header blocks for one member, a pax record and its own header first
// when needed. `name` is the member's full name (a folder's ends in "/"),
// `size` its data length (0 for a folder), `mtime` seconds since 1970 below
// 8^11. Folders and executable files get mode 0755, other files 0644. The
// member's data and its padding to whole blocks follow these.
std::string tar_member_headers(std::string_view name, std::uint64_t size, bool folder,
                               bool executable, std::uint64_t mtime);

// What a member adds to the tarball besides its data: header blocks, and
// the pax record's data, which readers count toward their expansion totals.
struct TarOverhead {
  std::uint64_t headers = 0;    // header blocks, pax headers included
  std::uint64_t extension = 0;  // pax record bytes before padding
  std::uint64_t bytes = 0;      // all bytes: headers and padded pax data
};
TarOverhead tar_member_overhead(std::string_view name);

}  // namespace zrk
