#include "grading.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <numeric>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/temporary_files.hpp>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace sift_runlog::table {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::uint64_t kernel_read_ahead = 128 << 10;

struct graded_log {
  std::string row;      // as the table holds it
  std::string failure;  // why the grade failed; empty when it did not
  campaign::verdict verdict = campaign::verdict::failed;
};

graded_log encoded(campaign::row& r, const campaign_settings& settings) {
  graded_log done;
  done.verdict = r.verdict;
  if (r.verdict == campaign::verdict::failed) done.failure = campaign::report_text(r);
  r.shard = settings.part;
  campaign::append_row(settings.format, done.row, r);
  return done;
}

graded_log failed_log(const found_log& log, const campaign_settings& settings,
                      std::string_view reason) {
  campaign::row r = campaign::failed_row(log.path, reason);
  return encoded(r, settings);
}

// The folder of the last logs a grading thread opened, kept open so that the next log in it is
// opened by its own name: the kernel then walks one component instead of the whole path. A
// folder is opened at the second log in it, so that folders of one log cost nothing more.
class folder_cache {
 public:
  folder_cache() = default;
  folder_cache(const folder_cache&) = delete;
  folder_cache& operator=(const folder_cache&) = delete;
  ~folder_cache() { forget(); }

  // The log at `path`, opened without waiting; -1 with errno set when it cannot be.
  int open_log(const std::string& path) {
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const std::size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
    if (slash != std::string::npos && slash + 1 < path.size() && folder == folder_) {
      if (fd_ < 0 && !tried_) {
        tried_ = true;
        // A path handle: it needs only the right to search the folder, as the whole path does.
        const std::string name = folder.empty() ? std::string("/") : std::string(folder);
        fd_ = retried([&] { return ::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
      }
      if (fd_ >= 0) {
        const char* const own_name = path.c_str() + slash + 1;
        const int fd = retried([&] { return ::openat(fd_, own_name, flags); });
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return fd;
        // The folder's descriptor may be the one missing: it gives way to the log.
        ::close(fd_);
        fd_ = -1;
      }
    } else {
      forget();
      folder_.assign(folder);
    }
    return retried([&] { return ::open(path.c_str(), flags); });
  }

 private:
  template <typename Open>
  static int retried(const Open& open) {
    int fd = -1;
    do {
      fd = open();
    } while (fd < 0 && errno == EINTR);
    return fd;
  }

  void forget() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    tried_ = false;
  }

  std::string folder_;
  int fd_ = -1;
  bool tried_ = false;  // whether folder_ was opened, or could not be
};

// Grades one log. The file is opened here without waiting: a FIFO put in a log's place since the
// search must not block the grader, and the analysis reads no further once it finds it.
graded_log grade_one(const found_log& log, const campaign_settings& settings,
                     folder_cache& folder) {
  if (log.unread_type != 0) {
    return failed_log(log, settings, std::string(file_kind(log.unread_type)) + ", not read");
  }
  const int fd = folder.open_log(log.path);
  if (fd < 0) {
    const int error_number = errno;
    if (error_number == EMFILE || error_number == ENFILE || error_number == ENOMEM) {
      throw campaign::failure(
          "cannot open " + printable(log.path) + ": " + std::strerror(error_number) +
          (error_number == EMFILE ? "; the process may open no more files (ulimit -n): grade "
                                    "with fewer jobs (-j) or raise the limit"
                                  : ""));
    }
    return failed_log(log, settings,
                      "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot open " + printable(log.path) +
                          ": " + std::strerror(error_number));
  }
  struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } close_at_end{fd};
  // The search found a regular file of this size: the file is not asked again (one call fewer a
  // log). The analysis checks it only if its reads disagree with the size, as they would if
  // something else had been put in its place since.
  // O_NONBLOCK is left on: it changes nothing for a regular file, and it saves two calls a log.
  // The kernel reads 128 KiB ahead anyway: the hint is a call that pays on larger logs only.
  const std::uint64_t size = log.size;
  if (size > kernel_read_ahead) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  grade_options options;
  options.long_mode = settings.long_mode;
  options.keep_final_state = false;  // a row is made of the line
  try {
    grade_result graded = grade_descriptor(fd, log.path, options, size);
    if (graded.line.failure.cause == failure_cause::memory_exhausted) throw std::bad_alloc();
    campaign::row r = campaign::row_of(log.path, std::move(graded),
                                       settings.format == campaign::table_format::raw);
    return encoded(r, settings);
  } catch (const std::bad_alloc&) {
    // The analysis of a log needs the same little memory whatever the log holds.
    throw campaign::failure("out of memory while grading " + printable(log.path));
  }
}

