// The real zrk-update binary killed (SIGKILL) at chosen points of a run, or
// the power cut there, then run again unhindered with the same archive: the
// second run must finish the update exactly, and user files must come through
// both runs unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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
using test::read_file;
using test::Tree;

class CrashEndToEnd : public test::PayloadFixture {
 public:
  explicit CrashEndToEnd(const test::UpdaterHost& host = test::linux_host())
      : PayloadFixture(host) {}

  using PayloadFixture::backup_text;
  using PayloadFixture::staging_text;

  std::string install_text() const { return install_.string(); }
  std::string game_text() const { return game_.string(); }

  // The swap's calls that change a name, as "fn path", in the order they
  // happen.
  Lines changes() const { return name_changes(kUpdate); }

  // The name change that follows the move-in of the staged `item`.
  std::string after_the_move_in_of(const std::string& item) const {
    const Lines all = changes();
    const auto in = std::find(all.begin(), all.end(), "rename " + staging_text() + "/" + item);
    EXPECT_TRUE(in != all.end() && in + 1 != all.end());
    return in != all.end() && in + 1 != all.end() ? *(in + 1) : "";
  }

 protected:
  // Runs until the plan stops the updater, kills it there and returns the
  // call it stopped at.
  std::string run_and_kill(const std::string& archive, const FaultPlan& plan) {
    test::FaultedRun run(args(archive), plan);
    if (!run.wait_until_paused()) {
      ADD_FAILURE() << "the run did not stop; exit code " << run.wait();
      return "";
    }
    const std::string paused_at = run.paused_at();
    run.kill();
    return paused_at;
  }

  // The user's own files, which no crash may touch.
  Tree user_files() const { return user_part(installed_tree()); }

  static Tree user_part(Tree tree) {
    for (auto it = tree.begin(); it != tree.end();) {
      it = is_payload_name(top_of(it->first)) ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  static std::string top_of(const std::string& path) { return path.substr(0, path.find('/')); }

  void expect_a_second_run_applies(const std::string& archive) {
    EXPECT_EQ(test::run_updater(args(archive)), 0);
    EXPECT_EQ(installed_tree(), updated_tree());
    EXPECT_EQ(read_file(install_ / ".update" / "applied.ok"), "applied update-7.tar.gz\n");
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "staging"));
    EXPECT_FALSE(stdfs::exists(install_ / ".update" / "backup"));
    const Lines lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "zrk-update: update applied, starting " + game_.string());
    EXPECT_TRUE(game_started_in_install());
  }
};

bool matches(const std::string& text, const std::string& pattern) {
  if (!pattern.empty() && pattern.back() == '*') {
    return text.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  }
  return text == pattern;
}

struct CrashPoint {
  std::string name;
  // What stops the first run.
  std::function<FaultPlan(const CrashEndToEnd&)> plan;
  // The call it must stop at, as "fn path"; a trailing "*" matches any rest.
  std::function<std::string(const CrashEndToEnd&)> stops_at;
  // The last line the killed run logged; a trailing "*" matches any rest.
  std::string last_line;
};

std::ostream& operator<<(std::ostream& out, const CrashPoint& c) { return out << c.name; }

class CrashPointEndToEnd : public CrashEndToEnd,
                           public ::testing::WithParamInterface<CrashPoint> {};

FaultPlan stop_at(const test::FaultRule& rule) { return FaultPlan{{rule}, 0, {}}; }

// The call and the path of a name change as changes() gives it.
std::string fn_of(const std::string& change) { return change.substr(0, change.find(' ')); }
std::string path_of(const std::string& change) { return change.substr(change.find(' ') + 1); }

// The process stops right before `change`, its first call on that path.
FaultPlan stop_before(const std::string& change) {
  return stop_at(test::pause_at(fn_of(change), 1, path_of(change)));
}

// The swap's rollback, begun by a move-in of the last payload item that never
// succeeds (about 5 s of attempts), stopped at the `nth` call of `fn` on a
// path matching `pattern`.
FaultPlan rollback_stopped_at(const CrashEndToEnd& t, const std::string& fn, int nth,
                              const std::string& pattern) {
  return FaultPlan{{test::fail_always("rename", path_of(t.changes().back()), EACCES),
                    test::pause_at(fn, nth, pattern)},
                   0,
                   {}};
}

