// Runs a built program as a user would, in a directory of its own, and captures what it writes,
// how it ends and its peak memory. A program still running at the time limit is killed, so that
// a hang fails a test instead of stalling the suite. The one runner and the one temporary
// folder of the tests.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace sift_runlog::testing_support {

enum class stdout_target {
  captured,             // a file, read back when the program has ended
  dev_full,             // /dev/full: every write fails with "No space left on device"
  closed,               // no standard output, as with >&-
  broken_pipe,          // a pipe whose reader takes one byte and leaves, as `| head -c 1`
  broken_pipe_ignored,  // the same, with SIGPIPE ignored
};

struct run_options {
  stdout_target target = stdout_target::captured;
  std::chrono::seconds time_limit{120};
  rlim_t file_size_limit = 0;  // bytes a file may grow to (ulimit -f); 0: no limit
};

struct program_result {
  std::string output;    // standard output (with a broken pipe: what the reader took)
  std::string report;    // standard error
  int exit_status = -1;  // the exit status, or 128 + the signal that ended the program
  bool timed_out = false;
  long peak_rss_kib = 0;  // a forked child starts with this process's pages: free big buffers
};

// A fresh directory that other users may enter, removed with all it holds (locked folders
// included) when the object goes.
struct scratch_directory {
  scratch_directory();
  ~scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;
  std::filesystem::path path;
};

// Runs `program` with only the standard descriptors open, whatever this process has open.
[[nodiscard]] program_result run_program(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::filesystem::path& directory,
                                         const run_options& options = {});

}  // namespace sift_runlog::testing_support
