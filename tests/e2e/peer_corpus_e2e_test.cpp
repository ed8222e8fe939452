// Other archive libraries' test archives, as they are and with their names
// moved under the top folder: through the real binary, which must refuse them
// cleanly or extract them with nothing outside staging, and in process, where
// whatever is extracted must be what Python's tarfile or zipfile reads.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/guarded_install.h"
#include "support/extract_contract.h"
#include "support/tar_fixtures.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

const fs::path kPeers = fs::path(ZRK_CORPUS) / "peers";

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Staging in list_archive.py's words.
std::vector<std::string> listing_of(const fs::path& staging) {
  std::vector<std::string> lines;
  for (auto it = fs::recursive_directory_iterator(staging);
       it != fs::recursive_directory_iterator(); ++it) {
    const std::string path = hex(it->path().lexically_relative(staging).generic_string());
    if (it->is_directory()) {
      lines.push_back("D " + path);
      continue;
    }
    const std::string data = test::read_file(it->path());
    char tail[40];
    std::snprintf(
        tail, sizeof tail, " %zu %08lx", data.size(),
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    lines.push_back("F " + path + tail);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Python's view of each archive, by path; an archive Python cannot read maps
// to one line starting with "! ".
std::map<std::string, std::vector<std::string>> python_listings(
    const std::vector<fs::path>& archives) {
  std::map<std::string, std::vector<std::string>> listings;
  if (archives.empty()) return listings;
  std::vector<std::string> args;
  for (const fs::path& archive : archives) args.push_back(archive.string());
  std::string output;
  EXPECT_EQ(test::run_python_tool("list_archive.py", args, &output), 0) << output;
  std::istringstream in(output);
  std::vector<std::string>* current = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("= ", 0) == 0) {
      current = &listings[line.substr(2)];
    } else if (current != nullptr && !line.empty()) {
      current->push_back(line);
    }
  }
  return listings;
}

// The corpus files under names that choose their reader: zips and gzip files
// as they are where their names already fit, plain tarballs gzipped, and the
// rest (self-extractors, a "not a zip") under a .zip name.
std::vector<fs::path> prepare_peers(const fs::path& out) {
  std::vector<fs::path> archives;
  for (const auto& entry : fs::recursive_directory_iterator(kPeers)) {
    if (!entry.is_regular_file()) continue;
    const fs::path& path = entry.path();
    const std::string name = path.filename().string();
    if (ends_with(name, ".md")) continue;
    const std::string flat = path.parent_path().filename().string() + "-" + name;
    if (ends_with(name, ".zip") || ends_with(name, ".tgz") || ends_with(name, ".tar.gz")) {
      archives.push_back(path);
    } else if (ends_with(name, ".tar")) {
      archives.push_back(out / (flat + ".gz"));
      test::write_file(archives.back(), test::gzip_bytes(test::read_file(path)));
    } else {
      archives.push_back(out / (flat + (ends_with(name, ".gz") ? ".tgz" : ".zip")));
      fs::copy_file(path, archives.back());
    }
  }
  std::sort(archives.begin(), archives.end());
  return archives;
}

// The same archives with their member names moved under the top folder, so
// that their content reaches the readers' later checks and the write.
std::vector<fs::path> prepare_rerooted(const fs::path& out) {
  const fs::path tars = out / "tars";
  const fs::path zips = out / "zips";
  fs::create_directories(tars);
  fs::create_directories(zips);
  std::vector<std::string> tar_args{tars.string()};
  std::vector<std::string> zip_args{"reroot", zips.string()};
  for (const auto& entry : fs::recursive_directory_iterator(kPeers)) {
    const std::string name = entry.path().filename().string();
    if (ends_with(name, ".tar")) tar_args.push_back(entry.path().string());
    // 133,000 members would only slow the run down.
    if (ends_with(name, ".zip") && name != "manyfiles-133000.zip") {
      zip_args.push_back(entry.path().string());
    }
  }
  EXPECT_EQ(test::run_python_tool("reroot_tar.py", tar_args), 0);
  EXPECT_EQ(test::run_python_tool("make_zip.py", zip_args), 0);
  std::vector<fs::path> archives;
  for (const auto& entry : fs::directory_iterator(tars)) {
    archives.push_back(out / (entry.path().filename().string() + ".gz"));
    test::write_file(archives.back(), test::gzip_bytes(test::read_file(entry.path())));
  }
  for (const auto& entry : fs::directory_iterator(zips)) archives.push_back(entry.path());
  std::sort(archives.begin(), archives.end());
  return archives;
}

class PeerCorpus : public test::GuardedInstall {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kPeers)) GTEST_SKIP() << "no peer corpus at " << kPeers;
  }

  // In process first, then through the binary one archive for each way the
  // extraction ended: its status with the reason its last line gives, or for
  // an extracted one its reader and whether it noted skipped members. The
  // binary must end each with that status (an extracted one then holds no
  // game), with nothing outside staging. Prints how many ended which way.
  void run_sample_through_binary(const std::vector<fs::path>& archives, const char* what) {
    test::ExtractSandbox sandbox;
    std::map<std::string, std::pair<fs::path, ExtractStatus>> sample;  // by the way it ended
    for (const fs::path& archive : archives) {
      SCOPED_TRACE(archive.filename().string());
      const std::string name = archive.filename().string();
      Messages lines;
      const ExtractStatus status = sandbox.extract(test::read_file(archive), name, &lines);
      std::string way = std::to_string(status) + " ";
      if (status == kExtracted) {
        way += std::string(ends_with(name, ".zip") ? "zip" : "tarball") +
               (lines.empty() ? "" : " with notes");
      } else {
        std::string last = lines.back();
        const std::string copy = (sandbox.folder() / name).string();
        if (const std::size_t at = last.find(copy); at != std::string::npos) {
          last.replace(at, copy.size(), "{archive}");
        }
        const std::size_t reason = last.rfind(": ");
        way += reason == std::string::npos ? last : last.substr(reason + 2);
      }
      sample.emplace(way, std::pair{archive, status});
    }
    std::map<std::string, int> verdicts;
    for (const auto& [way, chosen] : sample) {
      const auto& [archive, status] = chosen;
      SCOPED_TRACE(archive.filename().string() + ": " + way);
      const Outcome outcome = run_guarded(archive);
      const std::string last = outcome.log.empty() ? "" : outcome.log.back();
      const bool extracted = last.rfind("zrk-update: the archive holds no ", 0) == 0;
      if (status == kExtracted) {
        EXPECT_TRUE(outcome.exit_code == 0 || extracted) << last;
      } else {
        EXPECT_EQ(outcome.exit_code, static_cast<int>(status));
        EXPECT_FALSE(extracted);
      }
      ++verdicts[outcome.exit_code == 0 ? "applied"
                 : extracted            ? "extracted (no game)"
                                        : "refused, exit " + std::to_string(outcome.exit_code)];
    }
    std::cout << what << ": " << sample.size() << " of " << archives.size()
              << " archives through the binary:";
    for (const auto& [verdict, count] : verdicts)
      std::cout << " " << verdict << " " << count << ";";
    std::cout << "\n";
  }

  // Every archive in process; what is extracted must match Python's reading,
  // except where `differences` says why it may not.
  void extract_all_in_process(const std::vector<fs::path>& archives, const char* what,
                              const std::set<std::string>& differences = {}) {
    test::ExtractSandbox sandbox;
    std::vector<fs::path> extracted;
    std::map<std::string, std::vector<std::string>> staged;
    for (const fs::path& archive : archives) {
      SCOPED_TRACE(archive.filename().string());
      if (sandbox.extract(test::read_file(archive), archive.filename().string()) != kExtracted) {
        continue;
      }
      extracted.push_back(archive);
      staged[archive.string()] = listing_of(sandbox.staging());
    }
    const auto expected = python_listings(extracted);
    int differing = 0;
    for (const fs::path& archive : extracted) {
      SCOPED_TRACE(archive.filename().string());
      const auto found = expected.find(archive.string());
      ASSERT_NE(found, expected.end());
      if (differences.count(archive.filename().string()) == 1) {
        EXPECT_NE(staged[archive.string()], found->second) << "no longer differs";
        ++differing;
        continue;
      }
      EXPECT_EQ(staged[archive.string()], found->second);
    }
    std::cout << what << ": " << archives.size() << " archives in process, " << extracted.size()
              << " extracted, " << extracted.size() - differing
              << " of them exactly as Python reads them\n";
  }

  test::TempDir prepared_;
  // One zip holds 133,000 members.
  const test::ScopedNamedTimeZone zone_;
};

