#include <windows.h>

#include <string>

#include "common/text.h"
#include "driver/process.h"
#include "driver/update_log.h"

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

// The folder to start the game in: `install` made absolute, or its short
// form when that is too long, since CreateProcessW refuses a current folder
// of MAX_PATH characters or more (with its closing separator) whatever the
// system's long path policy. False when even the short form is too long
// (8.3 names switched off on the volume).
bool working_folder(const std::filesystem::path& install, std::wstring* folder) {
  const std::wstring full = from_utf8(absolute_path_text(to_utf8(install))).native();
  *folder = without_long_prefix(full);
  if (folder->size() + 1 < MAX_PATH) return true;
  const DWORD size = GetShortPathNameW(full.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring short_form(size, L'\0');
  const DWORD length = GetShortPathNameW(full.c_str(), short_form.data(), size);
  if (length == 0 || length >= size) return false;
  short_form.resize(length);
  *folder = without_long_prefix(short_form);
  return folder->size() + 1 < MAX_PATH;
}

}  // namespace

bool wait_for_game(WritableFile* log, std::int32_t pid, int limit_ms) {
  log_line(log, "zrk-update: waiting for pid %ld", static_cast<long>(pid));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    const DWORD error = GetLastError();
    if (means_gone(error)) {
      log_line(log, "pid %ld is gone (error %lu)", static_cast<long>(pid),
               static_cast<unsigned long>(error));
      return true;
    }
    log_line(log, "pid %ld cannot be opened (error %lu), not installing", static_cast<long>(pid),
             static_cast<unsigned long>(error));
    return false;
  }
  const DWORD result = WaitForSingleObject(process, static_cast<DWORD>(limit_ms));
  CloseHandle(process);
  if (result == WAIT_OBJECT_0) return true;
  log_line(log, "pid %ld is still running after %d s", static_cast<long>(pid), limit_ms / 1000);
  return false;
}

std::error_code start_program(const std::filesystem::path& relaunch,
                              const std::filesystem::path& install) {
  std::wstring folder;
  if (!working_folder(install, &folder)) return std::make_error_code(std::errc::filename_too_long);
  // CreateProcessW may write into the command line, so it lives in a mutable buffer.
  std::wstring command_line = L"\"" + relaunch.native() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &info)) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return {};
}

}  // namespace zrk
