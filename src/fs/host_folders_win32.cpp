// CreateDirectoryW from the first missing folder down, and a handle opened
// through links for the folder and file tests.
#include <windows.h>

#include <string>

#include "fs/host_folders.h"

namespace zrk {

namespace {

bool is_folder_at(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ERROR_SUCCESS, ERROR_ALREADY_EXISTS, or the error of the first folder that
// could not be made.
DWORD create_folder(const std::wstring& folder) {
  if (CreateDirectoryW(folder.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_PATH_NOT_FOUND) return error;
  const size_t cut = folder.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut == 0) return error;
  const DWORD parent = create_folder(folder.substr(0, cut));
  if (parent != ERROR_SUCCESS && parent != ERROR_ALREADY_EXISTS) return parent;
  return CreateDirectoryW(folder.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
}

// The attributes of what `path` leads to, links followed: ERROR_SUCCESS or
// the error of the open.
DWORD attributes_through_links(const std::filesystem::path& path, DWORD* attributes) {
  const HANDLE entry =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD error = GetFileInformationByHandle(entry, &info) ? ERROR_SUCCESS : GetLastError();
  CloseHandle(entry);
  *attributes = info.dwFileAttributes;
  return error;
}

}  // namespace

std::error_code make_folders(const std::filesystem::path& path) {
  if (is_folder_at(path.native())) return {};
  const DWORD error = create_folder(path.native());
  if (is_folder_at(path.native())) return {};
  if (error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS) {
    return std::make_error_code(std::errc::not_a_directory);
  }
  return std::error_code(static_cast<int>(error), std::system_category());
}

std::error_code check_folder(const std::filesystem::path& path) {
  DWORD attributes = 0;
  if (const DWORD error = attributes_through_links(path, &attributes)) {
    return {static_cast<int>(error), std::system_category()};
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  return std::make_error_code(std::errc::not_a_directory);
}

bool is_file_at(const std::filesystem::path& path, std::error_code* error) {
  DWORD attributes = 0;
  const DWORD found = attributes_through_links(path, &attributes);
  error->clear();
  if (found == ERROR_SUCCESS) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  // A missing entry, or a parent that is a file, is an answer, not an error.
  if (found != ERROR_FILE_NOT_FOUND && found != ERROR_PATH_NOT_FOUND) {
    error->assign(static_cast<int>(found), std::system_category());
  }
  return false;
}

}  // namespace zrk
