#include "grading.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "output_file.hpp"

namespace sift_runlog::table {

namespace {

using clock_type = std::chrono::steady_clock;

struct graded_log {
  std::string row;
  std::string failure;  // empty when the grade succeeded
  verdict_kind verdict = verdict_kind::failed;
};

// Grades one log; memory running out is that log's failure, as it is the program's.
graded_log grade_one(const found_log& log, const campaign_settings& settings) {
  grade_options options;
  options.long_mode = settings.long_mode;
  graded_log done;
  try {
    const grade_result graded = grade_file(log.path, options);
    done.verdict = graded.line.verdict;
    if (graded.exit_status != 0) done.failure = failure_text(graded);
    done.row = format_row(settings.format, log.path, graded);
  } catch (const std::bad_alloc&) {
    grade_result lost;
    lost.exit_status = 1;
    lost.report = "sift_runlog_table: out of memory";
    lost.line.verdict = verdict_kind::failed;
    lost.line.failure.reason = "out of memory";
    done = {format_row(settings.format, log.path, lost), lost.report, verdict_kind::failed};
  }
  return done;
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

// "1234/20000 logs, 812 logs/s, 0:23 left, 2 failed", redrawn in place.
class progress_line {
 public:
  progress_line(bool shown, std::size_t total) : shown_(shown), total_(total) {}

  void draw(std::size_t done, std::size_t failed) {
    const clock_type::time_point now = clock_type::now();
    if (!shown_ || now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const auto left = static_cast<long>(rate > 0 ? static_cast<double>(total_ - done) / rate : 0);
    char text[160];
    const int length = std::snprintf(
        text, sizeof text,
        "\rsift_runlog_table: %zu/%zu logs, %.0f logs/s, %ld:%02ld left, %zu failed\x1b[K", done,
        total_, rate, left / 60, left % 60, failed);
    (void)!::write(2, text, static_cast<std::size_t>(std::max(length, 0)));
    erased_ = false;
  }

  void erase() {
    if (!shown_ || erased_) return;
    (void)!::write(2, "\r\x1b[K", 4);
    erased_ = true;
  }

 private:
  bool shown_;
  std::size_t total_;
  clock_type::time_point start_ = clock_type::now();
  clock_type::time_point drawn_{};
  bool erased_ = true;
};

}  // namespace

campaign_totals grade_campaign(std::span<const found_log> logs, const campaign_settings& settings,
                               const std::function<void(std::string_view)>& write) {
  const std::vector<std::size_t> order = grading_order(logs);
  std::atomic<std::size_t> next{0};           // the next position in `order` to grade
  std::atomic<bool> stopping{false};          // a row could not be written
  std::mutex lock;                            // guards everything below
  std::condition_variable all_written;        // for the progress line
  std::map<std::size_t, graded_log> waiting;  // graded, rows not yet written
  std::size_t written = 0;                    // the rows of logs[0, written) are out
  std::size_t done = 0;
  std::size_t failed_so_far = 0;
  std::exception_ptr write_failure;
  campaign_totals totals;
  progress_line progress(settings.progress, logs.size());

  const auto put = [&](const graded_log& graded) {
    write(graded.row);
    ++totals.graded;
    ++totals.by_verdict[static_cast<std::size_t>(graded.verdict)];
    if (!graded.failure.empty()) {
      progress.erase();
      say(printable(logs[written].path) + ": " + graded.failure);
      totals.failed.push_back(logs[written].path);
    }
    ++written;
  };
  // The grader that finishes the log whose row is due writes it, and the rows that waited for
  // it: no thread is woken for a row. (A writer thread woken for every row cost 3 futex calls
  // and a context switch a log, a fifth of the time of a campaign of small logs.)
  const auto grader = [&] {
    for (std::size_t k = next++; k < order.size() && !stopping; k = next++) {
      graded_log graded = grade_one(logs[order[k]], settings);
      const std::lock_guard<std::mutex> hold(lock);
      ++done;
      if (!graded.failure.empty()) ++failed_so_far;
      if (order[k] != written) {
        waiting.emplace(order[k], std::move(graded));
        continue;
      }
      try {
        put(graded);
        for (auto due = waiting.begin(); due != waiting.end() && due->first == written;
             due = waiting.erase(due)) {
          put(due->second);
        }
      } catch (...) {
        write_failure = std::current_exception();
        stopping = true;
      }
      if (written == logs.size() || stopping) all_written.notify_one();
    }
  };
  std::vector<std::thread> graders;
  const std::size_t threads = std::min<std::size_t>(std::max(settings.jobs, 1u), logs.size());
  for (std::size_t i = 0; i < threads; ++i) graders.emplace_back(grader);
  if (settings.progress) {
    std::unique_lock<std::mutex> hold(lock);
    while (written < logs.size() && !stopping) {
      all_written.wait_for(hold, std::chrono::milliseconds(100));
      progress.draw(done, failed_so_far);
    }
    progress.erase();
  }
  for (std::thread& grader_thread : graders) grader_thread.join();
  if (write_failure) std::rethrow_exception(write_failure);
  return totals;
}

}  // namespace sift_runlog::table
