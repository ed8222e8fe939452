#include "e2e/updater_host.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "support/test_support.h"
#include "swap/payload.h"

namespace zrk::test {

namespace {

namespace stdfs = std::filesystem;

// The words that put a time limit on a command.
std::vector<std::string> within(int seconds) {
  return {"timeout", "-s", "KILL", std::to_string(seconds)};
}

// The words that have the test build pause `milliseconds` between attempts.
std::vector<std::string> pausing(int milliseconds) {
  return {"env", "ZRK_TEST_MOVE_RETRY_DELAY_MS=" + std::to_string(milliseconds)};
}

class LinuxGame final : public RunningGame {
 public:
  explicit LinuxGame(int milliseconds)
      : process_({"sleep", std::to_string(milliseconds / 1000.0)}) {}
  int pid() const override { return process_.pid(); }

 private:
  ChildProcess process_;
};

class ImmutableFile final : public HeldFile {
 public:
  explicit ImmutableFile(const stdfs::path& file) : immutable_(file) {}

 private:
  ScopedImmutable immutable_;
};

// `file` made immutable now, and `later` as soon as it appears.
class ImmutableNowAndLater final : public HeldFile {
 public:
  ImmutableNowAndLater(const stdfs::path& file, stdfs::path later)
      : now_(file), watcher_([this, later = std::move(later)] {
          while (!stopping_ && !stdfs::exists(later)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          if (!stopping_) later_ = std::make_unique<ScopedImmutable>(later);
        }) {}
  ~ImmutableNowAndLater() override {
    stopping_ = true;
    watcher_.join();
  }

 private:
  ScopedImmutable now_;
  std::unique_ptr<ScopedImmutable> later_;
  std::atomic<bool> stopping_{false};
  std::thread watcher_;
};

class LinuxHost final : public UpdaterHost {
 public:
  const char* name() const override { return "linux"; }
  std::string unavailable() const override { return ""; }
  std::string text(const stdfs::path& path) const override { return path.string(); }
  int run(const std::vector<std::string>& args) const override { return run_updater(args); }
  int run_shipped(const std::vector<std::string>& args) const override {
    std::vector<std::string> command{ZRK_SHIPPED_UPDATE_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return run_command(command);
  }
  int run_pausing(const std::vector<std::string>& args, int milliseconds) const override {
    std::vector<std::string> command = pausing(milliseconds);
    command.push_back(ZRK_UPDATE_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    return run_command(command);
  }
  stdfs::path updater() const override { return ZRK_UPDATE_BINARY; }

  // The build puts the example beside the updater.
  int run_launcher(const std::vector<std::string>& args) const override {
    std::vector<std::string> command{(updater().parent_path() / "launch-updater").string()};
    command.insert(command.end(), args.begin(), args.end());
    std::string output;
    return run_command(command, &output);
  }

  int run_copy(const stdfs::path& program, const std::vector<std::string>& args) const override {
    stdfs::copy_file(ZRK_UPDATE_BINARY, program, stdfs::copy_options::overwrite_existing);
    std::vector<std::string> command{program.string()};
    command.insert(command.end(), args.begin(), args.end());
    return run_command(command);
  }

  bool deletes_running_programs() const override { return true; }

  int run_within(const std::vector<std::string>& args, int seconds) const override {
    std::vector<std::string> command = within(seconds);
    command.push_back(ZRK_UPDATE_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    return run_command(command);
  }

  stdfs::path install_game(const stdfs::path& folder) const override {
    const stdfs::path game = folder / "game.sh";
    write_file(game, "#!/bin/sh\nprintf '%s' \"$PWD\" > \"$(dirname \"$0\")/started.txt\"\n");
    stdfs::permissions(game, stdfs::perms::owner_all);
    return game;
  }

  int gone_pid() const override { return test::gone_pid(); }
  int gone_error() const override { return 3; }  // ESRCH

  std::unique_ptr<RunningGame> start_game(const stdfs::path&, int milliseconds) const override {
    return std::make_unique<LinuxGame>(milliseconds);
  }

  std::unique_ptr<HeldFile> hold(const stdfs::path& file) const override {
    return std::make_unique<ImmutableFile>(file);
  }

  std::unique_ptr<HeldFile> hold_now_and_later(const stdfs::path& file,
                                               const stdfs::path& later) const override {
    return std::make_unique<ImmutableNowAndLater>(file, later);
  }

  bool links_held_files() const override { return false; }
  bool moves_links() const override { return true; }

  std::vector<std::string> listing_order(const stdfs::path& folder) const override {
    return list_dir_names(folder);
  }
};

// The Windows build's programs, and the script that runs them in the build's
// own Wine prefix.
stdfs::path windows_build() {
  const char* over = std::getenv("ZRK_WINDOWS_BUILD");
  return over != nullptr && *over != '\0' ? stdfs::path(over) : stdfs::path(ZRK_WINDOWS_BUILD);
}

// The test build of the updater, and the program as it ships.
stdfs::path windows_updater() { return windows_build() / "zrk-update-quick.exe"; }
stdfs::path windows_shipped_updater() { return windows_build() / "zrk-update.exe"; }

// Runs a Windows program under Wine in the background. Its output goes
// nowhere: a Wine server it starts would otherwise hold the test's pipes open.
std::vector<std::string> wine_command(const std::vector<std::string>& program_and_args) {
  std::vector<std::string> command{"sh", "-c", "exec \"$0\" \"$@\" </dev/null >/dev/null 2>&1",
                                   ZRK_WINE_RUN};
  command.insert(command.end(), program_and_args.begin(), program_and_args.end());
  return command;
}

// `program` with `args` under Wine, after the words `before` (a time limit, an
// environment).
std::vector<std::string> wine_run(const stdfs::path& program, const std::vector<std::string>& args,
                                  std::vector<std::string> before = {}) {
  std::vector<std::string> program_and_args{program.string()};
  program_and_args.insert(program_and_args.end(), args.begin(), args.end());
  const std::vector<std::string> command = wine_command(program_and_args);
  before.insert(before.end(), command.begin(), command.end());
  return before;
}

// The stand-in game under Wine: writes its Windows process id to a file once
// it runs (and holds `held`, when given).
class WineGame final : public RunningGame, public HeldFile {
 public:
  WineGame(const stdfs::path& pid_file, int milliseconds, const std::string& held,
           const std::string& later = "")
      : process_(wine_command(arguments(pid_file, milliseconds, held, later))) {
    if (!wait_for_file(pid_file, 60.0)) {
      ADD_FAILURE() << "the stand-in game did not start under Wine";
      return;
    }
    pid_ = std::stoi(read_file(pid_file));
  }
  int pid() const override { return pid_; }

 private:
  static std::vector<std::string> arguments(const stdfs::path& pid_file, int milliseconds,
                                            const std::string& held, const std::string& later) {
    std::vector<std::string> args{(windows_build() / "stand-in-game.exe").string(),
                                  wine_host().text(pid_file), std::to_string(milliseconds)};
    if (!held.empty()) args.push_back(held);
    if (!later.empty()) args.push_back(later);
    return args;
  }

  ChildProcess process_;
  int pid_ = 0;
};

// A game holding a file open; its id file lives in a folder of its own.
class WineHolder final : public HeldFile {
 public:
  explicit WineHolder(const stdfs::path& file, const stdfs::path& later = {})
      : game_(scratch_ / "holder.pid", 600000, wine_host().text(file),
              later.empty() ? "" : wine_host().text(later)) {}

 private:
  TempDir scratch_;
  WineGame game_;
};

class WineHost final : public UpdaterHost {
 public:
  const char* name() const override { return "wine"; }

  std::string unavailable() const override {
    for (const stdfs::path& program : {windows_updater(), windows_shipped_updater()}) {
      if (!stdfs::exists(program)) {
        return "no Windows build at " + program.string() + " (tools/build-windows.sh makes it)";
      }
    }
    if (run_command({"sh", "-c", "command -v wine"}) != 0) return "wine is not installed";
    return "";
  }

  // Wine's drive Z: is the Unix root.
  std::string text(const stdfs::path& path) const override {
    std::string text = "Z:" + stdfs::absolute(path).string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
  }

  int run(const std::vector<std::string>& args) const override {
    return run_command(wine_run(windows_updater(), args));
  }

  int run_shipped(const std::vector<std::string>& args) const override {
    return run_command(wine_run(windows_shipped_updater(), args));
  }

  int run_pausing(const std::vector<std::string>& args, int milliseconds) const override {
    return run_command(wine_run(windows_updater(), args, pausing(milliseconds)));
  }

  stdfs::path updater() const override { return windows_updater(); }

  int run_launcher(const std::vector<std::string>& args) const override {
    return run_command(wine_run(windows_build() / "launch-updater.exe", args));
  }

  int run_copy(const stdfs::path& program, const std::vector<std::string>& args) const override {
    stdfs::copy_file(windows_updater(), program, stdfs::copy_options::overwrite_existing);
    return run_command(wine_run(program, args));
  }

  bool deletes_running_programs() const override { return false; }

  int run_within(const std::vector<std::string>& args, int seconds) const override {
    return run_command(wine_run(windows_updater(), args, within(seconds)));
  }

  stdfs::path install_game(const stdfs::path& folder) const override {
    stdfs::create_directories(folder);
    const stdfs::path game = folder / "Z-Ravelkin launcher.exe";
    stdfs::copy_file(windows_build() / "record-start.exe", game);
    return game;
  }

  // Above any id Windows hands out, and not a multiple of 4 as its ids are.
  int gone_pid() const override { return 4194305; }
  int gone_error() const override { return 87; }  // ERROR_INVALID_PARAMETER

  std::unique_ptr<RunningGame> start_game(const stdfs::path& folder,
                                          int milliseconds) const override {
    return std::make_unique<WineGame>(folder / "game.pid", milliseconds, "");
  }

  std::unique_ptr<HeldFile> hold(const stdfs::path& file) const override {
    return std::make_unique<WineHolder>(file);
  }

  std::unique_ptr<HeldFile> hold_now_and_later(const stdfs::path& file,
                                               const stdfs::path& later) const override {
    return std::make_unique<WineHolder>(file, later);
  }

  bool links_held_files() const override { return true; }
  bool moves_links() const override { return false; }

  // Wine lists a folder sorted by name without regard to case, as NTFS does.
  std::vector<std::string> listing_order(const stdfs::path& folder) const override {
    std::vector<std::string> names = list_dir_names(folder);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return std::lexicographical_compare(
          a.begin(), a.end(), b.begin(), b.end(),
          [](unsigned char x, unsigned char y) { return std::toupper(x) < std::toupper(y); });
    });
    return names;
  }
};

}  // namespace

const UpdaterHost& linux_host() {
  static const LinuxHost host;
  return host;
}

const UpdaterHost& wine_host() {
  static const WineHost host;
  return host;
}

std::vector<const UpdaterHost*> all_hosts() { return {&linux_host(), &wine_host()}; }

std::string host_name(const ::testing::TestParamInfo<const UpdaterHost*>& info) {
  return info.param->name();
}

void PrintTo(const UpdaterHost* host, std::ostream* out) { *out << host->name(); }

}  // namespace zrk::test
