// The real zrk-update binary meeting faults on the disk: a full disk during the
// extraction, things standing where its own files and folders go, moves that
// fail at each position of the swap, flushes to the device that fail, and a
// relaunch program that is missing.
// User files outside the payload must come through every case unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/payload_fixture.h"
#include "support/fault_support.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::FaultPlan;
using test::kUpdate;
using test::Lines;
using test::Members;
using test::read_file;
using test::Tree;
using test::write_file;

// The payload items of kUpdate, and those of them that the version-1 install
// already holds.
const Lines kPayload = {"COPYING", "Z-Ravelkin.exe", "typefaces", "zravelkin.pak"};
bool installed_before(const std::string& name) {
  return name == "Z-Ravelkin.exe" || name == "zravelkin.pak" || name == "typefaces";
}

class FaultEndToEnd : public test::PayloadFixture {
 protected:
  // Judges the log of a run of kUpdate whose swap failed at `failed`: it
  // begins as every such run does and names the two items outside the
  // payload; the items that went in before the failure, as its "installed"
  // lines say, never include the game's program, which goes last; then the
  // undo takes exactly those back, last first (and `failed` itself first when
  // its move-in failed): what the version-1 install had is restored, the rest
  // removed, and `unrestorable` could not be put back. Returns the items that
  // went in.
  Lines expect_rolled_back(const std::string& archive, const std::string& failed,
                           bool failed_moving_in, const std::string& unrestorable = "") const {
    const Lines lines = log();
    Lines expected = lines_until_swap(archive, game_, 6);
    const size_t ignored = expected.size();
    if (lines.size() < ignored + 2) {
      ADD_FAILURE() << "a short log";
      return {};
    }
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(ignored)), expected);
    Lines named(lines.begin() + static_cast<std::ptrdiff_t>(ignored),
                lines.begin() + static_cast<std::ptrdiff_t>(ignored) + 2);
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (Lines{"ignored NOTES.txt: not part of the shipped payload",
                            "ignored saves: not part of the shipped payload"}));
    Lines went_in;
    for (size_t i = ignored + 2; i < lines.size() && lines[i].rfind("installed ", 0) == 0; ++i) {
      went_in.push_back(lines[i].substr(std::string("installed ").size()));
    }
    EXPECT_EQ(std::count(went_in.begin(), went_in.end(), failed), 0);
    if (failed != "Z-Ravelkin.exe") {
      EXPECT_EQ(std::count(went_in.begin(), went_in.end(), "Z-Ravelkin.exe"), 0);
    }
    expected.insert(expected.end(), lines.begin() + static_cast<std::ptrdiff_t>(ignored),
                    lines.begin() + static_cast<std::ptrdiff_t>(ignored + 2 + went_in.size()));
    expected.push_back("swap failed at " + failed + ", undoing the completed moves");
    Lines undo(went_in.rbegin(), went_in.rend());
    if (failed_moving_in) undo.insert(undo.begin(), failed);
    for (const std::string& name : undo) {
      if (name == unrestorable) {
        expected.push_back("could not restore " + name + " from the backup");
      } else if (installed_before(name)) {
        expected.push_back("restored " + name);
      } else {
        expected.push_back("removed " + name + ", which the archive had just added");
      }
    }
    expected.push_back("zrk-update: the swap failed at " + failed + " and the rollback is " +
                       (unrestorable.empty() ? "complete" : "INCOMPLETE"));
    EXPECT_EQ(lines, expected);
    return went_in;
  }

  // An unhindered run with the same archive must finish the update.
  void expect_a_second_run_applies(const std::string& archive) {
    EXPECT_EQ(test::run_updater(args(archive)), 0);
    EXPECT_EQ(installed_tree(), updated_tree());
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "staging"));
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
  }

  stdfs::path update_dir() const { return install_ / ".update"; }
};

// --- the disk fills while the archive is unpacked ---------------------------

struct DiskFull {
  const char* name;
  const char* archive;
  bool tmpfs;  // a 1 MiB tmpfs on ".update"; otherwise a 1 MiB file size limit
};

std::ostream& operator<<(std::ostream& out, const DiskFull& c) { return out << c.name; }

class DiskFullEndToEnd : public FaultEndToEnd, public ::testing::WithParamInterface<DiskFull> {};

