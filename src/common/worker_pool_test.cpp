#include "common/worker_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace zrk {
namespace {

// Each task waits until as many tasks have started as may run at once, so a
// pool that runs fewer side by side keeps them waiting until the deadline.
TEST(WorkerPool, RunsEveryTaskOnceWithUpToItsThreadsAtATime) {
  const struct {
    unsigned threads;
    int tasks;
    int at_once;  // tasks running side by side at the most
  } kCases[] = {
      {1, 5, 1}, {2, 2, 2}, {2, 7, 2}, {3, 2, 2}, {0, 3, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.tasks) + " tasks");
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    int running = 0;
    int most_running = 0;
    bool all_met = true;
    std::vector<int> order;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    WorkerPool pool(c.threads);
    for (int i = 0; i < c.tasks; ++i) {
      pool.post([&, i] {
        std::unique_lock<std::mutex> lock(mutex);
        ++started;
        most_running = std::max(most_running, ++running);
        order.push_back(i);
        changed.notify_all();
        all_met = changed.wait_until(lock, deadline, [&] {
          return started >= std::min(c.at_once, c.tasks);
        }) && all_met;
        --running;
        changed.notify_all();
      });
    }
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_until(lock, deadline,
                         [&] { return static_cast<int>(order.size()) == c.tasks && running == 0; });
    }
    pool.stop();
    EXPECT_TRUE(all_met);
    EXPECT_EQ(most_running, c.at_once);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> each(static_cast<std::size_t>(c.tasks));
    for (int i = 0; i < c.tasks; ++i) each[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(sorted, each);
    // One thread takes them as they were posted.
    if (c.at_once == 1) {
      EXPECT_EQ(order, each);
    }
  }
}

}  // namespace
}  // namespace zrk
