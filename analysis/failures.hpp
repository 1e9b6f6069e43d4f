// The failure classes of the analysis, one type each, and the one place where a failure that
// ends the process becomes its report text.
//
//   data_error              a value that is not a number where one is needed, a position outside
//                           a table, a null text used; the analysis turns it into "ERROR,-".
//   Index_Error             a word or part asked for beyond the last one; the run driver turns it
//                           into the "Problem with file ..." line.
//   ANALYSIS_PROBLEM_ERROR  a misplaced declaration or a full table; ends the process (status 1).
//   input_error             the log cannot be opened or read; ends the process (status 1).
//   output_error            standard output cannot be written; ends the process (status 1).
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "sift_runlog/grade.hpp"  // printable()

namespace sift_runlog {

class data_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Index_Error : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// The program's own exception. Its message is one of "sift_runlog:99", "sift_runlog:242",
// "sift_runlog:249" and "sift_runlog:256"; it carries the line beginning "PROBLEM" that the
// program writes for it, and the rule that was broken in words.
class ANALYSIS_PROBLEM_ERROR : public std::runtime_error {
 public:
  ANALYSIS_PROBLEM_ERROR(const char* message, std::string_view problem_line, std::string reason)
      : std::runtime_error(message), problem_line_(problem_line), reason_(std::move(reason)) {}
  [[nodiscard]] std::string_view problem_line() const noexcept { return problem_line_; }
  [[nodiscard]] const std::string& reason() const noexcept { return reason_; }

 private:
  std::string_view problem_line_;  // a literal
  std::string reason_;
};

// Carries the operating system's reason (errno) with a short context such as "cannot open x".
class system_failure : public std::runtime_error {
 public:
  system_failure(std::string_view context, int error_number);
  // For a reason the system gives no number for: "<context>: <reason>", error number 0.
  system_failure(std::string_view context, std::string_view reason);
  int error_number() const noexcept { return error_number_; }

 private:
  int error_number_;
};

class input_error : public system_failure {
 public:
  using system_failure::system_failure;
};

class output_error : public system_failure {
 public:
  using system_failure::system_failure;
};

// The one-line report (without its line end) for a failure that ends the process: the program
// name, the failure's name and its message, for example
// "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:242".
std::string failure_report(const std::exception_ptr& failure);
// The message part of that report, e.g. "sift_runlog:242".
std::string failure_message(const std::exception_ptr& failure);
// Which kind of failure it is.
failure_cause failure_cause_of(const std::exception_ptr& failure);

}  // namespace sift_runlog
