// The real zrk-update binary applying .tar.gz updates to an install folder:
// the swap, its rollback, the marker, the clean-up and the relaunch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/payload_fixture.h"
#include "support/fault_support.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::kUpdate;
using test::Lines;
using test::read_file;
using test::Tree;
using test::write_file;

using test::Members;
// Keeps `path` a mount point of itself for the object's life, so that renaming
// it fails with EBUSY even for root. The test fails when the mount cannot be
// made.
class ScopedBindMount : public test::HeldFile {
 public:
  explicit ScopedBindMount(stdfs::path path) : path_(std::move(path)) {
    std::string output;
    active_ = test::run_command({"mount", "--bind", path_.string(), path_.string()}, &output) == 0;
    if (!active_) ADD_FAILURE() << "mount --bind " << path_ << " failed: " << output;
  }
  ~ScopedBindMount() {
    if (active_) test::run_command({"umount", path_.string()});
  }
  ScopedBindMount(const ScopedBindMount&) = delete;
  ScopedBindMount& operator=(const ScopedBindMount&) = delete;

 private:
  stdfs::path path_;
  bool active_ = false;
};

class SwapEndToEnd : public test::PayloadFixture {
 protected:
  using PayloadFixture::PayloadFixture;

  // The second payload item in line cannot be swapped while `hold` keeps it,
  // so the first one, already swapped in, must really be undone. `linked`:
  // the held file can still get its second name in the backup, so only the
  // rename over it fails. `shipped`: the run takes the program as it ships.
  // Returns how long the run took, in seconds.
  double expect_rollback_while_held(
      const std::function<std::unique_ptr<test::HeldFile>(const stdfs::path&)>& hold, bool linked,
      bool shipped = false);

  // The whole log of a run that applies `members` from `archive`.
  Lines applied_log(const std::string& archive, const Members& members) const {
    const Lines order = staged_order(members);
    Lines lines = lines_until_swap(archive, game_, order.size());
    for (const std::string& line : swap_lines(order)) lines.push_back(line);
    lines.push_back("zrk-update: update applied, starting " + text(game_));
    return lines;
  }

  // The last `count` lines of the log, which holds every run so far.
  Lines last_lines(size_t count) const {
    const Lines lines = log();
    return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())),
                 lines.end());
  }
};

using SwapOnEveryHost = test::OnEveryHost<SwapEndToEnd>;
INSTANTIATE_TEST_SUITE_P(Hosts, SwapOnEveryHost, ::testing::ValuesIn(test::all_hosts()),
                         test::host_name);

TEST_P(SwapOnEveryHost, AnUpdateReplacesAndAddsPayloadItemsAndLeavesTheRestAlone) {
  const std::string archive = text(pack_update("update-7.tar.gz", kUpdate));
  EXPECT_EQ(run_host(args(archive)), 0);

  EXPECT_EQ(installed_tree(), updated_tree());
  EXPECT_EQ(read_file(install_ / "saves" / "slot1.sav"), "level 7");

  const Lines order = staged_order(kUpdate);
  Lines expected_log = lines_until_swap(archive, game_, order.size());
  for (const std::string& line : swap_lines(order)) expected_log.push_back(line);
  expected_log.push_back("zrk-update: update applied, starting " + text(game_));
  EXPECT_EQ(log(), expected_log);

  EXPECT_EQ(read_file(install_ / ".update" / "applied.ok"), "applied update-7.tar.gz\n");
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "staging"));
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
  EXPECT_TRUE(game_started_in_install());
}

// ".update" on a file system of its own, as a junction to another volume
// makes it: no link can be made into the backup, and every move copies beside
// its target, flushes and renames, files and folders alike.
TEST_P(SwapOnEveryHost, AnUpdateFolderOnAnotherVolumeStillApplies) {
  const std::string archive = text(pack_update("update-7.tar.gz", kUpdate));
  test::ScopedTmpfs own(install_ / ".update", 16 << 20);
  ASSERT_TRUE(own.active());
  same_file_system_ = install_ / ".update";
  EXPECT_EQ(run_host(args(archive)), 0);

  EXPECT_EQ(installed_tree(), updated_tree());
  EXPECT_EQ(log(), applied_log(archive, kUpdate));
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
  EXPECT_TRUE(game_started_in_install());
}

