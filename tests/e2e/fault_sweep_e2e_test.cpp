// A sweep over the system calls of whole runs. A clean run of a .tar.gz and
// of a .zip update is traced with strace; then each traced call of the
// updater's disk and process work is failed in turn, through strace's own
// injection, and the run is judged by what it left: the exit code and the
// log's last line agree, the install is the old version or the new one whole
// unless the log says the rollback is INCOMPLETE, the game's program is
// always whole and never new beside an old payload item, user files and
// everything outside the install folder stay as they were, and a second run
// without faults applies the update.
//
// A call made many times is sampled (the first, the last and an even spread),
// and the calls on the payload items' own paths are targeted one by one
// through strace's path filter, so that none of them is left to the sample.
// CI fails each call once; ZRK_FULL_SWEEP=1 (tools/fault-sweep.sh) adds more
// errors and faults that last from the call on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/payload_fixture.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::Lines;
using test::Tree;

constexpr const char* kStrace = "/usr/bin/strace";
// Started at the end of each run; it is gone before the next one begins.
constexpr const char* kRelaunch = "/usr/bin/true";
// The updater's disk and process work; memory and signal calls are left out.
constexpr const char* kSwept =
    "openat,read,pread64,write,pwrite64,lseek,close,newfstatat,getdents64,mkdir,rename,link,"
    "unlink,unlinkat,rmdir,fsync,fdatasync,syncfs,clone3,execve,pidfd_open";
// Above this many calls of one kind on one path, only a sample is failed.
constexpr size_t kSampleAbove = 40;
constexpr size_t kSampleSize = 8;

struct TracedCall {
  int tid;
  std::string name;
  std::string text;  // the whole line as strace wrote it, with fd paths
};

// A call to fail: the `nth` call of `name` in a thread, counting only calls
// on `path` when one is given.
struct Target {
  std::string name;
  int nth;
  std::string path;
};

struct Fault {
  Target target;
  const char* error;
  bool lasting;  // every call from the nth on fails

  std::string describe() const {
    return target.name + "#" + std::to_string(target.nth) + (lasting ? "+" : "") +
           (target.path.empty() ? "" : " on " + target.path) + " " + error;
  }
};

std::vector<TracedCall> read_trace(const stdfs::path& file) {
  std::vector<TracedCall> calls;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int tid = 0;
    std::string rest;
    if (!(fields >> tid) || !std::getline(fields >> std::ws, rest)) continue;
    if (rest.rfind("<...", 0) == 0 || rest.rfind("---", 0) == 0 || rest.rfind("+++", 0) == 0) {
      continue;  // the end of a call already counted, a signal, an exit
    }
    const size_t paren = rest.find('(');
    if (paren == std::string::npos) continue;
    calls.push_back({tid, rest.substr(0, paren), rest});
  }
  return calls;
}

