// Text and path helpers shared by every stage. Paths travel between stages as
// UTF-8 strings and become platform paths only where the disk is touched.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace zrk {

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates,
// nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// The length (1 to 4) of the well-formed UTF-8 character that `bytes` starts
// with; 0 when it starts with anything else or is empty.
std::size_t utf8_char_length(std::string_view bytes);

// The code point of a character that utf8_char_length measured, `length`
// bytes at the start of `bytes`.
char32_t decode_utf8_char(std::string_view bytes, std::size_t length);

// The simple case folding of `code_point` (Unicode's statuses C and S): the
// one code point it folds to, or itself.
char32_t fold_case(char32_t code_point);

// Platform path to UTF-8, without the long path form (see from_utf8), so that
// what the log shows reads as the user wrote it. Strict: throws
// std::system_error when the path's text cannot be converted (an unpaired
// surrogate on Windows, invalid UTF-8 on POSIX).
std::string to_utf8(const std::filesystem::path& path);

// UTF-8 to platform path. On Windows a path that names its drive or root
// ("C:\...", "C:...", "\...", "\\server\share\...") takes the long path form
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), made absolute, with "/" turned
// into "\" and "." and ".." resolved, since that form is passed on
// unnormalised; so no call meets the 260-character limit. A relative path
// stays relative: it may be a name to append to a folder. Strict: throws
// std::system_error for bytes that are not valid UTF-8, so a name gets the
// same verdict on every host.
std::filesystem::path from_utf8(std::string_view text);

// A whole path as written by the user, in the form the run works on. On
// Windows it is made absolute against the current folder, so that from_utf8
// gives it the long path form too (a relative path would otherwise meet the
// 260-character limit); elsewhere it is `text` itself. Throws as from_utf8.
std::string absolute_path_text(std::string_view text);

// Removes every trailing "/" and "\" of `folder`, then appends one "/" and
// `name`. Nothing else is normalised; an empty folder gives "/" + name.
std::string join_path(std::string_view folder, std::string_view name);

}  // namespace zrk