// A payload folder that is a link to a folder outside the install folder, as
// mklink /J makes it (Wine shows a Unix link to a folder the same way, as a
// folder reparse point): the link goes into the backup and away as a link, and
// what it points to stays as it was. Where the host can reach only the target,
// the move is refused and rolled back instead.
TEST_P(SwapOnEveryHost, APayloadFolderThatIsALinkIsReplacedAndWhatItPointsToKept) {
  const stdfs::path outside = dir_ / "fonts elsewhere";
  write_file(outside / "shared.ttf", "a font the player keeps");
  write_file(outside / "more" / "extra.ttf", "another");
  const Tree kept = test::snapshot_tree(outside);
  stdfs::remove_all(install_ / "typefaces");
  ASSERT_EQ(test::run_command({"ln", "-s", outside.string(), (install_ / "typefaces").string()}),
            0);
  const Tree linked = installed_tree();
  const std::string archive = text(pack_update("update-7.tar.gz", kUpdate));
  const int code = run_host(args(archive));

  EXPECT_EQ(test::snapshot_tree(outside), kept);
  if (!host_.moves_links()) {
    EXPECT_EQ(code, 4);
    EXPECT_EQ(installed_tree(), linked);
    EXPECT_EQ(log().back(),
              "zrk-update: the swap failed at typefaces and the rollback is complete");
    return;
  }
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(stdfs::is_symlink(install_ / "typefaces"));
  EXPECT_EQ(test::snapshot_tree(install_ / "typefaces"), (Tree{{"new.ttf", "file:new font"}}));
  EXPECT_EQ(log(), applied_log(archive, kUpdate));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(install_ / ".update" / "backup")));
}

// Read-only files, as a disc or "attrib +r" leaves them ("chmod a-w" is the
// read-only attribute under Wine): neither the update nor the next one
// stumbles over them or over the backup they leave.
TEST_P(SwapOnEveryHost, ReadOnlyFilesDoNotHoldUpTwoUpdatesInARow) {
  for (const char* name : {"update-7.tar.gz", "update-8.tar.gz"}) {
    SCOPED_TRACE(name);
    for (const auto& entry : stdfs::recursive_directory_iterator(install_)) {
      if (entry.is_regular_file() && entry.path().string().find(".update") == std::string::npos) {
        ASSERT_EQ(test::run_command({"chmod", "a-w", entry.path().string()}), 0);
      }
    }
    const std::string archive = text(pack_update(name, kUpdate));
    EXPECT_EQ(run_host(args(archive)), 0);
    const Lines expected = applied_log(archive, kUpdate);
    EXPECT_EQ(last_lines(expected.size()), expected);
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
    EXPECT_EQ(installed_tree(), updated_tree());
  }
}

// Beyond 260 characters Windows wants the long path form. Wine does not
// enforce the limit, so this shows that the long form breaks nothing.
TEST_P(SwapOnEveryHost, AStagedPathOfOverThreeHundredCharactersIsApplied) {
  const std::string deep = "typefaces/" + std::string(100, 'a') + "/" + std::string(100, 'b') +
                           "/" + std::string(60, 'c') + ".ttf";
  Members update = kUpdate;
  update[deep] = "a deep font";
  ASSERT_GT((text(install_) + "/.update/staging/" + deep).size(), 300u);
  const std::string archive = text(pack_update("update-7.zip", update));
  EXPECT_EQ(run_host(args(archive)), 0);
  EXPECT_EQ(read_file(install_ / deep), "a deep font");
  EXPECT_EQ(log(), applied_log(archive, update));
}

// The update brings a new updater while the old one runs from the install
// folder. Windows cannot delete a running program's file, so the old updater
// stays in the backup, alone, until the next run clears it.
TEST_P(SwapOnEveryHost, TheRunningUpdatersOldFileIsAllThatMayStayInTheBackup) {
  Members update = kUpdate;
  update["zrk-update.exe"] = "updater v2";
  const std::string archive = text(pack_update("update-7.tar.gz", update));
  const stdfs::path updater = install_ / "zrk-update.exe";
  EXPECT_EQ(host_.run_copy(updater, args(archive)), 0);

  Lines expected = applied_log(archive, update);
  if (!host_.deletes_running_programs()) {
    expected.insert(expected.end() - 1, "zrk-update: the previous updater stays in " +
                                            backup_text() + " until the next update");
    const std::string old = read_file(install_ / ".update" / "backup" / "zrk-update.exe");
    EXPECT_EQ(test::snapshot_tree(install_ / ".update" / "backup"),
              (Tree{{"zrk-update.exe", "file:" + old}}));
  }
  EXPECT_EQ(log(), expected);
  EXPECT_EQ(read_file(updater), "updater v2");

  EXPECT_EQ(run_host(args(archive)), 0);
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
}

