// The built program end to end, for what the log table cannot show: the modes without a log,
// logs that cannot be read, and output that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "program_runner.hpp"

namespace sift_runlog {
namespace {

using testing_support::program_result;
using testing_support::run_program;
using testing_support::scratch_directory;
using testing_support::sift_runlog_program;
using testing_support::stdout_target;

program_result run_in(const scratch_directory& directory, const std::vector<std::string>& arguments,
                      stdout_target target = stdout_target::captured) {
  return run_program(sift_runlog_program(), arguments, directory.path(), target);
}

TEST(program, PrintsTheUsageTextWithoutArgumentsOrWithHelp) {
  scratch_directory directory;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"-help"}}) {
    const program_result result = run_in(directory, arguments);
    EXPECT_EQ(result.output, usage_text);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.report, "");
  }
}

TEST(program, PrintsTheHeaderLineAndIgnoresTheRest) {
  scratch_directory directory;
  const program_result result = run_in(directory, {"-header", "missing.log", "-debug"});
  EXPECT_EQ(result.output, "#time flag,memory flag,formatted result,techniques\n");
  EXPECT_EQ(result.exit_status, 0);
}

// File arguments that name no log file; nothing reaches standard output.
struct no_log_case {
  std::vector<std::string> arguments;
  std::string directory;  // made before the run when not empty
  std::string output;
  int exit_status;
  std::string report;
};

TEST(program, ReportsFileArgumentsThatAreNoLogFile) {
  const std::string no_such_file = ": No such file or directory\n";
  const std::string cannot_open = "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot open ";
  const std::string cannot_read = "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot read ";
  // clang-format off
  const no_log_case cases[] = {
      {{"-long", "missing_a_b_c.log", "-debug"}, "", "", 1, cannot_open + "missing_a_b_c.log" + no_such_file},
      {{"-HELP"}, "", "", 1, cannot_open + "-HELP" + no_such_file},
      {{""}, "", "", 1, cannot_open + no_such_file},
      {{"logs"}, "logs", "", 1, cannot_read + "logs: Is a directory\n"},
      {{"-long", "a_b_c_d", "-debug"}, "a_b_c_d", "", 1, cannot_read + "a_b_c_d: Is a directory\n"},
      // A device that reads as empty is an empty log.
      {{"/dev/null"}, "", "NO_CORE,OK,OK,BAD_RUN?,-\n", 0, ""},
  };
  // clang-format on

  for (const no_log_case& row : cases) {
    SCOPED_TRACE(row.report);
    scratch_directory directory;
    if (!row.directory.empty())
      std::filesystem::create_directories(directory.path() / row.directory);
    const program_result result = run_in(directory, row.arguments);
    EXPECT_EQ(result.output, row.output);
    EXPECT_EQ(result.exit_status, row.exit_status);
    EXPECT_EQ(result.report, row.report);
  }
}

TEST(program, ShowsControlBytesOfAFileNameEscapedInTheReport) {
  scratch_directory directory;
  const program_result result = run_in(directory, {"bad\nname"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.report,
            "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot open bad\\x0aname: No such file or "
            "directory\n");
}

TEST(program, FailsWhenStandardOutputIsFull) {
  scratch_directory directory;
  directory.write_file("run.log", "RH_START\nRH_STOP\n");
  const std::vector<std::vector<std::string>> runs = {
      {"run.log"}, {"-header"}, {}, {"run.log", "-debug"}};
  for (const std::vector<std::string>& arguments : runs) {
    const program_result result = run_in(directory, arguments, stdout_target::dev_full);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.report,
              "sift_runlog: SIFT_RUNLOG.OUTPUT_ERROR: cannot write standard output: No space left "
              "on device\n");
  }
}

TEST(program, FailsWhenStandardOutputIsClosed) {
  scratch_directory directory;
  directory.write_file("run.log", "RH_START\nRH_STOP\n");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"run.log"}, std::vector<std::string>{"-header"}}) {
    const program_result result = run_in(directory, arguments, stdout_target::closed);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.report,
              "sift_runlog: SIFT_RUNLOG.OUTPUT_ERROR: cannot write standard output: Bad file "
              "descriptor\n");
  }
}

TEST(program, KeepsThePROBLEMLineWhenStandardOutputIsFullToo) {
  // The first failure is the one reported, even when its output is lost as well.
  scratch_directory directory;
  directory.write_file("run.log", "RH_START\nFORMULA_NAME A\n");
  const program_result result = run_in(directory, {"run.log"}, stdout_target::dev_full);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.report, "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:242\n");
}

}  // namespace
}  // namespace sift_runlog
