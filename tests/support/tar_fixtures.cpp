#include "support/tar_fixtures.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "archive/readers.h"
#include "archive/staging.h"
#include "pack/staged_tally.h"
#include "support/memory_staging.h"
#include "support/test_support.h"

namespace zrk::test {

namespace {

std::string octal(std::uint64_t value, std::size_t digits) {
  std::string text(digits, '0');
  for (std::size_t i = digits; i > 0 && value > 0; --i, value /= 8) {
    text[i - 1] = static_cast<char>('0' + value % 8);
  }
  return text;
}

}  // namespace

void set_tar_field(std::string& block, std::size_t offset, std::size_t width,
                   std::string_view text) {
  block.replace(offset, width, std::string(width, '\0'));
  block.replace(offset, std::min(width, text.size()), text.substr(0, width));
}

void set_tar_checksum(std::string& block) {
  set_tar_field(block, 148, 8, "        ");
  std::uint64_t sum = 0;
  for (const char c : block) sum += static_cast<unsigned char>(c);
  set_tar_field(block, 148, 8, octal(sum, 6) + std::string("\0 ", 2));
}

std::string tar_header(std::string_view name, std::uint64_t size, char type,
                       std::string_view prefix) {
  std::string block(512, '\0');
  set_tar_field(block, 0, 100, name);
  set_tar_field(block, 100, 8, "0000644");
  set_tar_field(block, 108, 8, "0000000");
  set_tar_field(block, 116, 8, "0000000");
  set_tar_field(block, 124, 12, octal(size, 11));
  set_tar_field(block, 136, 12, "00000000000");
  block[156] = type;
  set_tar_field(block, 257, 8,
                std::string("ustar\0"
                            "00",
                            8));
  set_tar_field(block, 345, 155, prefix);
  set_tar_checksum(block);
  return block;
}

std::string tar_padding(std::uint64_t size) { return std::string((512 - size % 512) % 512, '\0'); }

std::string tar_member(std::string_view name, std::string_view data, char type) {
  return tar_header(name, data.size(), type) + std::string(data) + tar_padding(data.size());
}

std::string tar_end() { return std::string(1024, '\0'); }

std::string pax_record(std::string_view key, std::string_view value) {
  const std::size_t body = 1 + key.size() + 1 + value.size() + 1;
  std::size_t length = body + 1;
  while (std::to_string(length).size() + body != length) ++length;
  return std::to_string(length) + " " + std::string(key) + "=" + std::string(value) + "\n";
}

std::string gzip_bytes(std::string_view data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::string gunzip_bytes(std::string_view data) { return inflate_bytes(data, 15 + 32); }

std::string inflate_bytes(std::string_view data, int window_bits) {
  z_stream stream{};
  if (inflateInit2(&stream, window_bits) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char chunk[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  const bool trailing = stream.avail_in != 0;
  inflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("inflate failed");
  if (trailing) throw std::runtime_error("bytes after the stream's end");
  return out;
}

TarballBench::TarballBench() : staging_(dir_.path() / "staging") {
  std::filesystem::create_directory(staging_);
}

ExtractStatus TarballBench::extract(const std::string& bytes, Messages* lines,
                                    const std::string& name, const ArchiveLimits& limits) {
  write_file(dir_.path() / name, bytes);
  archives_.push_back(name);
  return extract_file(dir_.path() / name, lines, limits);
}

ExtractStatus TarballBench::extract_file(const std::filesystem::path& archive, Messages* lines,
                                         const ArchiveLimits& limits) {
  const TreeShape before = tree_shape(staging_);
  StagingFolder folder;
  const ExtractStatus status = extract_tarball(archive, staging_, lines, folder, limits);
  expect_sinks_match_disk(staging_, before, status, lines, [&](StagingSink& sink, Messages* again) {
    return extract_tarball(archive, staging_, again, sink, limits);
  });
  return status;
}

TreeShape tree_shape(const std::filesystem::path& root) {
  TreeShape shape;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string key = it->path().lexically_relative(root).generic_u8string();
    if (it->is_symlink()) {
      shape[key] = "link";
    } else if (it->is_directory()) {
      shape[key] = "dir";
    } else {
      shape[key] = std::to_string(it->file_size());
    }
  }
  return shape;
}

namespace {

TreeShape shape_of_memory(const MemoryStaging& memory) {
  TreeShape shape;
  for (const auto& [path, entry] : memory.staged()) {
    shape[path] = entry.folder ? "dir" : std::to_string(entry.length);
  }
  return shape;
}

void expect_memory_matches_disk(
    const std::filesystem::path& staging, const TreeShape& before, const TreeShape& after,
    ExtractStatus status, const Messages* lines,
    const std::function<ExtractStatus(StagingSink&, Messages*)>& extract) {
  MemoryStaging memory(staging);
  // The sink's own calls lay out the tree the disk started with.
  for (const auto& [path, entry] : before) {
    if (entry == "link") return;
    const std::filesystem::path at = staged_path(staging, path);
    if (entry == "dir") {
      ASSERT_TRUE(memory.make_folder(at)) << path;
      continue;
    }
    ASSERT_TRUE(memory.open_file(at, FileKind::kData)) << path;
    ASSERT_TRUE(memory.write_file(nullptr, std::stoull(entry)));
    ASSERT_TRUE(memory.close_file());
  }
  Messages memory_lines;
  EXPECT_EQ(extract(memory, &memory_lines), status) << "in memory";
  if (lines != nullptr) {
    EXPECT_EQ(memory_lines, *lines) << "in memory";
  }
  EXPECT_EQ(memory.breach(), "");
  EXPECT_EQ(shape_of_memory(memory), after) << "in memory";
}

}  // namespace

void expect_sinks_match_disk(const std::filesystem::path& staging, const TreeShape& before,
                             ExtractStatus status, const Messages* lines,
                             const std::function<ExtractStatus(StagingSink&, Messages*)>& extract) {
  const TreeShape after = tree_shape(staging);
  expect_memory_matches_disk(staging, before, after, status, lines, extract);
  if (status == kCannotWrite) return;
  StagedTally tally(staging);
  Messages tally_lines;
  EXPECT_EQ(extract(tally, &tally_lines), status) << "with a tally";
  if (lines != nullptr) {
    EXPECT_EQ(tally_lines, *lines) << "with a tally";
  }
  // Every line before a failure line is a note, and names the member that
  // the reader handed the tally as skipped.
  const std::size_t notes = tally_lines.size() - (status == kExtracted ? 0 : 1);
  ASSERT_EQ(tally.skipped.size(), notes) << "with a tally";
  for (std::size_t i = 0; i < notes; ++i) {
    EXPECT_EQ(tally_lines[i].rfind("skipped " + tally.skipped[i] + " (", 0), 0u) << tally_lines[i];
  }
  // The tally keeps counts and the top-level names; the disk must agree.
  std::uint64_t bytes = 0;
  std::map<std::string, bool> top;
  for (const auto& [path, entry] : after) {
    const bool is_file = entry != "dir";
    if (is_file && entry != "link") bytes += std::stoull(entry);
    if (path.find('/') == std::string::npos) top[path] = is_file;
  }
  EXPECT_EQ(tally.folders.size() + tally.files.size(), after.size()) << "with a tally";
  EXPECT_EQ(tally.files.total_length(), bytes) << "with a tally";
  EXPECT_EQ(tally.top, top) << "with a tally";
}

void TarballBench::reset() {
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    std::filesystem::remove_all(entry.path());
  }
  archives_.clear();
  std::filesystem::create_directory(staging_);
}

std::vector<std::string> TarballBench::strays() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    if (name == "staging") continue;
    if (std::find(archives_.begin(), archives_.end(), name) != archives_.end()) continue;
    names.push_back(name);
  }
  return names;
}

}  // namespace zrk::test
