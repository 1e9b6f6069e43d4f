// The built program on what crashing tools and full disks leave behind: files that are not
// logs, odd bytes, line ends and lengths, full tables, huge lines, random junk, a log that is
// still growing, and standard output that cannot be written. Each ends with its exact output
// and exit status, in bounded time and memory, and never reports a lost result as a success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis_state.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"
#include "program_runner.hpp"
#include "run_analysis.hpp"

namespace sift_runlog {
namespace {

using namespace std::string_literals;
using testing_support::program_result;
using testing_support::run_program;
using testing_support::run_settings;
using testing_support::scratch_directory;
using testing_support::sift_runlog_program;
using testing_support::stdout_target;

using testing_support::memory_bound_kib;
using testing_support::time_bound;
constexpr auto pipe_time_bound = std::chrono::seconds(20);

constexpr std::size_t piece = line_reader::default_piece_limit;

std::string output_error(std::string_view reason) {
  return "sift_runlog: SIFT_RUNLOG.OUTPUT_ERROR: cannot write standard output: " +
         std::string(reason) + "\n";
}

constexpr std::string_view problem_report_prefix =
    "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:";

std::string repeated(std::string_view text, std::size_t count) {
  std::string result;
  result.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) result.append(text);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Large logs, written to disk piece by piece so that this process stays small.

class file_writer {
 public:
  explicit file_writer(const std::filesystem::path& path) : out_(path, std::ios::binary) {}
  void add(std::string_view bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  void add(std::size_t count, char byte) {
    const std::string block(64 * 1024, byte);
    for (; count > block.size(); count -= block.size()) add(block);
    add(std::string_view(block).substr(0, count));
  }
  void close() {
    out_.close();
    if (!out_) throw std::runtime_error("cannot write a test log");
  }

 private:
  std::ofstream out_;
};

TEST(hardening, GradesA100MiBSingleLineInBoundedMemory) {
  // One line of 6400 pieces and 21 bytes: after 1000 pieces of x a piece begins with RH_START,
  // and the last piece is the whole-line message "Can't allocate memory".
  scratch_directory directory;
  {
    file_writer log(directory.path() / "huge.log");
    log.add("# Number of cores : 4\n");
    log.add(1000 * piece, 'x');
    log.add("RH_START ");
    log.add(5400 * piece - 9, 'y');
    log.add("Can't allocate memory\n");
    log.close();
  }
  ASSERT_EQ(std::filesystem::file_size(directory.path() / "huge.log"), 22 + 6400 * piece + 22);
  run_settings settings;
  settings.time_limit = time_bound;
  const program_result result =
      run_program(sift_runlog_program(), {"huge.log"}, directory.path(), settings);
  EXPECT_EQ(result.output, "4,OK,MOVF,DNF,-\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.report, "");
  EXPECT_FALSE(result.timed_out);
  EXPECT_LT(result.peak_rss_kib, memory_bound_kib);
}

// ---------------------------------------------------------------------------------------------
// Random junk, from fixed seeds. std::mt19937's output is fixed by the standard; only its raw
// values are used, never a distribution, whose results differ between libraries.

std::string random_bytes(std::mt19937& random, std::size_t count) {
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xffU);
  return bytes;
}

TEST(hardening, GradesRandomBinaryJunkAsABadRun) {
  // Bytes without meaning: no marker can be in them (checked once for this seed), so the
  // result is fixed, whatever the odd bytes and line lengths.
  std::mt19937 random(20240611);
  scratch_directory directory;
  directory.write_file("junk.log", random_bytes(random, 4 * 1024 * 1024));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"junk.log"}, std::vector<std::string>{"-long", "junk.log"}}) {
    run_settings settings;
    settings.time_limit = time_bound;
    const program_result result =
        run_program(sift_runlog_program(), arguments, directory.path(), settings);
    const std::string expected = arguments.size() == 1 ? "NO_CORE,OK,OK,BAD_RUN?,-\n"
                                                       : "junk.log,Problem with file junk.log,-\n";
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.report, "");
    EXPECT_FALSE(result.timed_out);
  }
}