TEST_P(DiskFullEndToEnd, TheRunStopsWith5AndTheInstallIsUnchanged) {
  constexpr long kLimit = 1 << 20;
  Members members = kUpdate;
  members["zravelkin.pak"] = std::string(3 * kLimit, 'p');
  const std::string archive = pack_update(GetParam().archive, members);

  int code = -1;
  Lines lines;
  if (GetParam().tmpfs) {
    test::ScopedTmpfs small(update_dir(), kLimit);
    ASSERT_TRUE(small.active());
    code = test::run_updater(args(archive));
    lines = log();
  } else {
    FaultPlan plan;
    plan.file_size_limit = kLimit;
    code = test::run_updater_with(args(archive), plan);
    lines = log();
  }

  EXPECT_EQ(code, 5);
  EXPECT_EQ(installed_tree(), before_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"cannot write " + staging_text() + "/zravelkin.pak",
                   "zrk-update: the archive was refused, the install folder is unchanged"}));
  EXPECT_FALSE(stdfs::exists(update_dir() / "applied.ok"));
  EXPECT_FALSE(stdfs::exists(started_));
}

INSTANTIATE_TEST_SUITE_P(Limits, DiskFullEndToEnd,
                         ::testing::Values(DiskFull{"TarballUnderFileSizeLimit", "update.tar.gz",
                                                    false},
                                           DiskFull{"ZipUnderFileSizeLimit", "update.zip", false},
                                           DiskFull{"TarballOnSmallTmpfs", "update.tar.gz", true},
                                           DiskFull{"ZipOnSmallTmpfs", "update.zip", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- something stands where the updater's own files and folders go ----------

class ObstacleEndToEnd;

struct Obstacle {
  const char* name;
  // Puts the obstacle in place; `install` is the version-1 install folder.
  std::function<void(const stdfs::path& install)> place;
  std::vector<std::string> immutable;  // below the install folder, for the run
  bool relaunch_missing;
  int code;
  bool updated;  // the install ends in the new version, else unchanged
  bool started;
  // The log's last lines; null when the run cannot open its log.
  std::function<Lines(const ObstacleEndToEnd&)> tail;
  // Further checks of what the run left; may be null.
  std::function<void(const ObstacleEndToEnd&)> also;
};

std::ostream& operator<<(std::ostream& out, const Obstacle& c) { return out << c.name; }

class ObstacleEndToEnd : public FaultEndToEnd, public ::testing::WithParamInterface<Obstacle> {
 public:
  using FaultEndToEnd::staging_text;
  using FaultEndToEnd::text_of;

  // The relaunch path: a missing program when the case asks for one.
  stdfs::path relaunch() const {
    return GetParam().relaunch_missing ? dir_ / "no-such-game" : game_;
  }
  Lines applied() const { return {"zrk-update: update applied, starting " + relaunch().string()}; }
  Lines backup_failed() const {
    return {"cannot create " + backup_text(),
            "zrk-update: the swap failed at  and the rollback is complete"};
  }
  Lines marker_failed() const {
    return {"zrk-update: cannot write " + text_of(".update/applied.ok")};
  }
  // What a run whose swap went through but whose marker failed leaves behind.
  void expect_swap_leftovers() const {
    EXPECT_EQ(read_file(update_dir() / "staging" / "NOTES.txt"), "release notes");
    EXPECT_EQ(read_file(update_dir() / "backup" / "zravelkin.pak"), "pak v1");
  }
};

void make_folder(const stdfs::path& path) { stdfs::create_directories(path); }

const Obstacle kObstacles[] = {
    {"LogIsAFolder",
     [](const stdfs::path& i) { make_folder(i / ".update/update.log"); },
     {},
     false,
     5,
     false,
     false,
     nullptr,
     nullptr},
    {"UpdateDirIsAFile",
     [](const stdfs::path& i) { write_file(i / ".update", "not a folder"); },
     {},
     false,
     5,
     false,
     false,
     nullptr,
     nullptr},
    {"UpdateDirIsImmutable",
     [](const stdfs::path& i) { make_folder(i / ".update"); },
     {".update"},
     false,
     5,
     false,
     false,
     nullptr,
     nullptr},
    {"StagingIsAFile",
     [](const stdfs::path& i) { write_file(i / ".update/staging", "not a folder"); },
     {},
     false,
     0,
     true,
     true,
     &ObstacleEndToEnd::applied,
     nullptr},
    // Clearing staging must remove the link, never what it points at.
    {"StagingIsALinkToUserFiles",
     [](const stdfs::path& i) {
       make_folder(i / ".update");
       stdfs::create_directory_symlink(i / "saves", i / ".update/staging");
     },
     {},
     false,
     0,
     true,
     true,
     &ObstacleEndToEnd::applied,
     nullptr},
    {"StagingHoldsAnUnremovableFile",
     [](const stdfs::path& i) { write_file(i / ".update/staging/stale.bin", "stuck"); },
     {".update/staging/stale.bin"},
     false,
     5,
     false,
     false,
     [](const ObstacleEndToEnd& t) {
       return Lines{"zrk-update: cannot clear " + t.staging_text() + ": Operation not permitted"};
     },
     nullptr},
    {"BackupIsAFile",
     [](const stdfs::path& i) { write_file(i / ".update/backup", "not a folder"); },
     {},
     false,
     0,
     true,
     true,
     &ObstacleEndToEnd::applied,
     nullptr},
    {"BackupIsALinkToUserFiles",
     [](const stdfs::path& i) {
       make_folder(i / ".update");
       stdfs::create_directory_symlink(i / "saves", i / ".update/backup");
     },
     {},
     false,
     0,
     true,
     true,
     &ObstacleEndToEnd::applied,
     nullptr},
    {"BackupIsAnUnremovableFile",
     [](const stdfs::path& i) { write_file(i / ".update/backup", "stuck"); },
     {".update/backup"},
     false,
     4,
     false,
     true,
     &ObstacleEndToEnd::backup_failed,
     nullptr},
    {"BackupIsAnUnremovableFileAndTheGameIsMissing",
     [](const stdfs::path& i) { write_file(i / ".update/backup", "stuck"); },
     {".update/backup"},
     true,
     5,
     false,
     false,
     [](const ObstacleEndToEnd& t) {
       Lines lines = t.backup_failed();
       lines.push_back("zrk-update: could not start " + t.relaunch().string() +
                       " after the rollback");
       return lines;
     },
     nullptr},
    {"MarkerIsAFolder",
     [](const stdfs::path& i) { make_folder(i / ".update/applied.ok/x"); },
     {},
     false,
     5,
     true,
     false,
     &ObstacleEndToEnd::marker_failed,
     &ObstacleEndToEnd::expect_swap_leftovers},
    {"MarkerIsAnImmutableEarlierOne",
     [](const stdfs::path& i) { write_file(i / ".update/applied.ok", "applied update-6.zip\n"); },
     {".update/applied.ok"},
     false,
     5,
     true,
     false,
     &ObstacleEndToEnd::marker_failed,
     [](const ObstacleEndToEnd& t) {
       t.expect_swap_leftovers();
       EXPECT_EQ(read_file(t.text_of(".update/applied.ok")), "applied update-6.zip\n");
     }},
};

TEST_P(ObstacleEndToEnd, TheRunEndsAsItsStageRequires) {
  const Obstacle& c = GetParam();
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  c.place(install_);
  const Tree placed = test::snapshot_tree(install_);
  int code = -1;
  {
    std::vector<std::unique_ptr<test::ScopedImmutable>> locks;
    for (const std::string& path : c.immutable) {
      locks.push_back(std::make_unique<test::ScopedImmutable>(install_ / path));
      ASSERT_TRUE(locks.back()->active());
    }
    code = test::run_updater(args(archive, relaunch()));
  }

  EXPECT_EQ(code, c.code);
  EXPECT_EQ(installed_tree(), c.updated ? updated_tree() : before_);
  EXPECT_EQ(read_file(install_ / "saves" / "slot1.sav"), "level 7");
  if (c.started) {
    EXPECT_TRUE(game_started_in_install());
  } else {
    EXPECT_FALSE(stdfs::exists(started_));
  }
  if (!c.tail) {
    // Without a log nothing is written anywhere.
    EXPECT_EQ(test::snapshot_tree(install_), placed);
    return;
  }
  const Lines lines = log();
  const Lines tail = c.tail(*this);
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(Lines(lines.end() - tail.size(), lines.end()), tail);
  if (c.code == 0) {
    EXPECT_EQ(read_file(update_dir() / "applied.ok"), "applied update-7.tar.gz\n");
    EXPECT_FALSE(stdfs::exists(update_dir() / "staging"));
    EXPECT_FALSE(stdfs::exists(update_dir() / "backup"));
  }
  if (c.also) c.also(*this);
}

INSTANTIATE_TEST_SUITE_P(Places, ObstacleEndToEnd, ::testing::ValuesIn(kObstacles),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a move of the swap fails for good --------------------------------------

struct FailedMove {
  const char* name;
  bool moving_in;  // the staged item into the install, else the installed one out
  const char* item;
};

std::ostream& operator<<(std::ostream& out, const FailedMove& c) { return out << c.name; }

class FailedMoveEndToEnd : public FaultEndToEnd,
                           public ::testing::WithParamInterface<FailedMove> {};

// Each case waits out the 20 attempts of the failing move.
TEST_P(FailedMoveEndToEnd, EveryCompletedMoveIsUndone) {
  const FailedMove& c = GetParam();
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const std::string failed = c.item;
  const std::string source =
      c.moving_in ? staging_text() + "/" + failed : install_.string() + "/" + failed;
  // A file that replaces a file gets its second name in the backup by a link.
  const bool linked = !c.moving_in && failed != "typefaces";
  FaultPlan plan;
  plan.rules = {test::fail_always(linked ? "link" : "rename", source, EACCES)};
  EXPECT_EQ(test::run_updater_with(args(archive), plan), 4);

  EXPECT_EQ(installed_tree(), before_);
  const Lines went_in = expect_rolled_back(archive, failed, c.moving_in);
  EXPECT_TRUE(game_started_in_install());
  EXPECT_FALSE(stdfs::exists(update_dir() / "applied.ok"));
  EXPECT_TRUE(stdfs::is_empty(update_dir() / "backup"));
  // What went in was cleared by the undo; the rest still waits in staging.
  for (const std::string& name : kPayload) {
    const bool cleared = std::count(went_in.begin(), went_in.end(), name) != 0;
    EXPECT_EQ(stdfs::exists(update_dir() / "staging" / name), !cleared) << name;
  }

  expect_a_second_run_applies(archive);
}

INSTANTIATE_TEST_SUITE_P(Items, FailedMoveEndToEnd,
                         ::testing::Values(FailedMove{"OutPak", false, "zravelkin.pak"},
                                           FailedMove{"OutTypefaces", false, "typefaces"},
                                           FailedMove{"OutGame", false, "Z-Ravelkin.exe"},
                                           FailedMove{"InCopying", true, "COPYING"},
                                           FailedMove{"InTypefaces", true, "typefaces"},
                                           FailedMove{"InGame", true, "Z-Ravelkin.exe"}),
                         [](const auto& info) { return std::string(info.param.name); });

// An item of an earlier backup that cannot be removed stops the swap before
// it moves anything: the mark the swap keeps must never stand beside what a
// finished update left behind, which the next run would then put back.
TEST_F(FaultEndToEnd, AnUnremovableEarlierBackupStopsTheSwapBeforeAnyMove) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  write_file(update_dir() / "backup" / "zravelkin.pak", "from an earlier run");
  int code = -1;
  {
    test::ScopedImmutable locked(update_dir() / "backup" / "zravelkin.pak");
    ASSERT_TRUE(locked.active());
    code = test::run_updater(args(archive));
  }
  EXPECT_EQ(code, 4);
  EXPECT_EQ(installed_tree(), before_);
  const Lines lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"cannot clear " + backup_text(),
                   "zrk-update: the swap failed at  and the rollback is complete"}));
  EXPECT_FALSE(stdfs::exists(update_dir() / "swap-unfinished"));
  EXPECT_TRUE(game_started_in_install());
  expect_a_second_run_applies(archive);
}

