// What zrk-pack leaves out of a build folder beyond the names outside the
// payload: the files that operating systems and tools drop in folders by
// themselves, and the publisher's own --exclude patterns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zrk {

// The reason a left-out line gives for litter, in brackets.
inline constexpr std::string_view kLitterReason = "left by a system or tool, not the game";

// True for an entry named `name` that a system or tool makes unasked: Finder's
// ".DS_Store" and "._" resource forks, Explorer's "Thumbs.db", "ehthumbs.db"
// and "desktop.ini", and the ".git", ".svn" and ".hg" folders of version
// control. Letter case does not count, as on the hosts that make them.
bool is_litter(std::string_view name);

// A shell-style pattern: "*" stands for any run of bytes and "?" for one
// byte, neither of them a "/"; every other byte for itself. A pattern
// without a "/" is matched against an entry's own name, at any depth; one
// with a "/" against its whole path below the build folder.
bool matches_glob(std::string_view pattern, std::string_view text);

// The first of `patterns` that the entry at `path` (below the build folder,
// "/" between names) matches, or null.
const std::string* matching_exclude(const std::vector<std::string>& patterns,
                                    std::string_view path);

}  // namespace zrk
