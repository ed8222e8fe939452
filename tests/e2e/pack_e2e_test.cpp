// zrk-pack through its binary: what it makes, zrk-update applies as it
// stands; the same tree gives the same bytes; a build folder the updater
// could not install whole gives no archive at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <functional>
#include <random>
#include <thread>

#include "e2e/updater_host.h"
#include "pack/deflate_pipeline.h"
#include "pack/gzip_members.h"
#include "support/fault_support.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

int run_pack(const std::vector<std::string>& args, std::string* output = nullptr) {
  std::vector<std::string> argv{ZRK_PACK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::run_command(argv, output);
}

// Under Wine, with no output: a Wine server it starts would hold our pipes.
int run_wine(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" </dev/null >/dev/null 2>&1",
                                ZRK_WINE_RUN};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::run_command(argv);
}

// Needs an extension header: one component is longer than a ustar name field.
const std::string kLongPath =
    "gpu-programs/" + std::string(60, 'a') + "/" + std::string(122, 'b') + ".bin";

class PackFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kLongPath.size(), 200u);
    test::write_file(build_ / "Z-Ravelkin.exe", "game v2");
    test::write_file(build_ / "zravelkin.pak", "");
    test::write_file(build_ / "typefaces/Ünïcødé-字体.ttf", "glyphs");
    fs::create_directories(build_ / "asset-rules/empty");
    test::write_file(build_ / kLongPath, "shader");
    test::write_file(build_ / "notes.txt", "left out");
  }

  // The build folder as an install folder gets it: the payload names only.
  Tree payload_tree() const {
    Tree tree = test::snapshot_tree(build_.path());
    tree.erase("notes.txt");
    return tree;
  }

  std::string create(const std::string& name, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{"create", "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(build_.path().string());
    args.push_back((out_ / name).string());
    std::string output;
    EXPECT_EQ(run_pack(args, &output), 0) << output;
    return test::read_file(out_ / name);
  }

  test::TempDir build_;
  test::TempDir out_;
};

class PackFormats : public PackFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(PackFormats, UpdaterAppliesWhatCreateMakes) {
  // Three zip chunks of one file, and an empty file after it.
  test::write_file(build_ / "zravelkin.pak", test::mixed_data(9u << 20, 5));
  test::write_file(build_ / "zrk-extract.exe", "");
  // The game's program keeps its execute bit; a data file stays without one.
  fs::permissions(build_ / "Z-Ravelkin.exe", fs::perms::owner_exec, fs::perm_options::add);
  fs::permissions(build_ / "zravelkin.pak", fs::perms::owner_read | fs::perms::owner_write);
  create(GetParam());
  test::TempDir install;
  const int code = test::run_updater({"--install", install.path().string(), "--archive",
                                      (out_ / GetParam()).string(), "--pid",
                                      std::to_string(test::gone_pid()), "--relaunch", "/bin/true"});
  EXPECT_EQ(code, 0);
  Tree installed = test::snapshot_tree(install.path());
  for (auto it = installed.begin(); it != installed.end();) {
    it = it->first.rfind(".update", 0) == 0 ? installed.erase(it) : std::next(it);
  }
  EXPECT_EQ(installed, payload_tree());
  EXPECT_EQ(test::executable_files(install.path()), (std::set<std::string>{"Z-Ravelkin.exe"}));
}

// Same tree, same bytes: again, with other file times, on other thread counts.
TEST_P(PackFormats, BytesDependOnlyOnTheTree) {
  // Two gzip members and two zip chunks of one file, so the threads have
  // work to share; then an empty file. At the quickest level, which every
  // run must pass on to its threads alike.
  std::string pak(std::max(kDeflateChunkInput, kGzipMemberInput) + 4096, '\0');
  std::mt19937 random(7);
  for (char& c : pak) c = static_cast<char>('a' + random() % 16);
  test::write_file(build_ / "zravelkin.pak", pak);
  test::write_file(build_ / "zrk-extract.exe", "");
  test::write_file(build_ / "zrk-update.exe", test::mixed_data(256u << 10, 9));
  const auto with_level = [](std::vector<std::string> options) {
    options.insert(options.begin(), {"--level", "1"});
    return options;
  };
  const std::string first = create(GetParam(), with_level({"--jobs", "1"}));
  // Only whether a file may be run counts, not who may.
  fs::permissions(build_ / "zravelkin.pak", fs::perms::owner_read | fs::perms::owner_write);
  for (const auto& entry : fs::recursive_directory_iterator(build_.path())) {
    fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(50));
  }
  // Compared whole; a failure prints no megabytes of archive.
  EXPECT_TRUE(create(GetParam(), with_level({"--jobs", "4"})) == first);
  EXPECT_TRUE(create(GetParam(), with_level({})) == first);
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  const std::string dated = create(GetParam(), with_level({}));
  EXPECT_TRUE(create(GetParam(), with_level({"--jobs", "3"})) == dated);
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_TRUE(dated != first);
}

