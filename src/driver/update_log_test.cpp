#include "driver/update_log.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <functional>

#include "support/test_support.h"

namespace zrk {
namespace {

using test::read_file;
using test::TempDir;

// "YYYY-MM-DD HH:MM:SS" followed by one blank.
bool starts_with_stamp(const std::string& line) {
  const std::string kShape = "0000-00-00 00:00:00 ";
  if (line.size() < kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                         : line[i] != kShape[i])
      return false;
  }
  return true;
}

std::string write_lines(const std::filesystem::path& folder,
                        const std::function<void(WritableFile*)>& writer) {
  WritableFile log;
  EXPECT_FALSE(open_update_log(folder, &log));
  writer(&log);
  log.close();
  return read_file(folder / "update.log");
}

TEST(UpdateLog, WritesStampedLinesAndAppendsAcrossRuns) {
  TempDir dir;
  write_lines(dir.path(),
              [](WritableFile* log) { log_line(log, "zrk-update: waiting for pid %ld", 42L); });
  const std::string content =
      write_lines(dir.path(), [](WritableFile* log) { log_line(log, "%s", "second run"); });
  const size_t first_end = content.find('\n') + 1;
  const std::string first = content.substr(0, first_end);
  const std::string second = content.substr(first_end);
  EXPECT_TRUE(starts_with_stamp(first) && starts_with_stamp(second)) << content;
  EXPECT_EQ(first.substr(20), "zrk-update: waiting for pid 42\n");
  EXPECT_EQ(second.substr(20), "second run\n");
}

TEST(UpdateLog, StampIsLocalTime) {
  TempDir dir;
  const std::time_t before = std::time(nullptr);
  const std::string content =
      write_lines(dir.path(), [](WritableFile* log) { log_line(log, "x"); });
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M", std::localtime(&before));
  EXPECT_EQ(content.substr(0, 16), expected);  // minutes: a second may tick in between
}

TEST(UpdateLog, StageLinesArePrintedVerbatim) {
  TempDir dir;
  const std::string stage_line = "skipped Z-Ravelkin/100% %s %n (unsupported tar type 2)";
  const std::string content =
      write_lines(dir.path(), [&](WritableFile* log) { log_line(log, "%s", stage_line.c_str()); });
  EXPECT_EQ(content.substr(20), stage_line + "\n");
}

TEST(UpdateLog, CutsMessagesAfter1023Bytes) {
  TempDir dir;
  const std::string long_text(1500, 'x');
  const std::string content =
      write_lines(dir.path(), [&](WritableFile* log) { log_line(log, "%s", long_text.c_str()); });
  EXPECT_EQ(content.substr(20), std::string(1023, 'x') + "\n");
}

TEST(UpdateLog, ControlBytesCannotForgeLines) {
  TempDir dir;
  const std::string name = "skipped Z-Ravelkin/a\nzrk-update: update applied\r\tb\x7f";
  const std::string content =
      write_lines(dir.path(), [&](WritableFile* log) { log_line(log, "%s", name.c_str()); });
  EXPECT_EQ(content.substr(20),
            "skipped Z-Ravelkin/a\\x0azrk-update: update applied\\x0d\\x09b\\x7f\n");
}

// Every byte outside a valid UTF-8 sequence is escaped like a control byte,
// and a cut at the limit keeps characters and escapes whole.
TEST(UpdateLog, LinesAreValidUtf8AndCutBetweenCharacters) {
  const std::string e_acute = "\xc3\xa9";
  const std::string kanji = "\xe6\x97\xa5";
  const struct {
    const char* what;
    std::string message;
    std::string written;
  } kCases[] = {
      {"valid text stays", "donn" + e_acute + "es " + kanji + " \xf0\x9f\x8e\xae",
       "donn" + e_acute + "es " + kanji + " \xf0\x9f\x8e\xae"},
      {"stray bytes", "a\xff b\x80 c\xc0\xaf d\xed\xa0\x80 e\xf5\x80\x80\x80",
       "a\\xff b\\x80 c\\xc0\\xaf d\\xed\\xa0\\x80 e\\xf5\\x80\\x80\\x80"},
      {"a character cut short", "x\xe6\x97", "x\\xe6\\x97"},
      {"escapes at the limit", std::string(600, '\n'),
       [] {
         std::string escapes;
         for (int i = 0; i < 255; ++i) escapes += "\\x0a";  // 1020 bytes; a 256th would pass 1023
         return escapes;
       }()},
      {"a character at the limit", std::string(1021, 'x') + e_acute + "y",
       std::string(1021, 'x') + e_acute},
      {"a character across the limit", std::string(1022, 'x') + e_acute, std::string(1022, 'x')},
      {"a character past the limit", std::string(1022, 'x') + kanji, std::string(1022, 'x')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string content =
        write_lines(dir.path(), [&](WritableFile* log) { log_line(log, "%s", c.message.c_str()); });
    EXPECT_EQ(content.substr(20), c.written + "\n");
  }
}

TEST(UpdateLog, CannotBeOpenedWhereAFolderStands) {
  TempDir dir;
  std::filesystem::create_directory(dir / "update.log");
  WritableFile log;
  EXPECT_TRUE(open_update_log(dir.path(), &log));
  EXPECT_TRUE(open_update_log(dir / "missing", &log));
  EXPECT_FALSE(log.is_open());
}

}  // namespace
}  // namespace zrk
