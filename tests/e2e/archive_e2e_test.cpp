// The real zrk-update binary on archives made by real tools: a zip update
// applied from end to end, and refused archives that leave the install folder
// exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "e2e/install_fixture.h"

namespace zrk {
namespace {

using test::Lines;
using test::Tree;

class ArchiveEndToEnd : public test::InstallFixture {
 protected:
  using InstallFixture::InstallFixture;

  void SetUp() override {
    InstallFixture::SetUp();
    if (IsSkipped()) return;
    test::write_file(install_ / "Z-Ravelkin.exe", "game v1");
    test::write_file(install_ / "zravelkin.pak", "data v1");
    test::write_file(install_ / "saves" / "slot1.sav", "level 7");
    test::write_file(install_ / "settings.ini", "volume=3");
    test::write_file(source_ / "Z-Ravelkin.exe", "game v2");
    test::write_file(source_ / "zravelkin.pak", "data v2");
    test::write_file(source_ / "typefaces" / "sans.ttf", "glyphs");
    test::write_file(source_ / "NOTES.txt", "not shipped");
  }

  // Runs a shell command line in the folder above the top folder, as a
  // developer making an update archive would.
  void make_archive(const std::string& command) {
    ASSERT_EQ(test::run_shell_in(dir_ / "src", command), 0) << command;
  }

  int run(const std::filesystem::path& archive) { return run_host(args(archive)); }

  std::filesystem::path source_ = dir_ / "src" / "Z-Ravelkin";
};

using ArchiveOnEveryHost = test::OnEveryHost<ArchiveEndToEnd>;
INSTANTIATE_TEST_SUITE_P(Hosts, ArchiveOnEveryHost, ::testing::ValuesIn(test::all_hosts()),
                         test::host_name);

// The archive's name, like the install folder's, is not ASCII.
TEST_P(ArchiveOnEveryHost, AZipUpdateIsAppliedAndUserFilesStayAsTheyWere) {
  make_archive("zip -qr '../mise \xC3\xA0 jour 7.zip' Z-Ravelkin");
  ASSERT_EQ(run(dir_ / "mise \xC3\xA0 jour 7.zip"), 0);

  const Tree expected = {
      {"Z-Ravelkin.exe", "file:game v2"},
      {"zravelkin.pak", "file:data v2"},
      {"saves", "dir"},
      {"saves/slot1.sav", "file:level 7"},
      {"settings.ini", "file:volume=3"},
      {"typefaces", "dir"},
      {"typefaces/sans.ttf", "file:glyphs"},
  };
  EXPECT_EQ(installed_tree(), expected);
  EXPECT_EQ(test::read_file(install_ / ".update" / "applied.ok"),
            "applied mise \xC3\xA0 jour 7.zip\n");
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "staging"));
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "backup"));
  EXPECT_TRUE(game_started_in_install());

  const Lines lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "zrk-update: update applied, starting " + text(game_));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "zrk-update: swapping 4 staged item(s)"),
            lines.end());
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "ignored NOTES.txt: not part of the shipped payload"),
      lines.end());
}

// Update archives as publishers make them with what is at hand: libarchive's
// zips (Windows' tar.exe, CMake) and Info-ZIP writing to a pipe carry data
// descriptors, bsdtar pads what it writes to a pipe to whole blocks, forced
// Zip64 puts the directory's place and the sizes in Zip64 records, Go's GNU
// form keeps times where ustar keeps the prefix, and npm's tar-stream names
// folders without the slash.
TEST_P(ArchiveOnEveryHost, ArchivesOfEverydayWritersApply) {
  const std::filesystem::path typefaces = source_ / "typefaces";
  test::write_file(typefaces /
                       "donn\xC3\xA9"
                       "es" /
                       "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9t\xC3\xA9.ttf",
                   "glyphs of another script");
  test::write_file(typefaces / "empty.ttf", "");
  std::filesystem::create_directories(typefaces / "empty");
  // A member path of 160 bytes.
  test::write_file(typefaces / std::string(80, 'l') / (std::string(54, 'm') + ".ttf"), "long");
  Tree expected;
  for (const auto& [path, kind] : test::snapshot_tree(source_)) {
    if (path != "NOTES.txt") expected[path] = kind;
  }
  expected["saves"] = "dir";
  expected["saves/slot1.sav"] = "file:level 7";
  expected["settings.ini"] = "file:volume=3";
  const Tree before = installed_tree();

  const std::string go_cache = (dir_ / "go").string();
  const struct {
    const char* writer;
    const char* tool;
    const char* archive;
    std::string command;  // run in the folder above Z-Ravelkin/
  } kWriters[] = {
      {"bsdtar, zip", "bsdtar", "bsdtar.zip", "bsdtar --format=zip -cf ../bsdtar.zip Z-Ravelkin"},
      {"cmake -E tar, zip", "cmake", "cmake.zip",
       "cmake -E tar cf ../cmake.zip --format=zip Z-Ravelkin"},
      {"Info-ZIP to a pipe", "zip", "pipe.zip", "zip -qr - Z-Ravelkin | cat > ../pipe.zip"},
      {"bsdtar to a pipe", "bsdtar", "bsdtar-pipe.zip",
       "bsdtar --format=zip -cf - Z-Ravelkin | cat > ../bsdtar-pipe.zip"},
      {"bsdtar to a pipe, Zip64", "bsdtar", "bsdtar-zip64.zip",
       "bsdtar --format=zip --options zip:zip64 -cf - Z-Ravelkin | cat > ../bsdtar-zip64.zip"},
      {"Info-ZIP, Zip64 forced", "zip", "zip64.zip", "zip -qr -fz ../zip64.zip Z-Ravelkin"},
      // Offline, with a build cache of its own.
      {"Go, GNU form", "go", "go.tar.gz",
       "env GOPATH='" + go_cache + "' GOCACHE='" + go_cache + "/cache' GOFLAGS=-mod=mod " +
           "GOPROXY=off GOTOOLCHAIN=local go run '" + test::tool_path("gnu_tar.go") +
           "' ../go.tar.gz Z-Ravelkin"},
      {"folders without the slash", "python3", "slashless.tgz",
       "python3 '" + test::tool_path("make_tarball.py") +
           "' ../slashless.tgz gnu --tree . --slashless-folders"},
  };
  std::string missing;
  for (const auto& w : kWriters) {
    SCOPED_TRACE(w.writer);
    if (test::run_shell_in(dir_.path(), std::string("command -v ") + w.tool + " >/dev/null") != 0) {
      missing += std::string(" ") + w.tool;
      continue;
    }
    make_archive(w.command);
    std::filesystem::remove_all(install_ / ".update");
    const int exit_code = run(dir_ / w.archive);
    const test::Lines lines = log();
    EXPECT_EQ(exit_code, 0) << (lines.size() > 1 ? lines[lines.size() - 2] : "");
    EXPECT_EQ(installed_tree(), exit_code == 0 ? expected : before);
    if (exit_code == 0) {
      EXPECT_EQ(lines.back(), "zrk-update: update applied, starting " + text(game_));
    }

    // Back to the old version for the next writer.
    std::filesystem::remove_all(install_ / "typefaces");
    test::write_file(install_ / "Z-Ravelkin.exe", "game v1");
    test::write_file(install_ / "zravelkin.pak", "data v1");
    ASSERT_EQ(installed_tree(), before);
  }
  if (!missing.empty()) GTEST_SKIP() << "writers not installed:" << missing;
}

