// Building tar streams byte by byte and running the tarball tools, for tests
// of the tar header parser and the tarball reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/extract.h"
#include "archive/staging_sink.h"
#include "common/messages.h"
#include "support/test_support.h"

namespace zrk::test {

// A 512-byte ustar header ("ustar" NUL "00") with a valid checksum. The name
// field gets `name` cut to 100 bytes, the prefix field `prefix`.
std::string tar_header(std::string_view name, std::uint64_t size, char type = '0',
                       std::string_view prefix = {});

// Overwrites the field at [offset, offset + width) with `text`, NUL-filled.
void set_tar_field(std::string& block, std::size_t offset, std::size_t width,
                   std::string_view text);

// Recomputes the checksum field from the block's bytes taken as unsigned.
void set_tar_checksum(std::string& block);

// Header, data and zero padding up to the next 512-byte boundary.
std::string tar_member(std::string_view name, std::string_view data, char type = '0');

// Zero bytes that fill `size` bytes up to a multiple of 512.
std::string tar_padding(std::uint64_t size);

// Two all-zero blocks.
std::string tar_end();

// One pax record, "<length> <key>=<value>\n".
std::string pax_record(std::string_view key, std::string_view value);

std::string gzip_bytes(std::string_view data, int level = 6);
// One whole stream; throws std::runtime_error when it does not end, or when
// bytes follow its end. `window_bits` as inflateInit2 takes them (-15: raw).
std::string inflate_bytes(std::string_view data, int window_bits);
std::string gunzip_bytes(std::string_view data);

// What stands below `root`, by relative path (UTF-8, "/" between names):
// "dir", "link", or a file's length in decimal. Empty when `root` is missing.
using TreeShape = std::map<std::string, std::string>;
TreeShape tree_shape(const std::filesystem::path& root);

// A check's extraction and the fuzz targets keep in memory what the disk
// would hold. After an extraction into `staging`, whose tree_shape was
// `before` when it began, runs `extract` again into a MemoryStaging that
// starts with the same tree and expects the same status, the same lines and
// the same tree after, unless a link in `before` leads the disk elsewhere.
// When the extraction could write (any status but kCannotWrite), runs it into
// zrk-pack's tally too and expects the same status and lines, the same
// number of entries and bytes, the same top-level names, and a skipped
// member for each note.
void expect_sinks_match_disk(const std::filesystem::path& staging, const TreeShape& before,
                             ExtractStatus status, const Messages* lines,
                             const std::function<ExtractStatus(StagingSink&, Messages*)>& extract);

// A temporary folder with an empty "staging" folder, into which archives
// written beside it are extracted by the tarball reader, and again into
// memory, which must agree (expect_sinks_match_disk).
class TarballBench {
 public:
  TarballBench();

  const std::filesystem::path& root() const { return dir_.path(); }
  const std::filesystem::path& staging() const { return staging_; }

  // Writes `bytes` as the archive `name` beside staging and extracts it.
  ExtractStatus extract(const std::string& bytes, Messages* lines,
                        const std::string& name = "u.tgz", const ArchiveLimits& limits = {});
  ExtractStatus extract_file(const std::filesystem::path& archive, Messages* lines,
                             const ArchiveLimits& limits = {});

  // Removes everything below the bench folder and makes staging empty again.
  void reset();

  std::map<std::string, std::string> staged() const { return snapshot_tree(staging_); }
  // Entries of the bench folder itself, apart from staging and the archives.
  std::vector<std::string> strays() const;

 private:
  TempDir dir_;
  std::filesystem::path staging_;
  std::vector<std::string> archives_;
};

}  // namespace zrk::test