// Junk made of the log's own words, blanks, line ends and random bytes: any outcome may come,
// but it must be well formed and the same as the library gives for the same bytes in memory.
std::string random_log(std::mt19937& random) {
  // clang-format off
  static const std::vector<std::string> words = {
      "RH_START", "RH_STOP", "RH_TIME_CONFINEMENT_REACHED", "CANNOT_COMPUTE", "DO_NOT_COMPETE",
      "STATE_SPACE", "FORMULA_NAME", "NUM_VECTOR", "BOOL_VECTOR", "FORMULA", "TECHNIQUES", "STATES",
      "TRANSITIONS", "MAX_TOKEN_IN_PLACE", "MAX_TOKEN_PER_MARKING", "Model-Formula-01",
      "Model-Formula-02", "Model-Formula-01CANNOT_COMPUTE", "Executing", "tool", "velox", "marcie",
      "Number", "of", "cores", ":", "Out", "memory", "'std::bad_alloc'", "Can't allocate memory",
      "TRUE", "FALSE", "inf", "17", "2.5E+06", "spx_run:", "T1", "T2", "#",
  };
  // clang-format on
  std::string log;
  const std::size_t tokens = 20 + random() % 400;
  for (std::size_t i = 0; i < tokens; ++i) {
    switch (random() % 8) {
      case 0:
        log += '\n';
        break;
      case 1:
        log += ' ';
        break;
      case 2:
        log += random_bytes(random, 1 + random() % 8);
        break;
      default:
        log += words[random() % words.size()];
        log += random() % 4 == 0 ? '\n' : ' ';
        break;
    }
  }
  return log;
}

void expect_well_formed(const program_result& result, bool debug_mode) {
  ASSERT_FALSE(result.output.empty());
  EXPECT_EQ(result.output.back(), '\n');
  std::vector<std::string_view> lines;
  std::string_view rest = result.output;
  while (!rest.empty()) {
    const std::size_t feed = rest.find('\n');
    lines.push_back(rest.substr(0, feed));
    rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
  }
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_TRUE(debug_mode && (lines[i].starts_with("lu ") || lines[i] == "printing line"))
        << "line " << i;
  }
  if (result.exit_status == 0) {
    EXPECT_EQ(result.report, "");
  } else {
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(lines.back().starts_with("PROBLEM"));
    EXPECT_TRUE(result.report.starts_with(problem_report_prefix));
  }
}

TEST(hardening, GradesRandomWordJunkWellFormedAndAsTheLibraryDoes) {
  std::mt19937 random(7);
  scratch_directory directory;
  std::map<std::string, int> endings;
  for (int round = 0; round < 60; ++round) {
    const std::string log = random_log(random);
    run_options options;
    options.long_mode = random() % 2 == 0;
    options.debug_mode = random() % 2 == 0;
    const std::string name = "r_u_n_" + std::to_string(round) + ".log";
    directory.write_file(name, log);
    std::vector<std::string> arguments;
    if (options.long_mode) arguments.push_back("-long");
    arguments.push_back(name);
    if (options.debug_mode) arguments.push_back("-debug");
    SCOPED_TRACE("round " + std::to_string(round));

    run_settings settings;
    settings.time_limit = time_bound;
    const program_result result =
        run_program(sift_runlog_program(), arguments, directory.path(), settings);
    EXPECT_FALSE(result.timed_out);
    expect_well_formed(result, options.debug_mode);
    // Which of the four endings the run had.
    if (result.exit_status == 1) {
      ++endings["PROBLEM"];
    } else if (result.output.ends_with("ERROR,-\n")) {
      ++endings["ERROR"];
    } else if (result.output.find("Problem with file ") != std::string::npos) {
      ++endings["Problem with file"];
    } else {
      ++endings["result line"];
    }

    memory_source source(log);
    string_output_sink out;
    analysis_state state;
    const run_outcome outcome = run_analysis(name, source, options, out, state, 7);
    EXPECT_EQ(result.output, out.text());
    EXPECT_EQ(result.exit_status, outcome.exit_status);
    EXPECT_EQ(result.report, outcome.failure_report.empty() ? "" : outcome.failure_report + "\n");
  }
  // The rounds reach every ending, not only plain result lines.
  for (const char* ending : {"PROBLEM", "ERROR", "Problem with file", "result line"}) {
    EXPECT_GT(endings[ending], 0) << ending;
  }
}

// ---------------------------------------------------------------------------------------------
// Output that cannot be written: never a silent success.

// A log whose debug traces far exceed the output buffer, so that writes fail mid-analysis.
void write_chatter_log(const std::filesystem::path& path, std::size_t lines) {
  file_writer log(path);
  log.add("# Number of cores : 4\nRH_START\n");
  for (std::size_t i = 0; i < lines; ++i) log.add("tool chatter while exploring the state space\n");
  log.add("RH_STOP\n");
  log.close();
}

struct output_fault_case {
  std::string name;
  stdout_target target;
  std::vector<std::string> arguments;
  std::string report;
};

