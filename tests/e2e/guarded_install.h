// Runs of the real binary on archives that may be hostile, watched from
// outside: the folder around the install folder, with a sibling folder that
// absolute and climbing member names aim at, must come out exactly as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "e2e/install_fixture.h"
#include "support/extract_contract.h"

namespace zrk::test {

class GuardedInstall : public InstallFixture {
 protected:
  GuardedInstall() {
    write_file(sibling_ / "secret.txt", "keep out");
    reset_install();
  }

  // The installed game before any update.
  static Tree first_version() {
    return {{"Z-Ravelkin.exe", "file:game v1"},
            {"zravelkin.pak", "file:data v1"},
            {"saves", "dir"},
            {"saves/slot1.sav", "file:level 7"}};
  }

  void reset_install() {
    std::filesystem::remove_all(install_);
    for (const auto& [path, content] : first_version()) {
      if (content == "dir") {
        std::filesystem::create_directories(install_ / path);
      } else {
        write_file(install_ / path, content.substr(5));
      }
    }
  }

  struct Outcome {
    int exit_code = -1;
    Lines log;
    std::uintmax_t staged_bytes = 0;
  };

  // One run from a fresh install folder. Checks what holds for any archive:
  // the exit code is 0, 3 or 5; nothing outside the install folder changed;
  // ".update" holds only the log, the staging folder after a refusal and the
  // marker after success; what was staged is only folders and files at paths
  // the rules allow; a refusal leaves the installed files as they were.
  Outcome run_guarded(const std::filesystem::path& archive) {
    reset_install();
    const Tree around = surroundings();
    Outcome outcome;
    outcome.exit_code = run_updater(args(archive.string(), "/bin/true"));
    outcome.log = log();
    const int code = outcome.exit_code;
    EXPECT_TRUE(code == 0 || code == 3 || code == 5) << "exit code " << code;
    EXPECT_EQ(surroundings(), around);

    const std::filesystem::path update_dir = install_ / ".update";
    for (const auto& entry : std::filesystem::directory_iterator(update_dir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "update.log" || (name == "staging" && code != 0) ||
                  (name == "applied.ok" && code == 0))
          << "left in .update: " << name;
    }
    outcome.staged_bytes = expect_staged_tree_allowed(update_dir / "staging");
    if (code != 0) {
      EXPECT_EQ(installed_tree(), first_version());
      EXPECT_TRUE(outcome.log.size() >= 2 &&
                  outcome.log.back().rfind("zrk-update: the archive ", 0) == 0)
          << (outcome.log.empty() ? "no log" : outcome.log.back());
    } else {
      expect_staged_tree_allowed(install_);  // no link anywhere in the install folder
    }
    return outcome;
  }

  // The extraction's last line: the one before the run's closing line.
  static std::string refusal(const Outcome& outcome) {
    return outcome.log.size() >= 2 ? outcome.log[outcome.log.size() - 2] : "";
  }

  // Everything in the temporary folder but the install folder.
  Tree surroundings() const {
    Tree tree = snapshot_tree(dir_.path());
    const std::string install = install_.filename().string();
    for (auto it = tree.begin(); it != tree.end();) {
      const bool inside = it->first == install || it->first.rfind(install + "/", 0) == 0;
      it = inside ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  const std::filesystem::path sibling_ = dir_ / "sibling";
};

}  // namespace zrk::test
