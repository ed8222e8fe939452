// The tarball reader against archives of real writers: made here from a source
// tree, and the writers' samples of the shared corpus.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/tar_fixtures.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

const std::string kTop = "Z-Ravelkin/";

// A file name padded with `fill` so that the member path is `length` bytes.
std::string flat(char fill, std::size_t length) {
  return std::string(length - kTop.size() - 4, fill) + ".txt";
}

// Member paths (below the top folder) that every format can store, and those
// that only formats with long names can.
std::vector<std::string> ustar_files() {
  return {flat('a', 99), flat('b', 100), flat('c', 101),
          std::string(60, 'P') + "/" + std::string(74, 'q') + ".txt",  // 150
          // 255 bytes with a 155-byte prefix; every folder on the way fits.
          std::string(60, 'G') + "/" + std::string(83, 'H') + "/" + std::string(95, 's') + ".txt",
          "donn\xc3\xa9"
          "es-\xc3\xa9t\xc3\xa9.txt",
          "\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.bin",
          "bin/empty.dat", "bin/large.dat"};
}

std::vector<std::string> long_files() {
  return {
      flat('d', 150), flat('e', 255),
      // Its folder has 156 bytes, more than a ustar header can hold.
      std::string(144, 'R') + "/" + std::string(95, 's') + ".txt",
      std::string(100, 'T') + "/" + std::string(100, 'U') + "/" + std::string(83, 'v') + ".txt"};
}

std::string content_of(const std::string& name) {
  if (name == "bin/empty.dat") return "";
  if (name == "bin/large.dat") {
    std::string data(200000, '\0');
    std::uint32_t state = 12345;
    for (char& c : data) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
    return data;
  }
  return "content of " + name + "\n";
}

void make_source_tree(const fs::path& root, bool with_long_names) {
  std::vector<std::string> files = ustar_files();
  if (with_long_names) {
    for (const std::string& name : long_files()) files.push_back(name);
  }
  for (const std::string& name : files) test::write_file(root / kTop / name, content_of(name));
  fs::create_directories(root / kTop / std::string(87, 'E'));  // folder member of 99 bytes
  fs::create_directories(root / kTop / std::string(88, 'D'));  // 100
}

std::set<std::string> names_in(const std::map<std::string, std::string>& tree) {
  std::set<std::string> names;
  for (const auto& entry : tree) names.insert(entry.first);
  return names;
}

struct Writer {
  const char* name;
  bool long_names;
  // The command, given the source root and the archive to write.
  std::vector<std::string> (*command)(const std::string& root, const std::string& out);
};

std::vector<std::string> python(const char* format, const std::string& root,
                                const std::string& out) {
  return {"python3", test::tool_path("make_tarball.py"), out, format, "--tree", root};
}

std::vector<std::string> gnu_tar(const char* format, const std::string& root,
                                 const std::string& out) {
  return {"tar", "--sort=name", std::string("--format=") + format, "-C", root, "-czf",
          out,   "Z-Ravelkin"};
}

std::vector<std::string> bsdtar(const char* format, const std::string& root,
                                const std::string& out) {
  std::vector<std::string> argv{"bsdtar", "-C", root, "-czf", out};
  if (format != nullptr) argv.push_back(std::string("--format=") + format);
  argv.push_back("Z-Ravelkin");
  return argv;
}

const Writer kWriters[] = {
    {"python ustar", false, [](auto& r, auto& o) { return python("ustar", r, o); }},
    {"python gnu", true, [](auto& r, auto& o) { return python("gnu", r, o); }},
    {"python pax", true, [](auto& r, auto& o) { return python("pax", r, o); }},
    {"gnu tar default", true, [](auto& r, auto& o) { return gnu_tar("gnu", r, o); }},
    {"gnu tar ustar", false, [](auto& r, auto& o) { return gnu_tar("ustar", r, o); }},
    {"gnu tar posix", true, [](auto& r, auto& o) { return gnu_tar("posix", r, o); }},
    {"bsdtar default", true, [](auto& r, auto& o) { return bsdtar(nullptr, r, o); }},
    {"bsdtar ustar", false, [](auto& r, auto& o) { return bsdtar("ustar", r, o); }},
    {"bsdtar gnutar", true, [](auto& r, auto& o) { return bsdtar("gnutar", r, o); }},
    {"bsdtar pax", true, [](auto& r, auto& o) { return bsdtar("pax", r, o); }},
};

