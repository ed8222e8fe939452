#include "archive/extract.h"

#include <gtest/gtest.h>

#include "support/tar_fixtures.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

// The figure that the cap's refusal lines give: the shipped one in the words
// those lines have always had.
TEST(ExtractArchive, CapWords) {
  const struct {
    std::uint64_t cap;
    const char* words;
  } kCases[] = {
      {kExpansionCap, "2 GB"}, {3ULL << 30, "3 GB"}, {(1ULL << 30) + (1ULL << 20), "1025 MB"},
      {16 << 10, "16 KB"},     {1000, "1000-byte"},  {1, "1-byte"},
  };
  for (const auto& c : kCases) EXPECT_EQ(cap_words(c.cap), c.words) << c.cap;
}

// A valid tarball is stored under each name: the tarball reader extracts it,
// the zip reader refuses it, and an unknown suffix never opens it.
TEST(ExtractArchive, ChoosesTheReaderByTheVeryEndOfTheName) {
  const std::string tarball =
      test::gzip_bytes(test::tar_member("Z-Ravelkin/a.txt", "a") + test::tar_end());
  enum Reader { kTar, kZip, kUnknown };
  const struct {
    std::string name;
    Reader reader;
  } kCases[] = {
      {"u.tar.gz", kTar},    {"u.TAR.GZ", kTar},
      {"u.Tgz", kTar},       {"dir.zip/update.tgz", kTar},
      {"UPDATE.ZIP", kZip},  {"u.Zip", kZip},
      {".zip", kZip},        {"u.gz", kUnknown},
      {"u.tar", kUnknown},   {"u.zip.bak", kUnknown},
      {"u.targz", kUnknown}, {"u.zip ", kUnknown},
      {"u.tgz~", kUnknown},  {"u.\xc3\x89ZIP", kUnknown},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path archive = dir / c.name;
    test::write_file(archive, tarball);
    const fs::path staging = dir / "staging";
    fs::create_directory(staging);
    const std::string archive_text = archive.string();

    for (const bool with_list : {true, false}) {
      Messages lines;
      const ExtractStatus status =
          extract_archive(archive_text, staging.string(), with_list ? &lines : nullptr);
      const auto staged = test::snapshot_tree(staging);
      switch (c.reader) {
        case kTar:
          EXPECT_EQ(status, 0u);
          EXPECT_EQ(staged, (std::map<std::string, std::string>{{"a.txt", "file:a"}}));
          break;
        case kZip:
          EXPECT_EQ(status, 3u);
          if (with_list) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].rfind("unknown archive type: ", 0), std::string::npos) << lines[0];
          }
          EXPECT_TRUE(staged.empty());
          break;
        case kUnknown:
          EXPECT_EQ(status, 3u);
          if (with_list) {
            EXPECT_EQ(lines, std::vector<std::string>{"unknown archive type: " + archive_text});
          }
          EXPECT_TRUE(staged.empty());
          break;
      }
      EXPECT_TRUE(with_list || lines.empty());
    }
  }
}

}  // namespace
}  // namespace zrk
