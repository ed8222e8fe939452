#include "driver/update_log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <regex>

#include "support/test_support.h"

namespace zrk {
namespace {

using test::read_file;
using test::TempDir;

std::string write_lines(const std::filesystem::path& folder,
                        const std::function<void(std::FILE*)>& writer) {
  SharedFile log = open_update_log(folder);
  EXPECT_NE(log, nullptr);
  writer(log.get());
  log.reset();
  return read_file(folder / "update.log");
}

TEST(UpdateLog, WritesStampedLinesAndAppendsAcrossRuns) {
  TempDir dir;
  write_lines(dir.path(),
              [](std::FILE* log) { log_line(log, "zrk-update: waiting for pid %ld", 42L); });
  const std::string content =
      write_lines(dir.path(), [](std::FILE* log) { log_line(log, "%s", "second run"); });
  const std::regex kLine(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} zrk-update: waiting for pid 42\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} second run\n");
  EXPECT_TRUE(std::regex_match(content, kLine)) << content;
}

TEST(UpdateLog, StampIsLocalTime) {
  TempDir dir;
  const std::time_t before = std::time(nullptr);
  const std::string content = write_lines(dir.path(), [](std::FILE* log) { log_line(log, "x"); });
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M", std::localtime(&before));
  EXPECT_EQ(content.substr(0, 16), expected);  // minutes: a second may tick in between
}

TEST(UpdateLog, StageLinesArePrintedVerbatim) {
  TempDir dir;
  const std::string stage_line = "skipped Z-Ravelkin/100% %s %n (unsupported tar type 2)";
  const std::string content =
      write_lines(dir.path(), [&](std::FILE* log) { log_line(log, "%s", stage_line.c_str()); });
  EXPECT_EQ(content.substr(20), stage_line + "\n");
}

TEST(UpdateLog, CutsMessagesAfter1023Bytes) {
  TempDir dir;
  const std::string long_text(1500, 'x');
  const std::string content =
      write_lines(dir.path(), [&](std::FILE* log) { log_line(log, "%s", long_text.c_str()); });
  EXPECT_EQ(content.substr(20), std::string(1023, 'x') + "\n");
}

TEST(UpdateLog, CannotBeOpenedWhereAFolderStands) {
  TempDir dir;
  std::filesystem::create_directory(dir / "update.log");
  EXPECT_EQ(open_update_log(dir.path()), nullptr);
  EXPECT_EQ(open_update_log(dir / "missing"), nullptr);
}

}  // namespace
}  // namespace zrk
