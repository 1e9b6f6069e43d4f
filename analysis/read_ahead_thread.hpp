// The thread that reads a byte source one block ahead: the reader asks for a block, looks at the
// one before meanwhile, and takes the new one when it needs it. What the thread does with a
// block once read (the reader indexes part of it there) is the reader's to say.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "byte_source.hpp"

namespace sift_runlog {

// Reads one block at a time on a thread of its own, when asked, into the buffer it is given,
// and then calls `after_read` with the size read, if it is not 0.
class read_ahead_thread {
 public:
  // A block taken: its size, and whether the caller had to wait for it.
  struct taken_block {
    std::size_t size;
    bool waited;
  };

  // Throws std::system_error when no thread can be started.
  explicit read_ahead_thread(byte_source& source,
                             std::function<void(std::size_t)> after_read = nullptr)
      : source_(source), after_read_(std::move(after_read)) {
    // The thread runs none of the host's signal handlers: it starts with every signal blocked
    // (faults of its own still reach it).
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    (void)::pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      thread_ = std::thread([this] { run(); });
    } catch (...) {
      (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
      throw;
    }
    (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  ~read_ahead_thread() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  read_ahead_thread(const read_ahead_thread&) = delete;
  read_ahead_thread& operator=(const read_ahead_thread&) = delete;

  // Asks for up to `size` bytes at `target`, which the caller leaves alone until take().
  void start(char* target, std::size_t size) {
    {
      const std::lock_guard lock(mutex_);
      target_ = target;
      size_ = size;
      asked_ = true;
    }
    changed_.notify_all();
  }

  // Waits for the block asked for; rethrows the source's failure.
  taken_block take() {
    std::unique_lock lock(mutex_);
    const bool waited = asked_;
    changed_.wait(lock, [this] { return !asked_; });
    if (failure_) std::rethrow_exception(failure_);
    return {got_, waited};
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return asked_ || stop_; });
      if (stop_) return;
      lock.unlock();
      std::size_t got = 0;
      std::exception_ptr failure;
      try {
        got = source_.read_some(target_, size_);
        if (got > 0 && after_read_) after_read_(got);
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      got_ = got;
      failure_ = failure;
      asked_ = false;
      changed_.notify_all();
    }
  }

  byte_source& source_;
  std::function<void(std::size_t)> after_read_;
  std::mutex mutex_;
  std::condition_variable changed_;
  char* target_ = nullptr;
  std::size_t size_ = 0;
  std::size_t got_ = 0;
  std::exception_ptr failure_;
  bool asked_ = false;  // a block is asked for and not yet read
  bool stop_ = false;
  std::thread thread_;  // last: started once everything it uses is there
};

}  // namespace sift_runlog