TEST_P(SwapOnEveryHost, AnArchiveWithoutTheGameProgramChangesNothing) {
  const struct {
    const char* name;
    Members members;
  } kCases[] = {
      {"missing", {{"zravelkin.pak", "pak v2"}, {"Z-Ravelkin.exe.bak", "not the program"}}},
      {"a folder", {{"zravelkin.pak", "pak v2"}, {"Z-Ravelkin.exe/inner", "a folder"}}},
      // A file system that ignores letter case would find it; the name must match.
      {"letter case", {{"zravelkin.pak", "pak v2"}, {"z-ravelkin.exe", "lower case"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string archive = text(pack_update("update.tgz", c.members));
    EXPECT_EQ(run_host(args(archive)), 3);
    EXPECT_EQ(installed_tree(), before_);
    const Lines lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "zrk-update: the archive holds no Z-Ravelkin.exe, the install folder is unchanged");
    // The unpacked archive waits in staging for the next run to clear it.
    EXPECT_EQ(read_file(install_ / ".update" / "staging" / "zravelkin.pak"), "pak v2");
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "applied.ok"));
  }
  EXPECT_FALSE(stdfs::exists(started_));
}

double SwapEndToEnd::expect_rollback_while_held(
    const std::function<std::unique_ptr<test::HeldFile>(const stdfs::path&)>& hold, bool linked,
    bool shipped) {
  const Members update = {{"Z-Ravelkin.exe", "game v2"},
                          {"zravelkin.pak", "pak v2"},
                          {"typefaces/new.ttf", "new font"},
                          {"NOTES.txt", "release notes"}};
  const std::string archive = text(pack_update("update-8.tar.gz", update));
  const Lines order = staged_order(update);
  const Lines payload = in_swap_order(order);
  EXPECT_EQ(payload.size(), 3u);
  if (payload.size() != 3u) return 0;
  const std::string& first = payload[0];
  const std::string& second = payload[1];

  int code = -1;
  std::chrono::steady_clock::duration took{};
  {
    const std::unique_ptr<test::HeldFile> held = hold(install_ / second);
    if (HasFailure()) return 0;
    const auto start = std::chrono::steady_clock::now();
    code = shipped ? host_.run_shipped(args(archive)) : run_host(args(archive));
    took = std::chrono::steady_clock::now() - start;
  }

  EXPECT_EQ(code, 4);
  EXPECT_EQ(installed_tree(), before_);
  Lines expected_log = lines_until_swap(archive, game_, order.size());
  expected_log.push_back("ignored NOTES.txt: not part of the shipped payload");
  expected_log.push_back("installed " + first);
  expected_log.push_back("swap failed at " + second + ", undoing the completed moves");
  // A held file that could still be linked had begun its turn; Windows
  // shares a file's delete access among all its names, so its second name
  // in the backup cannot go while the file is held.
  if (linked && replaced_in_one_step(update, second)) {
    expected_log.push_back("kept " + second + " in place; a second name of it stays in the backup");
  }
  expected_log.push_back("restored " + first);
  expected_log.push_back("zrk-update: the swap failed at " + second +
                         " and the rollback is complete");
  EXPECT_EQ(log(), expected_log);
  EXPECT_TRUE(game_started_in_install());
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "applied.ok"));
  // The moved-in first item was cleared; the rest still waits in staging.
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "staging" / first));
  EXPECT_TRUE(stdfs::exists(install_ / ".update" / "staging" / second));
  // That second name stays until the next run's swap clears it.
  Tree left = test::snapshot_tree(install_ / ".update" / "backup");
  if (linked) left.erase(second);
  EXPECT_EQ(left, Tree{});
  return std::chrono::duration<double>(took).count();
}