TEST(TarballWriters, StagingMatchesTheSourceTreeByteForByte) {
  ZRK_SKIP_WITHOUT_HOST_TOOLS();
  for (const Writer& writer : kWriters) {
    SCOPED_TRACE(writer.name);
    test::TempDir source;
    make_source_tree(source.path(), writer.long_names);
    const fs::path out = source / "made.tgz";
    std::string output;
    ASSERT_EQ(test::run_command(writer.command(source.path().string(), out.string()), &output), 0)
        << output;

    test::TarballBench bench;
    Messages lines;
    EXPECT_EQ(bench.extract_file(out, &lines), 0u);
    EXPECT_TRUE(lines.empty()) << lines.front();
    const auto expected = test::snapshot_tree(source / kTop);
    const auto staged = bench.staged();
    EXPECT_EQ(names_in(staged), names_in(expected));
    for (const auto& entry : expected) {
      const auto found = staged.find(entry.first);
      EXPECT_TRUE(found != staged.end() && found->second == entry.second) << entry.first;
    }
    EXPECT_EQ(expected.size(), writer.long_names ? 23u : 16u);
  }
}

TEST(TarballWriters, LongNamesThatEscapeAreRefusedByTheirFullName) {
  ZRK_SKIP_WITHOUT_HOST_TOOLS();
  const std::string escape = kTop + std::string(120, 'a') + "/../../../evil.txt";
  for (const char* format : {"gnu", "pax"}) {
    SCOPED_TRACE(format);
    test::TarballBench bench;
    const fs::path out = bench.root() / "escape.tgz";
    ASSERT_EQ(test::run_python_tool("make_tarball.py",
                                    {out.string(), format, "--file", kTop + "ok.txt=fine", "--file",
                                     escape + "=evil"}),
              0);
    Messages lines;
    EXPECT_EQ(bench.extract_file(out, &lines), 3u);
    EXPECT_EQ(lines, std::vector<std::string>{"refused " + escape +
                                              ": member path has an empty, . or .. component"});
    EXPECT_EQ(bench.staged(), (std::map<std::string, std::string>{{"ok.txt", "file:fine"}}));
    EXPECT_FALSE(fs::exists(bench.root() / "evil.txt"));
  }
}

TEST(TarballWriters, LinksAreSkippedAndNeverCreated) {
  ZRK_SKIP_WITHOUT_HOST_TOOLS();
  const std::string long_link = kTop + std::string(150, 'k');
  test::TarballBench bench;
  const fs::path out = bench.root() / "links.tgz";
  ASSERT_EQ(test::run_python_tool("make_tarball.py",
                                  {out.string(), "gnu", "--file", kTop + "a.txt=a", "--symlink",
                                   kTop + "up=../../etc/passwd", "--symlink",
                                   long_link + "=/" + std::string(150, 't'), "--hardlink",
                                   kTop + "hard=" + kTop + "a.txt"}),
            0);
  Messages lines;
  EXPECT_EQ(bench.extract_file(out, &lines), 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "skipped Z-Ravelkin/up (unsupported tar type 2)",
                       "skipped ././@LongLink (unsupported tar type K)",
                       "skipped " + long_link + " (unsupported tar type 2)",
                       "skipped Z-Ravelkin/hard (unsupported tar type 1)",
                   }));
  EXPECT_EQ(bench.staged(), (std::map<std::string, std::string>{{"a.txt", "file:a"}}));
}

// ---- the shared corpus ----------------------------------------------------

// Paths below the top folder of the corpus's source tree, by key.
std::string corpus_path(const std::string& key) {
  if (key == "flat099") return std::string(84, 'a') + ".txt";
  if (key == "flat100") return std::string(85, 'b') + ".txt";
  if (key == "flat101") return std::string(86, 'c') + ".txt";
  if (key == "flat150") return std::string(135, 'd') + ".txt";
  if (key == "flat255") return std::string(240, 'e') + ".txt";
  if (key == "deep150") return std::string(60, 'P') + "/" + std::string(74, 'q') + ".txt";
  if (key == "deep255") return std::string(144, 'R') + "/" + std::string(95, 's') + ".txt";
  if (key == "deep300") {
    return std::string(100, 'T') + "/" + std::string(100, 'U') + "/" + std::string(83, 'v') +
           ".txt";
  }
  if (key == "nonascii")
    return "donn\xc3\xa9"
           "es-\xc3\xa9t\xc3\xa9.txt";
  if (key == "dir099") return std::string(87, 'E');
  if (key == "dir100") return std::string(88, 'D');
  ADD_FAILURE() << key;
  return "";
}

// Every file and folder that `keys` puts into staging, parents included.
std::set<std::string> staged_names(const std::vector<std::string>& keys) {
  std::set<std::string> names;
  for (const std::string& key : keys) {
    const std::string path = corpus_path(key);
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      names.insert(path.substr(0, slash));
    }
    names.insert(path);
  }
  return names;
}

