#include "driver/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "common/text.h"

namespace zrk {

namespace {

// strtol's rules at 32-bit width: leading white space and one sign, saturating
// out-of-range values. False when no digit was read, something follows the
// number, or it is below 1.
bool parse_pid(const std::string& text, std::int32_t* pid) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0') return false;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  if (value < 1) return false;
  *pid = static_cast<std::int32_t>(value);
  return true;
}

// False, with `text` in `error` for a caller that wants it.
bool fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, UpdateOptions* options,
                   std::string* error) {
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& name = args[i];
    std::filesystem::path* target = nullptr;
    if (name == "--install") {
      target = &options->install;
    } else if (name == "--archive") {
      target = &options->archive;
    } else if (name == "--relaunch") {
      target = &options->relaunch;
    } else if (name != "--pid") {
      return fail(error, "unknown argument " + name);
    }
    if (i + 1 >= args.size()) {
      return fail(error, "missing value for " + name);
    }
    const std::string& value = args[i + 1];
    if (target != nullptr) {
      // Text that is not UTF-8 counts as empty, as it would from the entry.
      // The path stays as written (not in from_utf8's long form): the log
      // repeats it, and the relaunch starts the program as the caller named it.
      *target = is_valid_utf8(value) ? std::filesystem::u8path(value) : std::filesystem::path();
    } else if (!parse_pid(value, &options->pid)) {
      return fail(error, "not a process id: " + value);
    }
  }
  if (options->install.empty() || options->archive.empty() || options->relaunch.empty() ||
      options->pid < 1) {
    return fail(error, kUsage);
  }
  return true;
}

}  // namespace zrk
