#include <windows.h>

#include <string>

#include "driver/process.h"
#include "driver/update_log.h"

namespace zrk {

namespace {

// What OpenProcess reports for an id that names no process.
bool means_gone(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_FOUND;
}

}  // namespace

bool wait_for_game(std::FILE* log, std::int32_t pid, int limit_ms) {
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

bool start_program(const std::filesystem::path& relaunch, const std::filesystem::path& install) {
  // CreateProcessW may write into the command line, so it lives in a mutable buffer.
  std::wstring command_line = L"\"" + relaunch.native() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      install.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace zrk