const std::string kExited = "zrk-update: the game has exited";
const std::string kSwapping = "zrk-update: swapping 6 staged item(s)";
const std::string kSwapped = "installed *";

std::vector<CrashPoint> crash_points() {
  std::vector<CrashPoint> points = {
      {"ExtractionFirstFile",
       [](const CrashEndToEnd& t) {
         return stop_at(test::pause_at("open", 1, t.staging_text() + "/*"));
       },
       [](const CrashEndToEnd& t) { return "open " + t.staging_text() + "/*"; }, kExited},
      {"ExtractionThirdFile",
       [](const CrashEndToEnd& t) {
         return stop_at(test::pause_at("open", 3, t.staging_text() + "/*"));
       },
       [](const CrashEndToEnd& t) { return "open " + t.staging_text() + "/*"; }, kExited},
  };
  // Before each name change of the swap; the three installed items and the
  // new one make seven: two links, five renames.
  for (size_t change = 0; change < 7; ++change) {
    const auto nth = [change](const CrashEndToEnd& t) {
      const Lines changes = t.changes();
      return change < changes.size() ? changes[change] : "no such change";
    };
    points.push_back({"NameChange" + std::to_string(change + 1),
                      [nth](const CrashEndToEnd& t) { return stop_before(nth(t)); }, nth,
                      kSwapping});
  }
  const std::vector<CrashPoint> later = {
      {"BeforeTheMarker",
       [](const CrashEndToEnd& t) {
         return stop_at(test::pause_at("open", 1, t.install_text() + "/.update/applied.ok"));
       },
       [](const CrashEndToEnd& t) { return "open " + t.install_text() + "/.update/applied.ok"; },
       kSwapped},
      // Staging then holds only the ignored items, NOTES.txt and saves/.
      {"CleaningUpStaging",
       [](const CrashEndToEnd&) { return stop_at(test::pause_at("unlinkat", 2)); },
       [](const CrashEndToEnd&) { return std::string("unlinkat slot1.sav"); }, kSwapped},
      {"StagingEmptiedNotYetRemoved",
       [](const CrashEndToEnd& t) {
         return stop_at(test::pause_at("remove", 1, t.staging_text()));
       },
       [](const CrashEndToEnd& t) { return "remove " + t.staging_text(); }, kSwapped},
      // Only the backup holds a "zravelkin.pak" by then.
      {"CleaningUpTheBackup",
       [](const CrashEndToEnd&) { return stop_at(test::pause_at("unlinkat", 1, "zravelkin.pak")); },
       [](const CrashEndToEnd&) { return std::string("unlinkat zravelkin.pak"); }, kSwapped},
      {"RollbackFirstRestore",
       [](const CrashEndToEnd& t) {
         return rollback_stopped_at(t, "rename", 1, t.backup_text() + "/*");
       },
       [](const CrashEndToEnd& t) { return "rename " + t.backup_text() + "/*"; }, kSwapping},
      {"RollbackSecondRestore",
       [](const CrashEndToEnd& t) {
         return rollback_stopped_at(t, "rename", 2, t.backup_text() + "/*");
       },
       [](const CrashEndToEnd& t) { return "rename " + t.backup_text() + "/*"; }, kSwapping},
      {"RollbackClearingAnItem",
       [](const CrashEndToEnd& t) {
         return rollback_stopped_at(t, "remove", 1, t.install_text() + "/*");
       },
       [](const CrashEndToEnd& t) { return "remove " + t.install_text() + "/*"; }, kSwapping},
  };
  points.insert(points.end(), later.begin(), later.end());
  return points;
}

