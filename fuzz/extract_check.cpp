#include "extract_check.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "archive/extract.h"
#include "archive/member_path.h"
#include "archive/tar_header.h"
#include "support/memory_staging.h"

namespace fs = std::filesystem;

// A run allocates and frees about half a megabyte. A quarantine of 32 MB still
// holds the last sixty runs' frees for the use-after-free check, and lets
// the allocator hand out memory that is paged in already: the default 256 MB
// made a page fault of every fresh allocation.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

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

// One gzip member of `data`, of stored blocks: the reader sees the same bytes
// whatever the level, and one stream and buffer are reused, so compressing
// costs next to nothing.
const std::vector<unsigned char>& gzip(const unsigned char* data, std::size_t size) {
  static z_stream stream = [] {
    z_stream made{};
    require(
        deflateInit2(&made, Z_NO_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK,
        "no deflate stream");
    return made;
  }();
  static std::vector<unsigned char> out;
  require(deflateReset(&stream) == Z_OK, "cannot reset the deflate stream");
  out.resize(deflateBound(&stream, static_cast<uLong>(size)));
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  require(deflate(&stream, Z_FINISH) == Z_STREAM_END, "cannot compress the archive");
  out.resize(out.size() - stream.avail_out);
  return out;
}

void write_archive(const fs::path& path, const unsigned char* data, std::size_t size,
                   bool compress) {
  if (compress) {
    const std::vector<unsigned char>& compressed = gzip(data, size);
    data = compressed.data();
    size = compressed.size();
  }
  // Written over in place, with the same file open throughout: tmpfs frees
  // and allocates no pages for an archive of about the last one's size.
  static std::map<fs::path, int> open_files;
  int& fd = open_files[path];
  if (fd == 0) fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  require(fd > 0, "cannot write the archive");
  require(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "cannot write the archive");
  require(::ftruncate(fd, static_cast<off_t>(size)) == 0, "cannot cut the archive");
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

// The staged tree as "dir" or a file's length, by path below staging.
using Shape = std::map<std::string, std::string>;

Shape shape_of(const zrk::test::MemoryStaging& memory) {
  Shape shape;
  for (const auto& [path, entry] : memory.staged()) {
    shape[path] = entry.folder ? "dir" : std::to_string(entry.length);
  }
  return shape;
}

Shape shape_of(const fs::path& staging) {
  Shape shape;
  const std::string prefix = staging.string() + "/";
  for (auto it = fs::recursive_directory_iterator(staging);
       it != fs::recursive_directory_iterator(); ++it) {
    const std::string path = it->path().string().substr(prefix.size());
    shape[path] = it->is_directory() ? "dir" : std::to_string(it->file_size());
  }
  return shape;
}

void fix_checksums(std::vector<unsigned char>& bytes) {
  for (std::size_t at = 0; at + zrk::kTarBlockSize <= bytes.size(); at += zrk::kTarBlockSize) {
    unsigned char* block = bytes.data() + at;
    if (std::memcmp(block + 257, "ustar", 5) != 0) continue;
    // The checksum field itself counts as blanks.
    unsigned sum = 8 * ' ';
    for (std::size_t i = 0; i < 148; ++i) sum += block[i];
    for (std::size_t i = 156; i < zrk::kTarBlockSize; ++i) sum += block[i];
    char field[9];
    std::snprintf(field, sizeof field, "%06o", sum & 0777777);
    std::copy(field, field + 7, block + 148);
    block[155] = ' ';
  }
}

// How many bytes reading `data` as the reader does would give, counted up to
// `limit`: its gzip members one after another, or the bytes themselves when
// they are no gzip.
std::size_t inflated_size(const unsigned char* data, std::size_t size, std::size_t limit) {
  const auto is_gzip = [](const unsigned char* at, std::size_t left) {
    return left >= 2 && at[0] == 0x1f && at[1] == 0x8b;
  };
  if (!is_gzip(data, size)) return size;
  static z_stream stream = [] {
    z_stream made{};
    require(inflateInit2(&made, 15 + 16) == Z_OK, "no inflate stream");
    return made;
  }();
  static unsigned char sink[1 << 16];
  std::size_t total = 0;
  while (is_gzip(data, size) && total <= limit) {
    require(inflateReset(&stream) == Z_OK, "cannot reset the inflate stream");
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int result = Z_OK;
    while (result == Z_OK && total <= limit) {
      stream.next_out = sink;
      stream.avail_out = sizeof sink;
      result = inflate(&stream, Z_NO_FLUSH);
      total += sizeof sink - stream.avail_out;
      if (result == Z_BUF_ERROR && stream.avail_out == sizeof sink) break;
    }
    if (result != Z_STREAM_END) break;
    data = stream.next_in;
    size = stream.avail_in;
  }
  return total;
}

}  // namespace

void check_extraction(const unsigned char* data, std::size_t size, const std::string& archive_name,
                      bool compress, Staging staging_kind) {
  // Two spare levels above the archive catch members that climb out of staging.
  const fs::path run = work_root() / "run";
  const fs::path archive = run / "in" / archive_name;
  const fs::path staging = run / "in" / "staging";
  const bool notes_allowed = archive_name.find(".zip") == std::string::npos;
  static const bool made = fs::create_directories(run / "in");
  (void)made;
  write_archive(archive, data, size, compress);

  // In memory, staging is never made on disk. A run frees all it takes, or
  // libFuzzer runs it again to look for a leak.
  zrk::test::MemoryStaging memory(staging);
  zrk::Messages lines;
  const zrk::ExtractStatus status =
      zrk::extract_archive(archive.string(), staging.string(), &lines, memory);
  check_lines(status, lines, notes_allowed);
  require(memory.breach().empty(), memory.breach());
  if (staging_kind == Staging::kMemory) return;

  fs::create_directories(staging);
  zrk::Messages disk_lines;
  const zrk::ExtractStatus disk_status =
      zrk::extract_archive(archive.string(), staging.string(), &disk_lines);
  check_lines(disk_status, disk_lines, notes_allowed);
  check_tree(work_root(), archive, staging);
  require(disk_status == status, "on disk status " + std::to_string(disk_status) + ", in memory " +
                                     std::to_string(status));
  require(disk_lines == lines, "the lines on disk differ from those in memory");
  require(shape_of(staging) == shape_of(memory), "the tree on disk differs from that in memory");
  remove_root(staging);
}

int check_tarball_input(const unsigned char* data, std::size_t size, Staging staging) {
  if (size == 0) return 0;
  const bool compress = (data[0] & 1) != 0;
  if (!compress && inflated_size(data + 1, size - 1, kMaxInflated) > kMaxInflated) return -1;
  std::vector<unsigned char> bytes(data + 1, data + size);
  if ((data[0] & 2) != 0) fix_checksums(bytes);
  check_extraction(bytes.data(), bytes.size(), "update.tgz", compress, staging);
  return 0;
}

}  // namespace zrk_fuzz
