#include "support/extract_contract.h"

#include <gtest/gtest.h>

#include "archive/member_path.h"

namespace zrk::test {

namespace fs = std::filesystem;

void expect_extract_lines(ExtractStatus status, const Messages& lines, bool notes_allowed) {
  EXPECT_TRUE(status == kExtracted || status == kRefused || status == kCannotWrite) << status;
  if (status != kExtracted && lines.empty()) {
    ADD_FAILURE() << "status " << status << " without a line";
    return;
  }
  const std::size_t notes = status == kExtracted ? lines.size() : lines.size() - 1;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool is_note = lines[i].rfind("skipped ", 0) == 0;
    if (i < notes) {
      EXPECT_TRUE(notes_allowed && is_note) << "not a note: " << lines[i];
    } else {
      EXPECT_FALSE(is_note || lines[i].empty()) << "not a failure line: " << lines[i];
    }
  }
}

std::uintmax_t expect_staged_tree_allowed(const fs::path& staging) {
  std::uintmax_t total = 0;
  if (!fs::exists(fs::symlink_status(staging))) return total;
  for (auto it = fs::recursive_directory_iterator(staging);
       it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = it->path().lexically_relative(staging).generic_string();
    const fs::file_status status = it->symlink_status();
    if (fs::is_regular_file(status)) {
      total += it->file_size();
    } else {
      EXPECT_TRUE(fs::is_directory(status)) << "neither a file nor a folder: " << relative;
    }
    std::string yielded;
    EXPECT_TRUE(check_member_path(std::string(kTopFolder) + relative, &yielded, nullptr) &&
                yielded == relative)
        << "staged where no accepted member can land: " << relative;
  }
  return total;
}

ExtractSandbox::ExtractSandbox() : staging_(dir_ / "a" / "b" / "staging") {}

ExtractStatus ExtractSandbox::extract(const std::string& bytes, const std::string& name,
                                      Messages* lines) {
  // Sweeps run thousands of times: an empty staging folder is kept.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().filename() != "a") fs::remove_all(entry.path(), ec);
  }
  if (!fs::is_directory(staging_, ec) || !fs::is_empty(staging_, ec)) {
    fs::remove_all(dir_.path() / "a", ec);
    fs::create_directories(staging_);
  }
  const fs::path archive = dir_ / name;
  write_file(archive, bytes);

  Messages own;
  Messages& out = lines != nullptr ? *lines : own;
  out.clear();
  const ExtractStatus status = extract_archive(archive.string(), staging_.string(), &out);
  expect_extract_lines(status, out, name.find(".zip") == std::string::npos);
  expect_staged_tree_allowed(staging_);
  // Around staging: only the archive and the two folders above staging.
  for (auto it = fs::recursive_directory_iterator(dir_.path());
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == staging_) {
      it.disable_recursion_pending();
      continue;
    }
    const std::string relative = it->path().lexically_relative(dir_.path()).generic_string();
    EXPECT_TRUE(relative == name || relative == "a" || relative == "a/b")
        << "written outside staging: " << relative;
  }
  return status;
}

}  // namespace zrk::test