INSTANTIATE_TEST_SUITE_P(Both, PackFormats, ::testing::Values("u.tar.gz", "u.zip"),
                         [](const auto& info) {
                           return std::string(info.param).find("zip") != std::string::npos
                                      ? "zip"
                                      : "tarball";
                         });

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

struct RefusedRow {
  const char* what;
  std::function<void(const fs::path&)> spoil;
  std::vector<std::string> lines;  // on stderr, in this order
  // What "{n}" in a line stands for: the tarball's count, then the zip's.
  std::pair<const char*, const char*> counts = {"", ""};
  // On stdout, before the lines.
  std::string left_out = "left out notes.txt (not a payload name)\n";
  std::vector<const char*> archives = {"u.tar.gz", "u.zip"};
};

std::string replace_n(std::string line, const std::string& n) {
  const std::size_t at = line.find("{n}");
  return at == std::string::npos ? line : line.replace(at, 3, n);
}

const std::string kOnly = "; the updater installs only files and folders";

const RefusedRow kRefusedRows[] = {
    {"no game program",
     [](const fs::path& b) { fs::remove(b / "Z-Ravelkin.exe"); },
     {"the build folder holds no regular file Z-Ravelkin.exe"}},
    {"game program is a folder",
     [](const fs::path& b) {
       fs::remove(b / "Z-Ravelkin.exe");
       fs::create_directory(b / "Z-Ravelkin.exe");
     },
     {"the build folder holds no regular file Z-Ravelkin.exe"}},
    {"every problem at once",
     [](const fs::path& b) {
       test::write_file(b / "typefaces/a:b.ttf", "");
       test::write_file(b / "typefaces/back\\slash", "");
       test::write_file(b / "typefaces/CON.txt", "");
       fs::create_symlink("/etc", b / "typefaces/etc");
       fs::create_symlink("Z-Ravelkin.exe", b / "COPYING");
       ::mkfifo((b / "asset-rules/pipe").c_str(), 0644);
       test::write_file(b / "typefaces/Sans.ttf", "");
       test::write_file(b / "typefaces/SANS.ttf", "");
     },
     {"Z-Ravelkin/COPYING is a link" + kOnly,
      "Z-Ravelkin/asset-rules/pipe is a device, FIFO or socket" + kOnly,
      "Z-Ravelkin/typefaces/etc is a link" + kOnly,
      "refused Z-Ravelkin/typefaces/CON.txt: member path has a reserved device name",
      "refused Z-Ravelkin/typefaces/Sans.ttf: another member's path differs only in letter case",
      "refused Z-Ravelkin/typefaces/a:b.ttf: member path has a drive letter",
      "refused Z-Ravelkin/typefaces/back\\slash: member path has a backslash"}},
    {"the folder above the game's",
     [](const fs::path& b) {
       // The build folder may be a mount point, which cannot move itself.
       const fs::path inner = b / "Z-Ravelkin";
       fs::create_directory(inner);
       for (const fs::directory_entry& entry : fs::directory_iterator(b)) {
         if (entry.path() != inner) fs::rename(entry.path(), inner / entry.path().filename());
       }
     },
     {"the build folder holds no regular file Z-Ravelkin.exe (did you mean {build}/Z-Ravelkin?)"},
     {"", ""},
     "left out Z-Ravelkin (not a payload name)\n"},
    {"past the expansion cap",
     [](const fs::path& b) { fs::resize_file(b / "zravelkin.pak", (2ull << 30) + 1); },
     {"the archive would hold {n} bytes of data; the updater takes at most 2147483648 (2 GiB)"},
     {"2147484401", "2147483668"}},
    {"past the member limit",
     [](const fs::path& b) {
       // One folder of 19,998 hard links to one file, quicker to make than
       // new files, seen at ten places through bind mounts.
       const fs::path first = b / "CREDITS" / "0";
       test::write_file(first / "0", "");
       for (int i = 1; i < 19998; ++i) fs::create_hard_link(first / "0", first / std::to_string(i));
       for (int i = 1; i < 10; ++i) {
         const fs::path other = b / "CREDITS" / std::to_string(i);
         fs::create_directory(other);
         ASSERT_EQ(::mount(first.c_str(), other.c_str(), nullptr, MS_BIND, nullptr), 0) << other;
       }
     },
     {"the archive would have {n} members; the updater takes at most 200000"},
     {"200002", ""},
     "left out notes.txt (not a payload name)\n",
     // The zip's count is the reader's too (PackWriters.CountsAreWhatTheUpdaterCounts).
     {"u.tar.gz"}},
};