TEST_P(CrashPointEndToEnd, ASecondRunFinishesTheUpdate) {
  const CrashPoint& c = GetParam();
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const Tree users = user_files();
  ASSERT_EQ(staged_order(kUpdate).size(), 6u);

  const std::string stopped_at = run_and_kill(archive, c.plan(*this));
  EXPECT_TRUE(matches(stopped_at, c.stops_at(*this))) << stopped_at;
  const Lines killed_log = log();
  ASSERT_FALSE(killed_log.empty());
  EXPECT_TRUE(matches(killed_log.back(), c.last_line)) << killed_log.back();
  EXPECT_EQ(user_files(), users);
  EXPECT_FALSE(stdfs::exists(started_));

  expect_a_second_run_applies(archive);
  EXPECT_EQ(user_files(), users);
}

INSTANTIATE_TEST_SUITE_P(Points, CrashPointEndToEnd, ::testing::ValuesIn(crash_points()),
                         [](const auto& info) { return info.param.name; });

// A run killed right after it moved an installed item to the backup, then a
// run whose swap fails (about 5 s): that run first puts the item back from the
// backup, so its undo restores the old form instead of removing the item.
TEST_F(CrashEndToEnd, AFailedRunAfterACrashKeepsTheItemTheCrashHadMovedOut) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const Lines all = changes();
  size_t out = 0;
  while (out < all.size() &&
         (path_of(all[out]).rfind(staging_text(), 0) == 0 || fn_of(all[out]) != "rename")) {
    ++out;
  }
  ASSERT_LT(out + 1, all.size());
  const std::string item = path_of(all[out]).substr(install_text().size() + 1);
  ASSERT_NE(path_of(all.back()), staging_text() + "/" + item);

  run_and_kill(archive, stop_before(all[out + 1]));
  ASSERT_FALSE(stdfs::exists(install_ / item));
  ASSERT_TRUE(stdfs::exists(install_ / ".update" / "backup" / item));

  const FaultPlan failing{{test::fail_always("rename", path_of(all.back()), EACCES)}, 0, {}};
  EXPECT_EQ(test::run_updater_with(args(archive), failing), 4);
  const Lines lines = log();
  // The killed run's mark says its swap did not finish.
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "restored " + item + " from an unfinished update"),
      lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "restored " + item), lines.end());
  // Its old form, as it was before the crash.
  const Tree now = installed_tree();
  for (const auto& [path, entry] : before_) {
    if (top_of(path) != item) continue;
    EXPECT_EQ(now.count(path) ? now.at(path) : "", entry) << path;
  }

  expect_a_second_run_applies(archive);
}

// A run killed mid-swap leaves its mark; the next one, killed while it puts
// the old forms back, leaves the mark too, so the third puts back what is
// left and then finishes the update. The folder item taken first is killed
// out of its place: cleared of its new form, its old form still in the
// backup.
TEST_F(CrashEndToEnd, AKillWhileAnUnfinishedSwapIsPutBackConverges) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  run_and_kill(archive, stop_before(after_the_move_in_of("typefaces")));
  ASSERT_EQ(read_file(install_ / "typefaces" / "new.ttf"), "new font");
  ASSERT_TRUE(stdfs::exists(install_ / ".update" / "swap-unfinished"));

  const std::string stopped =
      run_and_kill(archive, stop_at(test::pause_at("rename", 1, backup_text() + "/typefaces")));
  EXPECT_EQ(stopped, "rename " + backup_text() + "/typefaces");
  EXPECT_FALSE(stdfs::exists(install_ / "typefaces"));
  EXPECT_EQ(read_file(install_ / ".update" / "backup" / "typefaces" / "old.ttf"), "old font");
  EXPECT_EQ(user_files(), user_part(before_));

  expect_a_second_run_applies(archive);
  EXPECT_FALSE(stdfs::exists(install_ / ".update" / "swap-unfinished"));
}

