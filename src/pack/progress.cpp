#include "pack/progress.h"

#include <cstdio>

namespace zrk {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
// Wide enough to cover the longest line drawn before.
constexpr int kLineWidth = 72;

}  // namespace

Progress::Progress(std::uint64_t total, bool shown) : total_(total), shown_(shown) {}

void Progress::update(std::uint64_t done) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (now - last_ < kRedrawEvery) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 && total_ > done ? static_cast<double>(total_ - done) / rate : 0;
  const auto left_seconds = static_cast<unsigned long>(left + 0.5);
  char line[128];
  std::snprintf(line, sizeof line, "%.1f of %.1f MiB, %.1f MiB/s, %lu:%02lu left",
                static_cast<double>(done) / kMiB, static_cast<double>(total_) / kMiB, rate / kMiB,
                left_seconds / 60, left_seconds % 60);
  std::fprintf(stderr, "\r%-*s", kLineWidth, line);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", kLineWidth, "");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace zrk