TEST_F(PackFixture, RefusedBuildFoldersListEveryProblemAndLeaveNoArchive) {
  for (const RefusedRow& row : kRefusedRows) {
    SCOPED_TRACE(row.what);
    test::TempDir build;
    // In memory: the member limit's 200,000 names are made and go at once.
    const test::ScopedTmpfs memory(build.path(), 64 << 20);
    ASSERT_TRUE(memory.active());
    fs::copy(build_.path(), build.path(), fs::copy_options::recursive);
    row.spoil(build.path());
    for (const char* name : row.archives) {
      std::string output;
      EXPECT_EQ(run_pack({"create", build.path().string(), (out_ / name).string()}, &output), 3);
      const bool zip = std::string(name) == "u.zip";
      std::string expected = row.left_out;
      for (const std::string& line : row.lines) {
        expected += replace_all(replace_n(line, zip ? row.counts.second : row.counts.first),
                                "{build}", build.path().string()) +
                    "\n";
      }
      EXPECT_EQ(output, expected + "no archive written\n");
      EXPECT_TRUE(fs::is_empty(out_.path()));
    }
  }
}

struct MessageRow {
  const char* what;
  std::function<void(const fs::path& build, const fs::path& out)> prepare;
  // A shell command run in the output folder: {pack} is zrk-pack, {build}
  // the build folder.
  std::string command;
  int exit_code;
  std::string output;  // stdout and stderr together
};

const std::string kLitter = " (left by a system or tool, not the game)\n";
const std::string kTtf = "typefaces/Ünïcødé-字体.ttf";

void add_litter(const fs::path& b) {
  test::write_file(b / "typefaces/.DS_Store", "");
  test::write_file(b / "typefaces/._Sans.ttf", "");
  test::write_file(b / "asset-rules/empty/Thumbs.db", "");
  test::write_file(b / "gpu-programs/.git/HEAD", "ref");
}

const MessageRow kMessageRows[] = {
    {"an unknown command", nullptr, "{pack} frobnicate", 2,
     "unknown command frobnicate (use create or check)\n"},
    {"a missing archive to check", nullptr, "{pack} check missing.zip", 5,
     "cannot read missing.zip: No such file or directory\n"},
    {"a missing archive to check, as JSON", nullptr, "{pack} check --json missing.tar.gz", 5,
     "{\"verdict\":\"refused\",\"exit_code\":5,\"lines\":[\"cannot read missing.tar.gz: No such "
     "file or directory\"],\"members\":0,\"bytes\":0,\"payload\":[],\"ignored\":[],\"skipped\":[],"
     "\"notes\":[]}\n"},
    {"a missing output folder, tarball", nullptr,
     "{pack} create --quiet {build} nosuchdir/u.tar.gz", 5,
     "left out notes.txt (not a payload name)\n"
     "cannot write nosuchdir/u.tar.gz: No such file or directory\n"},
    {"a missing output folder, zip", nullptr, "{pack} create --quiet {build} nosuchdir/u.zip", 5,
     "left out notes.txt (not a payload name)\n"
     "cannot write nosuchdir/u.zip: No such file or directory\n"},
    {"an archive that stands there is replaced",
     [](const fs::path&, const fs::path& out) { test::write_file(out / "u.tar.gz", "old"); },
     "{pack} create --quiet {build} u.tar.gz", 0,
     "left out notes.txt (not a payload name)\n"
     "the update would apply: 9 member(s), 19 byte(s); payload: Z-Ravelkin.exe, asset-rules, "
     "gpu-programs, typefaces, zravelkin.pak\n"
     "replacing u.tar.gz\nwrote u.tar.gz\n"},
    {"litter at any depth is left out", [](const fs::path& b, const fs::path&) { add_litter(b); },
     "{pack} create --quiet {build} u.tar.gz >/dev/null && tar -tzf u.tar.gz | grep -c /", 0,
     "10\n"},
    {"litter is named as it is left out", [](const fs::path& b, const fs::path&) { add_litter(b); },
     "{pack} create --quiet {build} u.zip | grep 'left out'", 0,
     "left out asset-rules/empty/Thumbs.db" + kLitter + "left out gpu-programs/.git" + kLitter +
         "left out notes.txt (not a payload name)\n"
         "left out typefaces/.DS_Store" +
         kLitter + "left out typefaces/._Sans.ttf" + kLitter},
    {"--keep-litter keeps it, and check notes it",
     [](const fs::path& b, const fs::path&) { add_litter(b); },
     "{pack} create --quiet --keep-litter {build} u.zip >/dev/null && {pack} check u.zip", 0,
     "note: asset-rules/empty/Thumbs.db would be installed, but it was left by a system or tool, "
     "not the game\n"
     "note: gpu-programs/.git would be installed, but it was left by a system or tool, not the "
     "game\n"
     "note: typefaces/.DS_Store would be installed, but it was left by a system or tool, not the "
     "game\n"
     "note: typefaces/._Sans.ttf would be installed, but it was left by a system or tool, not the "
     "game\n"
     "the update would apply: 14 member(s), 22 byte(s); payload: Z-Ravelkin.exe, asset-rules, "
     "gpu-programs, typefaces, zravelkin.pak\n"},
    {"check notes litter in an archive made by tar",
     [](const fs::path& b, const fs::path& out) {
       fs::create_directories(out / "src");
       fs::copy(b, out / "src" / "Z-Ravelkin", fs::copy_options::recursive);
       test::write_file(out / "src/Z-Ravelkin/typefaces/.DS_Store", "");
     },
     "tar -C src -czf t.tar.gz Z-Ravelkin && {pack} check --json t.tar.gz | grep -o "
     "'\"notes\":.*'",
     0,
     "\"notes\":[\"note: typefaces/.DS_Store would be installed, but it was left by a system or "
     "tool, not the game\"]}\n"},
    {"--exclude, by name and by path", nullptr,
     "{pack} create --quiet --exclude '*.ttf' --exclude 'gpu-programs/a*' {build} u.zip", 0,
     "left out gpu-programs/" + std::string(60, 'a') +
         " (matches --exclude gpu-programs/a*)\n"
         "left out notes.txt (not a payload name)\n"
         "left out " +
         kTtf +
         " (matches --exclude *.ttf)\n"
         "the update would apply: 6 member(s), 7 byte(s); payload: Z-Ravelkin.exe, asset-rules, "
         "gpu-programs, typefaces, zravelkin.pak\n"
         "wrote u.zip\n"},
};