// The game's program as GNU tar and Info-ZIP pack it on Linux, mode 0755: it
// is installed executable and started from the install folder; data files
// stay without an execute bit.
TEST_F(ArchiveEndToEnd, AnExecutableGameProgramIsInstalledExecutableAndStarted) {
  const std::filesystem::path game = source_ / "Z-Ravelkin.exe";
  test::write_file(game, "#!/bin/sh\npwd > started-by-game.txt\n");
  std::filesystem::permissions(game,
                               std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  const struct {
    const char* archive;
    const char* command;  // run in the folder above Z-Ravelkin/
  } kWriters[] = {
      {"program.tar.gz", "tar -czf ../program.tar.gz Z-Ravelkin"},
      {"program.zip", "zip -qr ../program.zip Z-Ravelkin"},
  };
  for (const auto& w : kWriters) {
    SCOPED_TRACE(w.archive);
    make_archive(w.command);
    const std::filesystem::path record = install_ / "started-by-game.txt";
    std::filesystem::remove(record);
    EXPECT_EQ(run_host(args(text(dir_ / w.archive), install_ / "Z-Ravelkin.exe")), 0)
        << log().back();
    EXPECT_EQ(test::executable_files(install_), (std::set<std::string>{"Z-Ravelkin.exe"}));
    // The shell makes the file before it writes the line.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((!std::filesystem::exists(record) || test::read_file(record).empty()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(std::filesystem::exists(record) ? test::read_file(record) : "",
              install_.string() + "\n");
  }
}

TEST_P(ArchiveOnEveryHost, RefusedArchivesLeaveTheInstallFolderUnchanged) {
  const struct {
    const char* archive;
    const char* command;  // run in the folder above Z-Ravelkin/
    const char* refusal;  // the extraction's line; null: the zip cannot be opened
  } kCases[] = {
      {"escape.tar.gz",
       "python3 -c \"import tarfile; t = tarfile.open('../escape.tar.gz', 'w:gz'); "
       "t.add('Z-Ravelkin/Z-Ravelkin.exe'); t.add('Z-Ravelkin/NOTES.txt', 'Z-Ravelkin/../evil'); "
       "t.close()\"",
       "refused Z-Ravelkin/../evil: member path has an empty, . or .. component"},
      {"inside.tgz", "cd Z-Ravelkin && tar -czf ../../inside.tgz .",
       "refused ./: member path is outside the Z-Ravelkin/ folder"},
      {"secret.zip", "zip -q -P hunter2 -r ../secret.zip Z-Ravelkin",
       "the zip has an encrypted member"},
      {"plain.zip", "tar -czf ../plain.zip Z-Ravelkin", nullptr},
  };
  const Tree before = installed_tree();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.archive);
    make_archive(c.command);
    const std::filesystem::path archive = dir_ / c.archive;
    EXPECT_EQ(run(archive), 3);
    EXPECT_EQ(installed_tree(), before);
    const Lines lines = log();
    ASSERT_GE(lines.size(), 2u);
    const std::string refusal =
        c.refusal != nullptr ? c.refusal : "cannot open " + text(archive) + " as a zip";
    EXPECT_EQ(
        Lines(lines.end() - 2, lines.end()),
        (Lines{refusal, "zrk-update: the archive was refused, the install folder is unchanged"}));
    EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "applied.ok"));
  }
  EXPECT_FALSE(std::filesystem::exists(started_));
}

}  // namespace
}  // namespace zrk
