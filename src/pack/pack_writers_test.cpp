// The archive writers' pieces, judged by the updater's own reader: names at
// the edges of the ustar fields and of the pax record's length, gzip members
// that read back as one stream whatever the thread count, and zip data
// deflated in chunks that join into one stream per file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "archive/extract.h"
#include "common/text.h"
#include "fs/input_file.h"
#include "pack/archive_writers.h"
#include "pack/build_tree.h"
#include "pack/deflate_pipeline.h"
#include "pack/gzip_members.h"
#include "pack/staged_tally.h"
#include "pack/tar_writer.h"
#include "pack/zip_output.h"
#include "support/extract_contract.h"
#include "support/tar_fixtures.h"

namespace zrk {
namespace {

std::string tarball(const std::vector<std::pair<std::string, bool>>& members) {
  std::string tar;
  for (const auto& [relative, folder] : members) {
    const std::string name = "Z-Ravelkin/" + relative + (folder ? "/" : "");
    const std::string data = folder ? "" : relative.substr(0, 3);
    tar += tar_member_headers(name, data.size(), folder, false, 315532800);
    tar += data + std::string(tar_padding(data.size()), '\0');
  }
  tar += std::string(kTarEndSize, '\0');
  GzipMemberCompressor compressor(6);
  std::string out(compressor.bound(tar.size()), '\0');
  out.resize(compressor.compress(tar.data(), tar.size(), out.data()));
  return out;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

const std::string four_folders = repeat('i', 200) + "/" + repeat('j', 200) + "/" +
                                 repeat('k', 200) + "/" + repeat('l', 200) + "/";

struct NameRow {
  const char* what;
  std::string relative;
  bool folder;
};

const NameRow kNameRows[] = {
    {"name field full, no NUL", repeat('a', 89), false},
    {"one byte more: split after the top folder", repeat('b', 90), false},
    {"prefix field full", repeat('c', 144) + "/" + repeat('d', 50), false},
    {"prefix would pass its field: pax", repeat('e', 145) + "/" + repeat('f', 50), false},
    {"component past the name field: pax", repeat('g', 101), false},
    {"folder whose slash fills the name field", repeat('h', 99), true},
    {"pax record of 999 bytes", four_folders + repeat('l', 174), false},
    {"pax record of 1001 bytes", four_folders + repeat('m', 175), false},
    {"UTF-8 name split on a slash", "ünïcødé/" + repeat('n', 95), false},
};

TEST(TarWriter, UpdaterReadsEveryNameBack) {
  test::ExtractSandbox sandbox;
  for (const NameRow& row : kNameRows) {
    SCOPED_TRACE(row.what);
    // The Windows test binary has no long-path manifest, so it could not read
    // the result back; those rows run on Linux.
    constexpr bool kWindows = std::filesystem::path::preferred_separator == '\\';
    if (kWindows && sandbox.staging().native().size() + row.relative.size() >= 260) continue;
    Messages lines;
    ASSERT_EQ(sandbox.extract(tarball({{row.relative, row.folder}}), "u.tar.gz", &lines),
              kExtracted)
        << (lines.empty() ? "" : lines.back());
    const std::map<std::string, std::string> staged = sandbox.staged();
    const std::string entry = row.folder ? "dir" : "file:" + row.relative.substr(0, 3);
    EXPECT_EQ(staged.count(row.relative), 1u);
    if (staged.count(row.relative) == 1) {
      EXPECT_EQ(staged.at(row.relative), entry);
    }
  }
}

std::string gzip_file(const std::string& input, unsigned jobs, const std::filesystem::path& path) {
  WritableFile out;
  EXPECT_FALSE(out.open(path, WriteStart::kEmpty));
  {
    GzipMemberWriter writer(&out, 6, jobs, 1000);
    // Pieces that do not line up with the members.
    for (std::size_t at = 0; at < input.size(); at += 777) {
      EXPECT_TRUE(writer.write(input.data() + at, std::min<std::size_t>(777, input.size() - at)));
    }
    EXPECT_TRUE(writer.finish());
  }
  EXPECT_FALSE(out.close());
  return test::read_file(path);
}

std::string gunzip(const std::filesystem::path& path) {
  gzFile file = gzopen(path.string().c_str(), "rb");
  std::string out;
  char buffer[4096];
  for (int got; (got = gzread(file, buffer, sizeof buffer)) > 0;) out.append(buffer, got);
  gzclose(file);
  return out;
}

TEST(GzipMembers, SameBytesOnAnyThreadCountAndOneStreamToReaders) {
  test::TempDir dir;
  std::mt19937 random(3);
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{999}, std::size_t{1000}, std::size_t{10001}}) {
    SCOPED_TRACE(size);
    std::string input(size, '\0');
    for (char& c : input) c = static_cast<char>('a' + random() % 8);
    const std::string one = gzip_file(input, 1, dir / "one.gz");
    EXPECT_TRUE(gzip_file(input, 3, dir / "three.gz") == one);
    EXPECT_EQ(gunzip(dir / "one.gz"), input);
  }
}

// Adds a member to `tree` as the scan would, with `size` as scanned.
void add_member(BuildTree* tree, const std::string& name, std::size_t size) {
  BuildEntry entry;
  entry.name_offset = static_cast<std::uint32_t>(tree->names.size());
  entry.name_size = static_cast<std::uint32_t>(name.size());
  entry.size = size;
  entry.folder = name.back() == '/';
  tree->names += name;
  tree->entries.push_back(entry);
}

struct PipelineFile {
  std::string data;
  std::string error_line;  // the first chunk's that has one
  std::size_t chunks = 0;
  uLong crc = crc32(0, nullptr, 0);  // combined from the chunks'
};

// Every tree entry's chunks, joined; nothing for a folder.
std::vector<PipelineFile> run_pipeline(const BuildTree& tree, unsigned jobs,
                                       std::size_t chunk_input) {
  DeflatePipeline pipeline(tree, 6, jobs, chunk_input);
  std::vector<PipelineFile> out(tree.entries.size());
  std::size_t entry = 0;
  while (const DeflateChunk* chunk = pipeline.next()) {
    while (tree.entries[entry].folder) ++entry;
    EXPECT_EQ(chunk->entry, entry);
    PipelineFile& file = out[entry];
    EXPECT_EQ(chunk->offset, file.chunks * chunk_input);
    file.data.append(chunk->data, chunk->size);
    if (file.error_line.empty()) file.error_line = chunk->error_line;
    file.crc = crc32_combine(file.crc, chunk->crc, static_cast<z_off_t>(chunk->input));
    ++file.chunks;
    if (chunk->last) ++entry;
  }
  for (std::size_t i = 0; i < tree.entries.size(); ++i) {
    const std::uint64_t size = tree.entries[i].size;
    const std::size_t expected =
        tree.entries[i].folder ? 0
                               : std::max<std::size_t>(1, (size + chunk_input - 1) / chunk_input);
    EXPECT_EQ(out[i].chunks, expected) << "entry " << i;
  }
  return out;
}

// Chunks of 40,000 bytes: past the 32 KiB dictionary, so the first chunk's
// history is partial and later ones' full.
constexpr std::size_t kSmallChunk = 40000;

TEST(DeflatePipeline, SameBytesOnAnyThreadCountAndOneStreamPerFile) {
  test::TempDir dir;
  BuildTree tree;
  tree.root = dir.path();
  std::vector<std::string> contents;  // by entry; none for a folder
  add_member(&tree, "Z-Ravelkin/", 0);
  contents.emplace_back();
  unsigned n = 0;
  for (const std::size_t size : {0, 1, 39999, 40000, 40001, 100000, 0, 2000, 3 * 40000 + 7}) {
    // Every third file in a folder of its own: folders have no chunks.
    std::string relative = "f" + std::to_string(++n);
    if (n % 3 == 0) {
      relative = "sub" + std::to_string(n) + "/" + relative;
      add_member(&tree, "Z-Ravelkin/sub" + std::to_string(n) + "/", 0);
      contents.emplace_back();
    }
    add_member(&tree, "Z-Ravelkin/" + relative, size);
    contents.push_back(test::mixed_data(size, n));
    test::write_file(dir / relative, contents.back());
  }
  const std::vector<PipelineFile> one = run_pipeline(tree, 1, kSmallChunk);
  for (const unsigned jobs : {2u, 4u}) {
    SCOPED_TRACE(jobs);
    const std::vector<PipelineFile> other = run_pipeline(tree, jobs, kSmallChunk);
    for (std::size_t i = 0; i < contents.size(); ++i)
      EXPECT_TRUE(other[i].data == one[i].data) << i;
  }
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (tree.entries[i].folder) continue;
    SCOPED_TRACE(tree.name(tree.entries[i]));
    EXPECT_EQ(one[i].error_line, "");
    EXPECT_TRUE(test::inflate_bytes(one[i].data, -15) == contents[i]);
    const auto* bytes = reinterpret_cast<const Bytef*>(contents[i].data());
    EXPECT_EQ(one[i].crc,
              crc32(crc32(0, nullptr, 0), bytes, static_cast<uInt>(contents[i].size())));
  }
}

