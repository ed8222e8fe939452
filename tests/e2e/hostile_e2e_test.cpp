// Hostile archives through the real binary: each is refused with the line
// that names its trick, or extracted where nothing in it can do harm, and no
// run writes anything outside the install folder's staging area.
#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <random>
#include <vector>

#include "e2e/guarded_install.h"
#include "support/extract_contract.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;
using test::Tree;

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class HostileArchives : public test::GuardedInstall {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        test::run_python_tool("make_hostile.py", {archives_.path().string(), sibling_.string()}),
        0);
  }

  // {archive} and {sibling} in an expected line stand for those paths.
  std::string expand(const std::string& text, const fs::path& archive) const {
    return replace_all(replace_all(text, "{archive}", archive.string()), "{sibling}",
                       sibling_.string());
  }

  test::TempDir archives_;
};

struct Installed {
  const char* path;
  const char* entry;  // as snapshot_tree shows it
};

const char kClimb[] = "Z-Ravelkin/../../../sibling/evil.txt";
const char kAbsolute[] = "{sibling}/evil.txt";

struct HostileRow {
  const char* archive;
  int exit_code;
  // Refused: the extraction's line. Extracted: what the install folder holds
  // besides the first version with the new Z-Ravelkin.exe.
  std::string line;
  std::vector<Installed> installed;
};

const std::string kDotDot = ": member path has an empty, . or .. component";

