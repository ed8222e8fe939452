// Zips through libzip: deflate, UTF-8 names, fixed DOS times and Unix
// attributes, members in the tree's order. libzip writes the whole archive
// at zip_close, taking each file's data already deflated from the
// pipeline's threads and copying it as it is.
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/text.h"
#include "pack/archive_writers.h"
#include "pack/deflate_pipeline.h"
#include "pack/progress.h"
#include "pack/zip_output.h"

namespace zrk {

namespace {

constexpr zip_uint32_t kFileAttributes = 0100644u << 16;
constexpr zip_uint32_t kProgramAttributes = 0100755u << 16;
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

// The files' data for libzip: the pipeline's chunks, said to be deflated
// so that libzip copies them unchanged. libzip reads the files one at a
// time in the tree's order, so they share one reading state.
struct DeflatedData {
  DeflatedData(const BuildTree& tree, DeflatePipeline* pipeline, int level, std::string* error_line)
      : tree(tree), pipeline(pipeline), level(level), error_line(error_line) {
    zip_error_init(&error);
  }
  ~DeflatedData() { zip_error_fini(&error); }
  DeflatedData(const DeflatedData&) = delete;
  DeflatedData& operator=(const DeflatedData&) = delete;

  const BuildTree& tree;
  DeflatePipeline* pipeline;
  int level;
  std::string* error_line;              // the first read failure goes here
  zip_error_t error;                    // of the last failed command
  std::size_t entry = 0;                // the file being read, by tree index
  const DeflateChunk* chunk = nullptr;  // its current chunk, until the pipeline's next
  std::size_t chunk_at = 0;             // bytes of the chunk's data handed on
  std::uint32_t crc = 0;                // of its chunks taken so far
  bool ended = false;                   // its last chunk is taken

  // Starts on the data of tree entry `index`.
  void open(std::size_t index) {
    entry = index;
    chunk = nullptr;
    crc = 0;
    ended = false;
  }

  // Takes the file's next chunk. False with the error set on a read failure
  // or a chunk out of order.
  bool next_chunk() {
    chunk = pipeline->next();
    chunk_at = 0;
    if (chunk == nullptr || chunk->entry != entry) {
      zip_error_set(&error, ZIP_ER_INTERNAL, 0);
      return false;
    }
    if (!chunk->error_line.empty()) {
      if (error_line->empty()) *error_line = chunk->error_line;
      zip_error_set(&error, ZIP_ER_READ, 0);
      return false;
    }
    crc = static_cast<std::uint32_t>(
        crc32_combine(crc, chunk->crc, static_cast<z_off_t>(chunk->input)));
    ended = chunk->last;
    return true;
  }

  // Up to `length` deflate bytes into `out`; 0 at the end, -1 on failure.
  zip_int64_t read(char* out, zip_uint64_t length) {
    zip_uint64_t done = 0;
    while (done < length) {
      if (chunk == nullptr || chunk_at == chunk->size) {
        if (ended) break;
        if (!next_chunk()) return -1;
        continue;
      }
      const std::size_t take =
          static_cast<std::size_t>(std::min<zip_uint64_t>(length - done, chunk->size - chunk_at));
      std::memcpy(out + done, chunk->data + chunk_at, take);
      chunk_at += take;
      done += take;
    }
    return static_cast<zip_int64_t>(done);
  }

  // Entry `index` deflated, of its scanned size; the CRC-32 once its last
  // chunk is taken.
  void stat(std::size_t index, zip_stat_t* st) const {
    zip_stat_init(st);
    st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD;
    st->size = tree.entries[index].size;
    st->comp_method = ZIP_CM_DEFLATE;
    if (index == entry && ended) {
      st->valid |= ZIP_STAT_CRC;
      st->crc = crc;
    }
  }

  // The level's general purpose bits, as libzip's own deflate sets them.
  void attributes(zip_file_attributes_t* out) const {
    zip_file_attributes_init(out);
    out->valid = ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
    out->general_purpose_bit_mask = 0x6;
    out->general_purpose_bit_flags = level < 3 ? 4 : level > 7 ? 2 : 0;
  }
};

// One file's source: the shared state and the file's tree index.
struct DeflatedFile {
  DeflatedData* data;
  std::size_t index;
};

zip_int64_t deflated_file_command(void* state, void* data, zip_uint64_t length,
                                  zip_source_cmd_t command) {
  auto* file = static_cast<DeflatedFile*>(state);
  DeflatedData& shared = *file->data;
  switch (command) {
    case ZIP_SOURCE_OPEN:
      shared.open(file->index);
      return 0;
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_READ:
      return shared.read(static_cast<char*>(data), length);
    case ZIP_SOURCE_STAT:
      if (auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &shared.error)) {
        shared.stat(file->index, st);
        return sizeof *st;
      }
      return -1;
    case ZIP_SOURCE_GET_FILE_ATTRIBUTES:
      if (auto* out = ZIP_SOURCE_GET_ARGS(zip_file_attributes_t, data, length, &shared.error)) {
        shared.attributes(out);
        return sizeof *out;
      }
      return -1;
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&shared.error, data, length);
    case ZIP_SOURCE_FREE:
      delete file;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
    default:
      zip_error_set(&shared.error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// Adds tree entry `index`, a file's data read through `data`; false with
// libzip's error in the archive.
bool add_entry(zip_t* archive, const BuildTree& tree, std::size_t index,
               const WriteOptions& options, DeflatedData* data) {
  const BuildEntry& entry = tree.entries[index];
  const std::string name(tree.name(entry));
  zip_int64_t added = -1;
  if (entry.folder) {
    added = zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_UTF_8);
  } else {
    auto* file = new DeflatedFile{data, index};
    zip_source_t* source = zip_source_function(archive, deflated_file_command, file);
    if (source == nullptr) {
      delete file;
      return false;
    }
    added = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (added < 0) zip_source_free(source);
  }
  const DosTime time = dos_time(options.mtime);
  const auto at = static_cast<zip_uint64_t>(added);
  return added >= 0 && zip_file_set_dostime(archive, at, time.time, time.date, 0) == 0 &&
         zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                          entry.folder       ? kFolderAttributes
                                          : entry.executable ? kProgramAttributes
                                                             : kFileAttributes) == 0;
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
  if (zip_source_t* source = create_zip_output(path, error_line, &error)) {
    opened = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (opened == nullptr) zip_source_free(source);
  }
  if (opened == nullptr) {
    *error_line = "cannot write " + path_text + ": " + libzip_text(&error);
    zip_error_fini(&error);
    return false;
  }
  zip_error_fini(&error);
  // Declared first, so that the archive's sources go before them.
  DeflatePipeline pipeline(tree, options.level, options.jobs);
  DeflatedData data(tree, &pipeline, options.level, error_line);
  std::unique_ptr<zip_t, ArchiveDiscard> archive(opened);

  for (std::size_t index = 0; index < tree.entries.size(); ++index) {
    if (add_entry(archive.get(), tree, index, options, &data)) continue;
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
    if (error_line->empty()) {
      *error_line = "cannot write " + path_text + ": " + libzip_text(zip_get_error(archive.get()));
    }
    return false;
  }
  archive.release();  // zip_close freed it, and the output is on the device
  return true;
}

}  // namespace zrk
