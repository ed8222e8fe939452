#include "pack/pack_create.h"

#include <cstdio>
#include <random>

#include "archive/extract.h"
#include "common/text.h"
#include "fs/host_folders.h"
#include "fs/writable_file.h"
#include "pack/archive_check.h"
#include "pack/archive_writers.h"
#include "pack/build_tree.h"
#include "pack/console.h"

namespace zrk {

namespace {

// Beside the archive, ending in the archive's own name so that the check
// dispatches on the same suffix.
std::filesystem::path temporary_name(const std::filesystem::path& archive) {
  std::random_device random;
  char prefix[40];
  std::snprintf(prefix, sizeof prefix, ".zrk-pack-%08x-", random());
  return archive.parent_path() / (from_utf8(prefix).native() + archive.filename().native());
}

void add_limit_problems(const ArchiveCounts& counts, std::vector<std::string>* problems) {
  if (counts.members > kMemberLimit) {
    problems->push_back("the archive would have " + std::to_string(counts.members) +
                        " members; the updater takes at most " + std::to_string(kMemberLimit));
  }
  if (counts.data > kExpansionCap) {
    problems->push_back("the archive would hold " + std::to_string(counts.data) +
                        " bytes of data; the updater takes at most " +
                        std::to_string(kExpansionCap) + " (2 GiB)");
  }
}

int refuse(const std::vector<std::string>& problems) {
  for (const std::string& line : problems) std::fprintf(stderr, "%s\n", line.c_str());
  std::fprintf(stderr, "no archive written\n");
  return kPackRefused;
}

// A line about the temporary file, naming the archive instead: the user
// asked for that name and never sees the other.
std::string shown(std::string line, const std::string& temporary, const std::string& archive) {
  const std::size_t at = line.find(temporary);
  if (at != std::string::npos) line.replace(at, temporary.size(), archive);
  return line;
}

void discard(const std::filesystem::path& temporary) {
  remove_path_and_copies(temporary);
  keep_on_interrupt(temporary);
}

}  // namespace

int create_archive(const CreateOptions& options) {
  const ArchiveType type = archive_type(options.archive);
  ScanOptions scan_options;
  scan_options.shown_root = options.build;
  scan_options.excludes = options.excludes;
  scan_options.keep_litter = options.keep_litter;
  BuildScan scan = scan_build_folder(from_utf8(absolute_path_text(options.build)), scan_options);
  for (const std::string& line : scan.left_out) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!scan.read_error.empty()) {
    std::fprintf(stderr, "%s\n", scan.read_error.c_str());
    return kPackCannotReadOrWrite;
  }
  const bool zip = type == ArchiveType::kZip;
  add_limit_problems(zip ? zip_counts(scan.tree) : tarball_counts(scan.tree), &scan.problems);
  if (!scan.problems.empty()) return refuse(scan.problems);

  const std::filesystem::path archive = from_utf8(absolute_path_text(options.archive));
  const std::filesystem::path temporary = temporary_name(archive);
  const std::string temporary_text = to_utf8(temporary);
  remove_on_interrupt(temporary);
  WriteOptions write;
  write.level = options.level;
  write.jobs = options.jobs;
  write.mtime = options.mtime;
  write.progress = !options.quiet && stderr_is_terminal();
  std::string error_line;
  const bool written = zip ? write_zip(scan.tree, temporary, write, &error_line)
                           : write_tarball(scan.tree, temporary, write, &error_line);
  // The check keeps every path too; the two lists need not be held at once.
  scan.tree = BuildTree{};
  if (!written) {
    discard(temporary);
    std::fprintf(stderr, "%s\n", shown(error_line, temporary_text, options.archive).c_str());
    return kPackCannotReadOrWrite;
  }

  CheckReport report = check_archive(temporary_text);
  for (std::string& line : report.lines) line = shown(line, temporary_text, options.archive);
  print_check_lines(report, stdout);
  if (report.exit_code != kPackOk) {
    discard(temporary);
    std::fprintf(stderr, "no archive written\n");
    return report.exit_code;
  }
  // Replacing rather than refusing lets a release script run again; the
  // archive that stood there goes only once its successor has passed.
  std::error_code unknown;
  if (is_file_at(archive, &unknown)) std::printf("replacing %s\n", options.archive.c_str());
  if (const std::error_code error = replace_file(temporary, archive)) {
    discard(temporary);
    std::fprintf(stderr, "cannot write %s: %s\n", options.archive.c_str(), error.message().c_str());
    return kPackCannotReadOrWrite;
  }
  keep_on_interrupt(temporary);
  std::printf("wrote %s\n", options.archive.c_str());
  return kPackOk;
}

}  // namespace zrk
