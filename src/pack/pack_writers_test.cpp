// The tarball writer's pieces, judged by the updater's own reader: names at
// the edges of the ustar fields and of the pax record's length, and gzip
// members that read back as one stream whatever the thread count.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

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

}  // namespace
}  // namespace zrk