// A move across file systems (here: ".update" on a file system of its own)
// copies beside its target under a temporary name and renames the copy into
// place. Killed between the two, the copy stays in the install folder until
// the next move of the same item clears it.
TEST_F(CrashEndToEnd, AMoveAcrossFileSystemsKilledBeforeItsLastStepConverges) {
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  test::ScopedTmpfs own(install_ / ".update", 16 << 20);
  ASSERT_TRUE(own.active());

  const std::string copy_pattern = install_text() + "/.*.zrk-move-*";
  const std::string stopped_at =
      run_and_kill(archive, stop_at(test::pause_at("rename", 1, copy_pattern)));
  ASSERT_TRUE(matches(stopped_at, "rename " + install_text() + "/.*")) << stopped_at;

  bool copy_left = false;
  for (const auto& [path, entry] : installed_tree()) {
    copy_left = copy_left || path.find(".zrk-move-") != std::string::npos;
  }
  EXPECT_TRUE(copy_left);

  EXPECT_EQ(test::run_updater(args(archive)), 0);
  EXPECT_EQ(installed_tree(), updated_tree());
}

// ---- power cuts -------------------------------------------------------------

// The install folder is an ext4 file system of its own. The first run stops
// at a point (or exits), the journal is committed as the kernel would within
// seconds, and the image is copied: what a power cut there leaves. The copy,
// checked and mounted, must hold a game that starts, and a second run on it
// must complete the update.
struct PowerCut {
  std::string name;
  const test::UpdaterHost* host;
  // What stops the first run; none: it runs to its end and must exit 0. With
  // `each_name_change`, rules that every run of the row is under.
  std::function<FaultPlan(const CrashEndToEnd&)> plan;
  // The call it must stop at, as for a crash point.
  std::function<std::string(const CrashEndToEnd&)> stops_at;
  // Cut before the swap's first name change and after each one, as a traced
  // run of the same update on the same file system makes them.
  bool each_name_change = false;
  // The game's program stands in the install folder at every cut; not so
  // where it takes two moves because no link can be made.
  bool game_in_place = true;
  bool read_only_game = false;
  // A run killed mid-swap goes first, so the cut run begins by putting its
  // old forms back.
  bool after_an_unfinished_swap = false;
};

class PowerCutEndToEnd : public CrashEndToEnd, public ::testing::WithParamInterface<PowerCut> {
 public:
  PowerCutEndToEnd() : CrashEndToEnd(*GetParam().host) {}

