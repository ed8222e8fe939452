// The tar stream goes straight into the parallel gzip writer; member data is
// read in large pieces from one file at a time.
#include <vector>

#include "common/text.h"
#include "fs/input_file.h"
#include "fs/writable_file.h"
#include "pack/archive_writers.h"
#include "pack/gzip_members.h"
#include "pack/progress.h"
#include "pack/tar_writer.h"

namespace zrk {

namespace {

constexpr std::size_t kReadSize = 256 * 1024;

std::string line_for(const char* what, const std::filesystem::path& path, const std::string& text) {
  return std::string(what) + to_utf8(path) + ": " + text;
}

struct TarStream {
  GzipMemberWriter* gzip;
  WritableFile* out;
  std::filesystem::path path;
  Progress* progress;
  std::string* error_line;
  std::uint64_t done = 0;
  std::vector<char> buffer = std::vector<char>(kReadSize + 1);

  bool put(const char* data, std::size_t size) {
    done += size;
    progress->update(done);
    if (gzip->write(data, size)) return true;
    *error_line = line_for("cannot write ", path, gzip->error_text());
    return false;
  }
};

// The file's data, exactly the size the scan saw. The last read asks for one
// byte more to learn that the file ends there, so a small file takes one read.
bool put_file(TarStream& stream, const std::filesystem::path& source, std::uint64_t size) {
  const auto cannot_read = [&](const std::string& why) {
    *stream.error_line = line_for("cannot read ", source, why);
    return false;
  };
  InputFile file;
  if (const std::error_code error = file.open(source)) return cannot_read(error.message());
  for (std::uint64_t done = 0;;) {
    const std::uint64_t left = size - done;
    const std::size_t piece = left < kReadSize ? static_cast<std::size_t>(left) : kReadSize;
    const bool last = piece == left;
    if (const std::error_code error = file.read_exactly(done, stream.buffer.data(), piece, last)) {
      return cannot_read(error.message());
    }
    if (!stream.put(stream.buffer.data(), piece)) return false;
    done += piece;
    if (last) break;
  }
  static const char kZeros[kTarBlockSize] = {};
  return stream.put(kZeros, static_cast<std::size_t>(tar_padding(size)));
}

}  // namespace

ArchiveCounts tarball_counts(const BuildTree& tree) {
  ArchiveCounts counts;
  for (const BuildEntry& entry : tree.entries) {
    const TarOverhead overhead = tar_member_overhead(tree.name(entry));
    counts.members += overhead.headers;
    counts.data += overhead.extension + entry.size;
    counts.stream += overhead.bytes + entry.size + tar_padding(entry.size);
  }
  // The reader counts what follows its end block toward the cap too.
  counts.data += kTarEndSize - kTarBlockSize;
  counts.stream += kTarEndSize;
  return counts;
}

bool write_tarball(const BuildTree& tree, const std::filesystem::path& path,
                   const WriteOptions& options, std::string* error_line) {
  WritableFile out;
  if (const std::error_code ec = out.open(path, WriteStart::kEmpty)) {
    *error_line = line_for("cannot write ", path, ec.message());
    return false;
  }
  Progress progress(tarball_counts(tree).stream, options.progress);
  bool written = false;
  {
    GzipMemberWriter gzip(&out, options.level, options.jobs);
    TarStream stream{&gzip, &out, path, &progress, error_line};
    written = true;
    for (const BuildEntry& entry : tree.entries) {
      const std::string headers = tar_member_headers(tree.name(entry), entry.size, entry.folder,
                                                     entry.executable, options.mtime);
      written = stream.put(headers.data(), headers.size()) &&
                (entry.folder || put_file(stream, tree.source(entry), entry.size));
      if (!written) break;
    }
    const std::string end(kTarEndSize, '\0');
    written = written && stream.put(end.data(), end.size());
    if (written && !gzip.finish()) {
      *error_line = line_for("cannot write ", path, gzip.error_text());
      written = false;
    }
  }
  progress.finish();
  if (written) {
    std::error_code ec = out.sync();
    const std::error_code closed = out.close();
    if (!ec) ec = closed;
    if (ec) {
      *error_line = line_for("cannot write ", path, ec.message());
      written = false;
    }
  }
  return written;
}

}  // namespace zrk
