// Writing a scanned build tree as an update archive, in either format, with
// bytes that depend only on the tree, the level and the time stamp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "pack/build_tree.h"

namespace zrk {

struct WriteOptions {
  int level = 6;            // deflate level, 1 to 9
  unsigned jobs = 1;        // compression threads
  std::uint64_t mtime = 0;  // every member's time, seconds since 1970
  bool progress = false;    // draw the progress line on stderr
};

// What the format adds up for the updater's member limit and expansion cap.
struct ArchiveCounts {
  std::uint64_t members = 0;  // every member or header the reader counts
  std::uint64_t data = 0;     // every byte the reader adds to its total
  std::uint64_t stream = 0;   // tarball: the uncompressed tar stream's length
};
ArchiveCounts tarball_counts(const BuildTree& tree);
ArchiveCounts zip_counts(const BuildTree& tree);

// Writes the tree to `path`, flushed to the device. False with `error_line`
// ("cannot read " or "cannot write " + a path + ": " + the host's text) on
// failure; the file may then hold part of the archive.
bool write_tarball(const BuildTree& tree, const std::filesystem::path& path,
                   const WriteOptions& options, std::string* error_line);
bool write_zip(const BuildTree& tree, const std::filesystem::path& path,
               const WriteOptions& options, std::string* error_line);

}  // namespace zrk
