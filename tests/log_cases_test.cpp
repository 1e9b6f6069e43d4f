// The table of whole logs, log_cases.txt (its head says how to read it). Each case is graded
// through the library, with reads and blocks of several sizes, and by the built program in
// bounded time and memory: standard output, exit status and standard error must be exactly those
// of the table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "case_text.hpp"
#include "command_line.hpp"
#include "program_runner.hpp"
#include "run_analysis.hpp"
#include "sift_runlog/grade.hpp"

namespace sift_runlog {
namespace {

using testing_support::expanded;
using testing_support::stdout_target;

struct log_case {
  int line = 0;
  std::string name;
  std::vector<std::string> arguments;
  stdout_target target = stdout_target::captured;
  std::string log;  // as written in the table: expanded when the case runs
  std::string output;
  int exit_status = 0;
  std::string report;
};

void PrintTo(const log_case& row, std::ostream* os) { *os << "line " << row.line; }

log_case parse_case(std::string_view line, int number) {
  const std::vector<std::string_view> fields = testing_support::case_fields(line);
  if (fields.size() < 4 || fields.size() > 6) throw std::invalid_argument("4 to 6 fields");
  log_case row;
  row.line = number;
  row.name = fields[0];
  for (std::string_view rest = fields[1]; !rest.empty();) {
    const std::string_view token = rest.substr(0, rest.find(' '));
    rest.remove_prefix(std::min(token.size() + 1, rest.size()));
    if (!token.empty()) row.arguments.push_back(token == "''" ? "" : expanded(token));
  }
  const std::string_view targets[] = {">/dev/full", ">&-", ">broken-pipe", ">broken-pipe-ignored"};
  for (int target = 0; target < 4; ++target) {
    if (!row.arguments.empty() && row.arguments.back() == targets[target]) {
      row.target = static_cast<stdout_target>(target + 1);
      row.arguments.pop_back();
    }
  }
  row.log = fields[2];
  row.output = expanded(fields[3]);
  if (fields.size() > 4) row.exit_status = std::stoi(std::string(fields[4]));
  if (fields.size() > 5) row.report = expanded(fields[5]);
  return row;
}

std::vector<log_case> read_cases() {
  std::vector<log_case> cases;
  for (const testing_support::case_line& line : testing_support::read_case_lines(SIFT_LOG_CASES)) {
    try {
      cases.push_back(parse_case(line.text, line.number));
    } catch (const std::exception& e) {
      throw std::runtime_error("log_cases.txt:" + std::to_string(line.number) + ": " + e.what());
    }
  }
  return cases;
}

// A log in memory handed out at most `chunk` bytes per read.
class chunked_source final : public byte_source {
 public:
  chunked_source(std::string_view bytes, std::size_t chunk) : rest_(bytes), chunk_(chunk) {}
  std::size_t read_some(char* buffer, std::size_t size) override {
    const std::size_t taken = std::min({size, chunk_, rest_.size()});
    rest_.copy(buffer, taken);
    rest_.remove_prefix(taken);
    return taken;
  }

 private:
  std::string_view rest_;
  std::size_t chunk_;
};

// The program streams its log: a few MiB whatever the log, against the 64 MiB line of the table.
// Under AddressSanitizer the forked program starts with this process's freed memory, which the
// sanitizer keeps in quarantine, so there the bound only catches runaway growth.
#if defined(__SANITIZE_ADDRESS__)
constexpr long memory_bound_kib = 1024 * 1024;
#else
constexpr long memory_bound_kib = 16 * 1024;
#endif
// Any case takes a fraction of this; a program still running then has hung.
constexpr std::chrono::seconds time_bound{120};

// Reads of every size put refill and block boundaries everywhere; the tiny ones only on small
// logs, where they are cheap. A 4 MiB block lets the reader jump over megabytes at once.
struct read_pattern {
  std::size_t chunk, block_size, largest_log;
};
constexpr read_pattern read_patterns[] = {
    {1, 64, 20 << 10}, {7, 100, 256 << 10}, {4099, 64, 4 << 20}, {1 << 30, 4 << 20, 16 << 20}};

class log_case_test : public ::testing::TestWithParam<log_case> {
 protected:
  void expect_graded(const std::string& output, int exit_status, const std::string& report) {
    EXPECT_EQ(output, GetParam().output);
    EXPECT_EQ(exit_status, GetParam().exit_status);
    EXPECT_EQ(report.empty() || report.ends_with('\n') ? report : report + "\n", GetParam().report);
  }
};

TEST_P(log_case_test, GivesTheExactOutputInProcessAndAsAProgram) {
  const log_case& row = GetParam();
  const command parsed =
      parse_command_line(std::vector<std::string_view>(row.arguments.begin(), row.arguments.end()));
  const bool has_log = row.log != "!missing" && row.log != "!directory";
  std::string log = has_log ? expanded(row.log) : "";
  testing_support::scratch_directory directory;
  const std::filesystem::path file = directory.path / parsed.file_argument;
  if (parsed.mode == program_mode::analysis && row.log != "!missing") {
    std::filesystem::create_directories(has_log ? file.parent_path() : file);
    if (has_log) std::ofstream(file, std::ios::binary) << log;
  }
  const bool in_process = row.target == stdout_target::captured && log.size() <= (16 << 20);
  if (in_process && parsed.mode != program_mode::analysis) {
    const std::filesystem::path written = directory.path / "written";
    const int fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const grade_outcome ran = run_command(parsed, fd);
    ::close(fd);
    std::ifstream in(written, std::ios::binary);
    expect_graded(std::string(std::istreambuf_iterator<char>(in), {}), ran.exit_status, ran.report);
  } else if (in_process && has_log) {
    const grade_result graded = grade_buffer(log, parsed.file_argument, parsed.options);
    expect_graded(graded.output, graded.exit_status, graded.report);
    // The program leaves the final state out; kept, it changes no byte.
    grade_options with_state = parsed.options;
    with_state.keep_final_state = true;
    for (const read_pattern& reads : read_patterns) {
      if (log.size() > reads.largest_log) continue;
      SCOPED_TRACE("reads of " + std::to_string(reads.chunk) + ", blocks of " +
                   std::to_string(reads.block_size));
      chunked_source source(log, reads.chunk);
      string_output_sink out;
      const grade_outcome ran =
          run_analysis(parsed.file_argument, source, with_state, out, reads.block_size);
      expect_graded(out.text(), ran.exit_status, ran.report);
      // The failure's line and reason too, whatever the blocks.
      EXPECT_EQ(ran.line.failure.line, graded.line.failure.line);
      EXPECT_EQ(ran.line.failure.reason, graded.line.failure.reason);
    }
  }
  std::string().swap(log);  // the program starts with this process's pages: keep them few
  const testing_support::program_result ran = testing_support::run_program(
      SIFT_RUNLOG_PROGRAM, row.arguments, directory.path, {row.target, time_bound});
  expect_graded(ran.output, ran.exit_status, ran.report);
  EXPECT_FALSE(ran.timed_out);
  EXPECT_LT(ran.peak_rss_kib, memory_bound_kib);
}

std::string case_name(const ::testing::TestParamInfo<log_case>& info) {
  return testing_support::case_test_name(info.param.line, info.param.name);
}

INSTANTIATE_TEST_SUITE_P(logs, log_case_test, ::testing::ValuesIn(read_cases()), case_name);

}  // namespace
}  // namespace sift_runlog