TEST_F(PackFixture, EachMessageIsOneClearLine) {
  for (const MessageRow& row : kMessageRows) {
    SCOPED_TRACE(row.what);
    test::TempDir build;
    test::TempDir out;
    fs::copy(build_.path(), build.path(), fs::copy_options::recursive);
    if (row.prepare) row.prepare(build.path(), out.path());
    const std::string command = replace_all(replace_all(row.command, "{pack}", ZRK_PACK_BINARY),
                                            "{build}", build.path().string());
    std::string output;
    EXPECT_EQ(test::run_shell_in(out.path(), command, &output), row.exit_code);
    EXPECT_EQ(output, row.output);
  }
}

// Ctrl-C while the archive is written: neither it nor any temporary copy
// stays (libzip writes through a copy of its own beside the archive).
TEST_P(PackFormats, InterruptLeavesNothing) {
  std::string pak(64u << 20, '\0');
  std::mt19937 random(11);
  for (char& c : pak) c = static_cast<char>(random());
  test::write_file(build_ / "zravelkin.pak", pak);
  test::ChildProcess pack({ZRK_PACK_BINARY, "create", "--quiet", "--level", "9",
                           build_.path().string(), (out_ / GetParam()).string()});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fs::is_empty(out_.path()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(fs::is_empty(out_.path())) << "nothing was being written";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(pack.pid(), SIGINT);
  EXPECT_EQ(pack.wait(), 130);
  EXPECT_TRUE(fs::is_empty(out_.path()));
}

// The Windows build makes the same bytes, and its check agrees.
TEST_F(PackFixture, WindowsBuildMakesTheSameArchive) {
  const std::string why = test::wine_host().unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  const fs::path exe = fs::path(ZRK_WINDOWS_BUILD) / "zrk-pack.exe";
  if (!fs::exists(exe)) GTEST_SKIP() << "no " << exe;
  for (const char* name : {"u.tar.gz", "u.zip"}) {
    SCOPED_TRACE(name);
    const std::string linux_bytes = create(name);
    const std::string windows_name = std::string("w") + name;
    const auto text = [](const fs::path& path) { return test::wine_host().text(path); };
    EXPECT_EQ(run_wine({exe.string(), "create", "--quiet", text(build_.path()),
                        text(out_ / windows_name)}),
              0);
    EXPECT_TRUE(test::read_file(out_ / windows_name) == linux_bytes);
    EXPECT_EQ(run_wine({exe.string(), "check", text(out_ / windows_name)}), 0);
  }
}

}  // namespace
}  // namespace zrk
