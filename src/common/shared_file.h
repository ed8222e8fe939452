// Files that other processes may read and write while the updater has them
// open (the log, the marker, staged files), and that no started program inherits.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace zrk {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using SharedFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with an fopen mode ("ab", "wb"). Returns an empty pointer on failure.
SharedFile open_shared_file(const std::filesystem::path& path, const char* mode);

// Hands buffered data to the system and waits until the file's data is on
// the device. False on failure.
bool flush_shared_file(SharedFile& file);

// Closes the file. False when the stream had failed or buffered data could not
// be handed to the system. The pointer is empty afterwards in every case.
bool close_shared_file(SharedFile& file);

}  // namespace zrk