// Run 1 fails at the game's program, held the host's way, and its undo cannot
// clear the new typefaces, which a scanner took as soon as they went in: it
// ends INCOMPLETE with the old typefaces only in the backup. Run 2 fails at
// the held program again: it must first put the old typefaces back, never
// discard them with the backup, and so end with the old version whole. Run
// 3, unhindered, applies the update.
TEST_P(SwapOnEveryHost, ARunAfterAnIncompleteRollbackPutsTheOldFormsBackFirst) {
  const std::string archive = text(pack_update("update-7.tar.gz", kUpdate));
  const stdfs::path game = install_ / "Z-Ravelkin.exe";
  {
    // 20 attempts 15 ms apart at the held program, then as many at the
    // removal, leave the scanner 600 ms to take the new font file; it takes
    // it within milliseconds.
    const auto held = host_.hold_now_and_later(game, install_ / "typefaces" / "new.ttf");
    EXPECT_EQ(host_.run_pausing(args(archive), 15), 4);
  }
  Tree mixed = before_;
  mixed.erase("typefaces/old.ttf");
  mixed["typefaces/new.ttf"] = "file:new font";
  EXPECT_EQ(installed_tree(), mixed);
  ASSERT_FALSE(log().empty());
  EXPECT_EQ(log().back(),
            "zrk-update: the swap failed at Z-Ravelkin.exe and the rollback is INCOMPLETE");

  {
    const auto held = host_.hold(game);
    EXPECT_EQ(run_host(args(archive)), 4);
  }
  EXPECT_EQ(installed_tree(), before_);
  const Lines lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "restored typefaces from an unfinished update"),
            lines.end());
  // Where the held program's second name, left by run 1, cannot go, it keeps
  // the backup from being emptied, and the swap stops before its first move.
  EXPECT_THAT(
      lines.back(),
      ::testing::AnyOf("zrk-update: the swap failed at Z-Ravelkin.exe and the rollback is complete",
                       "zrk-update: the swap failed at  and the rollback is complete"));

  EXPECT_EQ(run_host(args(archive)), 0);
  EXPECT_EQ(installed_tree(), updated_tree());
}

// Held the host's way: immutable on Linux, open without delete sharing on
// Windows.
TEST_P(SwapOnEveryHost, AFailedMoveIsRolledBackAndTheGameStarted) {
  expect_rollback_while_held([this](const stdfs::path& file) { return host_.hold(file); },
                             host_.links_held_files());
}

// A mount point cannot be renamed (EBUSY). The one run of the program as it
// ships: the move that fails is tried 20 times with 250 ms after each, the
// last included, before the rollback.
TEST_F(SwapEndToEnd, AMountPointThatCannotMoveIsRolledBackAfterTwentyAttempts) {
  const double seconds = expect_rollback_while_held(
      [](const stdfs::path& file) { return std::make_unique<ScopedBindMount>(file); }, false, true);
  EXPECT_GE(seconds, 4.95);  // sleeps never end early; 19 attempts would be 4.75 s
  EXPECT_LT(seconds, 8.0);
}

TEST_P(SwapOnEveryHost, ARelaunchThatFailsAfterTheUpdateExitsWith5WithTheMarkerWritten) {
  const std::string archive = text(pack_update("update-9.tar.gz", kUpdate));
  const stdfs::path missing_game = dir_ / "no-such-game";
  EXPECT_EQ(run_host(args(archive, missing_game)), 5);

  EXPECT_EQ(read_file(install_ / "zravelkin.pak"), "pak v2");
  EXPECT_EQ(read_file(install_ / ".update" / "applied.ok"), "applied update-9.tar.gz\n");
  const Lines lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"zrk-update: update applied, starting " + text(missing_game),
                   "zrk-update: could not start " + text(missing_game)}));
}

// The README's example of a game's side, started as the game on each of its
// starts with the archive it last handed over: it starts the updater, exits
// at once and so lets the update go in, unless the marker names that archive
// or it has handed that archive over three times already.
struct LauncherRow {
  const char* what;
  const char* marker;      // applied.ok before the start; none when null
  const char* hand_overs;  // the launcher's count beside the archive; none when null
  int exit_code;  // 0 the update is in, 2 the updater was started, 1 it was not, 3 given up
  bool updated;
  bool trailing_separator = false;  // the install folder written with one at its end
  bool missing_updater = false;
};

