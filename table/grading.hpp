// Grading a campaign: every log graded in-process on a pool of threads, the rows written in the
// order of the paths as soon as every earlier row is out (only rows that finished early wait in
// memory), failures reported as they are reached, and progress on a terminal.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <sift_campaign/formats.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "campaign.hpp"

namespace sift_runlog::table {

// "1234/20000 logs, 812 logs/s, 0:23 left, 2 failed", redrawn in place on standard error at most
// ten times a second while the logs are graded (only when `shown`). The time left counts the
// bytes left and a fixed cost per log, at the rate of the work done so far: a few big logs
// graded first would make a count of logs promise far too long, and the reverse far too short.
class progress_line {
 public:
  progress_line(bool shown, std::span<const found_log> logs);
  void count(const found_log& log);
  void draw(std::size_t done, std::size_t failed);
  // Takes the line off the terminal, until it is drawn again.
  void erase();

 private:
  bool shown_;
  std::size_t total_;
  double work_left_ = 0;
  double work_done_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point drawn_{};
  bool erased_ = true;
};

struct campaign_settings {
  campaign::table_format format = campaign::table_format::raw;
  std::optional<campaign::shard_record> part;  // --shard: the record each csv or jsonl row holds
  bool long_mode = true;                       // grade as sift_runlog -long does
  unsigned jobs = 1;                           // grading threads
  progress_line* progress = nullptr;           // drawn while the logs are graded; none: no line
  std::function<void()> before_report;         // called before a failure is said
  // The failed logs said on standard error, the first ones; the rest are only counted.
  std::size_t failures_said = SIZE_MAX;
};

struct campaign_totals {
  std::size_t graded = 0;
  std::vector<std::string> failed;  // the paths whose grade failed, in path order
  // Logs by verdict, indexed by its value.
  std::array<std::size_t, campaign::verdict_count> by_verdict{};
};

// The progress line's time left counts bytes, not logs: a log costs its size plus this many bytes
// (opening it, its row), about what a small log costs beside reading a big one.
inline constexpr double work_per_log = 64 * 1024;

// The time left of a run that has done `done` of `total` units of work in `seconds`, at the rate
// so far: "m:ss", "h:mm:ss" from an hour on, "?" before any work is done.
[[nodiscard]] std::string time_left(double done, double total, double seconds);

// Grades `logs` (sorted by path) and hands their rows to `write` in the same order; a failure is
// said on standard error, "PATH: REASON", when its row's turn comes, after its row (the first
// `failures_said` failures). Logs of 1 MiB and more are started first, largest first, so that
// the small ones are graded while they are. The grading threads hold the signals sent from
// outside (SIGINT, SIGTERM, ...): the calling thread takes them.
// `idle`, if given, is called about ten times a second, with the rows' lock held, while the graders
// work. Throws what `write` or `idle` throws, or campaign::failure when the process runs out of
// descriptors or memory (no log is then to blame), after the graders have stopped.
[[nodiscard]] campaign_totals grade_campaign(std::span<const found_log> logs,
                                             const campaign_settings& settings,
                                             const std::function<void(std::string_view)>& write,
                                             const std::function<void()>& idle = {});

}  // namespace sift_runlog::table
