#include "driver/options.h"

#include <gtest/gtest.h>

namespace zrk {
namespace {

using Args = std::vector<std::string>;

Args full(const std::string& pid) {
  return {"zrk-update", "--install", "C:\\Games\\ZR", "--archive",     "u7.tar.gz",
          "--pid",      pid,         "--relaunch",    "Z-Ravelkin.exe"};
}

TEST(ParseOptions, RefusesUnusableCommandLinesWithTheirTexts) {
  const struct {
    Args args;
    const char* error;
  } kCases[] = {
      {{}, kUsage},
      {{"zrk-update"}, kUsage},
      {{"zrk-update", "--install"}, "missing value for --install"},
      {{"zrk-update", "--Install", "x"}, "unknown argument --Install"},
      {{"zrk-update", "--install=x"}, "unknown argument --install=x"},
      {{"zrk-update", "-i", "x"}, "unknown argument -i"},
      {{"zrk-update", "--install", "--archive", "x", "--pid", "5", "--relaunch", "g.exe"},
       "unknown argument x"},
      {full("12abc"), "not a process id: 12abc"},
      {full("0"), "not a process id: 0"},
      {full("-4"), "not a process id: -4"},
      {full(""), "not a process id: "},
      {full("  "), "not a process id:   "},
      {full("4 "), "not a process id: 4 "},
      {{"zrk-update", "--install", "", "--archive", "a.zip", "--pid", "5", "--relaunch", "g"},
       kUsage},
      {{"zrk-update", "--archive", "a.zip", "--pid", "5", "--relaunch", "g"}, kUsage},
      {{"zrk-update", "--install", "bad\xFF", "--archive", "a.zip", "--pid", "5", "--relaunch",
        "g"},
       kUsage},
  };
  for (const auto& c : kCases) {
    UpdateOptions options;
    std::string error;
    EXPECT_FALSE(parse_options(c.args, &options, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(ParseOptions, ReadsPidsWithTheRulesOfStrtol) {
  const struct {
    const char* text;
    std::int32_t pid;
  } kCases[] = {
      {"42", 42},
      {"+42", 42},
      {"  42", 42},
      {"\t7", 7},
      {"00042", 42},
      {"2147483647", 2147483647},
      {"99999999999", 2147483647},
      {"99999999999999999999999", 2147483647},
  };
  for (const auto& c : kCases) {
    UpdateOptions options;
    std::string error;
    EXPECT_TRUE(parse_options(full(c.text), &options, &error)) << c.text << ": " << error;
    EXPECT_EQ(options.pid, c.pid) << c.text;
  }
}

TEST(ParseOptions, KeepsPathsAsWrittenInAnyOrderAndTheLaterValueWins) {
  const Args args{
      "zrk-update", "--pid",     "9",     "--relaunch", "../Z-Ravelkin.exe",      "--archive",
      "dl/u.zip",   "--install", "first", "--install",  "C:\\Spiele\\Z\xC3\xA9 ", "--pid",
      "10"};
  UpdateOptions options;
  std::string error;
  ASSERT_TRUE(parse_options(args, &options, &error)) << error;
  EXPECT_EQ(options.install, std::filesystem::u8path("C:\\Spiele\\Z\xC3\xA9 "));
  EXPECT_EQ(options.archive, std::filesystem::path("dl/u.zip"));
  EXPECT_EQ(options.relaunch, std::filesystem::path("../Z-Ravelkin.exe"));
  EXPECT_EQ(options.pid, 10);
}

}  // namespace
}  // namespace zrk