TEST_F(PeerCorpus, AsTheyAreThroughTheBinary) {
  const std::vector<fs::path> archives = prepare_peers(prepared_.path());
  EXPECT_GE(archives.size(), 140u);
  run_sample_through_binary(archives, "peer archives");
}

TEST_F(PeerCorpus, AsTheyAreInProcess) {
  const std::vector<fs::path> archives = prepare_peers(prepared_.path());
  extract_all_in_process(archives, "peer archives");
}

TEST_F(PeerCorpus, BelowTheTopFolderThroughTheBinary) {
  const std::vector<fs::path> archives = prepare_rerooted(prepared_.path());
  EXPECT_GE(archives.size(), 100u);
  run_sample_through_binary(archives, "rerooted peer archives");
}

TEST_F(PeerCorpus, BelowTheTopFolderInProcess) {
  const std::vector<fs::path> archives = prepare_rerooted(prepared_.path());
  // libzip reports the stored name "te", NUL, "t" as "te t"; Python cuts it
  // at the NUL. Either way the file stays inside staging.
  extract_all_in_process(archives, "rerooted peer archives",
                         {"libzip-incons-filename-nul-byte.zip"});
}

}  // namespace
}  // namespace zrk

namespace zrk {
namespace {

const fs::path kWriters = fs::path(ZRK_CORPUS) / "writers";

class WriterSamples : public test::GuardedInstall {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kWriters)) GTEST_SKIP() << "no writer samples at " << kWriters;
  }
  test::TempDir prepared_;
};