struct ChangedFileRow {
  const char* what;
  std::size_t scanned;
  std::size_t actual;  // SIZE_MAX: no file at all
  std::string why;     // empty: the host's own text for a missing file
};

const ChangedFileRow kChangedFileRows[] = {
    {"gone", 10, SIZE_MAX, ""},
    {"shorter within the last chunk", 90000, 85000, "the file became shorter while it was read"},
    {"shorter by a chunk", 90000, 45000, "the file became shorter while it was read"},
    {"longer", 90000, 90001, "the file grew while it was read"},
    {"no longer empty", 0, 1, "the file grew while it was read"},
    // The tarball writer reads 256 KiB at a time.
    {"longer, scanned as two whole pieces", 512u << 10, (512u << 10) + 1,
     "the file grew while it was read"},
    {"shorter by a piece", 600000, 300000, "the file became shorter while it was read"},
};

// Both writers read the files that the scan sized; one that no longer has
// its scanned size stops them with a "cannot read" line, not a short member.
TEST(PackWriters, AFileThatChangedSinceTheScanIsACannotRead) {
  for (const ChangedFileRow& row : kChangedFileRows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    BuildTree tree;
    tree.root = dir.path();
    add_member(&tree, "Z-Ravelkin/changed", row.scanned);
    add_member(&tree, "Z-Ravelkin/after", 5);
    const std::filesystem::path changed = dir / "changed";
    if (row.actual != SIZE_MAX) test::write_file(changed, test::mixed_data(row.actual, 5));
    test::write_file(dir / "after", "after");
    std::string why = row.why;
    if (why.empty()) {
      InputFile missing;
      const std::error_code error = missing.open(changed);
      EXPECT_TRUE(error);
      why = error.message();
    }
    const std::string line = "cannot read " + to_utf8(changed) + ": " + why;

    const std::vector<PipelineFile> out = run_pipeline(tree, 2, kSmallChunk);
    EXPECT_EQ(out[0].error_line, line);
    EXPECT_EQ(out[1].error_line, "");
    std::string error_line;
    EXPECT_FALSE(write_tarball(tree, dir / "u.tar.gz", WriteOptions{}, &error_line));
    EXPECT_EQ(error_line, line);
  }
}

