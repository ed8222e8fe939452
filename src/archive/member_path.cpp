#include "archive/member_path.h"

#include "common/text.h"

namespace zrk {

namespace {

bool refuse(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

// Windows opens a device, not a file, for these names whatever their
// extension, so staging would silently lose the data. Refused on every host to
// keep verdicts identical.
bool is_device_name(std::string_view component) {
  static constexpr const char* kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper(stem);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  }
  for (const char* device : kDeviceNames) {
    if (upper == device) return true;
  }
  if (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0) return false;
  const std::string_view number = std::string_view(upper).substr(3);
  if (number.size() == 1) return number[0] >= '1' && number[0] <= '9';
  // Windows counts the Latin-1 superscripts one to three as digits here too.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// Windows drops a trailing dot or blank when it makes a name, so the same
// archive would give other names there, and two members could meet at one.
bool ends_in_dot_or_blank(std::string_view component) {
  return component.back() == '.' || component.back() == ' ';
}

}  // namespace

bool check_member_path(std::string_view name, std::string* relative_path, std::string* reason) {
  if (relative_path != nullptr) relative_path->clear();
  if (name.empty()) return refuse(reason, "empty member path");
  if (name.front() == '/') return refuse(reason, "member path is absolute");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') return refuse(reason, "member path has a backslash");
    if (byte == ':') return refuse(reason, "member path has a drive letter");
    if (byte < 0x20 || byte == 0x7F) return refuse(reason, "member path has a control character");
  }
  // Staged paths are made from the name's text on every host.
  if (!is_valid_utf8(name)) return refuse(reason, "member path is not valid UTF-8");
  if (name.substr(0, kTopFolder.size()) != kTopFolder) {
    return refuse(reason, "member path is outside the Z-Ravelkin/ folder");
  }

  std::string_view rest = name.substr(kTopFolder.size());
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.empty()) return true;  // the top folder's own entry

  bool has_device_name = false;
  bool has_trailing_dot_or_blank = false;
  for (std::string_view tail = rest;;) {
    const size_t slash = tail.find('/');
    const std::string_view component = tail.substr(0, slash);
    if (component.empty() || component == "." || component == "..") {
      return refuse(reason, "member path has an empty, . or .. component");
    }
    has_device_name = has_device_name || is_device_name(component);
    has_trailing_dot_or_blank = has_trailing_dot_or_blank || ends_in_dot_or_blank(component);
    if (slash == std::string_view::npos) break;
    tail.remove_prefix(slash + 1);
  }
  if (has_device_name) return refuse(reason, "member path has a reserved device name");
  if (has_trailing_dot_or_blank) {
    return refuse(reason, "member path has a name ending in a dot or blank");
  }

  if (relative_path != nullptr) relative_path->assign(rest);
  return true;
}

}  // namespace zrk
