// What the end-to-end tests share: a temporary install folder, a relaunch
// program that records where it was started, and readers for the outcome.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk::test {

using Lines = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

class InstallFixture : public ::testing::Test {
 protected:
  InstallFixture() {
    write_file(game_, "#!/bin/sh\npwd > \"" + started_.string() + "\"\n");
    std::filesystem::permissions(game_, std::filesystem::perms::owner_all);
  }

  // The command line of a run; the pid names no process, so there is no wait.
  Lines args(const std::string& archive, const std::filesystem::path& relaunch) const {
    return {"--install", install_.string(),    "--archive",  archive,
            "--pid",     std::to_string(pid_), "--relaunch", relaunch.string()};
  }
  Lines args(const std::string& archive) const { return args(archive, game_); }

  // The lines every run that gets past the wait begins with.
  Lines opening_lines(const std::string& archive, const std::filesystem::path& relaunch) const {
    const std::string pid = std::to_string(pid_);
    return {"zrk-update: install " + install_.string(),  "zrk-update: archive " + archive,
            "zrk-update: relaunch " + relaunch.string(), "zrk-update: waiting for pid " + pid,
            "pid " + pid + " is gone (error 3)",         "zrk-update: the game has exited"};
  }

  Lines log() const { return read_log_messages(install_ / ".update" / "update.log"); }

  // The install folder without the updater's own ".update" folder.
  Tree installed_tree() const {
    Tree tree = snapshot_tree(install_);
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.rfind(".update", 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  bool game_started_in_install() const {
    return wait_for_file(started_) && read_file(started_) == install_.string() + "\n";
  }

  TempDir dir_;
  const std::filesystem::path install_ = dir_ / "Z Ravelkin \xC3\xA9t\xC3\xA9";
  const std::filesystem::path game_ = dir_ / "game.sh";
  const std::filesystem::path started_ = dir_ / "started.txt";
  const int pid_ = gone_pid();
};

}  // namespace zrk::test
