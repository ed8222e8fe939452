#include <windows.h>

#include <optional>
#include <string>

#include "common/text.h"
#include "driver/process.h"

namespace zrk {

namespace {

// What OpenProcess reports for an id that names no process.
bool means_gone(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_FOUND;
}

// Without the long path form: a process's current folder takes none.
std::wstring without_long_prefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// The short form of the existing `path`, without the long path prefix;
// empty when the volume keeps no short names or the path cannot be read.
std::wstring short_form_of(const std::wstring& path) {
  const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring found(size, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), found.data(), size);
  if (length == 0 || length >= size) return std::wstring();
  found.resize(length);
  return without_long_prefix(found);
}

// The folder to start the game in: `install` made absolute, or its short
// form when that is too long, since CreateProcessW refuses a current folder
// of MAX_PATH characters or more (with its closing separator) whatever the
// system's long path policy. False when even the short form is too long
// (8.3 names switched off on the volume).
bool working_folder(const std::filesystem::path& install, std::wstring* folder) {
  const std::wstring full = from_utf8(absolute_path_text(to_utf8(install))).native();
  *folder = without_long_prefix(full);
  if (folder->size() + 1 < MAX_PATH) return true;
  *folder = short_form_of(full);
  return !folder->empty() && folder->size() + 1 < MAX_PATH;
}

// When the process behind `process` was created, as one 64-bit count.
std::optional<ProcessStart> creation_time(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  return (static_cast<ProcessStart>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Starts `application` with `command_line` (copied, since CreateProcessW
// may write into it) in `folder`; empty, or the system's error.
std::error_code create_process(const wchar_t* application, std::wstring command_line,
                               const std::wstring& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &info)) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return {};
}

}  // namespace

std::optional<ProcessStart> process_start(std::int32_t pid) {
  const HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return std::nullopt;
  const std::optional<ProcessStart> start = creation_time(process);
  CloseHandle(process);
  return start;
}

ProcessStart own_start() { return creation_time(GetCurrentProcess()).value_or(kUnknownStart); }

// The id may have passed to another process since the game ended: the start
// is asked of the very handle that is waited on, so it belongs to that process.
ProcessWait wait_for_process(std::int32_t pid, int limit_ms, ProcessStart updater_start) {
  HANDLE process =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    const DWORD error = GetLastError();
    return {means_gone(error) ? WaitOutcome::kGone : WaitOutcome::kCannotOpen,
            std::error_code(static_cast<int>(error), std::system_category())};
  }
  const std::optional<ProcessStart> start = creation_time(process);
  if (start && !may_have_started_updater(*start, updater_start)) {
    CloseHandle(process);
    return {WaitOutcome::kGone, std::error_code(ERROR_INVALID_PARAMETER, std::system_category())};
  }
  const DWORD result = WaitForSingleObject(process, static_cast<DWORD>(limit_ms));
  CloseHandle(process);
  return {result == WAIT_OBJECT_0 ? WaitOutcome::kEnded : WaitOutcome::kStillRunning, {}};
}

// Without an application name the system reads the program from the
// command line, and holds that name to MAX_PATH characters: a game in a deep
// install folder would not come back. So an absolute relaunch path is named
// as the application, in the long form, or in its short form where the
// system refuses the long one. A relative one keeps the command line's own
// search, which starts in the updater's folder.
std::error_code start_program(const std::filesystem::path& relaunch,
                              const std::filesystem::path& install) {
  std::wstring folder;
  if (!working_folder(install, &folder)) return std::make_error_code(std::errc::filename_too_long);
  const std::wstring command_line = L"\"" + relaunch.native() + L"\"";
  if (!relaunch.has_root_name() && !relaunch.has_root_directory()) {
    return create_process(nullptr, command_line, folder);
  }
  const std::wstring program = from_utf8(absolute_path_text(to_utf8(relaunch))).native();
  const std::error_code error = create_process(program.c_str(), command_line, folder);
  if (!error) return error;
  const std::wstring short_program = short_form_of(program);
  if (short_program.empty()) return error;
  return create_process(short_program.c_str(), command_line, folder);
}

}  // namespace zrk
