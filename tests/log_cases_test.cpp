// Every log of the case table, graded in-process (with several read-block sizes) and by the
// built program: the bytes and the exit status must be exactly those of the table.
#include "log_cases.hpp"

#include <gtest/gtest.h>

#include <span>
#include <string_view>
#include <vector>

#include "chunked_source.hpp"
#include "command_line.hpp"
#include "failures.hpp"
#include "program_runner.hpp"
#include "run_analysis.hpp"

namespace sift_runlog {
namespace {

using testing_support::log_case;

command parse(const std::vector<std::string>& arguments) {
  const std::vector<std::string_view> views(arguments.begin(), arguments.end());
  return parse_command_line(views);
}

class log_case_test : public ::testing::TestWithParam<log_case> {};

TEST_P(log_case_test, GradedInProcessGivesTheExactBytes) {
  const log_case& row = GetParam();
  const command parsed = parse(testing_support::split_arguments(row.arguments));
  ASSERT_EQ(parsed.mode, program_mode::analysis);
  // Tiny reads put block ends everywhere, small blocks make the reader refill often; the
  // output must not notice.
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64},
                                  std::size_t{4096}, std::size_t{1} << 30}) {
    SCOPED_TRACE("reads of at most " + std::to_string(chunk) + " bytes");
    testing_support::chunked_source log(row.log, chunk);
    string_output_sink out;
    analysis_state state;
    const std::size_t block_size = chunk < 4096 ? 64 : line_reader::default_block_size;
    const run_outcome outcome =
        run_analysis(parsed.file_argument, log, parsed.options, out, state, block_size);
    EXPECT_EQ(out.text(), row.output);
    EXPECT_EQ(outcome.exit_status, row.exit_status);
    EXPECT_EQ(outcome.failure_report.empty() ? "" : outcome.failure_report + "\n", row.report);
  }
}

TEST_P(log_case_test, TheProgramGivesTheExactBytesInBoundedTimeAndMemory) {
  const log_case& row = GetParam();
  const std::vector<std::string> arguments = testing_support::split_arguments(row.arguments);
  testing_support::scratch_directory directory;
  directory.write_file(parse(arguments).file_argument, row.log);
  testing_support::run_settings settings;
  settings.time_limit = testing_support::time_bound;
  const testing_support::program_result result = testing_support::run_program(
      testing_support::sift_runlog_program(), arguments, directory.path(), settings);
  EXPECT_EQ(result.output, row.output);
  EXPECT_EQ(result.exit_status, row.exit_status);
  EXPECT_EQ(result.report, row.report);
  EXPECT_FALSE(result.timed_out);
  EXPECT_LT(result.peak_rss_kib, testing_support::memory_bound_kib);
}

std::string case_name(const ::testing::TestParamInfo<log_case>& info) {
  std::string name;
  for (const char c : info.param.name) {
    name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(logs, log_case_test, ::testing::ValuesIn(testing_support::log_cases()),
                         case_name);

}  // namespace
}  // namespace sift_runlog
