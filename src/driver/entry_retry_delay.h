// The pause between the attempts at a move for the program an entry file
// makes. The updater that the end-to-end tests run (zrk-update-quick) is the
// shipped program's sources built with ZRK_MOVE_RETRY_DELAY_MS, a pause of a
// few milliseconds, so that a move that must fail does not hold a test up for
// seconds. Only the entry files see that setting, so one core library serves
// both programs, and only the test build reads the environment.
#pragma once

#include <chrono>
#include <cstdlib>

#include "fs/zrk_upd_fs.h"

namespace zrk {

inline std::chrono::milliseconds entry_move_retry_delay() {
#ifdef ZRK_MOVE_RETRY_DELAY_MS
  // A test that gives a file watcher time to act between two attempts asks
  // for a longer pause.
  if (const char* asked = std::getenv("ZRK_TEST_MOVE_RETRY_DELAY_MS")) {
    return std::chrono::milliseconds(std::strtol(asked, nullptr, 10));
  }
  return std::chrono::milliseconds(ZRK_MOVE_RETRY_DELAY_MS);
#else
  return kMoveRetryDelay;
#endif
}

}  // namespace zrk
