// The real zrk-update binary on archives made by real tools: a zip update
// applied from end to end, and refused archives that leave the install folder
// exactly as it was.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zrk {
namespace {

using test::TempDir;
using Tree = std::map<std::string, std::string>;

class ArchiveEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_file(install_ / "Z-Ravelkin.exe", "game v1");
    test::write_file(install_ / "zravelkin.pak", "data v1");
    test::write_file(install_ / "saves" / "slot1.sav", "level 7");
    test::write_file(install_ / "settings.ini", "volume=3");
    test::write_file(game_, "#!/bin/sh\npwd > '" + (dir_ / "relaunched").string() + "'\n");
    std::filesystem::permissions(game_, std::filesystem::perms::owner_all);
    test::write_file(source_ / "Z-Ravelkin.exe", "game v2");
    test::write_file(source_ / "zravelkin.pak", "data v2");
    test::write_file(source_ / "typefaces" / "sans.ttf", "glyphs");
    test::write_file(source_ / "NOTES.txt", "not shipped");
  }

  // Runs a shell command line in the folder above the top folder, as a
  // developer making an update archive would.
  void make_archive(const std::string& command) {
    ASSERT_EQ(test::run_command({"sh", "-c", "cd '" + (dir_ / "src").string() + "' && " + command}),
              0)
        << command;
  }

  int run(const std::filesystem::path& archive) {
    return test::run_updater({"--install", install_.string(), "--archive", archive.string(),
                              "--pid", std::to_string(test::gone_pid()), "--relaunch",
                              game_.string()});
  }

  Tree install_tree() const {
    Tree tree = test::snapshot_tree(install_);
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.rfind(".update", 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  std::vector<std::string> log() const {
    return test::read_log_messages(install_ / ".update" / "update.log");
  }

  TempDir dir_;
  std::filesystem::path install_ = dir_ / "install";
  std::filesystem::path source_ = dir_ / "src" / "Z-Ravelkin";
  std::filesystem::path game_ = dir_ / "game.sh";
};

TEST_F(ArchiveEndToEnd, AZipUpdateIsAppliedAndUserFilesStayAsTheyWere) {
  make_archive("zip -qr ../update-7.zip Z-Ravelkin");
  ASSERT_EQ(run(dir_ / "update-7.zip"), 0);

  const Tree expected = {
      {"Z-Ravelkin.exe", "file:game v2"},
      {"zravelkin.pak", "file:data v2"},
      {"saves", "dir"},
      {"saves/slot1.sav", "file:level 7"},
      {"settings.ini", "file:volume=3"},
      {"typefaces", "dir"},
      {"typefaces/sans.ttf", "file:glyphs"},
  };
  EXPECT_EQ(install_tree(), expected);
  EXPECT_EQ(test::read_file(install_ / ".update" / "applied.ok"), "applied update-7.zip\n");
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "staging"));
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "backup"));
  ASSERT_TRUE(test::wait_for_file(dir_ / "relaunched"));

  const std::vector<std::string> lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "zrk-update: update applied, starting " + game_.string());
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "ignored NOTES.txt: not part of the shipped payload"),
      lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "zrk-update: swapping 4 staged item(s)"),
            lines.end());
}

TEST_F(ArchiveEndToEnd, RefusedArchivesLeaveTheInstallFolderUnchanged) {
  const struct {
    const char* archive;
    const char* command;  // run in the folder above Z-Ravelkin/
    const char* refusal;  // the extraction's line
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
  const Tree before = install_tree();
  for (const auto& c : kCases) {
    make_archive(c.command);
    const std::filesystem::path archive = dir_ / c.archive;
    EXPECT_EQ(run(archive), 3) << c.archive;
    EXPECT_EQ(install_tree(), before) << c.archive;
    const std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 2u);
    const std::string refusal =
        c.refusal != nullptr ? c.refusal : "cannot open " + archive.string() + " as a zip";
    EXPECT_EQ(lines[lines.size() - 2], refusal) << c.archive;
    EXPECT_EQ(lines.back(), "zrk-update: the archive was refused, the install folder is unchanged");
    EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "applied.ok"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "relaunched"));
  }
}

TEST_F(ArchiveEndToEnd, AnArchiveWithoutTheGameProgramIsRefusedWith3) {
  std::filesystem::remove(source_ / "Z-Ravelkin.exe");
  std::filesystem::create_directories(source_ / "Z-Ravelkin.exe");
  make_archive(
      "zip -qr ../folder.zip Z-Ravelkin && rm -r Z-Ravelkin/Z-Ravelkin.exe && "
      "tar -czf ../missing.tar.gz Z-Ravelkin");
  const Tree before = install_tree();
  for (const char* archive : {"folder.zip", "missing.tar.gz"}) {
    EXPECT_EQ(run(dir_ / archive), 3) << archive;
    EXPECT_EQ(install_tree(), before) << archive;
    EXPECT_EQ(log().back(),
              "zrk-update: the archive holds no Z-Ravelkin.exe, the install folder is unchanged");
    // The unpacked files stay in staging until the next run clears them.
    EXPECT_TRUE(std::filesystem::exists(install_ / ".update" / "staging" / "zravelkin.pak"));
  }
}

}  // namespace
}  // namespace zrk
