// Zips through libzip: deflate, UTF-8 names, fixed DOS times and Unix
// attributes, members in the tree's order. libzip writes the whole archive
// at zip_close, through its own temporary copy beside `path`.
#include <zip.h>

#include <memory>

#include "archive/archive_open.h"
#include "common/text.h"
#include "pack/archive_writers.h"
#include "pack/output_file.h"
#include "pack/progress.h"

namespace zrk {

namespace {

constexpr zip_uint32_t kFileAttributes = 0100644u << 16;
constexpr zip_uint32_t kFolderAttributes = (040755u << 16) | 0x10;  // and the DOS folder bit

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

struct DosTime {
  zip_uint16_t time = 0;
  zip_uint16_t date = (1 << 5) | 1;  // 1980-01-01
};

// `seconds` since 1970 in UTC as a DOS date and time, held to the years
// 1980 to 2107 that the format can say.
DosTime dos_time(std::uint64_t seconds) {
  constexpr std::uint64_t k1980 = 315532800;
  constexpr std::uint64_t k2108 = 4354819200;
  DosTime dos;
  if (seconds < k1980) return dos;
  if (seconds >= k2108) seconds = k2108 - 2;
  // Days to a civil date, after H. Hinnant's algorithm.
  const std::int64_t z = static_cast<std::int64_t>(seconds / 86400) + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const std::uint64_t of_day = seconds % 86400;
  dos.date = static_cast<zip_uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  dos.time = static_cast<zip_uint16_t>(((of_day / 3600) << 11) | (((of_day / 60) % 60) << 5) |
                                       ((of_day % 60) / 2));
  return dos;
}

std::string libzip_text(zip_error_t* error) { return zip_error_strerror(error); }

void report_progress(zip_t*, double fraction, void* state) {
  auto* progress = static_cast<std::pair<Progress*, std::uint64_t>*>(state);
  progress->first->update(
      static_cast<std::uint64_t>(fraction * static_cast<double>(progress->second)));
}

// Adds one entry; false with libzip's error in the archive.
bool add_entry(zip_t* archive, const BuildTree& tree, const BuildEntry& entry,
               const WriteOptions& options, std::string* error_line) {
  const std::string name(tree.name(entry));
  zip_int64_t index = -1;
  if (entry.folder) {
    index = zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_UTF_8);
  } else {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = open_zip_source(tree.source(entry), &error);
    if (source == nullptr) {
      *error_line = "cannot read " + to_utf8(tree.source(entry)) + ": " + libzip_text(&error);
      zip_error_fini(&error);
      return false;
    }
    zip_error_fini(&error);
    index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) zip_source_free(source);
  }
  const DosTime time = dos_time(options.mtime);
  const auto at = static_cast<zip_uint64_t>(index);
  return index >= 0 &&
         (entry.folder ||
          zip_set_file_compression(archive, at, ZIP_CM_DEFLATE,
                                   static_cast<zip_uint32_t>(options.level)) == 0) &&
         zip_file_set_dostime(archive, at, time.time, time.date, 0) == 0 &&
         zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                          entry.folder ? kFolderAttributes : kFileAttributes) == 0;
}

}  // namespace

ArchiveCounts zip_counts(const BuildTree& tree) {
  return {tree.entries.size(), tree.data_bytes, tree.data_bytes};
}

bool write_zip(const BuildTree& tree, const std::filesystem::path& path,
               const WriteOptions& options, std::string* error_line) {
  const std::string path_text = to_utf8(path);
  zip_error_t error;
  zip_error_init(&error);
  zip_t* opened = nullptr;
  if (zip_source_t* source = open_zip_source(path, &error)) {
    opened = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (opened == nullptr) zip_source_free(source);
  }
  if (opened == nullptr) {
    *error_line = "cannot write " + path_text + ": " + libzip_text(&error);
    zip_error_fini(&error);
    return false;
  }
  zip_error_fini(&error);
  std::unique_ptr<zip_t, ArchiveDiscard> archive(opened);

  for (const BuildEntry& entry : tree.entries) {
    if (add_entry(archive.get(), tree, entry, options, error_line)) continue;
    if (error_line->empty()) {
      *error_line = "cannot write " + path_text + ": " + libzip_text(zip_get_error(archive.get()));
    }
    return false;
  }
  Progress progress(tree.data_bytes, options.progress);
  std::pair<Progress*, std::uint64_t> state{&progress, tree.data_bytes};
  zip_register_progress_callback_with_state(archive.get(), 0.001, report_progress, nullptr, &state);
  const bool closed = zip_close(archive.get()) == 0;
  progress.finish();
  if (!closed) {
    *error_line = "cannot write " + path_text + ": " + libzip_text(zip_get_error(archive.get()));
    return false;
  }
  archive.release();  // zip_close freed it
  std::error_code sync_error;
  if (!sync_file(path, &sync_error)) {
    *error_line = "cannot write " + path_text + ": " + sync_error.message();
    return false;
  }
  return true;
}

}  // namespace zrk
