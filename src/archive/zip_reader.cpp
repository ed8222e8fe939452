// Zip archives through libzip, in two passes: the whole member table is judged
// before anything is written, so a refused zip leaves staging untouched.
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/member_path.h"
#include "archive/member_path_set.h"
#include "archive/readers.h"
#include "archive/staging.h"
#include "common/text.h"
#include "fs/archive_open.h"
#include "fs/input_file.h"

namespace zrk {

namespace {

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ArchiveDiscard>;

// zip_fclose's result carries nothing the data reads have not already said.
struct MemberClose {
  void operator()(zip_file_t* member) const { zip_fclose(member); }
};
using ZipMemberHandle = std::unique_ptr<zip_file_t, MemberClose>;

struct ZipMember {
  std::string relative_path;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  bool is_folder = false;
  FileKind kind = FileKind::kData;
};

ExtractStatus fail(Messages* messages, ExtractStatus status, std::string line) {
  add_message(messages, std::move(line));
  return status;
}

// Read-only; null when the file cannot be opened that way, whatever the
// reason.
ZipArchive open_zip_with(const std::filesystem::path& archive_path, int flags) {
  zip_error_t error;
  zip_error_init(&error);
  zip_t* archive = nullptr;
  if (zip_source_t* source = open_zip_source(archive_path, &error)) {
    archive = zip_open_from_source(source, flags, &error);
    if (archive == nullptr) zip_source_free(source);
  }
  zip_error_fini(&error);
  return ZipArchive(archive);
}

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
// A 32-bit field holding this says that its value is in a Zip64 record.
constexpr std::uint64_t kInZip64 = 0xFFFFFFFF;

std::uint64_t read_le(const char* bytes, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// A file read only where its size allows, through a window of the file held
// in memory, so that a directory read entry by entry, a few bytes at a time,
// costs one host read per window and not one per field.
class BoundedFile {
 public:
  explicit BoundedFile(const std::filesystem::path& path) {
    is_open_ = !file_.open(path) && !file_.size(&size_);
  }

  bool is_open() const { return is_open_; }
  std::uint64_t size() const { return size_; }

  // False when the bytes do not all lie inside the file or cannot be read.
  bool read(std::uint64_t offset, std::size_t count, std::string& bytes) {
    if (!is_open_ || offset > size_ || count > size_ - offset) return false;
    if (offset < window_start_ || offset + count > window_start_ + window_.size()) {
      const std::uint64_t wanted = std::max<std::uint64_t>(count, kWindowSize);
      window_.resize(static_cast<std::size_t>(std::min(wanted, size_ - offset)));
      window_start_ = offset;
      if (!window_.empty() &&
          file_.read_exactly(offset, &window_[0], window_.size(), /*end=*/false)) {
        window_.clear();
        return false;
      }
    }
    bytes.assign(window_, static_cast<std::size_t>(offset - window_start_), count);
    return true;
  }

 private:
  static constexpr std::uint64_t kWindowSize = 65536;

  InputFile file_;
  bool is_open_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t window_start_ = 0;
  std::string window_;
};

// Where the central directory lies, and where the end records begin: nothing
// that the directory points to may reach past that.
struct DirectoryPlace {
  std::uint64_t count = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t records_start = 0;
};

// The offset of the end record: the last one in the tail whose comment ends
// the file or, failing that, the last one in the tail when only zero bytes
// follow its comment (writers that stream to a pipe pad to whole blocks).
bool find_end_record(BoundedFile& file, std::uint64_t& end_offset) {
  std::string tail;
  const std::uint64_t tail_size = std::min<std::uint64_t>(file.size(), kEndSize + 0xFFFF);
  if (tail_size < kEndSize || !file.read(file.size() - tail_size, tail_size, tail)) return false;
  const auto comment_end = [&](std::size_t end) {
    return end + kEndSize + static_cast<std::size_t>(read_le(&tail[end + 20], 2));
  };
  std::size_t end = tail.rfind("PK\5\6", tail.size() - kEndSize);
  const std::size_t last = end;
  while (end != std::string::npos && comment_end(end) != tail.size()) {
    end = end == 0 ? std::string::npos : tail.rfind("PK\5\6", end - 1);
  }
  if (end == std::string::npos && last != std::string::npos && comment_end(last) <= tail.size() &&
      tail.find_first_not_of('\0', comment_end(last)) == std::string::npos) {
    end = last;
  }
  if (end == std::string::npos) return false;
  end_offset = file.size() - tail_size + end;
  return true;
}

// A 32-bit field of the plain end record agrees with its Zip64 value when it
// holds that value or the marker that sends a reader to the Zip64 record.
bool agrees(std::uint64_t plain, std::uint64_t marker, std::uint64_t zip64) {
  return plain == marker || plain == zip64;
}

// The Zip64 end record that the locator before the plain end record names.
// It must sit right before the locator, on the one disk, and say what the
// plain end record says wherever that holds more than a marker.
bool read_zip64_end(BoundedFile& file, std::uint64_t locator_offset, const std::string& end,
                    DirectoryPlace& place) {
  std::string locator;
  std::string record;
  if (!file.read(locator_offset, kLocatorSize, locator) || read_le(&locator[4], 4) != 0 ||
      read_le(&locator[16], 4) > 1) {
    return false;
  }
  const std::uint64_t record_offset = read_le(&locator[8], 8);
  if (record_offset > locator_offset || locator_offset - record_offset < kZip64EndSize ||
      !file.read(record_offset, kZip64EndSize, record) || record.compare(0, 4, "PK\6\6") != 0 ||
      read_le(&record[4], 8) != locator_offset - record_offset - 12 ||
      read_le(&record[16], 4) != 0 || read_le(&record[20], 4) != 0 ||
      read_le(&record[24], 8) != read_le(&record[32], 8)) {
    return false;
  }
  place.count = read_le(&record[32], 8);
  place.size = read_le(&record[40], 8);
  place.offset = read_le(&record[48], 8);
  place.records_start = record_offset;
  return agrees(read_le(&end[10], 2), 0xFFFF, place.count) &&
         agrees(read_le(&end[12], 4), kInZip64, place.size) &&
         agrees(read_le(&end[16], 4), kInZip64, place.offset);
}

bool find_directory(BoundedFile& file, DirectoryPlace& place) {
  std::uint64_t end_offset = 0;
  std::string end;
  if (!find_end_record(file, end_offset) || !file.read(end_offset, kEndSize, end)) return false;
  std::string locator_signature;
  if (end_offset >= kLocatorSize && file.read(end_offset - kLocatorSize, 4, locator_signature) &&
      locator_signature == "PK\6\7") {
    if (!read_zip64_end(file, end_offset - kLocatorSize, end, place)) return false;
  } else {
    place.count = read_le(&end[10], 2);
    place.size = read_le(&end[12], 4);
    place.offset = read_le(&end[16], 4);
    place.records_start = end_offset;
  }
  // Subtracting keeps a forged 64-bit place from wrapping back into the file.
  return place.size <= place.records_start && place.offset <= place.records_start - place.size;
}

// One central entry, as the check needs it.
struct CentralEntry {
  std::string name;
  std::uint64_t compressed_size = 0;
  std::uint64_t local_offset = 0;
};

// Takes each of the entry's sizes and its local header offset that holds the
// marker from the Zip64 extra field, where they follow in that order.
bool resolve_zip64_fields(const std::string& extra, std::uint64_t& size,
                          std::uint64_t& compressed_size, std::uint64_t& local_offset) {
  std::uint64_t* const fields[] = {&size, &compressed_size, &local_offset};
  std::size_t at = 0;
  while (extra.size() - at >= 4 && read_le(&extra[at], 2) != 1) {
    at += 4 + static_cast<std::size_t>(read_le(&extra[at + 2], 2));
    if (at > extra.size()) return false;
  }
  std::size_t data_size = 0;
  if (extra.size() - at >= 4) {
    data_size = static_cast<std::size_t>(read_le(&extra[at + 2], 2));
    at += 4;
    if (data_size > extra.size() - at) return false;
  }
  for (std::uint64_t* field : fields) {
    if (*field != kInZip64) continue;
    if (data_size < 8) return false;
    *field = read_le(&extra[at], 8);
    at += 8;
    data_size -= 8;
  }
  return true;
}

// Reads the central entry at `at`, which must end by `directory_end`, and
// moves `at` past it.
bool read_central_entry(BoundedFile& directory, std::uint64_t& at, std::uint64_t directory_end,
                        CentralEntry& entry) {
  std::string header;
  std::string extra;
  if (directory_end - at < kCentralSize || !directory.read(at, kCentralSize, header) ||
      header.compare(0, 4, "PK\1\2") != 0) {
    return false;
  }
  const auto name_size = static_cast<std::size_t>(read_le(&header[28], 2));
  const auto extra_size = static_cast<std::size_t>(read_le(&header[30], 2));
  const std::uint64_t entry_size = kCentralSize + name_size + extra_size + read_le(&header[32], 2);
  if (directory_end - at < entry_size ||
      !directory.read(at + kCentralSize, name_size, entry.name) ||
      !directory.read(at + kCentralSize + name_size, extra_size, extra)) {
    return false;
  }
  at += entry_size;
  std::uint64_t size = read_le(&header[24], 4);
  entry.compressed_size = read_le(&header[20], 4);
  entry.local_offset = read_le(&header[42], 4);
  return resolve_zip64_fields(extra, size, entry.compressed_size, entry.local_offset);
}

// True when the local header names the entry's path and it and the data
// that the entry declares end by `records_start`.
bool local_header_matches(BoundedFile& file, const CentralEntry& entry,
                          std::uint64_t records_start) {
  std::string local;
  const std::size_t header_size = kLocalSize + entry.name.size();
  if (entry.local_offset > records_start || records_start - entry.local_offset < header_size ||
      !file.read(entry.local_offset, header_size, local) || local.compare(0, 4, "PK\3\4") != 0 ||
      read_le(&local[26], 2) != entry.name.size() ||
      local.compare(kLocalSize, entry.name.size(), entry.name) != 0) {
    return false;
  }
  const std::uint64_t room = records_start - entry.local_offset;
  const std::uint64_t data_start = header_size + read_le(&local[28], 2);
  return data_start <= room && entry.compressed_size <= room - data_start;
}

// True when the end records describe a central directory of exactly the
// members libzip lists, inside the file before those records, and each
// entry's local header names the same path as the entry, with the entry's
// data also before the end records. Reads one entry at a time, so a forged
// size or count costs no more memory than an honest one.
bool local_names_match(const std::filesystem::path& archive_path, zip_t* archive) {
  BoundedFile file(archive_path);
  BoundedFile directory(archive_path);
  DirectoryPlace place;
  if (!file.is_open() || !directory.is_open() || !find_directory(file, place)) return false;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) != place.count) return false;
  std::uint64_t at = place.offset;
  CentralEntry entry;
  for (std::uint64_t index = 0; index < place.count; ++index) {
    const char* listed = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (listed == nullptr || !read_central_entry(directory, at, place.offset + place.size, entry) ||
        entry.name != listed || !local_header_matches(file, entry, place.records_start)) {
      return false;
    }
  }
  return true;
}

// With libzip's consistency checks first. They also refuse the data
// descriptors of streaming writers (libarchive, Info-ZIP to a pipe), whose
// local headers leave the CRC and sizes for later, the block padding after a
// zip written to a pipe, and Zip64 local headers that ask for a later version
// than their central entries; such a zip is opened without the checks when
// every local header names the same path as its central entry, since the
// names are the one thing no CRC covers. The data stays checked against the
// central CRC and size as it is read.
ZipArchive open_zip(const std::filesystem::path& archive_path) {
  ZipArchive archive = open_zip_with(archive_path, ZIP_RDONLY | ZIP_CHECKCONS);
  if (archive != nullptr) return archive;
  archive = open_zip_with(archive_path, ZIP_RDONLY);
  if (archive != nullptr && !local_names_match(archive_path, archive.get())) archive.reset();
  return archive;
}

// The methods read on every host; what else libzip reads differs between
// builds, so a member would apply on one host and not on the other.
bool is_readable_method(const zip_stat_t& stat) {
  if ((stat.valid & ZIP_STAT_COMP_METHOD) == 0) return false;
  const zip_uint16_t method = stat.comp_method;
  return (method == ZIP_CM_STORE || method == ZIP_CM_DEFLATE || method == ZIP_CM_BZIP2) &&
         zip_compression_method_supported(method, 0) != 0;
}

// A Unix zip keeps the file's mode in the high half of its external
// attributes; other hosts' attributes have no execute bit to keep.
FileKind kind_of(zip_t* archive, std::uint64_t index) {
  zip_uint8_t host = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &host, &attributes) != 0 ||
      host != ZIP_OPSYS_UNIX) {
    return FileKind::kData;
  }
  const zip_uint32_t mode = attributes >> 16;
  // A link's mode has every bit set; only a plain file is a program.
  const zip_uint32_t type = mode & 0170000;
  if (type != 0 && type != 0100000) return FileKind::kData;
  return (mode & 0111) != 0 ? FileKind::kProgram : FileKind::kData;
}

