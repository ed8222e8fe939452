#include "pack/pack_command.h"

// CLI11 builds its file validators, which zrk-pack does not use, at start-up;
// through std::filesystem they would link in every C runtime path function
// of the Windows build. Its stat() variant links in one.
#define CLI11_HAS_FILESYSTEM 0
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "archive/extract.h"
#include "pack/archive_check.h"
#include "pack/console.h"
#include "pack/pack_create.h"

namespace zrk {

namespace {

constexpr const char* kUsage =
    "usage: zrk-pack create [--level N] [--jobs N] [--quiet] [--exclude GLOB]... [--keep-litter] "
    "<build-folder> <archive> | "
    "zrk-pack check [--json] <archive>";
// 1980-01-01 00:00:00 UTC, the earliest time a zip can hold.
constexpr std::uint64_t kDefaultTime = 315532800;
// The largest time a ustar header's 11 octal digits hold.
constexpr std::uint64_t kLatestTime = 8589934591;

int bad_command_line(const std::string& why) {
  std::fprintf(stderr, "%s (%s)\n", kUsage, why.c_str());
  return kPackBadCommandLine;
}

// SOURCE_DATE_EPOCH when it is set, else the default; false when it is set
// to anything but a whole number of seconds that a tar header can hold.
bool member_time(std::uint64_t* seconds) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  *seconds = kDefaultTime;
  if (text == nullptr || *text == '\0') return true;
  std::uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(*c - '0');
    if (value > kLatestTime) return false;
  }
  *seconds = value;
  return true;
}

// The first argument is neither an option nor one of the two commands.
bool command_is_unknown(const std::vector<std::string>& args) {
  if (args.size() < 2 || args[1].empty() || args[1][0] == '-') return false;
  return args[1] != "create" && args[1] != "check";
}

unsigned default_jobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

int run_check(const std::string& archive, bool json) {
  const CheckReport report = check_archive(archive);
  if (json) {
    print_check_json(report, stdout);
  } else {
    // An archive that cannot be read is an error, not a verdict.
    print_check_lines(report, report.readable ? stdout : stderr);
  }
  return report.exit_code;
}

}  // namespace

int run_pack(const std::vector<std::string>& args) {
  install_interrupt_cleanup();
  CLI::App app{"zrk-pack: makes update archives that zrk-update will apply, and checks them"};
  app.set_version_flag("--version", std::string("zrk-pack ") + ZRK_VERSION);
  app.require_subcommand(1, 1);

  CreateOptions create_options;
  create_options.jobs = default_jobs();
  CLI::App* create = app.add_subcommand("create", "Make an update archive from a build folder");
  create->add_option("--level", create_options.level, "Deflate level, 1 to 9 (default 6)")
      ->check(CLI::Range(1, 9));
  create
      ->add_option("--jobs", create_options.jobs,
                   "Compression threads (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  create->add_flag("--quiet", create_options.quiet, "Draw no progress line");
  create
      ->add_option("--exclude", create_options.excludes,
                   "Leave out what matches GLOB as well (a name, or a path with a /)")
      ->allow_extra_args(false)
      ->type_name("GLOB");
  create->add_flag("--keep-litter", create_options.keep_litter,
                   "Keep .DS_Store, Thumbs.db, .git and their kind");
  create->add_option("build-folder", create_options.build, "The game as it will be installed")
      ->required();
  create->add_option("archive", create_options.archive, "The archive: .zip, .tar.gz or .tgz")
      ->required();

  std::string check_archive_text;
  bool json = false;
  CLI::App* check = app.add_subcommand("check", "Say whether zrk-update would apply an archive");
  check->add_flag("--json", json, "One JSON object on stdout");
  check->add_option("archive", check_archive_text, "The archive to check")->required();

  // CLI11 would take a mistyped command for a stray argument.
  if (command_is_unknown(args)) {
    std::fprintf(stderr, "unknown command %s (use create or check)\n", args[1].c_str());
    return kPackBadCommandLine;
  }

  std::vector<char*> argv;
  std::vector<std::string> copies = args.empty() ? std::vector<std::string>{"zrk-pack"} : args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::Error& e) {
    // Help and the version are "errors" with exit code 0.
    if (e.get_exit_code() == 0) return app.exit(e);
    return bad_command_line(e.what());
  }

  if (*check) return run_check(check_archive_text, json);
  if (archive_type(create_options.archive) == ArchiveType::kUnknown) {
    return bad_command_line("the archive's name must end in .zip, .tar.gz or .tgz");
  }
  if (!member_time(&create_options.mtime)) {
    return bad_command_line("SOURCE_DATE_EPOCH must be a whole number of seconds up to " +
                            std::to_string(kLatestTime));
  }
  return create_archive(create_options);
}

}  // namespace zrk
