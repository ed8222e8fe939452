#include "common/worker_pool.h"

#include <algorithm>

namespace zrk {

WorkerPool::WorkerPool(unsigned threads) : limit_(std::max(threads, 1u)) {}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    tasks_.push_back(std::move(task));
    // Each waiting thread takes one task; one more is started for a task
    // that none of them will.
    if (tasks_.size() > waiting_ && threads_.size() < limit_) {
      threads_.emplace_back([this] { serve(); });
    }
  }
  changed_.notify_one();
}

void WorkerPool::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++waiting_;
    changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    --waiting_;
    if (stopping_) return;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

void WorkerPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

WorkerPool& shared_workers() {
  // More than any number of archives read at once.
  static WorkerPool workers(64);
  return workers;
}

}  // namespace zrk
