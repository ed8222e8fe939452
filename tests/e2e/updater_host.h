// Where an end-to-end test runs zrk-update: the Linux build itself, or the
// Windows build under Wine. The scenarios are written once against this
// interface and instantiated for each host.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zrk::test {

// A stand-in game process; it is ended when the object goes away.
class RunningGame {
 public:
  virtual ~RunningGame() = default;
  // The id the updater is told to wait for.
  virtual int pid() const = 0;
};

// Keeps an installed file from being moved for the object's life.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
};

class UpdaterHost {
 public:
  virtual ~UpdaterHost() = default;

  // "linux" or "wine", for test names.
  virtual const char* name() const = 0;

  // Why this host cannot run here; empty when it can.
  virtual std::string unavailable() const = 0;

  // The text the program is given for `path`, which its log repeats.
  virtual std::string text(const std::filesystem::path& path) const = 0;

  // Runs the updater with `args` after the program name and waits for it.
  // Returns its exit code, or -1 when it did not exit normally. This is the
  // test build, which pauses a few milliseconds between the attempts at a
  // move; everything else about it is the shipped program.
  virtual int run(const std::vector<std::string>& args) const = 0;

  // As run, with the program as it ships: 250 ms between attempts.
  virtual int run_shipped(const std::vector<std::string>& args) const = 0;

  // As run, with `milliseconds` between attempts: for a scenario that gives a
  // file watcher time to act while a move is retried.
  virtual int run_pausing(const std::vector<std::string>& args, int milliseconds) const = 0;

  // The test build's program file.
  virtual std::filesystem::path updater() const = 0;

  // Runs the README's example of a game's side (launch-updater) with `args`
  // and waits for it, not for an updater it starts. Returns its exit code.
  virtual int run_launcher(const std::vector<std::string>& args) const = 0;

  // Copies the updater to `program` and runs that copy with `args`, as a game
  // that ships the updater beside itself does.
  virtual int run_copy(const std::filesystem::path& program,
                       const std::vector<std::string>& args) const = 0;

  // Whether the host deletes the file of a program that is running.
  virtual bool deletes_running_programs() const = 0;

  // As run, but the updater is killed after `seconds`; 137 then.
  virtual int run_within(const std::vector<std::string>& args, int seconds) const = 0;

  // Puts a relaunch program into `folder` that writes the text of its working
  // folder to "started.txt" beside itself. Returns the program's path.
  virtual std::filesystem::path install_game(const std::filesystem::path& folder) const = 0;

  // A process id that names no process, and the error the wait logs for it.
  virtual int gone_pid() const = 0;
  virtual int gone_error() const = 0;

  // Starts a game that runs for `milliseconds` and returns once it runs.
  virtual std::unique_ptr<RunningGame> start_game(const std::filesystem::path& folder,
                                                  int milliseconds) const = 0;

  // Keeps `file` from being moved the way this host's games or tools do: an
  // immutable file on Linux, a file open without delete sharing on Windows.
  virtual std::unique_ptr<HeldFile> hold(const std::filesystem::path& file) const = 0;

  // As hold, and keeps `later` too as soon as it appears, the way a virus
  // scanner takes a file that has just been written.
  virtual std::unique_ptr<HeldFile> hold_now_and_later(
      const std::filesystem::path& file, const std::filesystem::path& later) const = 0;

  // Whether a file that hold() keeps can still get a second name: Windows
  // links a file open without delete sharing (and then refuses to rename
  // over it), Linux refuses to link an immutable file.
  virtual bool links_held_files() const = 0;

  // Whether the host lets a program move and delete a link to a folder as
  // itself. Wine 8 lists a Unix link as a reparse point but carries out every
  // move and delete on its target, whatever the flags ask.
  virtual bool moves_links() const = 0;

  // `names` in the order in which the host lists a folder that holds them
  // (the order of the swap's lines). `folder` holds them on Linux.
  virtual std::vector<std::string> listing_order(const std::filesystem::path& folder) const = 0;
};

const UpdaterHost& linux_host();
const UpdaterHost& wine_host();

// Both hosts, for INSTANTIATE_TEST_SUITE_P.
std::vector<const UpdaterHost*> all_hosts();
std::string host_name(const ::testing::TestParamInfo<const UpdaterHost*>& info);
void PrintTo(const UpdaterHost* host, std::ostream* out);

}  // namespace zrk::test