TEST(TarballCorpus, WriterSamplesExtractUnderTheirNames) {
  ZRK_SKIP_WITHOUT_CORPUS();
  const std::vector<std::string> all = {"flat099",  "flat100", "flat101", "flat150",
                                        "flat255",  "deep150", "deep255", "deep300",
                                        "nonascii", "dir099",  "dir100"};
  const struct {
    const char* file;
    std::vector<std::string> keys;
  } kSamples[] = {
      {"gnutar-default.tgz", all},
      {"gnutar-oldgnu.tgz", all},
      {"gnutar-posix.tgz", all},
      {"gnutar-ustar.tgz",
       {"flat099", "flat100", "flat101", "deep150", "nonascii", "dir099", "dir100"}},
      {"bsdtar-default.tgz", all},
      {"bsdtar-gnutar.tgz", all},
      {"bsdtar-pax.tgz", all},
      {"bsdtar-ustar.tgz",
       {"flat099", "flat100", "flat101", "deep150", "deep255", "nonascii", "dir099", "dir100"}},
      {"py311-gnu.tgz", all},
      {"py311-pax.tgz", all},
  };
  for (const auto& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    test::TarballBench bench;
    Messages lines;
    EXPECT_EQ(bench.extract_file(fs::path(ZRK_CORPUS "/writers") / sample.file, &lines), 0u);
    EXPECT_TRUE(lines.empty()) << lines.front();
    const auto tree = bench.staged();
    EXPECT_EQ(names_in(tree), staged_names(sample.keys));
    for (const auto& entry : tree) {
      EXPECT_TRUE(entry.second == "dir" || entry.second.size() > 5) << entry.first;
    }
  }
}

TEST(TarballCorpus, GitArchiveSkipsItsGlobalHeader) {
  ZRK_SKIP_WITHOUT_CORPUS();
  test::TarballBench bench;
  Messages lines;
  EXPECT_EQ(bench.extract_file(ZRK_CORPUS "/writers/git-archive.tgz", &lines), 0u);
  EXPECT_EQ(lines, std::vector<std::string>{"skipped pax_global_header (unsupported tar type g)"});
  EXPECT_EQ(names_in(bench.staged()), std::set<std::string>{"a.txt"});
}

// Incremental headers are of the GNU form, with times where ustar keeps the
// prefix: the names are the name fields alone, and the dump folders (type D)
// are skipped. The sparse sample is sparse, refused before anything is
// written.
TEST(TarballCorpus, IncrementalSampleExtractsAndSparseSampleIsRefused) {
  ZRK_SKIP_WITHOUT_CORPUS();
  test::TarballBench bench;
  Messages lines;
  EXPECT_EQ(bench.extract_file(ZRK_CORPUS "/writers/gnutar-incremental.tgz", &lines), 0u);
  EXPECT_EQ(lines, std::vector<std::string>{"skipped Z-Ravelkin/" + std::string(60, 'P') +
                                            "/ (unsupported tar type D)"});
  EXPECT_EQ(names_in(bench.staged()), staged_names({"nonascii", "deep150"}));

  bench.reset();
  lines.clear();
  // A plain tar under a .tgz name reads the same.
  const std::string sparse = test::read_file(ZRK_CORPUS "/writers/gnutar-posix-sparse.tar");
  for (const std::string& bytes : {sparse, test::gzip_bytes(sparse)}) {
    bench.reset();
    lines.clear();
    EXPECT_EQ(bench.extract(bytes, &lines), 3u);
    EXPECT_EQ(lines,
              std::vector<std::string>{"the tarball has a sparse file, which is not supported"});
    EXPECT_TRUE(bench.staged().empty());
  }
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Other libraries' test archives: none may crash the reader, write outside
// staging, or end without exactly one failure line when refused.
TEST(TarballCorpus, PeerArchivesAreReadSafely) {
  ZRK_SKIP_WITHOUT_CORPUS();
  int seen = 0;
  for (const auto& entry : fs::recursive_directory_iterator(ZRK_CORPUS "/peers")) {
    const std::string name = entry.path().filename().string();
    const bool plain = ends_with(name, ".tar");
    if (!plain && !ends_with(name, ".tgz") && !ends_with(name, ".gz")) continue;
    ++seen;
    const std::string bytes = test::read_file(entry.path());
    for (const bool compress : {false, true}) {
      if (compress && !plain) continue;
      SCOPED_TRACE(name + (compress ? " (gzip)" : ""));
      test::TarballBench bench;
      Messages lines;
      const ExtractStatus status =
          bench.extract(compress ? test::gzip_bytes(bytes) : bytes, &lines);
      EXPECT_TRUE(status == 0 || status == 3) << status;
      const std::size_t notes = status == 0 ? lines.size() : lines.size() - 1;
      ASSERT_TRUE(status == 0 || !lines.empty());
      for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("skipped ", 0) == 0, i < notes) << lines[i];
      }
      EXPECT_TRUE(bench.strays().empty());
      for (const auto& staged : bench.staged()) {
        EXPECT_NE(staged.second.rfind("link:", 0), 0u) << staged.first;
      }
    }
  }
  EXPECT_GE(seen, 40);
}

}  // namespace
}  // namespace zrk
