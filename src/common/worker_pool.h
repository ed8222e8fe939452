// The one way the programs run work on other threads: inflating ahead of the
// tar reader, removing a tree, and zrk-pack's compression all post tasks to
// a pool of their own, which starts its threads as the tasks come and stops
// them one way.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zrk {

class WorkerPool {
 public:
  // Runs tasks on up to `threads` threads (at least 1), none started before
  // the first post.
  explicit WorkerPool(unsigned threads);
  // stop().
  ~WorkerPool();

  // Queues `task`, which a thread runs once those posted before it are
  // taken; a thread is started for it when all the running ones have work.
  // A task posted after stop() is dropped.
  void post(std::function<void()> task);
  // Drops the tasks no thread has taken yet, waits for the ones running and
  // ends the threads. Not for a task of the pool's own to call.
  void stop();

 private:
  void serve();

  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  std::size_t waiting_ = 0;  // threads waiting for a task
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// One pool for the whole process, for work started often and ended soon (a
// read-ahead per archive), where starting a thread each time would cost more
// than the work: its threads wait for the next task until the process ends.
// Threads are started as tasks find the others busy, so tasks never wait for
// each other.
WorkerPool& shared_workers();

}  // namespace zrk
