// The sift_runlog_table command once its command line is read: find the logs, grade them, write
// the table, the failed list and the summary; or join the tables of a sharded campaign.
#pragma once

#include <optional>
#include <sift_campaign/formats.hpp>
#include <sift_campaign/shard.hpp>
#include <string>
#include <vector>

#include "campaign.hpp"

namespace sift_runlog::table {

struct table_settings {
  std::vector<std::string> paths;       // logs and directories, or with `merge` the tables
  std::vector<std::string> from_lists;  // --from: files of paths, "-" for standard input
  std::string pattern = "*.log";
  unsigned jobs = 0;  // 0: as many as default_jobs()
  bool long_mode = true;
  campaign::table_format format = campaign::table_format::raw;
  std::string output;                      // -o; empty (not given) or "-": standard output
  std::string failed_list;                 // --failed; empty: none; "-": standard output
  std::string output_option = "-o";        // as typed, for messages
  std::string failed_option = "--failed";  // as typed, for messages
  std::optional<campaign::shard> part;
  bool quiet = false;
  bool merge = false;
};

// The processors this process may run on (sched_getaffinity), at least 1.
[[nodiscard]] unsigned default_jobs();

// How many of `jobs` grading threads fit in the address space the process may use
// (RLIMIT_AS), each with its stack, heap arena and working memory: all of them when it is
// unlimited.
[[nodiscard]] unsigned jobs_that_fit(unsigned jobs);

// Runs the command and returns its exit status: 0 every log graded, 1 some failed (or a folder
// could not be searched). Messages go to standard error. Throws campaign::failure when no table
// is written.
[[nodiscard]] int run_table(const table_settings& settings);

}  // namespace sift_runlog::table
