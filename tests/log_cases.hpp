// Whole logs with the exact output and exit status they give: the one table that both the
// in-process tests and the end-to-end tests of the built program run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sift_runlog::testing_support {

struct log_case {
  std::string name;
  std::string arguments;  // the command line after the program name; the log is the file argument
  std::string log;        // the bytes of the log file
  std::string output;     // standard output, exactly
  int exit_status = 0;
  std::string report = {};  // standard error, exactly (empty when the status is 0)
};

[[nodiscard]] const std::vector<log_case>& log_cases();

// Test reports name a case, not its bytes.
inline void PrintTo(const log_case& row, std::ostream* os) { *os << row.name; }

}  // namespace sift_runlog::testing_support
