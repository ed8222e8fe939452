// The archive writers' pieces, judged by the updater's own reader: names at
// the edges of the ustar fields and of the pax record's length, gzip members
// that read back as one stream whatever the thread count, and zip data
// deflated in chunks that join into one stream per file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "common/text.h"
#include "pack/deflate_pipeline.h"
#include "pack/gzip_members.h"
#include "pack/tar_writer.h"
#include "support/extract_contract.h"

namespace zrk {
namespace {

std::string tarball(const std::vector<std::pair<std::string, bool>>& members) {
  std::string tar;
  for (const auto& [relative, folder] : members) {
    const std::string name = "Z-Ravelkin/" + relative + (folder ? "/" : "");
    const std::string data = folder ? "" : relative.substr(0, 3);
    tar += tar_member_headers(name, data.size(), folder, 315532800);
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
  OutputFile out;
  EXPECT_TRUE(out.open(path));
  {
    GzipMemberWriter writer(&out, 6, jobs, 1000);
    // Pieces that do not line up with the members.
    for (std::size_t at = 0; at < input.size(); at += 777) {
      EXPECT_TRUE(writer.write(input.data() + at, std::min<std::size_t>(777, input.size() - at)));
    }
    EXPECT_TRUE(writer.finish());
  }
  EXPECT_TRUE(out.close());
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

// Text runs with random stretches between them: matches that reach back
// across chunk edges, and stored blocks.
std::string mixed_data(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data;
  while (data.size() < size) {
    if (random() % 2 == 0) {
      data += "rivet " + std::to_string(random() % 50) + " of the hull; ";
    } else {
      for (int i = 0; i < 300; ++i) data += static_cast<char>(random());
    }
  }
  data.resize(size);
  return data;
}

std::string inflate_raw(const std::string& deflated) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  std::string out;
  char buffer[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  stream.avail_in = static_cast<uInt>(deflated.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  EXPECT_EQ(status, Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u) << "bytes after the stream's end";
  inflateEnd(&stream);
  return out;
}

struct PipelineFile {
  std::string data;
  std::string error_line;  // the first chunk's that has one
};

// Every file's chunks, joined, and the CRC-32 combined from theirs.
std::vector<PipelineFile> run_pipeline(const std::vector<DeflateSource>& files, unsigned jobs,
                                       std::size_t chunk_input, std::vector<uLong>* crcs) {
  DeflatePipeline pipeline(files, 6, jobs, chunk_input);
  std::vector<PipelineFile> out(files.size());
  crcs->assign(files.size(), crc32(0, nullptr, 0));
  std::vector<std::size_t> chunks(files.size());
  std::size_t file = 0;
  while (const DeflateChunk* chunk = pipeline.next()) {
    EXPECT_EQ(chunk->file, file);
    EXPECT_EQ(chunk->offset, chunks[file] * chunk_input);
    out[file].data.append(chunk->data, chunk->size);
    if (out[file].error_line.empty()) out[file].error_line = chunk->error_line;
    (*crcs)[file] = crc32_combine((*crcs)[file], chunk->crc, static_cast<z_off_t>(chunk->input));
    ++chunks[file];
    if (chunk->last) ++file;
  }
  EXPECT_EQ(file, files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::size_t expected = (files[i].size + chunk_input - 1) / chunk_input;
    EXPECT_EQ(chunks[i], std::max<std::size_t>(expected, 1)) << "file " << i;
  }
  return out;
}

// Chunks of 40,000 bytes: past the 32 KiB dictionary, so the first chunk's
// history is partial and later ones' full.
constexpr std::size_t kSmallChunk = 40000;

TEST(DeflatePipeline, SameBytesOnAnyThreadCountAndOneStreamPerFile) {
  test::TempDir dir;
  std::vector<DeflateSource> files;
  std::vector<std::string> contents;
  for (const std::size_t size : {0, 1, 39999, 40000, 40001, 100000, 0, 2000, 3 * 40000 + 7}) {
    contents.push_back(mixed_data(size, static_cast<unsigned>(contents.size())));
    const auto path = dir / ("f" + std::to_string(contents.size()));
    test::write_file(path, contents.back());
    files.push_back({path, size});
  }
  std::vector<uLong> crcs;
  const std::vector<PipelineFile> one = run_pipeline(files, 1, kSmallChunk, &crcs);
  for (const unsigned jobs : {2u, 4u}) {
    SCOPED_TRACE(jobs);
    std::vector<uLong> other_crcs;
    const std::vector<PipelineFile> other = run_pipeline(files, jobs, kSmallChunk, &other_crcs);
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_TRUE(other[i].data == one[i].data) << i;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(one[i].error_line, "");
    EXPECT_TRUE(inflate_raw(one[i].data) == contents[i]);
    const auto* bytes = reinterpret_cast<const Bytef*>(contents[i].data());
    EXPECT_EQ(crcs[i], crc32(crc32(0, nullptr, 0), bytes, static_cast<uInt>(contents[i].size())));
  }
}

struct ChangedFileRow {
  const char* what;
  std::size_t scanned;
  std::size_t actual;  // SIZE_MAX: no file at all
  std::string why;
};

const ChangedFileRow kChangedFileRows[] = {
    {"gone", 10, SIZE_MAX, std::error_code(ENOENT, std::generic_category()).message()},
    {"shorter within the last chunk", 90000, 85000, "the file became shorter while it was read"},
    {"shorter by a chunk", 90000, 45000, "the file became shorter while it was read"},
    {"longer", 90000, 90001, "the file grew while it was read"},
    {"no longer empty", 0, 1, "the file grew while it was read"},
};

TEST(DeflatePipeline, AFileThatChangedSinceTheScanIsACannotRead) {
  for (const ChangedFileRow& row : kChangedFileRows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    const auto path = dir / "changed";
    if (row.actual != SIZE_MAX) test::write_file(path, mixed_data(row.actual, 5));
    test::write_file(dir / "after", "after");
    std::vector<uLong> crcs;
    const std::vector<PipelineFile> out =
        run_pipeline({{path, row.scanned}, {dir / "after", 5}}, 2, kSmallChunk, &crcs);
    EXPECT_EQ(out[0].error_line, "cannot read " + to_utf8(path) + ": " + row.why);
    EXPECT_EQ(out[1].error_line, "");
  }
}

}  // namespace
}  // namespace zrk