const HostileRow kRows[] = {
    // Zip slip and its relatives, in both formats.
    {"zip-slip-dotdot.zip", 3, std::string("refused ") + kClimb + kDotDot, {}},
    {"tar-slip-dotdot.tar.gz", 3, std::string("refused ") + kClimb + kDotDot, {}},
    {"zip-slip-parent.zip",
     3,
     "refused ../sibling/evil.txt: member path is outside the Z-Ravelkin/ folder",
     {}},
    {"tar-slip-parent.tar.gz",
     3,
     "refused ../sibling/evil.txt: member path is outside the Z-Ravelkin/ folder",
     {}},
    {"zip-slip-absolute.zip", 3, "refused {sibling}/evil.txt: member path is absolute", {}},
    {"tar-slip-absolute.tar.gz", 3, "refused {sibling}/evil.txt: member path is absolute", {}},
    {"zip-slip-drive.zip", 3, "refused C:/sibling/evil.txt: member path has a drive letter", {}},
    {"tar-slip-drive.tar.gz", 3, "refused C:/sibling/evil.txt: member path has a drive letter", {}},
    {"zip-slip-drive-relative.zip",
     3,
     "refused Z-Ravelkin/C:evil.txt: member path has a drive letter",
     {}},
    {"tar-slip-drive-relative.tar.gz",
     3,
     "refused Z-Ravelkin/C:evil.txt: member path has a drive letter",
     {}},
    {"zip-slip-backslash.zip",
     3,
     "refused Z-Ravelkin\\..\\..\\..\\sibling\\evil.txt: member path has a backslash",
     {}},
    {"tar-slip-backslash.tar.gz",
     3,
     "refused Z-Ravelkin\\..\\..\\..\\sibling\\evil.txt: member path has a backslash",
     {}},
    {"zip-slip-backslash-inner.zip",
     3,
     "refused Z-Ravelkin/..\\..\\..\\sibling\\evil.txt: member path has a backslash",
     {}},
    {"tar-slip-backslash-inner.tar.gz",
     3,
     "refused Z-Ravelkin/..\\..\\..\\sibling\\evil.txt: member path has a backslash",
     {}},
    {"zip-slip-unc.zip", 3, "refused //server/share/evil.txt: member path is absolute", {}},
    {"tar-slip-unc.tar.gz", 3, "refused //server/share/evil.txt: member path is absolute", {}},
    {"zip-slip-unc-backslash.zip",
     3,
     "refused \\\\server\\share\\evil.txt: member path has a backslash",
     {}},
    {"tar-slip-unc-backslash.tar.gz",
     3,
     "refused \\\\server\\share\\evil.txt: member path has a backslash",
     {}},
    // Windows device names.
    {"zip-devices.zip",
     3,
     "refused Z-Ravelkin/typefaces/COM1: member path has a reserved device name",
     {}},
    {"tar-devices.tgz",
     3,
     "refused Z-Ravelkin/gpu-programs/COM\xc2\xb9.bin: member path has a reserved device name",
     {}},
    // Links. A zip's link is a file holding its target, so nothing can pass
    // through it; a tarball's is skipped and what follows lands in a folder.
    {"zip-symlink-only.zip", 0, "", {{"typefaces", "file:{sibling}"}}},
    {"zip-symlink-then-file.zip",
     3,
     "refused Z-Ravelkin/typefaces/evil.txt: a file and a folder have the same path",
     {}},
    {"tar-symlink-then-file.tgz",
     0,
     "",
     {{"typefaces", "dir"}, {"typefaces/evil.txt", "file:escaped"}}},
    {"tar-symlink-relative.tgz", 0, "", {}},
    {"tar-hardlink-then-file.tgz", 0, "", {{"zravelkin.pak", "file:escaped"}}},
    {"tar-hardlink-escaping-name.tgz", 0, "", {}},
    {"tar-device-nodes.tgz", 0, "", {}},
    // Names from extension headers are judged like any other.
    {"tar-pax-path-climb.tgz", 3, std::string("refused ") + kClimb + kDotDot, {}},
    {"tar-pax-path-absolute.tgz",
     3,
     std::string("refused ") + kAbsolute + ": member path is absolute",
     {}},
    {"tar-gnu-long-name-climb.tgz",
     3,
     "refused Z-Ravelkin/" + replace_all(std::string(40, '.'), ".", "../") + "sibling/evil.txt" +
         kDotDot,
     {}},
    {"tar-gnu-long-name-absolute.tgz",
     3,
     std::string("refused ") + kAbsolute + ": member path is absolute",
     {}},
    // A local header must name the same path as its central entry; sizes
    // that disagree fail the data check.
    {"zip-names-disagree-local-climbs.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip-names-disagree-central-climbs.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip-sizes-disagree.zip", 3, "zravelkin.pak: the member is damaged", {}},
    {"zip-damaged-name-like-a-note.zip",
     3,
     "skipped a (unsupported tar type 0): the member is damaged",
     {}},
    // Bombs and sizes past the cap are refused before their data is read.
    {"zip-overlap-bomb.zip", 3, "Z-Ravelkin/b0127: the archive expands past the 2 GB cap", {}},
    {"zip-shared-kernel-bomb.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip-declared-3gib.zip",
     3,
     "Z-Ravelkin/zravelkin.pak: the archive expands past the 2 GB cap",
     {}},
    {"zip64-declared-huge.zip",
     3,
     "Z-Ravelkin/zravelkin.pak: the archive expands past the 2 GB cap",
     {}},
    // Streamed Zip64: the places and sizes in Zip64 records must lie inside
    // the file before the end records, and both end records must agree.
    {"zip64-streamed.zip", 0, "", {{"zravelkin.pak", "file:data v2"}}},
    {"zip64-directory-offset-forged.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip64-directory-size-forged.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip64-local-offset-forged.zip", 3, "cannot open {archive} as a zip", {}},
    {"zip64-end-records-disagree.zip", 3, "cannot open {archive} as a zip", {}},
    // Gigabytes of zeros in gzip members, refused at the header that declares
    // them. Zeros after the end block count as well, which in-process rows
    // show at a small cap (Tarball.WhatCountsTowardTheCap).
    {"tar-member-bomb.tgz", 3, "the tarball expands past the 2 GB cap", {}},
    {"tar-size-octal-huge.tgz", 3, "the tarball expands past the 2 GB cap", {}},
    {"tar-pax-size-huge.tgz", 3, "the tarball expands past the 2 GB cap", {}},
    {"tar-size-base256.tgz", 3, "refused a member: tar header size is not octal", {}},
};

