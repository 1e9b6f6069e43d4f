// Runs the built program as a user would, in a directory of its own, and captures what it
// writes and how it ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::testing_support {

// Where the program's standard output goes.
enum class stdout_target {
  captured,     // a file, read back whole when the program has ended
  dev_full,     // /dev/full: every write fails with "No space left on device"
  closed,       // no standard output at all (as with >&-)
  pipe_closed,  // a pipe whose reader takes `pipe_bytes` bytes and then closes it (| head -c N)
};

struct run_settings {
  stdout_target target = stdout_target::captured;
  std::size_t pipe_bytes = 1;  // stdout_target::pipe_closed: what is read before the close
  // Whether the program starts with SIGPIPE ignored, as under some shells and service
  // managers. Otherwise it starts with the default action, whatever this process has.
  bool ignore_sigpipe = false;
  // A program still running after this long is killed; `timed_out` then says so. A hang must
  // fail a test, never stall the suite.
  std::chrono::milliseconds time_limit = std::chrono::seconds(120);
};

struct program_result {
  std::string output;    // standard output (with pipe_closed: what the reader took)
  std::string report;    // standard error
  int exit_status = -1;  // the exit status, or 128 + the signal that ended it
  bool timed_out = false;
  // The program's peak resident set size as the kernel accounts it (ru_maxrss). The program is
  // started through a small shell, whose size before the program's exec counts too.
  long peak_rss_kib = 0;
};

// A fresh directory, removed with everything in it when the object goes.
class scratch_directory {
 public:
  scratch_directory();
  ~scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to the file `name` below the directory, making its parent directories.
  void write_file(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Runs `program` with `arguments` in `directory`, through /bin/sh (see program_runner.cpp).
[[nodiscard]] program_result run_program(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::filesystem::path& directory,
                                         const run_settings& settings);
[[nodiscard]] program_result run_program(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::filesystem::path& directory,
                                         stdout_target target = stdout_target::captured);

// Bounds every run of the program must keep. It streams its log, so its peak resident set does
// not grow with the log: a few MiB, about 22 MiB with the sanitizer runtimes; holding a 100 MiB
// line would cross either bound. The time is far more than any test log needs: a program still
// running then has hung.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif
#else
inline constexpr bool sanitized = false;
#endif
inline constexpr long memory_bound_kib = sanitized ? 48 * 1024 : 16 * 1024;
inline constexpr std::chrono::seconds time_bound{sanitized ? 120 : 60};

// The program under test, as built next to the tests.
[[nodiscard]] const std::string& sift_runlog_program();

// Cuts `text` at blanks; the arguments of the test tables.
[[nodiscard]] std::vector<std::string> split_arguments(std::string_view text);

}  // namespace sift_runlog::testing_support
