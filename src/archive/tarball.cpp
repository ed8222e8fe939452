#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/gzip_read_ahead.h"
#include "archive/member_path.h"
#include "archive/member_path_set.h"
#include "archive/readers.h"
#include "archive/staging.h"
#include "archive/staging_sink.h"
#include "archive/tar_header.h"
#include "common/text.h"
#include "fs/archive_open.h"

namespace zrk {

namespace {

// zlib inflates straight into the caller's buffer only for reads of at least
// twice its buffer size; 32 KiB keeps the read-ahead's slots on that path
// while reading the file in larger pieces than the 8 KiB default. Measured:
// 128 KiB cost about 30% of the throughput through the extra copy.
constexpr unsigned kGzipBufferSize = 32 * 1024;
// Long names and pax headers are read whole into the copy buffer.
constexpr std::uint64_t kExtensionDataLimit = kCopyBufferSize;
static_assert(kExtensionDataLimit % kTarBlockSize == 0,
              "padded extension data must fit the buffer");
constexpr std::string_view kSparsePrefix = "GNU.sparse.";

// What an L or x header leaves for the member that follows it.
struct PendingNames {
  char source = 0;  // 'L' or 'x' while something is pending, 0 otherwise
  bool has_name = false;
  std::string name;
  bool has_size = false;
  std::uint64_t size = 0;
};

struct TarballReader {
  GzipReadAhead* stream = nullptr;  // borrowed
  std::filesystem::path staging;
  StagingSink* sink = nullptr;  // borrowed
  Messages* messages = nullptr;
  ArchiveLimits limits;
  // For long names and pax headers, made at the first: most archives have
  // none. Only what was read into it is read back, so nothing zeroes it.
  std::unique_ptr<char[]> buffer;
  std::uint64_t member_count = 0;
  std::uint64_t expanded_total = 0;
  bool end_seen = false;
  PendingNames pending;
  MemberPathSet paths;  // only the paths, never data
};

ExtractStatus fail(TarballReader& reader, ExtractStatus status, std::string line) {
  add_message(reader.messages, std::move(line));
  return status;
}

// Adds declared or trailing bytes to the total; false once it would pass the
// cap. Written so that no sum can wrap around.
bool add_to_total(TarballReader& reader, std::uint64_t bytes) {
  if (bytes > reader.limits.expansion_cap - reader.expanded_total) return false;
  reader.expanded_total += bytes;
  return true;
}

ExtractStatus fail_cap(TarballReader& reader) {
  return fail(reader, kRefused,
              "the tarball expands past the " + cap_words(reader.limits.expansion_cap) + " cap");
}

bool is_zero_block(const unsigned char* block) {
  return std::all_of(block, block + kTarBlockSize, [](unsigned char byte) { return byte == 0; });
}

// ---- L and x headers --------------------------------------------------------

// Splits off one "<length> <key>=<value>\n" record, whose length counts the
// whole record. False for anything else.
bool next_pax_record(std::string_view* rest, std::string_view* key, std::string_view* value) {
  std::size_t digits = 0;
  std::size_t length = 0;
  while (digits < rest->size() && (*rest)[digits] >= '0' && (*rest)[digits] <= '9') {
    length = length * 10 + static_cast<std::size_t>((*rest)[digits] - '0');
    if (length > rest->size()) return false;
    ++digits;
  }
  if (digits == 0 || length < digits + 4 || length > rest->size()) return false;
  const std::string_view record = rest->substr(0, length);
  if (record[digits] != ' ' || record.back() != '\n') return false;
  const std::string_view body = record.substr(digits + 1, length - digits - 2);
  const std::size_t equals = body.find('=');
  if (equals == 0 || equals == std::string_view::npos) return false;
  *key = body.substr(0, equals);
  *value = body.substr(equals + 1);
  rest->remove_prefix(length);
  return true;
}

bool parse_decimal(std::string_view text, std::uint64_t* value) {
  if (text.empty()) return false;
  std::uint64_t gathered = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (gathered > (UINT64_MAX - digit) / 10) return false;
    gathered = gathered * 10 + digit;
  }
  *value = gathered;
  return true;
}

// Takes `path` and `size` for the next member; an empty value withdraws an
// earlier one, so the member's own header field stands. Other keys are ignored.
ExtractStatus apply_pax_records(TarballReader& reader, std::string_view data) {
  PendingNames& pending = reader.pending;
  while (!data.empty()) {
    std::string_view key;
    std::string_view value;
    if (!next_pax_record(&data, &key, &value)) {
      return fail(reader, kRefused, "the tarball has a malformed pax header");
    }
    if (key.substr(0, kSparsePrefix.size()) == kSparsePrefix) {
      return fail(reader, kRefused, "the tarball has a sparse file, which is not supported");
    }
    if (key == "path") {
      pending.has_name = !value.empty();
      pending.name.assign(value);
    } else if (key == "size") {
      pending.has_size = !value.empty();
      if (pending.has_size && !parse_decimal(value, &pending.size)) {
        return fail(reader, kRefused, "the tarball has a malformed pax header");
      }
    }
  }
  return kExtracted;
}

ExtractStatus read_extension(TarballReader& reader, const TarMember& header) {
  if (header.size > kExtensionDataLimit) {
    return fail(reader, kRefused, "the tarball has a long name or pax header over 64 KiB");
  }
  if (!add_to_total(reader, header.size)) return fail_cap(reader);
  // Data and padding fit the copy buffer together, since 64 KiB is a whole
  // number of blocks.
  const auto size = static_cast<std::size_t>(header.size);
  const auto padded = static_cast<std::size_t>(tar_padded_size(header.size));
  if (reader.buffer == nullptr) reader.buffer.reset(new char[kCopyBufferSize]);
  if (reader.stream->read(reader.buffer.get(), padded) < padded) {
    return fail(reader, kRefused, "the tarball ends inside " + header.name);
  }

  const std::string_view data(reader.buffer.get(), size);
  reader.pending.source = header.type;
  if (header.type == 'x') return apply_pax_records(reader, data);
  reader.pending.has_name = true;
  reader.pending.name.assign(data.substr(0, data.find('\0')));
  return kExtracted;
}

void take_pending(PendingNames& pending, TarMember* member) {
  if (pending.has_name) member->name = std::move(pending.name);
  if (pending.has_size) member->size = pending.size;
  pending = PendingNames{};
}

// ---- members ----------------------------------------------------------------

ExtractStatus skip_member(TarballReader& reader, const TarMember& member) {
  SkippedMember skipped{member.name, "unsupported tar type " + std::string(1, member.type)};
  add_message(reader.messages, "skipped " + skipped.name + " (" + skipped.reason + ")");
  reader.sink->skip_member(std::move(skipped));
  if (!add_to_total(reader, member.size)) return fail_cap(reader);
  if (!reader.stream->skip(tar_padded_size(member.size))) {
    return fail(reader, kRefused, "the tarball ends inside " + member.name);
  }
  return kExtracted;
}

// The path rules on `judged`, the name as the member's type reads it; lines
// name the member as its header does.
ExtractStatus judge_name(TarballReader& reader, const std::string& name, const std::string& judged,
                         std::string* relative) {
  std::string reason;
  if (!check_member_path(judged, relative, &reason)) {
    return fail(reader, kRefused, "refused " + name + ": " + reason);
  }
  return kExtracted;
}

// A conflict is refused as soon as its second member comes; a file of exactly
// an earlier file's path replaces it, as tar readers do.
ExtractStatus judge_conflict(TarballReader& reader, const std::string& name,
                             const std::string& relative, bool is_folder) {
  const PathConflict conflict = reader.paths.add(relative, is_folder);
  if (conflict == PathConflict::kNone || conflict == PathConflict::kSamePath) return kExtracted;
  return fail(reader, kRefused, "refused " + name + ": " + path_conflict_reason(conflict));
}

// Some writers store a folder's name without its trailing "/".
ExtractStatus extract_directory(TarballReader& reader, const TarMember& member) {
  const bool has_slash = !member.name.empty() && member.name.back() == '/';
  std::string relative;
  if (const ExtractStatus status =
          judge_name(reader, member.name, has_slash ? member.name : member.name + "/", &relative)) {
    return status;
  }
  if (!relative.empty()) {
    if (const ExtractStatus status = judge_conflict(reader, member.name, relative, true)) {
      return status;
    }
  }
  if (!add_to_total(reader, member.size)) return fail_cap(reader);
  if (!relative.empty() && !reader.sink->make_folder(staged_path(reader.staging, relative))) {
    return fail(reader, kCannotWrite, "cannot create " + relative);
  }
  if (!reader.stream->skip(tar_padded_size(member.size))) {
    return fail(reader, kRefused, "the tarball ends inside " + member.name);
  }
  return kExtracted;
}

// Writes straight from the read-ahead's slots.
ExtractStatus copy_file_data(TarballReader& reader, const TarMember& member,
                             const std::string& relative, const std::filesystem::path& target) {
  StagingSink& sink = *reader.sink;
  const FileKind kind = (member.mode & 0111) != 0 ? FileKind::kProgram : FileKind::kData;
  if (!sink.open_file(target, kind))
    return fail(reader, kCannotWrite, "cannot write " + to_utf8(target));
  for (std::uint64_t remaining = member.size; remaining > 0;) {
    const std::string_view piece = reader.stream->next(static_cast<std::size_t>(
        std::min<std::uint64_t>(remaining, std::numeric_limits<std::size_t>::max())));
    if (piece.empty()) {
      sink.close_file();
      return fail(reader, kRefused, "the tarball ends inside the data of " + relative);
    }
    if (!sink.write_file(piece.data(), piece.size())) {
      sink.close_file();
      return fail(reader, kCannotWrite, "cannot write " + to_utf8(target));
    }
    remaining -= piece.size();
  }
  if (!sink.close_file()) return fail(reader, kCannotWrite, "cannot write " + to_utf8(target));
  return kExtracted;
}

ExtractStatus extract_file(TarballReader& reader, const TarMember& member) {
  std::string relative;
  if (const ExtractStatus status = judge_name(reader, member.name, member.name, &relative)) {
    return status;
  }
  if (relative.empty()) {
    return fail(reader, kRefused,
                "refused " + member.name + ": a regular file cannot be the top folder");
  }
  if (const ExtractStatus status = judge_conflict(reader, member.name, relative, false)) {
    return status;
  }
  if (!add_to_total(reader, member.size)) return fail_cap(reader);
  const std::filesystem::path target = staged_path(reader.staging, relative);
  if (!reader.sink->make_parent_folders(target)) {
    return fail(reader, kCannotWrite, "cannot create the folder for " + relative);
  }
  if (const ExtractStatus status = copy_file_data(reader, member, relative, target)) return status;
  if (!reader.stream->skip(tar_padding(member.size))) {
    return fail(reader, kRefused, "the tarball ends inside the padding of " + relative);
  }
  return kExtracted;
}

// K and g neither use nor consume what an L or x header left: GNU tar writes
// a K and an L before the same real header.
ExtractStatus handle_member(TarballReader& reader, TarMember& member) {
  if (member.type == 'L' || member.type == 'x') return read_extension(reader, member);
  if (member.type != 'K' && member.type != 'g') take_pending(reader.pending, &member);
  if (member.type == '0') return extract_file(reader, member);
  if (member.type == '5') return extract_directory(reader, member);
  return skip_member(reader, member);
}

// ---- the stream ---------------------------------------------------------------

ExtractStatus read_members(TarballReader& reader) {
  unsigned char block[kTarBlockSize];
  for (;;) {
    const std::size_t got = reader.stream->read(reinterpret_cast<char*>(block), kTarBlockSize);
    if (got == 0) return kExtracted;
    if (got < kTarBlockSize)
      return fail(reader, kRefused, "the tarball ends inside a header block");
    if (is_zero_block(block)) {
      reader.end_seen = true;
      return kExtracted;
    }
    TarMember member;
    std::string reason;
    if (!parse_tar_header(block, &member, &reason)) {
      return fail(reader, kRefused, "refused a member: " + reason);
    }
    if (++reader.member_count > reader.limits.member_limit) {
      return fail(reader, kRefused, "the tarball has too many members");
    }
    if (const ExtractStatus status = handle_member(reader, member)) return status;
  }
}

// Reads what follows the end-of-archive block, so that a damaged or cut gzip
// stream is noticed, and counts it toward the cap against gzip bombs.
ExtractStatus read_to_end(TarballReader& reader) {
  for (;;) {
    const std::string_view piece = reader.stream->next(kCopyBufferSize);
    if (piece.empty()) break;
    if (!add_to_total(reader, piece.size())) return fail_cap(reader);
  }
  if (reader.stream->damaged()) {
    return fail(reader, kRefused, "the tarball's compressed data is damaged");
  }
  return kExtracted;
}

ExtractStatus read_tarball(TarballReader& reader) {
  if (const ExtractStatus status = read_members(reader)) return status;
  if (!reader.end_seen) {
    return fail(reader, kRefused,
                "the tarball ends without its end-of-archive marker, so it is truncated");
  }
  if (reader.pending.source == 'L') {
    return fail(reader, kRefused, "the tarball ends after a long name with no member for it");
  }
  if (reader.pending.source == 'x') {
    return fail(reader, kRefused, "the tarball ends after a pax header with no member for it");
  }
  return read_to_end(reader);
}

}  // namespace

ExtractStatus extract_tarball(const std::filesystem::path& archive_path,
                              const std::filesystem::path& staging_path, Messages* messages,
                              StagingSink& sink, const ArchiveLimits& limits) {
  const gzFile file = open_gzip(archive_path);
  if (file == nullptr) {
    add_message(messages, "cannot open " + to_utf8(archive_path) + " as gzip");
    return kRefused;
  }
  gzbuffer(file, kGzipBufferSize);
  GzipReadAhead stream(file);
  TarballReader reader;
  reader.stream = &stream;
  reader.staging = staging_path;
  reader.sink = &sink;
  reader.messages = messages;
  reader.limits = limits;

  const ExtractStatus status = read_tarball(reader);
  // A stream cut inside its trailer may show only here.
  if (stream.close() == Z_BUF_ERROR && status == kExtracted) {
    return fail(reader, kRefused, "the tarball's compressed data is damaged");
  }
  return status;
}

}  // namespace zrk
