// The game wait and the relaunch through OpenProcess, WaitForSingleObject and
// CreateProcessW, with real processes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "driver/process.h"
#include "driver/update_log.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A program built beside this test binary.
stdfs::path helper_program(const wchar_t* name) {
  wchar_t self[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  EXPECT_TRUE(length > 0 && length <= MAX_PATH);
  return stdfs::path(self).parent_path() / name;
}

// The stand-in game, living `milliseconds`; its process id once it runs.
class StandInGame {
 public:
  StandInGame(const stdfs::path& folder, int milliseconds) {
    const stdfs::path pid_file = folder / "game.pid";
    std::wstring command_line = L"\"" + helper_program(L"stand-in-game.exe").native() + L"\" \"" +
                                pid_file.native() + L"\" " + std::to_wstring(milliseconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info_)) {
      ADD_FAILURE() << "cannot start the stand-in game: error " << GetLastError();
      return;
    }
    EXPECT_TRUE(test::wait_for_file(pid_file, 10.0));
    pid_ = static_cast<std::int32_t>(info_.dwProcessId);
  }
  ~StandInGame() {
    if (info_.hProcess == nullptr) return;
    TerminateProcess(info_.hProcess, 1);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  StandInGame(const StandInGame&) = delete;
  StandInGame& operator=(const StandInGame&) = delete;

  std::int32_t pid() const { return pid_; }

 private:
  PROCESS_INFORMATION info_{};
  std::int32_t pid_ = 0;
};

class ProcessWin32 : public ::testing::Test {
 protected:
  ProcessWin32() { open_update_log(dir_.path(), &log_); }

  std::vector<std::string> logged() const {
    log_.close();
    return test::read_log_messages(dir_ / "update.log");
  }

  test::TempDir dir_;
  mutable WritableFile log_;
};

TEST_F(ProcessWin32, AnIdThatNamesNoProcessIsGoneWithError87) {
  // Above any id Windows hands out, and not a multiple of 4 as its ids are.
  ASSERT_TRUE(wait_for_game(&log_, 4194305, 1000));
  EXPECT_EQ(logged(), (std::vector<std::string>{"zrk-update: waiting for pid 4194305",
                                                "pid 4194305 is gone (error 87)"}));
}

// The stand-in games are started by the test, after it: the updater's start
// is taken as the game's own, as when the game starts the updater.
ProcessStart start_of(const StandInGame& game) {
  const std::optional<ProcessStart> start = process_start(game.pid());
  EXPECT_TRUE(start.has_value());
  return start.value_or(0);
}

TEST_F(ProcessWin32, AGameThatEndsInTimeIsWaitedFor) {
  StandInGame game(dir_.path(), 700);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(wait_for_game(&log_, game.pid(), 10000, start_of(game)));
  EXPECT_GT(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(logged(),
            std::vector<std::string>{"zrk-update: waiting for pid " + std::to_string(game.pid())});
}

TEST_F(ProcessWin32, AGameThatOutlivesTheLimitStopsTheRun) {
  StandInGame game(dir_.path(), 20000);
  EXPECT_FALSE(wait_for_game(&log_, game.pid(), 1000, start_of(game)));
  const std::string pid = std::to_string(game.pid());
  EXPECT_EQ(logged(), (std::vector<std::string>{"zrk-update: waiting for pid " + pid,
                                                "pid " + pid + " is still running after 1 s"}));
}

// The game ended and its id went to a process started after the updater
// (this test): that one is not waited for.
TEST_F(ProcessWin32, AProcessStartedAfterTheUpdaterIsNotTheGame) {
  StandInGame stranger(dir_.path(), 20000);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(wait_for_game(&log_, stranger.pid(), 5000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  const std::string pid = std::to_string(stranger.pid());
  EXPECT_EQ(logged(), (std::vector<std::string>{"zrk-update: waiting for pid " + pid,
                                                "pid " + pid + " is gone (error 87)"}));
}

TEST_F(ProcessWin32, TheRelaunchRunsInTheInstallFolderWhateverItsName) {
  const stdfs::path game_dir = dir_.path() / stdfs::u8path("game dir \xC3\xA9\xE5\xAD\x97");
  const stdfs::path install = dir_.path() / stdfs::u8path("Z Ravelkin \xC3\xA9t\xC3\xA9");
  stdfs::create_directories(game_dir);
  stdfs::create_directories(install);
  const stdfs::path game = game_dir / "Z-Ravelkin game.exe";
  stdfs::copy_file(helper_program(L"record-start.exe"), game);

  ASSERT_EQ(start_program(game, install), std::error_code());
  ASSERT_TRUE(test::wait_for_file(game_dir / "started.txt", 10.0));
  Sleep(100);  // the record is closed right after it appears
  EXPECT_EQ(test::read_file(game_dir / "started.txt"), install.u8string());
  EXPECT_NE(start_program(game_dir / "missing.exe", install), std::error_code());
}

// `folder` made `length` characters long by folders of x below it.
stdfs::path deepened(stdfs::path folder, std::size_t length) {
  while (folder.native().size() < length) {
    const std::size_t room = length - folder.native().size() - 1;
    std::size_t take = std::min<std::size_t>(room, 60);
    if (room - take == 1) --take;  // a folder name takes two characters at least
    folder /= std::wstring(take, L'x');
  }
  return folder;
}

// Named as the application, the program may sit deeper than the command
// line's first token may name it (MAX_PATH): in a deep install folder, the
// game's own. The folders are made in the long form, as the run makes them.
TEST_F(ProcessWin32, TheRelaunchStartsTheGameInADeepInstallFolder) {
  for (const std::size_t length : {240, 250, 258}) {
    SCOPED_TRACE(length);
    const stdfs::path install = deepened(dir_.path() / std::to_wstring(length), length);
    const stdfs::path long_install = L"\\\\?\\" + install.native();
    stdfs::create_directories(long_install);
    const stdfs::path game = long_install / L"Z-Ravelkin.exe";
    stdfs::copy_file(helper_program(L"record-start.exe"), game);
    EXPECT_EQ(start_program(game, long_install), std::error_code());
    EXPECT_TRUE(test::wait_for_file(long_install / "started.txt", 10.0));
  }
}

}  // namespace
}  // namespace zrk
