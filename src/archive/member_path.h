// The rules every member name must meet: a path inside the top folder
// "Z-Ravelkin/" that cannot leave the staging folder on any host.
#pragma once

#include <string>
#include <string_view>

namespace zrk {

inline constexpr std::string_view kTopFolder = "Z-Ravelkin/";

// Judges a member name (raw bytes). True when accepted: `relative_path`, when
// given, receives the path below the top folder without a trailing "/" (empty
// for the top folder itself). False when refused: `reason`, when given, gets
// the rule's reason text and `relative_path` stays empty. Never touches disk.
bool check_member_path(std::string_view name, std::string* relative_path, std::string* reason);

}  // namespace zrk