TEST_F(HostileArchives, EachIsRefusedOrHarmlessAndNothingLeavesStaging) {
  // Every archive the script makes has a row here.
  const auto made =
      std::distance(fs::directory_iterator(archives_.path()), fs::directory_iterator());
  EXPECT_EQ(static_cast<std::size_t>(made), std::size(kRows));

  for (const HostileRow& row : kRows) {
    SCOPED_TRACE(row.archive);
    const fs::path archive = archives_ / row.archive;
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = run_guarded(archive);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(outcome.exit_code, row.exit_code);
    EXPECT_LT(outcome.staged_bytes, 1024u) << "staged past what the archive honestly holds";
    if (row.exit_code != 0) {
      EXPECT_EQ(refusal(outcome), expand(row.line, archive));
      continue;
    }
    Tree expected = first_version();
    expected["Z-Ravelkin.exe"] = "file:game v2";
    for (const Installed& item : row.installed) expected[item.path] = expand(item.entry, archive);
    EXPECT_EQ(installed_tree(), expected);
  }
}

// The publisher's check runs the same code and must reach the same verdict.
TEST_F(HostileArchives, PackCheckGivesTheUpdatersVerdict) {
  for (const HostileRow& row : kRows) {
    SCOPED_TRACE(row.archive);
    const fs::path archive = archives_ / row.archive;
    std::string output;
    EXPECT_EQ(test::run_command({ZRK_PACK_BINARY, "check", archive.string()}, &output),
              row.exit_code);
    if (row.exit_code != 0) {
      EXPECT_NE(output.find(expand(row.line, archive) + "\n"), std::string::npos) << output;
    }
  }
  // --json: the same lines, and the skipped members by name.
  const struct {
    const char* archive;
    int exit_code;
    std::string json;
  } kJsonRows[] = {
      {"tar-device-nodes.tgz", 0,
       "{\"verdict\":\"apply\",\"exit_code\":0,\"lines\":["
       "\"skipped Z-Ravelkin/zravelkin.pak (unsupported tar type 3)\","
       "\"skipped Z-Ravelkin/padmappings.txt (unsupported tar type 6)\"],"
       "\"members\":1,\"bytes\":7,\"payload\":[\"Z-Ravelkin.exe\"],\"ignored\":[],"
       "\"skipped\":[\"Z-Ravelkin/zravelkin.pak\",\"Z-Ravelkin/padmappings.txt\"],\"notes\":[]}\n"},
      // A zip skips nothing, whatever its lines say.
      {"zip-damaged-name-like-a-note.zip", 3,
       "{\"verdict\":\"refused\",\"exit_code\":3,\"lines\":["
       "\"skipped a (unsupported tar type 0): the member is damaged\"],"
       "\"members\":2,\"bytes\":14,\"payload\":[],\"ignored\":[],\"skipped\":[],\"notes\":[]}\n"},
  };
  for (const auto& row : kJsonRows) {
    SCOPED_TRACE(row.archive);
    std::string output;
    EXPECT_EQ(
        test::run_command({ZRK_PACK_BINARY, "check", "--json", (archives_ / row.archive).string()},
                          &output),
        row.exit_code);
    EXPECT_EQ(output, row.json);
  }
}

// ---- damaged copies of honest archives ----------------------------------------

// An honest update made by real tools, with names long enough for extension
// headers, then cut short or with bits flipped. Through the binary for a
// sample; in process for every cut and many flips of both.
class DamagedUpdates : public test::GuardedInstall {
 protected:
  void SetUp() override {
    const fs::path top = source_ / "Z-Ravelkin";
    test::write_file(top / "Z-Ravelkin.exe", "game v2");
    test::write_file(top / "zravelkin.pak", std::string(3000, 'p') + "data v2");
    test::write_file(top / "typefaces" / (std::string(110, 'f') + ".ttf"), "glyphs");
    ASSERT_EQ(test::run_python_tool("make_tarball.py", {(source_ / "u.tgz").string(), "pax",
                                                        "--tree", source_.path().string()}),
              0);
    ASSERT_EQ(test::run_shell_in(source_.path(), "zip -qrX u.zip Z-Ravelkin"), 0);
    tgz_ = test::read_file(source_ / "u.tgz");
    zip_ = test::read_file(source_ / "u.zip");
  }