TEST(hardening, FailsWhenStandardOutputCannotBeWritten) {
  scratch_directory directory;
  write_chatter_log(directory.path() / "a_b_c_d.log", 200000);
  const output_fault_case cases[] = {
      {"full, result line only",
       stdout_target::dev_full,
       {"a_b_c_d.log"},
       output_error("No space left on device")},
      {"full, debug traces",
       stdout_target::dev_full,
       {"a_b_c_d.log", "-debug"},
       output_error("No space left on device")},
      {"full, long mode and debug traces",
       stdout_target::dev_full,
       {"-long", "a_b_c_d.log", "-debug"},
       output_error("No space left on device")},
      {"closed, result line only",
       stdout_target::closed,
       {"a_b_c_d.log"},
       output_error("Bad file descriptor")},
      {"closed, debug traces",
       stdout_target::closed,
       {"a_b_c_d.log", "-debug"},
       output_error("Bad file descriptor")},
      {"closed, usage text", stdout_target::closed, {}, output_error("Bad file descriptor")},
  };
  for (const output_fault_case& row : cases) {
    SCOPED_TRACE(row.name);
    run_settings settings;
    settings.target = row.target;
    settings.time_limit = time_bound;
    const program_result result =
        run_program(sift_runlog_program(), row.arguments, directory.path(), settings);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.report, row.report);
    EXPECT_FALSE(result.timed_out);
  }
}

TEST(hardening, EndsPromptlyWhenTheReaderOfAPipeGoesAway) {
  // `sift_runlog log -debug | head -c 1`: the program dies of SIGPIPE at its next write, like
  // cat; it must neither go on reading the log nor end with status 0 after losing its output.
  scratch_directory directory;
  write_chatter_log(directory.path() / "run.log", 400000);
  run_settings settings;
  settings.target = stdout_target::pipe_closed;
  settings.pipe_bytes = 1;
  settings.time_limit = pipe_time_bound;
  const program_result result =
      run_program(sift_runlog_program(), {"run.log", "-debug"}, directory.path(), settings);
  EXPECT_EQ(result.output, "l");
  EXPECT_EQ(result.exit_status, 128 + SIGPIPE);
  EXPECT_EQ(result.report, "");
  EXPECT_FALSE(result.timed_out);
}

TEST(hardening, ReportsABrokenPipeWhenSIGPIPEIsIgnored) {
  // Started with SIGPIPE ignored, the program sees the failed write itself and reports it.
  scratch_directory directory;
  write_chatter_log(directory.path() / "run.log", 400000);
  run_settings settings;
  settings.target = stdout_target::pipe_closed;
  settings.pipe_bytes = 3;
  settings.ignore_sigpipe = true;
  settings.time_limit = pipe_time_bound;
  const program_result result =
      run_program(sift_runlog_program(), {"run.log", "-debug"}, directory.path(), settings);
  EXPECT_EQ(result.output, "lu ");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.report, output_error("Broken pipe"));
  EXPECT_FALSE(result.timed_out);
}

// ---------------------------------------------------------------------------------------------
// A log that another process is still writing.

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(hardening, ReadsALogThatIsStillGrowingAsFarAsItGoes) {
  scratch_directory directory;
  const std::filesystem::path path = directory.path() / "growing.log";
  directory.write_file("growing.log", "# Number of cores : 4\nRH_START\n");
  for (const bool debug_mode : {false, true}) {
    SCOPED_TRACE(debug_mode ? "debug mode" : "plain");
    std::atomic<bool> graded = false;
    // Appends whole lines in blocks, with pauses, until the program has ended (or 8 MiB more
    // are written): the program, faster than the writer, meets the end of the file while the
    // log still grows.
    std::thread writer([&] {
      const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
      ASSERT_GE(fd, 0);
      const std::string block = repeated("chatter from a run that is still going\n", 1000);
      for (std::size_t written = 0; !graded && written < 8 * 1024 * 1024; written += block.size()) {
        ASSERT_EQ(::write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ::close(fd);
    });
    std::vector<std::string> arguments = {"growing.log"};
    if (debug_mode) arguments.push_back("-debug");
    run_settings settings;
    settings.time_limit = time_bound;
    const program_result result =
        run_program(sift_runlog_program(), arguments, directory.path(), settings);
    graded = true;
    writer.join();

    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.report, "");
    EXPECT_FALSE(result.timed_out);
    const std::string_view result_line = "4,OK,OK,DNF,-\n";
    ASSERT_TRUE(result.output.ends_with(result_line));
    if (!debug_mode) {
      EXPECT_EQ(result.output, result_line);
      continue;
    }
    // The traces are the log as far as it was read: a prefix of what the log became.
    std::string_view traces = result.output;
    traces.remove_suffix(result_line.size());
    ASSERT_TRUE(traces.ends_with("printing line\n"));
    traces.remove_suffix(std::string_view("printing line\n").size());
    std::string read_so_far;
    while (!traces.empty()) {
      const std::size_t feed = traces.find('\n');
      ASSERT_TRUE(traces.starts_with("lu "));
      read_so_far.append(traces.substr(3, feed - 3)).append("\n");
      traces.remove_prefix(feed + 1);
    }
    const std::string log = read_file(path);
    // The last line read may have been cut by the end of the file as it then was.
    read_so_far.pop_back();
    EXPECT_TRUE(std::string_view(log).starts_with(read_so_far));
    EXPECT_GE(read_so_far.size(), std::string_view("# Number of cores : 4\nRH_START").size());
  }
}

}  // namespace
}  // namespace sift_runlog