// What the writers count for the member limit and the cap is exactly what
// the updater's reader counts in what they write: the archive passes limits
// of those figures and is refused at one less.
TEST(PackWriters, CountsAreWhatTheUpdaterCounts) {
  test::TempDir dir;
  const std::filesystem::path build = dir / "build";
  test::write_file(build / "Z-Ravelkin.exe", "game");
  test::write_file(build / "zravelkin.pak", test::mixed_data(5000, 3));
  test::write_file(build / "typefaces" / (std::string(120, 't') + ".ttf"), "long name");
  std::filesystem::create_directories(build / "asset-rules" / "empty");
  const BuildScan scan = scan_build_folder(build, ScanOptions{});
  ASSERT_TRUE(scan.problems.empty() && scan.read_error.empty());
  for (const bool zip : {false, true}) {
    SCOPED_TRACE(zip ? "zip" : "tarball");
    const std::filesystem::path archive = dir / (zip ? "u.zip" : "u.tar.gz");
    std::string error_line;
    ASSERT_TRUE(zip ? write_zip(scan.tree, archive, WriteOptions{}, &error_line)
                    : write_tarball(scan.tree, archive, WriteOptions{}, &error_line))
        << error_line;
    const ArchiveCounts counts = zip ? zip_counts(scan.tree) : tarball_counts(scan.tree);
    const std::string too_many =
        zip ? "the zip has no readable member table" : "the tarball has too many members";
    const std::string past_cap =
        zip ? ": the archive expands past the " : "the tarball expands past the ";
    const struct {
      ArchiveLimits limits;
      const std::string* line;  // in the last line; null: extracted
    } kCases[] = {
        {{counts.data, counts.members}, nullptr},
        {{counts.data, counts.members - 1}, &too_many},
        {{counts.data - 1, counts.members}, &past_cap},
    };
    for (const auto& c : kCases) {
      StagedTally tally(dir / "staging");
      Messages lines;
      const ExtractStatus status =
          extract_archive(to_utf8(archive), to_utf8(dir / "staging"), &lines, tally, c.limits);
      if (c.line == nullptr) {
        EXPECT_EQ(status, kExtracted) << (lines.empty() ? "" : lines.back());
        continue;
      }
      EXPECT_EQ(status, kRefused);
      ASSERT_FALSE(lines.empty());
      EXPECT_NE(lines.back().find(*c.line), std::string::npos) << lines.back();
    }
  }
}