// The game program's move-in, the last, fails, and then the typefaces cannot
// be moved back: the rollback goes on past them and says it is incomplete.
TEST_F(FaultEndToEnd, ARestoreThatFailsLeavesTheItemInTheBackupAndTheRollbackIncomplete) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const std::string failed = "Z-Ravelkin.exe";
  const std::string victim = "typefaces";

  FaultPlan plan;
  plan.rules = {test::fail_always("rename", staging_text() + "/" + failed, EACCES),
                test::fail_always("rename", backup_text() + "/" + victim, EIO)};
  EXPECT_EQ(test::run_updater_with(args(archive), plan), 4);

  // The typefaces were cleared of their new form and are missing.
  Tree expected = before_;
  expected.erase("typefaces");
  expected.erase("typefaces/old.ttf");
  EXPECT_EQ(installed_tree(), expected);
  expect_rolled_back(archive, failed, true, victim);
  EXPECT_TRUE(stdfs::exists(update_dir() / "backup" / victim));
  EXPECT_TRUE(game_started_in_install());

  // The swap did not finish, so the next run first puts the victim's old form
  // back where it is missing, then goes through.
  expect_a_second_run_applies(archive);
  const Lines lines = log();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "restored " + victim + " from an unfinished update"),
      lines.end());
}

