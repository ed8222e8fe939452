#include "swap/swap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/fake_fs.h"

namespace zrk {
namespace {

using test::FakeFs;
using test::FsOp;
using Tree = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

constexpr const char* kInstall = "/g";
constexpr const char* kStaging = "/u/staging";
constexpr const char* kBackup = "/u/backup";
constexpr const char* kMark = "/u/swap-unfinished";

const std::string kIgnoredReadme = "ignored readme.txt: not part of the shipped payload";

// Four payload items in staged order: the game's program (a file replacing a
// file), zravelkin.pak (likewise), COPYING (new) and typefaces (an installed
// folder), with readme.txt ignored between them and a save file that no swap
// may touch.
class ThreeItemSwap : public ::testing::Test {
 protected:
  void SetUp() override {
    fs.add_file("/g/Z-Ravelkin.exe", "game v1");
    fs.add_file("/g/zravelkin.pak", "pak v1");
    fs.add_file("/g/typefaces/sans.ttf", "sans v1");
    fs.add_file("/g/typefaces/mono.ttf", "mono v1");
    fs.add_file("/g/saves/slot1.sav", "my progress");
    fs.add_file("/u/staging/Z-Ravelkin.exe", "game v2");
    fs.add_file("/u/staging/zravelkin.pak", "pak v2");
    fs.add_file("/u/staging/readme.txt", "read me");
    fs.add_file("/u/staging/COPYING", "licence v2");
    fs.add_file("/u/staging/typefaces/sans.ttf", "sans v2");
    fs.watch("/g/Z-Ravelkin.exe");
    fs.watch("/g/zravelkin.pak");
    fs.watch(kMark);
    install_before = fs.tree(kInstall);
    staging_before = fs.tree(kStaging);
  }

  void run(Messages* messages) { swap(&fs, &outcome, messages); }

  void swap(FakeFs* on, SwapOutcome* got, Messages* messages) const {
    swap_payload(got, on, kInstall, kStaging, kBackup, kStaged, messages, kMark);
  }

  // Files that files replace never leave their place, not even for a moment,
  // and the mark stands before the first change of a name in the install
  // folder.
  static void expect_no_gap(FakeFs* faulty) {
    EXPECT_EQ(faulty->calls_leaving_absent("/g/Z-Ravelkin.exe"), Lines{});
    EXPECT_EQ(faulty->calls_leaving_absent("/g/zravelkin.pak"), Lines{});
    for (const std::string& call : faulty->calls_leaving_absent(kMark)) {
      const bool question = call.rfind("exists ", 0) == 0 || call.rfind("is_file ", 0) == 0;
      EXPECT_TRUE(question || call.find(" /g/") == std::string::npos) << call;
    }
  }

