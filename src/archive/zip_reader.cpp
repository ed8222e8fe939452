// Zip archives through libzip, in two passes: the whole member table is judged
// before anything is written, so a refused zip leaves staging untouched.
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_open.h"
#include "archive/member_path.h"
#include "archive/member_path_set.h"
#include "archive/readers.h"
#include "archive/staging.h"
#include "common/text.h"

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

std::uint32_t read_le(const char* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

bool read_at(std::ifstream& file, std::uint64_t offset, std::string& bytes, std::size_t count) {
  bytes.resize(count);
  file.seekg(static_cast<std::streamoff>(offset));
  return count == 0 || static_cast<bool>(file.read(&bytes[0], static_cast<std::streamsize>(count)));
}

// True when the zip has one end record at its very end, a central directory
// of exactly the members libzip lists, and a local header for each whose
// name is its central name. Zip64 layouts and anything else answer false.
bool local_names_match(const std::filesystem::path& archive_path, zip_t* archive) {
  constexpr std::size_t kEndSize = 22;
  std::ifstream file(archive_path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  const auto file_size = static_cast<std::uint64_t>(file.tellg());
  std::string tail;
  const std::uint64_t tail_size = std::min<std::uint64_t>(file_size, kEndSize + 0xFFFF);
  if (tail_size < kEndSize || !read_at(file, file_size - tail_size, tail, tail_size)) return false;
  std::size_t end = tail.rfind("PK\5\6");
  while (end != std::string::npos &&
         (tail.size() - end < kEndSize ||
          end + kEndSize + read_le(&tail[end + 20], 2) != tail.size())) {
    end = end == 0 ? std::string::npos : tail.rfind("PK\5\6", end - 1);
  }
  if (end == std::string::npos) return false;
  const std::uint32_t count = read_le(&tail[end + 10], 2);
  const std::uint32_t directory_size = read_le(&tail[end + 12], 4);
  const std::uint32_t directory_offset = read_le(&tail[end + 16], 4);
  // The directory lies before its end record; a forged size must not make
  // the read below allocate gigabytes.
  const std::uint64_t end_offset = file_size - tail_size + end;
  std::string directory;
  if (static_cast<zip_int64_t>(count) != zip_get_num_entries(archive, 0) ||
      std::uint64_t{directory_offset} + directory_size > end_offset ||
      !read_at(file, directory_offset, directory, directory_size)) {
    return false;
  }
  std::size_t at = 0;
  std::string local;
  for (std::uint32_t index = 0; index < count; ++index) {
    if (directory.size() - at < 46 || directory.compare(at, 4, "PK\1\2") != 0) return false;
    const std::size_t name_size = read_le(&directory[at + 28], 2);
    const std::size_t entry_size =
        46 + name_size + read_le(&directory[at + 30], 2) + read_le(&directory[at + 32], 2);
    const char* listed = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (directory.size() - at < entry_size || listed == nullptr ||
        directory.compare(at + 46, name_size, listed) != 0 ||
        !read_at(file, read_le(&directory[at + 42], 4), local, 30 + name_size) ||
        local.compare(0, 4, "PK\3\4") != 0 || read_le(&local[26], 2) != name_size ||
        local.compare(30, name_size, directory, at + 46, name_size) != 0) {
      return false;
    }
    at += entry_size;
  }
  return true;
}

// With libzip's consistency checks first. They also refuse the data
// descriptors of streaming writers (libarchive, Info-ZIP to a pipe), whose
// local headers leave the CRC and sizes for later; such a zip is opened
// without the checks when every local header names the same path as its
// central entry, since the names are the one thing no CRC covers. The data
// stays checked against the central CRC and size as it is read.
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

// What the first pass carries from member to member.
struct TableCheck {
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
    if (member.size > kExpansionCap - table.expansion_total) {
      return fail(messages, kRefused, name + ": the archive expands past the 2 GB cap");
    }
    table.expansion_total += member.size;
  }
  table.members.push_back(std::move(member));
  return kExtracted;
}

// First pass: every member of the table, nothing written.
ExtractStatus check_member_table(zip_t* archive, std::vector<ZipMember>& members,
                                 Messages* messages) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > kMemberLimit) {
    return fail(messages, kRefused, "the zip has no readable member table");
  }
  TableCheck table;
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
  if (!sink.open_file(destination)) {
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
                          StagingSink& sink) {
  const ZipArchive archive = open_zip(archive_path);
  if (archive == nullptr) {
    return fail(messages, kRefused, "cannot open " + to_utf8(archive_path) + " as a zip");
  }
  std::vector<ZipMember> members;
  ExtractStatus status = check_member_table(archive.get(), members, messages);
  if (status != kExtracted) return status;

  std::vector<char> buffer(kCopyBufferSize, 0);
  for (const ZipMember& member : members) {
    status = write_member(archive.get(), member, staging_path, buffer, sink, messages);
    if (status != kExtracted) return status;
  }
  return kExtracted;
}

}  // namespace zrk
