// End-to-end runs that apply an update to a version-1 install: the install
// folder with user files beside the payload, update archives packed by real
// tools, and the log lines and trees such a run is expected to produce.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "e2e/install_fixture.h"
#include "swap/payload.h"

namespace zrk::test {

// Archive members below the top folder "Z-Ravelkin/": a path ending in "/"
// is a folder, anything else a file with the given content.
using Members = std::map<std::string, std::string>;

// A new game program, data file and font folder, a new licence file, and two
// items outside the payload, one of them named like the user's saves folder.
inline const Members kUpdate = {
    {"Z-Ravelkin.exe", "game v2"},     {"zravelkin.pak", "pak v2"},
    {"typefaces/new.ttf", "new font"}, {"COPYING", "licence"},
    {"NOTES.txt", "release notes"},    {"saves/slot1.sav", "a save the update must not bring"},
};

class PayloadFixture : public InstallFixture {
 protected:
  using InstallFixture::InstallFixture;

  void SetUp() override {
    InstallFixture::SetUp();
    if (IsSkipped()) return;
    write_file(install_ / "Z-Ravelkin.exe", "game v1");
    write_file(install_ / "zravelkin.pak", "pak v1");
    write_file(install_ / "typefaces" / "old.ttf", "old font");
    write_file(install_ / "saves" / "slot1.sav", "level 7");
    write_file(install_ / "settings.ini", "volume=3");
    before_ = installed_tree();
  }

  // Packs `members` into `name` and returns its path: a zip made by Info-ZIP
  // when the name ends in ".zip", otherwise a ustar .tar.gz made by GNU tar.
  std::string pack_update(const std::string& name, const Members& members) {
    const std::filesystem::path source = dir_ / "source";
    std::filesystem::remove_all(source);
    std::filesystem::create_directories(source / "Z-Ravelkin");
    for (const auto& [path, content] : members) {
      if (path.back() == '/') {
        std::filesystem::create_directories(source / "Z-Ravelkin" / path);
      } else {
        write_file(source / "Z-Ravelkin" / path, content);
      }
    }
    const std::string archive = (dir_ / name).string();
    const bool zip = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0;
    const Lines command =
        zip ? Lines{"sh", "-c",
                    "cd '" + source.string() + "' && zip -qr '" + archive + "' Z-Ravelkin"}
            : Lines{"tar",           "--format=ustar", "--sort=name", "-C",
                    source.string(), "-czf",           archive,       "Z-Ravelkin"};
    std::string output;
    EXPECT_EQ(run_command(command, &output), 0) << output;
    return archive;
  }

  // The order in which the updater will list the top-level names of
  // `members` in staging: the same names made in the same order, on the same
  // file system, list the same way, and Wine sorts them.
  Lines staged_order(const Members& members) const {
    const std::filesystem::path probe = same_file_system_ / "probe";
    std::filesystem::create_directory(probe);
    for (const auto& [path, content] : members) {
      const std::string top = path.substr(0, path.find('/'));
      if (std::filesystem::exists(probe / top)) continue;
      if (top.size() < path.size()) {
        std::filesystem::create_directory(probe / top);
      } else {
        write_file(probe / top, content);
      }
    }
    Lines order = host_.listing_order(probe);
    std::filesystem::remove_all(probe);
    return order;
  }

  // The payload items of `members` in the order the swap takes them: staged
  // order, the game's program last.
  Lines payload_order(const Members& members) const { return in_swap_order(staged_order(members)); }

  static Lines in_swap_order(const Lines& staged) {
    Lines payload;
    for (const std::string& name : staged) {
      if (is_payload_name(name)) payload.push_back(name);
    }
    std::stable_partition(payload.begin(), payload.end(),
                          [](const std::string& name) { return name != game_exe_name(); });
    return payload;
  }

  // True when the swap replaces `name` in one step: an installed file that a
  // file of `members` replaces gets a second name in the backup instead of
  // being moved there.
  bool replaced_in_one_step(const Members& members, const std::string& name) const {
    const auto installed = before_.find(name);
    return installed != before_.end() && installed->second.rfind("file:", 0) == 0 &&
           members.count(name) != 0;
  }

  // The swap's calls that change a name, in order, as the call and its first
  // path: "link <install>/X" or "rename <install>/X" takes an installed item
  // out, "rename <staging>/X" puts the staged one in (a replacing rename for
  // a linked file).
  Lines name_changes(const Members& members) const {
    Lines changes;
    for (const std::string& name : payload_order(members)) {
      if (before_.count(name) != 0) {
        changes.push_back((replaced_in_one_step(members, name) ? "link " : "rename ") +
                          text_of(name));
      }
      changes.push_back("rename " + staging_text() + "/" + name);
    }
    return changes;
  }

  // What the run logs up to the staged item count.
  Lines lines_until_swap(const std::string& archive, const std::filesystem::path& relaunch,
                         size_t staged) const {
    Lines lines = opening_lines(archive, relaunch);
    lines.push_back("zrk-update: swapping " + std::to_string(staged) + " staged item(s)");
    return lines;
  }

  // The swap's lines for a run in which every payload item goes in.
  static Lines swap_lines(const Lines& order) {
    Lines lines;
    for (const std::string& name : order) {
      if (!is_payload_name(name)) {
        lines.push_back("ignored " + name + ": not part of the shipped payload");
      }
    }
    for (const std::string& name : in_swap_order(order)) lines.push_back("installed " + name);
    return lines;
  }

  // The install folder once kUpdate is applied to the version-1 install.
  Tree updated_tree() const {
    Tree expected = before_;
    expected["Z-Ravelkin.exe"] = "file:game v2";
    expected["zravelkin.pak"] = "file:pak v2";
    expected.erase("typefaces/old.ttf");
    expected["typefaces/new.ttf"] = "file:new font";
    expected["COPYING"] = "file:licence";
    return expected;
  }

  std::string text_of(const std::string& relative) const { return text(install_) + "/" + relative; }
  std::string backup_text() const { return text_of(".update/backup"); }
  std::string staging_text() const { return text_of(".update/staging"); }

  Tree before_;
  // A folder on the file system of the install folder: ext4 lists a folder in
  // an order of its own for each file system.
  std::filesystem::path same_file_system_ = dir_.path();
};

}  // namespace zrk::test