// --- a flush to the device fails ---------------------------------------------

struct FailedFlush {
  const char* name;
  const char* fn;
  const char* folder;  // below the install folder; the one flushed or holding the file
  int code;
  bool updated;  // the install ends in the new version, else unchanged
  // The log's last lines, `%s` standing for the flushed path.
  std::vector<std::string> tail;
};

std::ostream& operator<<(std::ostream& out, const FailedFlush& c) { return out << c.name; }

class FailedFlushEndToEnd : public FaultEndToEnd,
                            public ::testing::WithParamInterface<FailedFlush> {};

// Before the swap a failed flush is a failed write and nothing is installed;
// after the swap a folder's is only reported, and the update stands.
TEST_P(FailedFlushEndToEnd, BeforeTheSwapItStopsTheRunAfterItIsReported) {
  const FailedFlush& c = GetParam();
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const std::string flushed = std::string(c.folder).empty() ? install_.string() : text_of(c.folder);
  FaultPlan plan;
  plan.rules = {test::fail_always(c.fn, flushed, EIO)};
  EXPECT_EQ(test::run_updater_with(args(archive), plan), c.code);

  EXPECT_EQ(installed_tree(), c.updated ? updated_tree() : before_);
  if (c.code == 0) {
    EXPECT_TRUE(game_started_in_install());
  } else {
    EXPECT_FALSE(stdfs::exists(started_));
  }
  Lines tail;
  for (const std::string& line : c.tail) {
    const size_t at = line.find("%s");
    tail.push_back(at == std::string::npos ? line
                                           : line.substr(0, at) + flushed + line.substr(at + 2));
  }
  if (c.code == 0) tail.push_back("zrk-update: update applied, starting " + game_.string());
  const Lines lines = log();
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(Lines(lines.end() - tail.size(), lines.end()), tail);
  if (c.code != 0) expect_a_second_run_applies(archive);
}

