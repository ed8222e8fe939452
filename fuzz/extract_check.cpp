#include "extract_check.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "archive/extract.h"
#include "archive/member_path.h"

namespace fs = std::filesystem;

namespace zrk_fuzz {

namespace {

void require(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "extraction contract broken: %s\n", what.c_str());
  std::abort();
}

void remove_root(const fs::path& root) {
  std::error_code ec;
  fs::remove_all(root, ec);
}

// One folder per process, on tmpfs when there is one: every run creates and
// deletes files, and a disk would make that the bottleneck. The first free
// numbered name rather than a random one: the path shows up in message lines,
// and a random one would make runs with the same seed differ.
const fs::path& work_root() {
  static const fs::path root = [] {
    const fs::path base =
        access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    for (int number = 0; number < 10000; ++number) {
      char name[32];
      std::snprintf(name, sizeof name, "zrk-fuzz-%04d", number);
      std::error_code ec;
      if (fs::create_directory(base / name, ec)) return base / name;
    }
    require(false, "cannot make a work folder");
    return fs::path();
  }();
  static const bool cleanup_registered = [] {
    std::atexit([] { remove_root(work_root()); });
    return true;
  }();
  (void)cleanup_registered;
  return root;
}

void write_archive(const fs::path& path, const unsigned char* data, std::size_t size,
                   bool compress) {
  if (compress) {
    gzFile file = gzopen(path.c_str(), "wb");
    require(file != nullptr, "cannot write the archive");
    require(size == 0 || gzwrite(file, data, static_cast<unsigned>(size)) == static_cast<int>(size),
            "cannot compress the archive");
    require(gzclose(file) == Z_OK, "cannot close the archive");
    return;
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  require(out.good(), "cannot write the archive");
}

bool is_note(const std::string& line) { return line.rfind("skipped ", 0) == 0; }

// Lines: notes only on success; notes, then exactly one failure line on failure.
void check_lines(zrk::ExtractStatus status, const zrk::Messages& lines, bool notes_allowed) {
  require(status == 0 || status == 3 || status == 5, "status " + std::to_string(status));
  const std::size_t notes = status == 0 ? lines.size() : lines.size() - 1;
  require(status == 0 || !lines.empty(), "nonzero status without a line");
  for (std::size_t i = 0; i < notes; ++i) {
    require(notes_allowed && is_note(lines[i]), "line before the end is not a note: " + lines[i]);
  }
  if (status != 0) {
    require(!lines.back().empty() && !is_note(lines.back()), "last line is not a failure line");
  }
}

// The parent folders hold only what the harness made; staging holds only
// folders and regular files.
void check_tree(const fs::path& root, const fs::path& archive, const fs::path& staging) {
  const std::set<fs::path> expected = {archive, staging, archive.parent_path(),
                                       archive.parent_path().parent_path()};
  const std::string staging_prefix = staging.string() + "/";
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path.string().rfind(staging_prefix, 0) == 0) {
      const fs::file_status status = it->symlink_status();
      require(fs::is_regular_file(status) || fs::is_directory(status),
              "staging holds something other than a file or folder: " + path.string());
      // Whatever landed must be a name the path rules would have let through,
      // and land exactly where that name says.
      const std::string relative = path.string().substr(staging_prefix.size());
      std::string yielded;
      require(zrk::check_member_path(std::string(zrk::kTopFolder) + relative, &yielded, nullptr) &&
                  yielded == relative,
              "staged path breaks the member path rules: " + relative);
    } else {
      require(expected.count(path) == 1, "created outside staging: " + path.string());
    }
  }
}

}  // namespace

void check_extraction(const unsigned char* data, std::size_t size, const std::string& archive_name,
                      bool compress) {
  // Two spare levels above the archive catch members that climb out of staging.
  const fs::path run = work_root() / "run";
  const fs::path archive = run / "in" / archive_name;
  const fs::path staging = run / "in" / "staging";
  fs::create_directories(staging);
  write_archive(archive, data, size, compress);

  zrk::Messages lines;
  const zrk::ExtractStatus status =
      zrk::extract_archive(archive.string(), staging.string(), &lines);
  check_lines(status, lines, archive_name.find(".zip") == std::string::npos);
  check_tree(work_root(), archive, staging);
  remove_root(run);
}

}  // namespace zrk_fuzz