const LauncherRow kLauncherRows[] = {
    {"first hand-over", nullptr, nullptr, 2, true},
    {"the marker names the archive", "applied update-7.tar.gz\n", nullptr, 0, false},
    {"the marker names the update before", "applied update-6.tar.gz\n", nullptr, 2, true},
    {"the marker names a longer name", "applied update-7.tar.gz.part\n", nullptr, 2, true},
    {"the marker without its line end", "applied update-7.tar.gz", nullptr, 2, true},
    {"handed over twice before", "applied update-6.tar.gz\n", "2\n", 2, true},
    {"handed over three times already", "applied update-6.tar.gz\n", "3\n", 3, false},
    {"the install folder ends in a separator", nullptr, nullptr, 2, true, true},
    {"no updater to start", nullptr, nullptr, 1, false, false, true},
};

TEST_P(SwapOnEveryHost, TheGamesLauncherHandsTheUpdateOverUntilTheMarkerNamesIt) {
  const std::string archive = text(pack_update("update-7.tar.gz", kUpdate));
  const stdfs::path pristine = dir_ / "pristine";
  stdfs::copy(install_, pristine, stdfs::copy_options::recursive);
  for (const LauncherRow& row : kLauncherRows) {
    SCOPED_TRACE(row.what);
    stdfs::remove_all(install_);
    stdfs::copy(pristine, install_, stdfs::copy_options::recursive);
    stdfs::remove(started_);
    if (row.marker != nullptr) write_file(install_ / ".update" / "applied.ok", row.marker);
    const stdfs::path counter = dir_ / "update-7.tar.gz.handed-over";
    stdfs::remove(counter);
    if (row.hand_overs != nullptr) write_file(counter, row.hand_overs);
    const std::string install = text(row.trailing_separator ? install_ / "" : install_);
    const std::string updater = text(row.missing_updater ? dir_ / "no-updater" : host_.updater());
    const Lines launch{updater, install, archive, text(game_)};
    EXPECT_EQ(host_.run_launcher(launch), row.exit_code);
    if (!row.updated) {
      EXPECT_EQ(installed_tree(), before_);
      EXPECT_FALSE(stdfs::exists(install_ / ".update" / "update.log"));
      continue;
    }
    // The updater waited for the launcher, installed the update and started
    // the game; the next start finds the update in.
    if (!game_started_in_install()) {
      ADD_FAILURE() << "the game was not started again";
      continue;
    }
    EXPECT_EQ(installed_tree(), updated_tree());
    EXPECT_EQ(read_file(install_ / ".update" / "applied.ok"), "applied update-7.tar.gz\n");
    const Lines lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "zrk-update: update applied, starting " + text(game_));
    EXPECT_EQ(host_.run_launcher(launch), 0);
  }
}

// A file that even root cannot remove, left in the backup folder by an earlier
// run: the swap discards what it can and goes on, and the clean-up after it
// fails and says so, without changing the outcome.
TEST_F(SwapEndToEnd, ACleanUpFailureIsLoggedAndTheUpdateStillSucceeds) {
  const std::string archive = pack_update("update-10.tar.gz", kUpdate);
  const stdfs::path stuck = install_ / ".update" / "backup" / "stuck.bin";
  write_file(stuck, "cannot be removed");
  int code = -1;
  {
    test::ScopedImmutable locked(stuck);
    ASSERT_TRUE(locked.active()) << "chattr +i is needed to make the clean-up fail";
    code = test::run_updater(args(archive));
  }

  EXPECT_EQ(code, 0);
  EXPECT_EQ(read_file(install_ / "zravelkin.pak"), "pak v2");
  const Lines order = staged_order(kUpdate);
  Lines expected_log = lines_until_swap(archive, game_, order.size());
  for (const std::string& line : swap_lines(order)) expected_log.push_back(line);
  expected_log.push_back("zrk-update: could not remove " + backup_text() +
                         ": Operation not permitted");
  expected_log.push_back("zrk-update: update applied, starting " + game_.string());
  EXPECT_EQ(log(), expected_log);
  EXPECT_EQ(read_file(install_ / ".update" / "applied.ok"), "applied update-10.tar.gz\n");
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "staging"));
  // Only the entry that cannot go stays; the items the update replaced are gone.
  EXPECT_EQ(test::snapshot_tree(install_ / ".update" / "backup"),
            (Tree{{"stuck.bin", "file:cannot be removed"}}));
  EXPECT_TRUE(game_started_in_install());
}

}  // namespace
}  // namespace zrk