  Tree updated() const {
    Tree tree = first_version();
    tree["Z-Ravelkin.exe"] = "file:game v2";
    tree["zravelkin.pak"] = "file:" + std::string(3000, 'p') + "data v2";
    tree["typefaces"] = "dir";
    tree["typefaces/" + std::string(110, 'f') + ".ttf"] = "file:glyphs";
    return tree;
  }

  // Through the binary: refused with the install folder as it was, or applied
  // with exactly the update's content, never anything in between.
  void run_damaged(const std::string& bytes, const std::string& name) {
    const fs::path archive = damaged_ / name;
    test::write_file(archive, bytes);
    const Outcome outcome = run_guarded(archive);
    if (outcome.exit_code == 0) {
      EXPECT_EQ(installed_tree(), updated());
    }
  }

  static std::string flip_bits(std::string bytes, std::mt19937& random) {
    const int flips = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < flips; ++i) {
      const std::size_t at = random() % bytes.size();
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
    }
    return bytes;
  }

  test::TempDir source_;
  test::TempDir damaged_;
  std::string tgz_;
  std::string zip_;
};

TEST_F(DamagedUpdates, IntactArchivesApply) {
  for (const auto& [bytes, name] : {std::pair{tgz_, "u.tgz"}, std::pair{zip_, "u.zip"}}) {
    SCOPED_TRACE(name);
    run_damaged(bytes, name);
    EXPECT_EQ(installed_tree(), updated());
  }
}

TEST_F(DamagedUpdates, SampleOfCutsThroughTheBinaryIsRefused) {
  for (const auto& [bytes, name, step] :
       {std::tuple{tgz_, "u.tgz", 17u}, std::tuple{zip_, "u.zip", 29u}}) {
    // Every step-th length, and every one of the last 24.
    for (std::size_t cut = 0; cut < bytes.size(); cut += cut + 24 >= bytes.size() ? 1 : step) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      run_damaged(bytes.substr(0, cut), name);
      EXPECT_EQ(installed_tree(), first_version());
    }
  }
}

TEST_F(DamagedUpdates, SampleOfBitFlipsThroughTheBinary) {
  std::mt19937 random(20240917);
  for (const auto& [bytes, name] : {std::pair{tgz_, "u.tgz"}, std::pair{zip_, "u.zip"}}) {
    for (int round = 0; round < 30; ++round) {
      SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
      run_damaged(flip_bits(bytes, random), name);
    }
  }
}

// Every length short of the whole file is refused. The zip reader judges the
// whole table first, so a cut zip leaves staging empty; the tarball reader
// may have written the members before the cut.
TEST_F(DamagedUpdates, EveryCutInProcess) {
  for (const auto& [bytes, name] : {std::pair{tgz_, "u.tgz"}, std::pair{zip_, "u.zip"}}) {
    test::ExtractSandbox sandbox;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      EXPECT_EQ(sandbox.extract(bytes.substr(0, cut), name), kRefused);
      if (name == std::string("u.zip")) {
        EXPECT_TRUE(sandbox.staged().empty());
      }
    }
  }
}

// A flip that still extracts must give the original bytes: both formats carry
// a CRC-32 over the data.
TEST_F(DamagedUpdates, BitFlipsInProcess) {
  std::mt19937 random(77);
  for (const auto& [bytes, name] : {std::pair{tgz_, "u.tgz"}, std::pair{zip_, "u.zip"}}) {
    test::ExtractSandbox sandbox;
    ASSERT_EQ(sandbox.extract(bytes, name), kExtracted);
    const Tree intact = sandbox.staged();
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
      SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
      const ExtractStatus status = sandbox.extract(flip_bits(bytes, random), name);
      if (status == kExtracted) {
        EXPECT_EQ(sandbox.staged(), intact);
      } else {
        ++refused;
      }
    }
    EXPECT_GT(refused, 200) << name;
  }
}

}  // namespace
}  // namespace zrk
