// One updating line on stderr while an archive is made: bytes done of the
// total, the rate and the time left.
#pragma once

#include <chrono>
#include <cstdint>

namespace zrk {

class Progress {
 public:
  // Draws nothing unless `shown`.
  Progress(std::uint64_t total, bool shown);
  // Redraws the line for `done` bytes, at most a few times a second.
  void update(std::uint64_t done);
  // Clears the line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::uint64_t total_;
  bool shown_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_ = start_;
};

}  // namespace zrk
