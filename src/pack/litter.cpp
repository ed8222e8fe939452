#include "pack/litter.h"

#include <array>
#include <cstddef>

namespace zrk {

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

bool equal_folded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

constexpr std::array<std::string_view, 7> kLitterNames = {
    ".DS_Store", "Thumbs.db", "ehthumbs.db", "desktop.ini", ".git", ".svn", ".hg",
};
// AppleDouble files: what a Mac writes beside each file on a volume without
// its own metadata.
constexpr std::string_view kResourceForkPrefix = "._";

}  // namespace

bool is_litter(std::string_view name) {
  if (name.size() > kResourceForkPrefix.size() &&
      name.substr(0, kResourceForkPrefix.size()) == kResourceForkPrefix) {
    return true;
  }
  for (const std::string_view litter : kLitterNames) {
    if (equal_folded(name, litter)) return true;
  }
  return false;
}

// Backtracks to the last "*" only: a later "*" that fails to match cannot be
// helped by an earlier one taking more, so the cost stays linear per star.
bool matches_glob(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;  // in the pattern, just past it
  std::size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_text = t;
      continue;
    }
    if (p < pattern.size() && (pattern[p] == text[t] || (pattern[p] == '?' && text[t] != '/'))) {
      ++p;
      ++t;
      continue;
    }
    // The last star takes one more byte, never a "/".
    if (star == std::string_view::npos || text[star_text] == '/') return false;
    p = star;
    t = ++star_text;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

const std::string* matching_exclude(const std::vector<std::string>& patterns,
                                    std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (const std::string& pattern : patterns) {
    const bool whole = pattern.find('/') != std::string::npos;
    if (matches_glob(pattern, whole ? path : name)) return &pattern;
  }
  return nullptr;
}

}  // namespace zrk