  const std::vector<std::string> kStaged = {"Z-Ravelkin.exe", "zravelkin.pak", "readme.txt",
                                            "COPYING", "typefaces"};
  FakeFs fs;
  Tree install_before;
  Tree staging_before;
  SwapOutcome outcome;
  Messages lines;
};

// The game's program takes the last turn whatever the staged order, and both
// files that replace files are linked into the backup and renamed over the
// installed ones, so the program's name never stands empty. Where no link can
// be made, the same swap takes two moves per item.
TEST_F(ThreeItemSwap, SwapsEveryPayloadItemAndKeepsTheReplacedOnesInBackup) {
  const Lines kAllIn = {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING",
                        "installed typefaces", "installed Z-Ravelkin.exe"};
  const Tree kInstalled = {{"COPYING", "file:licence v2"},
                           {"Z-Ravelkin.exe", "file:game v2"},
                           {"saves", "dir"},
                           {"saves/slot1.sav", "file:my progress"},
                           {"typefaces", "dir"},
                           {"typefaces/sans.ttf", "file:sans v2"},
                           {"zravelkin.pak", "file:pak v2"}};
  // Only the replaced items are backed up; the earlier backup's content is gone.
  const Tree kBackedUp = {{"Z-Ravelkin.exe", "file:game v1"},
                          {"typefaces", "dir"},
                          {"typefaces/mono.ttf", "file:mono v1"},
                          {"typefaces/sans.ttf", "file:sans v1"},
                          {"zravelkin.pak", "file:pak v1"}};
  fs.add_file("/u/backup/stale.bin", "left by an earlier run");
  FakeFs without_links = fs;
  without_links.refuse_links();
  run(&lines);

  EXPECT_EQ(outcome.status, kSwapOk);
  EXPECT_EQ(outcome.failed_at, "");
  EXPECT_TRUE(outcome.rollback_complete);
  EXPECT_EQ(lines, kAllIn);
  EXPECT_EQ(fs.tree(kInstall), kInstalled);
  EXPECT_EQ(fs.tree(kBackup), kBackedUp);
  EXPECT_EQ(fs.tree(kStaging), (Tree{{"readme.txt", "file:read me"}}));
  EXPECT_EQ(fs.tree("/u").count("swap-unfinished"), 1u);  // the run takes it away
  expect_no_gap(&fs);

  Messages fallback_lines;
  swap(&without_links, &outcome, &fallback_lines);
  EXPECT_EQ(outcome.status, kSwapOk);
  EXPECT_EQ(fallback_lines, kAllIn);
  EXPECT_EQ(without_links.tree(kInstall), kInstalled);
  EXPECT_EQ(without_links.tree(kBackup), kBackedUp);
  const Lines& moves = without_links.calls();
  EXPECT_NE(
      std::find(moves.begin(), moves.end(), "rename /g/Z-Ravelkin.exe /u/backup/Z-Ravelkin.exe"),
      moves.end());
}

TEST_F(ThreeItemSwap, WithoutAMessageListBehavesTheSame) {
  run(nullptr);
  EXPECT_EQ(outcome.status, kSwapOk);
  EXPECT_EQ(fs.tree(kInstall).at("zravelkin.pak"), "file:pak v2");
  EXPECT_EQ(fs.tree(kStaging), (Tree{{"readme.txt", "file:read me"}}));
}

struct InjectedFault {
  std::string call;  // the call that fails, as the fake records it
  std::int32_t status;
  std::string failed_at;
  Lines lines;
  Tree staging_after;  // only checked when the install folder is restored
};

// Every call a successful run makes (besides the questions) is made to fail
// in turn. A single fault never hits the undo, so the rollback is always
// complete and the install folder must come back byte for byte, and the
// game's program never leaves its place, not even for a moment.
TEST_F(ThreeItemSwap, AnySingleFailingCallIsRolledBackCompletely) {
  const std::string kFailedPak = "swap failed at zravelkin.pak, undoing the completed moves";
  const std::string kFailedCopying = "swap failed at COPYING, undoing the completed moves";
  const std::string kFailedFonts = "swap failed at typefaces, undoing the completed moves";
  const std::string kFailedGame = "swap failed at Z-Ravelkin.exe, undoing the completed moves";
  const std::string kRemovedCopying = "removed COPYING, which the archive had just added";
  Tree pak_moved_in_and_cleared = staging_before;
  pak_moved_in_and_cleared.erase("zravelkin.pak");
  Tree fonts_and_game = pak_moved_in_and_cleared;
  fonts_and_game.erase("COPYING");
  Tree game_only = fonts_and_game;
  game_only.erase("typefaces");
  game_only.erase("typefaces/sans.ttf");
  const std::vector<InjectedFault> kFaults = {
      {"remove_all /u/backup",
       kSwapOk,
       "",
       {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", "installed typefaces",
        "installed Z-Ravelkin.exe"},
       {}},
      {"create_directories /u/backup",
       kSwapFailed,
       "",
       {kIgnoredReadme, "cannot create /u/backup"},
       staging_before},
      {"create_directories /u/swap-unfinished",
       kSwapFailed,
       "",
       {kIgnoredReadme, "cannot write /u/swap-unfinished"},
       staging_before},
      {"flush_entry /u/swap-unfinished",
       kSwapFailed,
       "",
       {kIgnoredReadme, "cannot write /u/swap-unfinished"},
       staging_before},
      {"link /g/zravelkin.pak /u/backup/zravelkin.pak",
       kSwapFailed,
       "zravelkin.pak",
       {kIgnoredReadme, kFailedPak},
       staging_before},
      {"replace /u/staging/zravelkin.pak /g/zravelkin.pak",
       kSwapFailed,
       "zravelkin.pak",
       {kIgnoredReadme, kFailedPak, "restored zravelkin.pak"},
       staging_before},
      {"rename /u/staging/COPYING /g/COPYING",
       kSwapFailed,
       "COPYING",
       {kIgnoredReadme, "installed zravelkin.pak", kFailedCopying, kRemovedCopying,
        "restored zravelkin.pak"},
       pak_moved_in_and_cleared},
      {"rename /g/typefaces /u/backup/typefaces",
       kSwapFailed,
       "typefaces",
       {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", kFailedFonts,
        kRemovedCopying, "restored zravelkin.pak"},
       fonts_and_game},
      {"rename /u/staging/typefaces /g/typefaces",
       kSwapFailed,
       "typefaces",
       {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", kFailedFonts,
        "restored typefaces", kRemovedCopying, "restored zravelkin.pak"},
       fonts_and_game},
      {"link /g/Z-Ravelkin.exe /u/backup/Z-Ravelkin.exe",
       kSwapFailed,
       "Z-Ravelkin.exe",
       {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", "installed typefaces",
        kFailedGame, "restored typefaces", kRemovedCopying, "restored zravelkin.pak"},
       game_only},
      {"replace /u/staging/Z-Ravelkin.exe /g/Z-Ravelkin.exe",
       kSwapFailed,
       "Z-Ravelkin.exe",
       {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", "installed typefaces",
        kFailedGame, "restored Z-Ravelkin.exe", "restored typefaces", kRemovedCopying,
        "restored zravelkin.pak"},
       game_only},
  };

  // The sweep is driven by the calls a clean run makes, so a call added to the
  // swap without a row here fails the test.
  const std::map<std::string, FsOp> kChanges = {{"rename", FsOp::kRename},
                                                {"link", FsOp::kLink},
                                                {"replace", FsOp::kReplace},
                                                {"remove_all", FsOp::kRemoveAll},
                                                {"create_directories", FsOp::kCreateDirectories},
                                                {"flush_entry", FsOp::kFlushEntry}};
  FakeFs clean = fs;
  SwapOutcome ignored;
  swap(&clean, &ignored, nullptr);
  std::map<FsOp, int> counts;
  size_t row = 0;
  for (const std::string& call : clean.calls()) {
    const auto change = kChanges.find(call.substr(0, call.find(' ')));
    if (change == kChanges.end()) continue;
    const FsOp op = change->second;
    const int nth = ++counts[op];
    ASSERT_LT(row, kFaults.size()) << "no row for " << call;
    const InjectedFault& fault = kFaults[row++];
    ASSERT_EQ(fault.call, call);
    SCOPED_TRACE(call);

    FakeFs faulty = fs;
    faulty.fail_call(op, nth);
    SwapOutcome got;
    Messages got_lines;
    swap(&faulty, &got, &got_lines);

    EXPECT_EQ(got.status, fault.status);
    EXPECT_EQ(got.failed_at, fault.failed_at);
    EXPECT_TRUE(got.rollback_complete);
    EXPECT_EQ(got_lines, fault.lines);
    expect_no_gap(&faulty);
    if (fault.status == kSwapOk) continue;
    EXPECT_EQ(faulty.tree(kInstall), install_before);
    EXPECT_EQ(faulty.tree(kStaging), fault.staging_after);
    EXPECT_TRUE(faulty.tree(kBackup).empty());
  }
  EXPECT_EQ(row, kFaults.size());

  // Two more faults that no answer may hide, judged by what the folders hold:
  // a status that cannot be read, which must never be taken for an absence,
  // and a move carried out that answers as a failure, as a network file
  // system can. Either the whole update goes in, or the install comes back
  // whole and the rollback says complete.
  const Tree installed_after = clean.tree(kInstall);
  const std::map<std::string, FsOp> kMisleading = {{"exists", FsOp::kExists},
                                                   {"is_file", FsOp::kIsFile},
                                                   {"rename", FsOp::kRename},
                                                   {"replace", FsOp::kReplace}};
  std::map<FsOp, int> asked;
  for (const std::string& call : clean.calls()) {
    const auto kind = kMisleading.find(call.substr(0, call.find(' ')));
    if (kind == kMisleading.end()) continue;
    const FsOp op = kind->second;
    const int nth = ++asked[op];
    SCOPED_TRACE("misleading " + call);
    FakeFs faulty = fs;
    if (op == FsOp::kExists || op == FsOp::kIsFile) {
      faulty.fail_call(op, nth);
    } else {
      faulty.fail_after_call(op, nth);
    }
    SwapOutcome got;
    swap(&faulty, &got, nullptr);
    expect_no_gap(&faulty);
    EXPECT_EQ(faulty.tree(kInstall), got.status == kSwapOk ? installed_after : install_before);
    EXPECT_TRUE(got.rollback_complete);
  }
}

TEST_F(ThreeItemSwap, AnItemThatCannotBeClearedKeepsItsBackupAndTheUndoGoesOn) {
  fs.fail_call(FsOp::kReplace, 2);    // the game program's replace
  fs.fail_call(FsOp::kRemoveAll, 3);  // the undo's clearing of typefaces
  run(&lines);

  EXPECT_EQ(outcome.status, kSwapFailed);
  EXPECT_EQ(outcome.failed_at, "Z-Ravelkin.exe");
  EXPECT_FALSE(outcome.rollback_complete);
  EXPECT_EQ(
      lines,
      (Lines{kIgnoredReadme, "installed zravelkin.pak", "installed COPYING", "installed typefaces",
             "swap failed at Z-Ravelkin.exe, undoing the completed moves",
             "restored Z-Ravelkin.exe", "could not clear typefaces before restoring it",
             "removed COPYING, which the archive had just added", "restored zravelkin.pak"}));
  Tree expected = install_before;
  expected.erase("typefaces/mono.ttf");
  expected["typefaces/sans.ttf"] = "file:sans v2";
  EXPECT_EQ(fs.tree(kInstall), expected);
  EXPECT_EQ(fs.tree(kBackup), (Tree{{"typefaces", "dir"},
                                    {"typefaces/mono.ttf", "file:mono v1"},
                                    {"typefaces/sans.ttf", "file:sans v1"}}));
}

TEST_F(ThreeItemSwap, ABackupThatCannotBeMovedBackIsReportedAndTheUndoGoesOn) {
  fs.fail_call(FsOp::kRename, 3);  // typefaces' move-in
  fs.fail_call(FsOp::kRename, 4);  // moving typefaces back from the backup
  run(&lines);

  EXPECT_EQ(outcome.status, kSwapFailed);
  EXPECT_EQ(outcome.failed_at, "typefaces");
  EXPECT_FALSE(outcome.rollback_complete);
  EXPECT_EQ(lines,
            (Lines{kIgnoredReadme, "installed zravelkin.pak", "installed COPYING",
                   "swap failed at typefaces, undoing the completed moves",
                   "could not restore typefaces from the backup",
                   "removed COPYING, which the archive had just added", "restored zravelkin.pak"}));
  EXPECT_EQ(fs.tree(kInstall).count("typefaces"), 0u);
  EXPECT_EQ(fs.tree(kInstall).at("zravelkin.pak"), "file:pak v1");
  EXPECT_EQ(fs.tree(kBackup).at("typefaces/mono.ttf"), "file:mono v1");
}

struct LeftInBackup {
  std::string name;
  std::string item;        // what an earlier run left in the backup
  bool still_installed;    // whether the install folder still has it
  bool marked;             // the earlier run's swap did not finish
  std::string unreadable;  // a path whose status cannot be read; empty: none
  FsOp failing_op;
  int failing_nth;  // 0: none
  std::int32_t status;
  bool rollback_complete;
  Lines lines;
  std::string installed_after;  // the item's content in the install folder; empty: none
  bool second_name = false;     // the backup holds a second name of the installed file
};

// A run killed after a move-out, or a rollback that could not restore, leaves
// an item in the backup. Without the mark, the swap that left it finished:
// an item whose place is empty goes back, one still installed is stale and
// goes with the backup. With the mark, the swap did not finish, and every old
// form goes back over the new one before anything else. One that cannot go
// back, or whose place cannot be looked at, stops the swap with the backup
// kept.
TEST_F(ThreeItemSwap, ItemsLeftInTheBackupGoBackWhereTheirPlaceIsEmpty) {
  const std::string kUnfinishedPak = "restored zravelkin.pak from an unfinished update";
  const Lines kAllIn = {kIgnoredReadme, "installed zravelkin.pak", "installed COPYING",
                        "installed typefaces", "installed Z-Ravelkin.exe"};
  auto then_all_in = [&](const std::string& first) {
    Lines lines{first};
    lines.insert(lines.end(), kAllIn.begin(), kAllIn.end());
    return lines;
  };
  const std::vector<LeftInBackup> kRows = {
      {"Vacant", "zravelkin.pak", false, false, "", FsOp::kRename, 0, kSwapOk, true,
       then_all_in("restored zravelkin.pak from an interrupted update"), "file:pak v2"},
      {"VacantAndNotInTheUpdate", "CREDITS", false, false, "", FsOp::kRename, 0, kSwapOk, true,
       then_all_in("restored CREDITS from an interrupted update"), "file:left"},
      {"StillInstalled", "Z-Ravelkin.exe", true, false, "", FsOp::kRename, 0, kSwapOk, true, kAllIn,
       "file:game v2"},
      {"CannotGoBack",
       "CREDITS",
       false,
       false,
       "",
       FsOp::kRename,
       1,
       kSwapFailed,
       true,
       {"could not restore CREDITS from the backup"},
       ""},
      {"PlaceCannotBeRead",
       "CREDITS",
       false,
       false,
       "/g/CREDITS",
       FsOp::kRename,
       0,
       kSwapFailed,
       true,
       {"swap failed at CREDITS, undoing the completed moves"},
       ""},
      {"BackupItemCannotBeRead",
       "CREDITS",
       false,
       false,
       "/u/backup/CREDITS",
       FsOp::kRename,
       0,
       kSwapFailed,
       true,
       {"swap failed at CREDITS, undoing the completed moves"},
       ""},
      // The old form goes back over the new one in one step, and is backed
      // up again when the update goes in.
      {"UnfinishedOverTheNewForm", "zravelkin.pak", true, true, "", FsOp::kRename, 0, kSwapOk, true,
       then_all_in(kUnfinishedPak), "file:pak v2"},
      {"UnfinishedAndVacant", "CREDITS", false, true, "", FsOp::kRename, 0, kSwapOk, true,
       then_all_in("restored CREDITS from an unfinished update"), "file:left"},
      {"UnfinishedFolderOverTheNewForm", "typefaces/sans.ttf", true, true, "", FsOp::kRename, 0,
       kSwapOk, true, then_all_in("restored typefaces from an unfinished update"), "file:sans v2"},
      {"UnfinishedButHeld",
       "zravelkin.pak",
       true,
       true,
       "",
       FsOp::kReplace,
       1,
       kSwapFailed,
       false,
       {"could not restore zravelkin.pak from the backup"},
       "file:pak v1"},
      {"UnfinishedFolderThatCannotBeCleared",
       "typefaces/sans.ttf",
       true,
       true,
       "",
       FsOp::kRemoveAll,
       1,
       kSwapFailed,
       false,
       {"could not clear typefaces before restoring it"},
       "file:sans v1"},
      {"UnfinishedPlaceCannotBeRead",
       "zravelkin.pak",
       true,
       true,
       "/g/zravelkin.pak",
       FsOp::kRename,
       0,
       kSwapFailed,
       false,
       {"could not restore zravelkin.pak from the backup"},
       "file:pak v1"},
      // A stale item that cannot be removed would stand beside the mark.
      {"StaleThatCannotBeCleared",
       "zravelkin.pak",
       true,
       false,
       "",
       FsOp::kRemoveAll,
       1,
       kSwapFailed,
       true,
       {kIgnoredReadme, "cannot clear /u/backup"},
       "file:pak v1"},
      // A rollback could not drop a second name of a file still in place, as
      // Windows refuses while the file is held: nothing to put back.
      {"UnfinishedSecondNameThatStays", "zravelkin.pak", true, true, "", FsOp::kRemoveAll, 1,
       kSwapOk, true,
       then_all_in("kept zravelkin.pak in place; a second name of it stays in the backup"),
       "file:pak v2", true},
  };
  for (const LeftInBackup& row : kRows) {
    SCOPED_TRACE(row.name);
    FakeFs faulty = fs;
    const std::string top = row.item.substr(0, row.item.find('/'));
    if (!row.still_installed) faulty.remove_all(std::string(kInstall) + "/" + top);
    const std::string old_form = row.second_name ? "file:pak v1" : "file:left";
    if (row.second_name) {
      faulty.add_folder(kBackup);
      faulty.link(std::string(kInstall) + "/" + row.item, std::string(kBackup) + "/" + row.item);
    } else {
      faulty.add_file(std::string(kBackup) + "/" + row.item, "left");
    }
    if (row.marked) faulty.add_folder(kMark);
    if (!row.unreadable.empty()) faulty.make_unreadable(row.unreadable);
    if (row.failing_nth > 0) faulty.fail_call(row.failing_op, row.failing_nth);
    const Tree before = faulty.tree(kInstall);
    SwapOutcome got;
    Messages got_lines;
    swap(&faulty, &got, &got_lines);

    EXPECT_EQ(got.status, row.status);
    const bool before_any_item = row.lines.back().rfind("cannot clear", 0) == 0;
    EXPECT_EQ(got.failed_at, row.status == kSwapOk || before_any_item ? "" : top);
    EXPECT_EQ(got.rollback_complete, row.rollback_complete);
    EXPECT_EQ(got_lines, row.lines);
    const Tree after = faulty.tree(kInstall);
    EXPECT_EQ(after.count(row.item) ? after.at(row.item) : "", row.installed_after);
    // The old form is never lost: it is back in place, or still in the
    // backup, or, once the update went in, in the backup again.
    const Tree backup = faulty.tree(kBackup);
    const bool in_place = after.count(row.item) != 0 && after.at(row.item) == old_form;
    const bool kept = backup.count(row.item) != 0 && backup.at(row.item) == old_form;
    EXPECT_TRUE(in_place || kept || (row.still_installed && !row.marked));
    if (row.status != kSwapOk) {
      EXPECT_TRUE(kept);
      EXPECT_EQ(faulty.tree("/u").count("swap-unfinished"), row.marked ? 1u : 0u);
      if (row.rollback_complete) {
        EXPECT_EQ(after, before);
      }
    }
  }
}

TEST(SwapPayload, WithoutAFileSystemReportsNoFsAndSaysNothing) {
  SwapOutcome outcome;
  outcome.status = kSwapFailed;  // filled from scratch
  outcome.failed_at = "stale";
  outcome.rollback_complete = false;
  Messages lines;
  swap_payload(&outcome, nullptr, kInstall, kStaging, kBackup, {"Z-Ravelkin.exe"}, &lines);
  EXPECT_EQ(outcome.status, kSwapNoFs);
  EXPECT_EQ(outcome.failed_at, "");
  EXPECT_TRUE(outcome.rollback_complete);
  EXPECT_TRUE(lines.empty());
}

TEST(SwapPayload, NothingFromThePayloadTouchesNoFolder) {
  FakeFs fs;
  fs.add_file("/u/staging/z-ravelkin.exe", "case differs");
  fs.add_file("/u/staging/CREDITS ", "trailing blank");
  SwapOutcome outcome;
  Messages lines;
  swap_payload(&outcome, &fs, kInstall, kStaging, kBackup, {"z-ravelkin.exe", "CREDITS "}, &lines);
  EXPECT_EQ(outcome.status, kSwapNoPayload);
  EXPECT_EQ(outcome.failed_at, "");
  EXPECT_TRUE(outcome.rollback_complete);
  EXPECT_EQ(lines, (Lines{"ignored z-ravelkin.exe: not part of the shipped payload",
                          "ignored CREDITS : not part of the shipped payload",
                          "the archive holds no payload item"}));
  EXPECT_EQ(fs.calls(), (Lines{"exists /u/backup"}));
}

// The line names the backup folder exactly as passed, trailing separator and
// all, while the item paths are joined without a doubled separator.
TEST(SwapPayload, BackupFolderThatCannotBeCreatedStopsBeforeAnyMove) {
  FakeFs fs;
  fs.add_file("/g/Z-Ravelkin.exe", "game v1");
  fs.add_file("/u/staging/Z-Ravelkin.exe", "game v2");
  fs.add_file("/u", "a file where the work folder belongs");
  SwapOutcome outcome;
  Messages lines;
  swap_payload(&outcome, &fs, "/g/", kStaging, "/u/backup/", {"notes.txt", "Z-Ravelkin.exe"},
               &lines);
  EXPECT_EQ(outcome.status, kSwapFailed);
  EXPECT_EQ(outcome.failed_at, "");
  EXPECT_TRUE(outcome.rollback_complete);
  EXPECT_EQ(lines, (Lines{"ignored notes.txt: not part of the shipped payload",
                          "cannot create /u/backup/"}));
  EXPECT_EQ(fs.calls(), (Lines{"exists /u/backup/", "exists /g/Z-Ravelkin.exe",
                               "remove_all /u/backup/", "create_directories /u/backup/"}));
  EXPECT_EQ(fs.tree("/g"), (Tree{{"Z-Ravelkin.exe", "file:game v1"}}));
}

TEST(SwapPayload, MovesFollowTheStagedOrderWithTheGameProgramLast) {
  FakeFs fs;
  fs.add_folder(kInstall);
  fs.add_file("/u/staging/Z-Ravelkin.exe", "game");
  fs.add_file("/u/staging/CREDITS/a.txt", "a");
  fs.add_file("/u/staging/typefaces", "a file named like the font folder");
  SwapOutcome outcome;
  Messages lines;
  swap_payload(&outcome, &fs, kInstall, kStaging, kBackup,
               {"Z-Ravelkin.exe", "CREDITS", "typefaces"}, &lines);
  EXPECT_EQ(outcome.status, kSwapOk);
  EXPECT_EQ(lines, (Lines{"installed CREDITS", "installed typefaces", "installed Z-Ravelkin.exe"}));
  EXPECT_EQ(fs.tree(kInstall), (Tree{{"CREDITS", "dir"},
                                     {"CREDITS/a.txt", "file:a"},
                                     {"Z-Ravelkin.exe", "file:game"},
                                     {"typefaces", "file:a file named like the font folder"}}));
}

}  // namespace
}  // namespace zrk