// What the first pass carries from member to member.
struct TableCheck {
  ArchiveLimits limits;
  std::uint64_t expansion_total = 0;
  MemberPathSet paths;
  std::vector<ZipMember> members;
};

// Judges one member's status record; appends it to the members when it passes.
ExtractStatus check_member(zip_t* archive, std::uint64_t index, TableCheck& table,
                           Messages* messages) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  constexpr zip_uint64_t kNeeded = ZIP_STAT_NAME | ZIP_STAT_SIZE;
  if (zip_stat_index(archive, index, 0, &stat) != 0 || (stat.valid & kNeeded) != kNeeded ||
      stat.name == nullptr) {
    return fail(messages, kRefused, "the zip has a member with no name or size");
  }
  if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE) {
    return fail(messages, kRefused, "the zip has an encrypted member");
  }
  const std::string name = stat.name;
  ZipMember member;
  std::string reason;
  if (!check_member_path(name, &member.relative_path, &reason)) {
    return fail(messages, kRefused, "refused " + name + ": " + reason);
  }
  member.index = index;
  member.size = stat.size;
  member.is_folder = !name.empty() && name.back() == '/';
  member.kind = kind_of(archive, index);
  if (!member.relative_path.empty()) {
    // Unlike in a tarball, nothing says which of two same-named members wins.
    const PathConflict conflict = table.paths.add(member.relative_path, member.is_folder);
    if (conflict != PathConflict::kNone) {
      return fail(messages, kRefused, "refused " + name + ": " + path_conflict_reason(conflict));
    }
  }
  if (!member.is_folder) {
    if (!is_readable_method(stat)) {
      return fail(messages, kRefused,
                  name + ": the member uses a compression method that cannot be read");
    }
    // Subtracting keeps the sum from wrapping on a forged 64-bit size.
    if (member.size > table.limits.expansion_cap - table.expansion_total) {
      return fail(messages, kRefused,
                  name + ": the archive expands past the " + cap_words(table.limits.expansion_cap) +
                      " cap");
    }
    table.expansion_total += member.size;
  }
  table.members.push_back(std::move(member));
  return kExtracted;
}

