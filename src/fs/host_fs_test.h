// What the host file system tests share: a scoped temporary folder and the
// host's ZrkUpdFs, which here does not pause between attempts; the tests of
// the pause make their own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "fs/zrk_upd_fs.h"
#include "support/test_support.h"

namespace zrk {

class HostFsTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return (dir / name).u8string(); }

  test::TempDir dir;
  std::unique_ptr<ZrkUpdFs> fs = make_host_fs(std::chrono::milliseconds(0));
};

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace zrk