// A path as strace writes it: bytes outside printable ASCII in octal.
std::string as_traced(const std::string& path) {
  std::string text;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

bool touches(const TracedCall& call, const std::string& path) {
  const std::string traced = as_traced(path);
  return call.text.find("\"" + traced + "\"") != std::string::npos ||
         call.text.find("<" + traced + ">") != std::string::npos;
}

// The first, the last and an even spread of `all`, or all of them.
std::vector<Target> sample(const std::vector<Target>& all) {
  if (all.size() <= kSampleAbove) return all;
  std::vector<Target> some;
  for (size_t i = 0; i < kSampleSize; ++i)
    some.push_back(all[i * (all.size() - 1) / (kSampleSize - 1)]);
  return some;
}

// The targets of a traced run: every call of the main thread from the first
// one on the install folder (what came before is the program's loading), and
// every call on one of `paths` in any thread, counted the way strace's path
// filter counts them.
std::vector<Target> targets_of(const std::vector<TracedCall>& calls, const std::string& install,
                               const std::vector<std::string>& paths) {
  std::map<std::pair<std::string, std::string>, std::vector<Target>> groups;
  std::map<std::tuple<int, std::string, std::string>, int> counts;
  const int main_tid = calls.empty() ? 0 : calls.front().tid;
  bool started = false;
  for (const TracedCall& call : calls) {
    started = started || call.text.find(as_traced(install)) != std::string::npos;
    if (call.tid == main_tid) {
      const int nth = ++counts[{call.tid, call.name, ""}];
      if (started) groups[{"", call.name}].push_back({call.name, nth, ""});
    }
    for (const std::string& path : paths) {
      if (!touches(call, path)) continue;
      const int nth = ++counts[{call.tid, call.name, path}];
      groups[{path, call.name}].push_back({call.name, nth, path});
    }
  }
  std::vector<Target> targets;
  for (const auto& [group, all] : groups) {
    for (const Target& target : sample(all)) targets.push_back(target);
  }
  return targets;
}

// Every target fails once with EIO, and a flush or a read of the archive
// once with EINTR, which network file systems answer; the full sweep adds
// EIO from the call on and the other errors where they fit.
std::vector<Fault> faults_for(const Target& target, const std::string& archive, bool full) {
  static const std::map<std::string, std::vector<const char*>> kMore = {
      {"openat", {"EACCES", "ENOSPC", "EINTR"}},
      {"write", {"ENOSPC", "EINTR"}},
      {"pwrite64", {"ENOSPC", "EINTR"}},
      {"read", {"EINTR"}},
      {"pread64", {"EINTR"}},
      {"mkdir", {"EACCES", "ENOSPC"}},
      {"rename", {"EACCES", "ENOSPC"}},
      {"link", {"EACCES", "ENOSPC"}},
      {"unlink", {"EACCES"}},
      {"unlinkat", {"EACCES"}},
      {"rmdir", {"EACCES"}},
      {"fsync", {"EINTR"}},
      {"fdatasync", {"EINTR"}},
      {"syncfs", {"EINTR"}},
      {"execve", {"EACCES"}}};
  std::vector<Fault> faults{{target, "EIO", false}};
  const bool flush = target.name.find("sync") != std::string::npos;
  const bool archive_read = target.name.find("read") != std::string::npos && target.path == archive;
  if (!full) {
    if (flush || archive_read) faults.push_back({target, "EINTR", false});
    return faults;
  }
  faults.push_back({target, "EIO", true});
  const auto more = kMore.find(target.name);
  if (more != kMore.end()) {
    for (const char* error : more->second) faults.push_back({target, error, false});
  }
  return faults;
}

class FaultSweep : public test::PayloadFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    PayloadFixture::SetUp();
    if (IsSkipped()) return;
    if (!stdfs::exists(kStrace)) GTEST_SKIP() << "needs " << kStrace;
    stdfs::copy(install_, pristine_, stdfs::copy_options::recursive);
  }

  void reset_install() {
    stdfs::remove_all(install_);
    stdfs::copy(pristine_, install_, stdfs::copy_options::recursive);
    stdfs::remove(started_);
  }

  int run_traced(const std::vector<std::string>& strace_options) {
    // LeakSanitizer cannot run under ptrace; the sanitizer build's leaks are
    // looked for by every other test.
    std::vector<std::string> command{kStrace, "-f", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    command.insert(command.end(), strace_options.begin(), strace_options.end());
    command.push_back(ZRK_UPDATE_BINARY);
    for (const std::string& arg : args(archive_, kRelaunch)) command.push_back(arg);
    return test::run_command(command);
  }

  // Everything in the temporary folder but the install folder and the
  // relaunch program's record.
  Tree surroundings() const {
    Tree tree = test::snapshot_tree(dir_.path());
    const std::string install = install_.filename().string();
    const std::string record = stdfs::relative(started_, dir_.path()).generic_string();
    for (auto it = tree.begin(); it != tree.end();) {
      const bool skip = it->first == install || it->first.rfind(install + "/", 0) == 0 ||
                        it->first == record ||
                        it->first.rfind(pristine_.filename().string(), 0) == 0;
      it = skip ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  // The paths whose calls are each failed: the payload items in the install
  // folder, the staging and backup folders, the updater's own files, the
  // archive and the relaunch program.
  std::vector<std::string> watched_paths() const {
    std::vector<std::string> paths{install_.string(), archive_, kRelaunch};
    for (const char* below : {".update", ".update/update.log", ".update/applied.ok",
                              ".update/swap-unfinished", ".update/staging", ".update/backup"}) {
      paths.push_back((install_ / below).string());
    }
    for (const char* name : {"Z-Ravelkin.exe", "zravelkin.pak", "typefaces", "COPYING"}) {
      for (const char* folder : {"", ".update/staging", ".update/backup"}) {
        paths.push_back((install_ / folder / name).lexically_normal().string());
      }
    }
    return paths;
  }

  void judge(const Fault& fault, int code) {
    SCOPED_TRACE(fault.describe() + ", exit " + std::to_string(code));
    const Lines lines = log();
    const Tree now = installed_tree();
    const bool old_whole = now == before_;
    const bool new_whole = now == updated_tree();
    ASSERT_TRUE(code >= 0 && code <= 5) << "exit " << code;
    // The archive is sound: a fault on any other file is no reason to refuse it.
    if (!fault.target.path.empty() && fault.target.path != archive_) {
      EXPECT_NE(code, 3) << "a sound archive refused for a disk fault";
    }
    // A log line that could not be written is best effort: such a run is
    // judged by the disk alone.
    const bool log_whole = fault.target.path.find("update.log") == std::string::npos &&
                           fault.target.name.find("write") == std::string::npos;
    if (log_whole) {
      expect_said_as_it_is(code, lines, old_whole, new_whole);
    } else {
      EXPECT_TRUE(old_whole || new_whole) << "a half-changed install";
    }
    const std::string game = now.count("Z-Ravelkin.exe") ? now.at("Z-Ravelkin.exe") : "";
    EXPECT_TRUE(game == "file:game v1" || game == "file:game v2") << "game program: " << game;
    if (game == "file:game v2" && !said(lines, "the rollback is INCOMPLETE")) {
      EXPECT_TRUE(new_whole) << "new game, old payload";
    }
    EXPECT_EQ(now.at("saves/slot1.sav"), "file:level 7");
    EXPECT_EQ(now.at("settings.ini"), "file:volume=3");
    EXPECT_EQ(surroundings(), around_);
    // An interrupted call is asked again, so it changes nothing.
    if (std::string(fault.error) == "EINTR") {
      EXPECT_EQ(code, 0);
      EXPECT_FALSE(said(lines, "could not") || said(lines, "cannot")) << lines.back();
    }

    // The next run, unhindered, finishes the update from whatever was left.
    EXPECT_EQ(test::run_updater(args(archive_, kRelaunch)), 0);
    EXPECT_EQ(installed_tree(), updated_tree());
  }

  static bool said(const Lines& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }

  // The exit code and the log's last line agree, and the log says what
  // became of the install folder.
  static void expect_said_as_it_is(int code, const Lines& lines, bool old_whole, bool new_whole) {
    const std::string last = lines.empty() ? "" : lines.back();
    EXPECT_EQ(last.rfind("zrk-update: update applied, starting ", 0) == 0, code == 0) << last;
    EXPECT_EQ(last.rfind("zrk-update: the swap failed at ", 0) == 0, code == 4) << last;
    if (!said(lines, "installed ")) {
      EXPECT_TRUE(old_whole) << "changed without an installed line";
    }
    if (code == 0) {
      EXPECT_TRUE(new_whole);
    }
    if (code == 4 && said(lines, "the rollback is complete")) {
      EXPECT_TRUE(old_whole) << "a complete rollback that is not";
    }
    if (!old_whole && !new_whole) {
      EXPECT_TRUE(said(lines, "the rollback is INCOMPLETE")) << "a half-changed install, unsaid";
    }
  }

  static const ::testing::TestResult* result() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result();
  }

  const stdfs::path pristine_ = dir_ / "pristine";
  std::string archive_;
  Tree around_;
};

TEST_P(FaultSweep, NoFailingCallLosesTheGameOrLeavesItHalfChangedUnsaid) {
  archive_ = pack_update(GetParam(), test::kUpdate);
  const test::TempDir traces;
  const stdfs::path trace = traces / "clean.trace";
  ASSERT_EQ(run_traced({"-y", "-o", trace.string(), "-e", std::string("trace=") + kSwept}), 0);
  ASSERT_EQ(installed_tree(), updated_tree());
  around_ = surroundings();
  const std::vector<Target> targets =
      targets_of(read_trace(trace), install_.string(), watched_paths());
  ASSERT_GT(targets.size(), 100u);

  const bool full = std::getenv("ZRK_FULL_SWEEP") != nullptr;
  size_t runs = 0;
  int failures = 0;
  for (const Target& target : targets) {
    for (const Fault& fault : faults_for(target, archive_, full)) {
      reset_install();
      std::vector<std::string> options{"-o",
                                       "/dev/null",
                                       "-e",
                                       "trace=" + target.name,
                                       "-e",
                                       "inject=" + target.name + ":error=" + fault.error +
                                           ":when=" + std::to_string(target.nth) +
                                           (fault.lasting ? "+" : "")};
      if (!target.path.empty()) {
        options.push_back("-P");
        options.push_back(target.path);
      }
      const int code = run_traced(options);
      ++runs;
      const int parts = result()->total_part_count();
      judge(fault, code);
      if (result()->total_part_count() > parts && ++failures > 20) FAIL() << "too many failures";
    }
  }
  std::cout << "[ sweep    ] " << GetParam() << ": " << targets.size() << " calls, " << runs
            << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Archives, FaultSweep, ::testing::Values("update-7.tar.gz", "update-7.zip"),
                         [](const auto& info) {
                           return std::string(info.param).find("zip") != std::string::npos
                                      ? std::string("Zip")
                                      : std::string("Tarball");
                         });

}  // namespace
}  // namespace zrk