// First pass: every member of the table, nothing written.
ExtractStatus check_member_table(zip_t* archive, const ArchiveLimits& limits,
                                 std::vector<ZipMember>& members, Messages* messages) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits.member_limit) {
    return fail(messages, kRefused, "the zip has no readable member table");
  }
  TableCheck table;
  table.limits = limits;
  table.members.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t index = 0; index < static_cast<std::uint64_t>(count); ++index) {
    const ExtractStatus status = check_member(archive, index, table, messages);
    if (status != kExtracted) return status;
  }
  members = std::move(table.members);
  return kExtracted;
}

// Moves the member's data into the open staged file, watching the declared
// size. `line` is left empty when the data ended without a problem.
ExtractStatus copy_member_data(zip_file_t* handle, StagingSink& sink, const ZipMember& member,
                               const std::filesystem::path& destination, std::vector<char>& buffer,
                               std::uint64_t& bytes_read, std::string& line) {
  for (;;) {
    const zip_int64_t got = zip_fread(handle, buffer.data(), buffer.size());
    if (got < 0) {
      line = member.relative_path + ": the member is damaged";
      return kRefused;
    }
    if (got == 0) return kExtracted;
    bytes_read += static_cast<std::uint64_t>(got);
    if (bytes_read > member.size) {
      line = member.relative_path + ": the member is longer than its directory entry says";
      return kRefused;
    }
    if (!sink.write_file(buffer.data(), static_cast<std::size_t>(got))) {
      line = "cannot write " + to_utf8(destination);
      return kCannotWrite;
    }
  }
}

