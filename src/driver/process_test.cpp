// Which process may be the game: never one created after the updater, whose
// id the game's end set free for it.
#include <gtest/gtest.h>

#include "driver/process.h"

namespace zrk {
namespace {

TEST(MayHaveStartedUpdater, OnlyAProcessNoNewerThanTheUpdater) {
  // Linux counts clock ticks since boot; Windows 100 ns units since 1601.
  constexpr ProcessStart kWindowsNow = 133500000000000000;
  const struct {
    const char* what;
    ProcessStart process;
    ProcessStart updater;
    bool may_be_the_game;
  } kRows[] = {
      {"started before the updater", 4711, 4712, true},
      {"started in the updater's tick", 4712, 4712, true},
      {"started a tick after the updater", 4713, 4712, false},
      {"started long before, on Windows", kWindowsNow - 600000000, kWindowsNow, true},
      {"started 100 ns after, on Windows", kWindowsNow + 1, kWindowsNow, false},
      // A comparison of the low 32 bits alone would take it the wrong way.
      {"later, with smaller low bits", 0x0000000200000000, 0x00000001FFFFFFFF, false},
      {"earlier, with larger low bits", 0x00000001FFFFFFFF, 0x0000000200000000, true},
      {"the updater's own start unknown", kWindowsNow, kUnknownStart, true},
      {"the first process since boot", 0, 0, true},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(may_have_started_updater(row.process, row.updater), row.may_be_the_game) << row.what;
  }
}

TEST(MayHaveStartedUpdater, ThisProcessKnowsItsOwnStart) {
  const ProcessStart own = own_start();
  EXPECT_NE(own, kUnknownStart);
}

}  // namespace
}  // namespace zrk
