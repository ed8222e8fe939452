// The exit codes of both programs. zrk-pack's check answers an archive with
// the code the updater would exit with for it, so the codes they share are
// the updater's.
#pragma once

namespace zrk {

// zrk-update's.
inline constexpr int kExitApplied = 0;
inline constexpr int kExitBadCommandLine = 1;
inline constexpr int kExitGameStillRunning = 2;
inline constexpr int kExitArchiveRefused = 3;
inline constexpr int kExitSwapFailed = 4;
inline constexpr int kExitCannotWrite = 5;

// zrk-pack's: the updater's for a verdict on an archive; a bad command line
// is 2, as its command-line parser has it.
inline constexpr int kPackOk = kExitApplied;
inline constexpr int kPackBadCommandLine = 2;
inline constexpr int kPackRefused = kExitArchiveRefused;
inline constexpr int kPackCannotReadOrWrite = kExitCannotWrite;

}  // namespace zrk