INSTANTIATE_TEST_SUITE_P(
    Flushes, FailedFlushEndToEnd,
    ::testing::Values(
        FailedFlush{
            "StagedFiles", "syncfs", ".update/staging", 5, false, {"zrk-update: cannot write %s"}},
        FailedFlush{
            "Marker", "fdatasync", ".update/applied.ok", 5, true, {"zrk-update: cannot write %s"}},
        FailedFlush{"InstallFolder",
                    "fsync",
                    "",
                    0,
                    true,
                    {"zrk-update: could not flush %s: Input/output error"}},
        FailedFlush{"BackupFolder",
                    "fsync",
                    ".update/backup",
                    0,
                    true,
                    {"zrk-update: could not flush %s: Input/output error"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A move that fails a few times and then succeeds is ridden out by the
// attempts: the run does not even notice.
TEST_F(FaultEndToEnd, AMoveThatFailsForAMomentStillSucceeds) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  FaultPlan plan;
  test::FaultRule rule = test::fail_always("rename", install_.string() + "/typefaces", EBUSY);
  rule.last = 3;
  plan.rules = {rule};
  EXPECT_EQ(test::run_updater_with(args(archive), plan), 0);

  EXPECT_EQ(installed_tree(), updated_tree());
  Lines expected = lines_until_swap(archive, game_, staged_order(kUpdate).size());
  for (const std::string& line : swap_lines(staged_order(kUpdate))) expected.push_back(line);
  expected.push_back("zrk-update: update applied, starting " + game_.string());
  EXPECT_EQ(log(), expected);
}

// Windows cannot delete the running updater's file once the update has moved
// it into the backup: the rest of the backup goes, the run says where the old
// updater stays, and the next run's swap clears it.
TEST_F(FaultEndToEnd, TheRunningUpdatersOldFileStaysInTheBackupUntilTheNextRun) {
  write_file(install_ / "zrk-update.exe", "updater v1");
  Members update = kUpdate;
  update["zrk-update.exe"] = "updater v2";
  const std::string archive = pack_update("update-7.tar.gz", update);
  FaultPlan plan;
  plan.rules = {test::fail_always("unlinkat", "zrk-update.exe", EACCES)};
  EXPECT_EQ(test::run_updater_with(args(archive), plan), 0);

  const Lines order = staged_order(update);
  Lines expected = lines_until_swap(archive, game_, order.size());
  for (const std::string& line : swap_lines(order)) expected.push_back(line);
  expected.push_back("zrk-update: the previous updater stays in " + backup_text() +
                     " until the next update");
  expected.push_back("zrk-update: update applied, starting " + game_.string());
  EXPECT_EQ(log(), expected);
  EXPECT_EQ(test::snapshot_tree(update_dir() / "backup"),
            (Tree{{"zrk-update.exe", "file:updater v1"}}));
  EXPECT_EQ(read_file(install_ / "zrk-update.exe"), "updater v2");

  EXPECT_EQ(test::run_updater(args(archive)), 0);
  EXPECT_FALSE(stdfs::exists(update_dir() / "backup"));
}

}  // namespace
}  // namespace zrk
