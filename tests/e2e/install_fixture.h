// What the end-to-end tests share: a temporary install folder, a relaunch
// program that records where it was started, and readers for the outcome.
// The host (the Linux build, or the Windows build under Wine) is a parameter.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/updater_host.h"
#include "support/test_support.h"

namespace zrk::test {

using Lines = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

class InstallFixture : public ::testing::Test {
 protected:
  explicit InstallFixture(const UpdaterHost& host = linux_host())
      : host_(host), available_(host.unavailable()), pid_(host.gone_pid()) {
    if (available_.empty()) game_ = host.install_game(game_dir_);
    started_ = game_dir_ / "started.txt";
  }

  // A host that cannot run here skips, unless ZRK_REQUIRE_WINE says the
  // Windows build must be tested.
  void SetUp() override {
    if (available_.empty()) return;
    if (std::getenv("ZRK_REQUIRE_WINE") != nullptr) FAIL() << available_;
    GTEST_SKIP() << available_;
  }

  // The path as the program is given it.
  std::string text(const std::filesystem::path& path) const { return host_.text(path); }

  int run_host(const Lines& command_line) const { return host_.run(command_line); }

  // The command line of a run; the pid names no process, so there is no wait.
  // An archive given as a string is passed as written.
  Lines args(const std::string& archive, const std::filesystem::path& relaunch) const {
    return {"--install", text(install_),       "--archive",  archive,
            "--pid",     std::to_string(pid_), "--relaunch", text(relaunch)};
  }
  Lines args(const std::string& archive) const { return args(archive, game_); }
  Lines args(const char* archive) const { return args(std::string(archive), game_); }
  Lines args(const std::filesystem::path& archive) const { return args(text(archive), game_); }

  // The lines every run that gets past the wait begins with.
  Lines opening_lines(const std::string& archive, const std::filesystem::path& relaunch) const {
    const std::string pid = std::to_string(pid_);
    return {"zrk-update: install " + text(install_),
            "zrk-update: archive " + archive,
            "zrk-update: relaunch " + text(relaunch),
            "zrk-update: waiting for pid " + pid,
            "pid " + pid + " is gone (error " + std::to_string(host_.gone_error()) + ")",
            "zrk-update: the game has exited"};
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

  // The game writes its record in more than one step, so the record is read
  // until it is complete or the time is up.
  bool game_started_in_install() const {
    const std::string expected = text(install_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::filesystem::exists(started_) && read_file(started_) == expected) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  const UpdaterHost& host_;
  const std::string available_;
  TempDir dir_;
  const std::filesystem::path install_ = dir_ / "Z Ravelkin \xC3\xA9t\xC3\xA9";
  const std::filesystem::path game_dir_ = dir_ / "game dir \xC3\xA9\xE5\xAD\x97";
  std::filesystem::path game_;
  std::filesystem::path started_;
  const int pid_;
};

// A fixture whose scenarios run on every host: instantiate it with
// INSTANTIATE_TEST_SUITE_P(Hosts, Name, ::testing::ValuesIn(all_hosts()), host_name).
template <class Fixture>
class OnEveryHost : public Fixture, public ::testing::WithParamInterface<const UpdaterHost*> {
 protected:
  OnEveryHost() : Fixture(*this->GetParam()) {}
};

}  // namespace zrk::test