// The order in which the logs are started: the big ones first, largest first, then the rest in
// path order, so that rows stream out as they come and a big log does not finish last, alone.
std::vector<std::size_t> grading_order(std::span<const found_log> logs) {
  constexpr std::uint64_t big = 1 << 20;
  std::vector<std::size_t> order(logs.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const std::uint64_t size_a = logs[a].size >= big ? logs[a].size : 0;
    const std::uint64_t size_b = logs[b].size >= big ? logs[b].size : 0;
    return size_a > size_b;
  });
  return order;
}

}  // namespace

progress_line::progress_line(bool shown, std::span<const found_log> logs)
    : shown_(shown), total_(logs.size()) {
  for (const found_log& log : logs) work_left_ += static_cast<double>(log.size) + work_per_log;
}

void progress_line::count(const found_log& log) {
  work_done_ += static_cast<double>(log.size) + work_per_log;
}

void progress_line::draw(std::size_t done, std::size_t failed) {
  const clock_type::time_point now = clock_type::now();
  if (!shown_ || now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char text[200];
  const int length =
      std::snprintf(text, sizeof text, "\r%s: %zu/%zu %s, %.0f logs/s, %s left, %zu failed\x1b[K",
                    campaign::program_name(), done, total_, total_ == 1 ? "log" : "logs", rate,
                    time_left(work_done_, work_left_, seconds).c_str(), failed);
  (void)!::write(STDERR_FILENO, text, static_cast<std::size_t>(std::max(length, 0)));
  erased_ = false;
}

void progress_line::erase() {
  if (!shown_ || erased_) return;
  (void)!::write(STDERR_FILENO, "\r\x1b[K", 4);
  erased_ = true;
}

std::string time_left(double done, double total, double seconds) {
  if (done <= 0 || seconds <= 0) return "?";
  const auto left = static_cast<long>(std::max(total - done, 0.0) * seconds / done + 0.5);
  char clock[32];
  if (left >= 3600) {
    std::snprintf(clock, sizeof clock, "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
  } else {
    std::snprintf(clock, sizeof clock, "%ld:%02ld", left / 60, left % 60);
  }
  return clock;
}

namespace {

// The state of one campaign's grading, shared by its graders; everything but `next_` and
// `stopping_` is guarded by `lock_`.
class campaign_run {
 public:
  campaign_run(std::span<const found_log> logs, const campaign_settings& settings,
               const std::function<void(std::string_view)>& write)
      : logs_(logs),
        settings_(settings),
        write_(write),
        order_(grading_order(logs)),
        hidden_(false, {}),
        progress_(settings.progress != nullptr ? *settings.progress : hidden_) {}

  // Grades logs until none is left or the run stops. The grader that finishes the log whose
  // row is due writes it, and the rows that waited for it: no thread is woken for a row. (A
  // writer thread woken for every row cost 3 futex calls and a context switch a log, a fifth of
  // the time of a campaign of small logs.)
  void grade() {
    folder_cache folder;
    for (std::size_t k = next_++; k < order_.size() && !stopping_; k = next_++) {
      graded_log graded;
      try {
        graded = grade_one(logs_[order_[k]], settings_, folder);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(lock_);
        stop(std::current_exception());
        return;
      }
      const std::lock_guard<std::mutex> hold(lock_);
      ++done_;
      progress_.count(logs_[order_[k]]);
      if (!graded.failure.empty()) ++failed_so_far_;
      if (order_[k] != written_) {
        waiting_.emplace(order_[k], std::move(graded));
        continue;
      }
      try {
        put(graded);
        for (auto due = waiting_.begin(); due != waiting_.end() && due->first == written_;
             due = waiting_.erase(due)) {
          put(due->second);
        }
      } catch (...) {
        stop(std::current_exception());
      }
      if (written_ == logs_.size()) all_written_.notify_one();
    }
  }

  // While the graders work: the progress line and `idle` about ten times a second.
  void watch(const std::function<void()>& idle) {
    std::unique_lock<std::mutex> hold(lock_);
    while (written_ < logs_.size() && !stopping_) {
      all_written_.wait_for(hold, std::chrono::milliseconds(100));
      progress_.draw(done_, failed_so_far_);
      try {
        if (idle) idle();
      } catch (...) {
        stop(std::current_exception());
      }
    }
  }

  // The totals, once the graders have stopped; or what stopped them, thrown.
  campaign_totals finish() {
    progress_.erase();
    if (stop_reason_) std::rethrow_exception(stop_reason_);
    return totals_;
  }

 private:
  void put(const graded_log& graded) {
    write_(graded.row);
    ++totals_.graded;
    ++totals_.by_verdict[static_cast<std::size_t>(graded.verdict)];
    if (!graded.failure.empty()) {
      if (totals_.failed.size() < settings_.failures_said) {
        progress_.erase();
        if (settings_.before_report) settings_.before_report();
        campaign::say(printable(logs_[written_].path) + ": " + graded.failure);
      }
      totals_.failed.push_back(logs_[written_].path);
    }
    ++written_;
  }

  void stop(std::exception_ptr reason) {
    if (!stop_reason_) stop_reason_ = std::move(reason);
    stopping_ = true;
    all_written_.notify_one();
  }

  std::span<const found_log> logs_;
  const campaign_settings& settings_;
  const std::function<void(std::string_view)>& write_;
  const std::vector<std::size_t> order_;
  std::atomic<std::size_t> next_{0};   // the next position in `order_` to grade
  std::atomic<bool> stopping_{false};  // a row could not be written, or resources ran out
  std::mutex lock_;
  std::condition_variable all_written_;        // for the progress line
  std::map<std::size_t, graded_log> waiting_;  // graded, rows not yet written
  std::size_t written_ = 0;                    // the rows of logs_[0, written_) are out
  std::size_t done_ = 0;
  std::size_t failed_so_far_ = 0;
  std::exception_ptr stop_reason_;
  campaign_totals totals_;
  progress_line hidden_;
  progress_line& progress_;
};

// As many graders as can be started, up to `wanted`: a process or memory limit that allows
// fewer threads slows the run down, it does not stop it.
std::vector<std::thread> start_graders(campaign_run& run, std::size_t wanted) {
  std::vector<std::thread> graders;
  std::string problem;
  // The graders leave the signals sent from outside to the main thread: a thread that is ending
  // is no place to take one (a sanitizer's runtime even drops it there).
  const campaign::signals_held held(campaign::held_signals::sent_from_outside);
  for (std::size_t i = 0; i < wanted && problem.empty(); ++i) {
    try {
      graders.emplace_back([&run] { run.grade(); });
    } catch (const std::system_error& e) {
      problem = e.code().message();
    }
  }
  if (!problem.empty()) {
    campaign::say("only " + std::to_string(graders.size()) + " of " +
                  campaign::counted(wanted, "grading thread") + " could start (" + problem + ")" +
                  (graders.empty() ? "; grading on the main thread alone" : ""));
  }
  return graders;
}

}  // namespace

campaign_totals grade_campaign(std::span<const found_log> logs, const campaign_settings& settings,
                               const std::function<void(std::string_view)>& write,
                               const std::function<void()>& idle) {
  campaign_run run(logs, settings, write);
  std::vector<std::thread> graders =
      start_graders(run, std::min<std::size_t>(settings.jobs, logs.size()));
  if (graders.empty()) {
    run.grade();
  } else {
    run.watch(idle);
  }
  for (std::thread& grader : graders) grader.join();
  return run.finish();
}

}  // namespace sift_runlog::table