ExtractStatus write_file_member(zip_t* archive, const ZipMember& member,
                                const std::filesystem::path& destination, std::vector<char>& buffer,
                                StagingSink& sink, Messages* messages) {
  if (!sink.make_parent_folders(destination)) {
    return fail(messages, kCannotWrite, "cannot create the folder for " + member.relative_path);
  }
  ZipMemberHandle handle(zip_fopen_index(archive, member.index, 0));
  if (handle == nullptr) {
    return fail(messages, kRefused, "cannot read " + member.relative_path + " from the zip");
  }
  if (!sink.open_file(destination, member.kind)) {
    return fail(messages, kCannotWrite, "cannot write " + to_utf8(destination));
  }

  std::uint64_t bytes_read = 0;
  std::string line;
  const ExtractStatus status =
      copy_member_data(handle.get(), sink, member, destination, buffer, bytes_read, line);
  handle.reset();
  // Data still buffered can fail to reach the disk only at the close.
  const bool closed = sink.close_file();
  if (status != kExtracted) return fail(messages, status, std::move(line));
  if (!closed) return fail(messages, kCannotWrite, "cannot write " + to_utf8(destination));
  if (bytes_read != member.size) {
    return fail(messages, kRefused,
                member.relative_path + ": the member is shorter than its directory entry says");
  }
  return kExtracted;
}