 protected:
  // Without loop devices, root or the ext4 tools the test skips, unless
  // ZRK_REQUIRE_POWER_CUT says it must run.
  void SetUp() override {
    const std::string missing = test::power_cut_unavailable();
    if (!missing.empty()) {
      if (std::getenv("ZRK_REQUIRE_POWER_CUT") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    disk_ = std::make_unique<test::ScopedExt4>(dir_ / "disk.img", install_, "game", 64 << 20);
    ASSERT_TRUE(disk_->active());
    same_file_system_ = disk_->spare();
    CrashEndToEnd::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(test::run_command({"sync", "-f", install_.string()}), 0);
  }

  // The install folder at `root` without its ".update" folder.
  static Tree tree_at(const stdfs::path& root) {
    Tree tree = test::snapshot_tree(root);
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.rfind(".update", 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  static Tree item_of(const Tree& tree, const std::string& name) {
    Tree item;
    for (const auto& [path, entry] : tree) {
      if (top_of(path) == name) item[path] = entry;
    }
    return item;
  }

  // What the cut left at `root`: the user's files as they were; each payload
  // item whole in its old or its new form, or, when missing, its old form
  // whole in the backup; the game's program in its place (unless told
  // otherwise), and new only beside every other item new; the marker only
  // beside exactly the new version.
  void expect_a_game_that_starts(const stdfs::path& root, const Tree& users,
                                 bool game_in_place) const {
    const Tree now = tree_at(root);
    EXPECT_EQ(user_part(now), users);
    const Tree backup = test::snapshot_tree(root / ".update" / "backup");
    const Tree updated = updated_tree();
    for (const char* name : kShippedPayload) {
      const Tree here = item_of(now, name);
      const Tree was = item_of(before_, name);
      if (here.empty()) {
        EXPECT_EQ(item_of(backup, name), was) << name << " is missing and not whole in the backup";
      } else {
        EXPECT_TRUE(here == was || here == item_of(updated, name))
            << name << " is neither its old nor its new form";
      }
    }
    const Tree game = item_of(now, game_exe_name());
    if (game_in_place) {
      EXPECT_FALSE(game.empty()) << "no game program in the install folder";
    }
    if (!game.empty() && game != item_of(before_, game_exe_name())) {
      for (const char* name : kShippedPayload) {
        EXPECT_EQ(item_of(now, name), item_of(updated, name))
            << "the new game beside an old " << name;
      }
    }
    const stdfs::path marker = root / ".update" / "applied.ok";
    if (stdfs::exists(marker)) {
      EXPECT_EQ(now, updated) << "applied.ok beside an incomplete update";
      EXPECT_EQ(read_file(marker), "applied update-7.tar.gz\n");
    }
  }

  // Version 1 again, as SetUp made it, on the device.
  void reinstall(bool read_only_game) {
    for (const auto& entry : stdfs::directory_iterator(install_)) stdfs::remove_all(entry.path());
    for (const auto& [path, entry] : before_) {
      if (entry == "dir") {
        stdfs::create_directories(install_ / path);
      } else {
        test::write_file(install_ / path, entry.substr(std::string("file:").size()));
      }
    }
    if (read_only_game) {
      stdfs::permissions(
          install_ / game_exe_name(),
          stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
          stdfs::perm_options::remove);
    }
    ASSERT_EQ(test::run_command({"sync", "-f", install_.string()}), 0);
  }

  // The swap's name changes as a run under `rules` makes them: links and
  // renames of a payload item in the install, staging or backup folder, as
  // "fn path", less the calls that a rule of `rules` fails every time.
  Lines traced_name_changes(const std::string& archive, FaultPlan rules) const {
    rules.trace = dir_ / "trace";
    EXPECT_EQ(test::run_updater_with(args(archive), rules), 0);
    Lines changes;
    std::string text = read_file(rules.trace);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string call = text.substr(at, end - at);
      const std::string fn = fn_of(call);
      const std::string path = path_of(call);
      const size_t cut = path.rfind('/');
      const std::string folder = path.substr(0, cut);
      const bool refused = std::any_of(rules.rules.begin(), rules.rules.end(), [&](const auto& r) {
        return r.fn == fn && r.pattern.empty() && r.error != 0;
      });
      if ((fn == "link" || fn == "rename") && !refused && is_payload_name(path.substr(cut + 1)) &&
          (folder == install_text() || folder == staging_text() || folder == backup_text())) {
        changes.push_back(call);
      }
    }
    return changes;
  }

  // Runs under `plan` until it stops at `stops_at` (or, without a pause
  // rule, to exit 0), cuts the power there, and checks what the device holds
  // and that a second run on it completes the update.
  void cut_and_check(const std::string& archive, const Tree& users, const FaultPlan* plan,
                     const std::string& stops_at, bool game_in_place, const std::string& tag) {
    const stdfs::path image = dir_ / ("cut" + tag + ".img");
    if (plan != nullptr) {
      test::FaultedRun run(args(archive), *plan);
      ASSERT_TRUE(run.wait_until_paused()) << "exit code " << run.wait();
      EXPECT_TRUE(matches(run.paused_at(), stops_at)) << run.paused_at();
      ASSERT_TRUE(disk_->cut_power(image));
    } else {
      ASSERT_EQ(run_host(args(archive)), 0);
      ASSERT_TRUE(disk_->cut_power(image));
    }

    const stdfs::path copy = dir_ / ("after the cut" + tag);
    test::ScopedExt4 restarted(image, copy, "game");
    ASSERT_TRUE(restarted.active());
    expect_a_game_that_starts(copy, users, game_in_place);
    if (plan == nullptr) {
      EXPECT_EQ(tree_at(copy), updated_tree()) << "exit 0 before the update was on the device";
    }

    Lines again = args(archive);
    again[1] = text(copy);
    EXPECT_EQ(run_host(again), 0);
    EXPECT_EQ(tree_at(copy), updated_tree());
    EXPECT_EQ(read_file(copy / ".update" / "applied.ok"), "applied update-7.tar.gz\n");
    EXPECT_EQ(user_part(tree_at(copy)), users);
  }

  std::unique_ptr<test::ScopedExt4> disk_;
};

TEST_P(PowerCutEndToEnd, LeavesAGameThatStartsOrThatTheNextRunCompletes) {
  const PowerCut& c = GetParam();
  const std::string archive = pack_update("update-7.tar.gz", kUpdate);
  const Tree users = user_files();
  if (c.after_an_unfinished_swap) {
    run_and_kill(archive, stop_before(after_the_move_in_of("typefaces")));
    ASSERT_TRUE(stdfs::exists(install_ / ".update" / "swap-unfinished"));
    ASSERT_EQ(test::run_command({"sync", "-f", install_.string()}), 0);
  }
  if (!c.each_name_change) {
    if (!c.plan) return cut_and_check(archive, users, nullptr, "", c.game_in_place, "");
    const FaultPlan plan = c.plan(*this);
    return cut_and_check(archive, users, &plan, c.stops_at(*this), c.game_in_place, "");
  }

  const FaultPlan rules = c.plan ? c.plan(*this) : FaultPlan{};
  reinstall(c.read_only_game);
  const Lines changes = traced_name_changes(archive, rules);
  ASSERT_EQ(changes.size(), 7u);  // three items out and in, a new one in
  const std::string marker = "open " + install_text() + "/.update/applied.ok";
  for (size_t cut = 0; cut <= changes.size(); ++cut) {
    const std::string next = cut < changes.size() ? changes[cut] : marker;
    SCOPED_TRACE(cut == 0 ? "before the first name change" : "after " + changes[cut - 1]);
    reinstall(c.read_only_game);
    FaultPlan plan = rules;
    plan.rules.push_back(test::pause_at(fn_of(next), 1, path_of(next)));
    cut_and_check(archive, users, &plan, next, c.game_in_place, std::to_string(cut));
    if (HasFatalFailure()) return;
  }
}

std::vector<PowerCut> power_cuts() {
  const test::UpdaterHost* linux = &test::linux_host();
  const auto refused_links = [](const CrashEndToEnd&) {
    return FaultPlan{{test::fail_always("link", "", EPERM)}, 0, {}};
  };
  return {
      {"AtEachNameChange", linux, nullptr, nullptr, true},
      // A file system without hard links: every item takes two moves.
      {"AtEachNameChangeWithoutLinks", linux, refused_links, nullptr, true, false},
      {"AtEachNameChangeReadOnlyGame", linux, nullptr, nullptr, true, true, true},
      {"InsideARollback", linux,
       [](const CrashEndToEnd& t) {
         return rollback_stopped_at(t, "rename", 1, t.backup_text() + "/*");
       },
       [](const CrashEndToEnd& t) { return "rename " + t.backup_text() + "/*"; }},
      {"AfterTheMarker", linux,
       [](const CrashEndToEnd&) { return stop_at(test::pause_at("unlinkat", 1)); },
       [](const CrashEndToEnd&) { return std::string("unlinkat *"); }},
      {"AfterTheCleanUp", linux,
       [](const CrashEndToEnd&) { return stop_at(test::pause_at("posix_spawn", 1)); },
       [](const CrashEndToEnd& t) { return "posix_spawn " + t.game_text(); }},
      {"AfterExitZero", linux, nullptr, nullptr},
      // Cut while a run puts back what a killed run left: the typefaces
      // cleared of their new form, their old form still in the backup.
      {"WhileAnUnfinishedSwapIsPutBack", linux,
       [](const CrashEndToEnd& t) {
         return stop_at(test::pause_at("rename", 1, t.backup_text() + "/typefaces"));
       },
       [](const CrashEndToEnd& t) { return "rename " + t.backup_text() + "/typefaces"; }, false,
       true, false, true},
      // Wine turns the Windows build's flushes into the host's own.
      {"AfterExitZeroUnderWine", &test::wine_host(), nullptr, nullptr},
  };
}

INSTANTIATE_TEST_SUITE_P(Points, PowerCutEndToEnd, ::testing::ValuesIn(power_cuts()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace zrk