// libzip's writes to its archive: at the end, or over a header behind them
// once a member's data is written. Kilobytes in a 1 MiB buffer, so that
// some land behind it, some within it and some across its start.
struct ZipOutputRow {
  const char* what;
  std::vector<std::pair<std::size_t, std::size_t>> writes;  // at, length; ~0 at: the end
};

constexpr std::size_t kEnd = ~std::size_t{0};

const ZipOutputRow kZipOutputRows[] = {
    {"appends only", {{kEnd, 30}, {kEnd, 5000}, {kEnd, 1}}},
    {"over a header within the buffer", {{kEnd, 46}, {kEnd, 9000}, {0, 46}, {kEnd, 46}}},
    {"over a header behind the buffer", {{kEnd, 46}, {kEnd, 3u << 20}, {0, 46}, {kEnd, 10}}},
    {"across the buffer's start",
     {{kEnd, (1u << 20) - 20}, {kEnd, 40}, {kEnd, 5000}, {(1u << 20) - 10, 50}, {kEnd, 7}}},
    {"nothing", {}},
};

TEST(ZipOutput, WhatLibzipWritesIsTheFile) {
  for (const ZipOutputRow& row : kZipOutputRows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    std::string error_line;
    zip_source_t* output = create_zip_output(dir / "out.zip", &error_line, nullptr);
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(zip_source_begin_write(output), 0);
    std::string model;
    char fill = 'a';
    for (const auto& [at, length] : row.writes) {
      const std::string data = test::mixed_data(length, static_cast<unsigned>(fill++));
      const std::size_t to = at == kEnd ? model.size() : at;
      ASSERT_EQ(zip_source_seek_write(output, static_cast<zip_int64_t>(to), SEEK_SET), 0);
      ASSERT_EQ(zip_source_write(output, data.data(), data.size()),
                static_cast<zip_int64_t>(data.size()));
      EXPECT_EQ(zip_source_tell_write(output), static_cast<zip_int64_t>(to + length));
      model.resize(std::max(model.size(), to + length));
      model.replace(to, length, data);
    }
    EXPECT_EQ(zip_source_commit_write(output), 0);
    zip_source_free(output);
    EXPECT_TRUE(test::read_file(dir / "out.zip") == model);
    EXPECT_EQ(error_line, "");
  }
}

TEST(ZipOutput, AFullDiskIsACannotWrite) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string error_line;
  zip_source_t* output = create_zip_output("/dev/full", &error_line, nullptr);
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(zip_source_begin_write(output), 0);
  const std::string data(2u << 20, 'z');
  EXPECT_EQ(zip_source_write(output, data.data(), data.size()), -1);
  EXPECT_EQ(error_line, "cannot write /dev/full: " +
                            std::make_error_code(std::errc::no_space_on_device).message());
  zip_source_rollback_write(output);
  zip_source_free(output);
}

}  // namespace
}  // namespace zrk