// Second pass: one member into staging.
ExtractStatus write_member(zip_t* archive, const ZipMember& member,
                           const std::filesystem::path& staging_path, std::vector<char>& buffer,
                           StagingSink& sink, Messages* messages) {
  const std::filesystem::path destination = staged_path(staging_path, member.relative_path);
  if (!member.is_folder) {
    return write_file_member(archive, member, destination, buffer, sink, messages);
  }
  if (!member.relative_path.empty() && !sink.make_folder(destination)) {
    return fail(messages, kCannotWrite, "cannot create " + member.relative_path);
  }
  return kExtracted;
}

}  // namespace

ExtractStatus extract_zip(const std::filesystem::path& archive_path,
                          const std::filesystem::path& staging_path, Messages* messages,
                          StagingSink& sink, const ArchiveLimits& limits) {
  const ZipArchive archive = open_zip(archive_path);
  if (archive == nullptr) {
    return fail(messages, kRefused, "cannot open " + to_utf8(archive_path) + " as a zip");
  }
  std::vector<ZipMember> members;
  ExtractStatus status = check_member_table(archive.get(), limits, members, messages);
  if (status != kExtracted) return status;

  std::vector<char> buffer(kCopyBufferSize, 0);
  for (const ZipMember& member : members) {
    status = write_member(archive.get(), member, staging_path, buffer, sink, messages);
    if (status != kExtracted) return status;
  }
  return kExtracted;
}

}  // namespace zrk