// Real writers' long and non-ASCII names through the binary. The samples hold
// no game program, so an extracted one ends in exit 3 with its files left in
// staging, where they must be what Python reads from the same archive. Python
// joins the GNU form's access time in front of a name as if it were a ustar
// prefix, so for the incremental dump GNU tar's own reading is checked, in
// process (TarballCorpus).
TEST_F(WriterSamples, ExtractUnderTheirNamesOrAreRefusedForAKnownReason) {
  const char kNoGame[] = "";
  const struct {
    const char* file;
    const char* refusal;  // kNoGame: extracted
  } kSamples[] = {
      {"bsdtar-default.tgz", kNoGame},
      {"bsdtar-gnutar.tgz", kNoGame},
      {"bsdtar-pax.tgz", kNoGame},
      {"bsdtar-ustar.tgz", kNoGame},
      {"git-archive.tgz", kNoGame},
      {"gnutar-default.tgz", kNoGame},
      {"gnutar-oldgnu.tgz", kNoGame},
      {"gnutar-posix.tgz", kNoGame},
      {"gnutar-ustar.tgz", kNoGame},
      {"py311-gnu.tgz", kNoGame},
      {"py311-pax.tgz", kNoGame},
      {"pyzipfile-unseekable-datadesc.zip", kNoGame},
      // The GNU form, with times where ustar keeps the prefix.
      {"gnutar-incremental.tgz", kNoGame},
      {"gnutar-posix-sparse.tar", "the tarball has a sparse file, which is not supported"},
      {"infozip-r.zip", "refused Z-Ravelkin/sub/a\\b.txt: member path has a backslash"},
      {"infozip-ry-symlink.zip", "refused Z-Ravelkin/sub/a\\b.txt: member path has a backslash"},
      // Streamed, with data descriptors.
      {"infozip-r-pipe-datadesc.zip",
       "refused Z-Ravelkin/sub/a\\b.txt: member path has a backslash"},
      {"pyzipfile-writestr-odd-names.zip", "refused /abs/x.txt: member path is absolute"},
  };
  std::size_t samples = 0;
  for (const auto& entry : fs::directory_iterator(kWriters)) {
    samples += entry.path().extension() != ".md";
  }
  EXPECT_EQ(samples, std::size(kSamples)) << "a sample without a row";

  std::vector<fs::path> extracted;
  std::map<std::string, std::vector<std::string>> staged;
  for (const auto& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    fs::path archive = kWriters / sample.file;
    if (archive.extension() == ".tar") {
      const fs::path gzipped = prepared_ / (std::string(sample.file) + ".gz");
      test::write_file(gzipped, test::gzip_bytes(test::read_file(archive)));
      archive = gzipped;
    }
    const Outcome outcome = run_guarded(archive);
    EXPECT_EQ(outcome.exit_code, 3);
    if (sample.refusal != kNoGame) {
      EXPECT_EQ(refusal(outcome), sample.refusal);
      continue;
    }
    ASSERT_FALSE(outcome.log.empty());
    EXPECT_EQ(outcome.log.back(),
              "zrk-update: the archive holds no Z-Ravelkin.exe, the install folder is unchanged");
    extracted.push_back(archive);
    staged[archive.string()] = listing_of(install_ / ".update" / "staging");
  }
  const auto expected = python_listings(extracted);
  for (const fs::path& archive : extracted) {
    SCOPED_TRACE(archive.filename().string());
    ASSERT_EQ(expected.count(archive.string()), 1u);
    EXPECT_FALSE(staged[archive.string()].empty());
    if (archive.filename() == "gnutar-incremental.tgz") {
      EXPECT_NE(staged[archive.string()], expected.at(archive.string())) << "Python reads it now";
      continue;
    }
    EXPECT_EQ(staged[archive.string()], expected.at(archive.string()));
  }
}

}  // namespace
}  // namespace zrk
