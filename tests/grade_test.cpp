// The library call of sift_runlog/grade.hpp: the same bytes, exit status and report as the built
// program on every log of the case table, through each of its four entry points; and the
// analysis state it hands back as fields.
#include "sift_runlog/grade.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "log_cases.hpp"
#include "program_runner.hpp"

namespace sift_runlog {
namespace {

using testing_support::log_case;

// The whole final state on one line, so that a table row can give it and a failure shows it.
std::string shown(const final_state& state) {
  std::string text = std::string(verdict_name(state.verdict));
  text += " cores=" + state.cores.value_or("(none)");
  text += " tool=" + state.tool_name.value_or("(none)");
  const std::pair<bool, const char*> flags[] = {
      {state.start_found, "start"},
      {state.stop_found, "stop"},
      {state.time_confinement_reached, "time_confinement"},
      {state.memory_overflow, "memory_overflow"},
      {state.cannot_compute, "cannot_compute"},
      {state.do_not_compete, "do_not_compete"},
      {state.state_space_found, "state_space"},
      {state.formula_found, "formula"},
      {state.bool_vector_found, "bool_vector"},
      {state.num_vector_found, "num_vector"},
  };
  text += " flags=";
  for (const auto& [set, name] : flags) {
    if (set) text += std::string(name) + ",";
  }
  text += " answers=";
  for (const answer& stored : state.answers) text += stored.key + "=" + stored.value + ",";
  text += " names=";
  for (const std::string& name : state.formula_names) text += name + ",";
  text += " count=" + std::to_string(state.formula_name_count);
  text += " techniques=";
  for (const std::string& technique : state.techniques) text += technique + ",";
  return text;
}

// Runs the rest of a scope in `directory`, for the calls that take a relative path.
class working_directory {
 public:
  explicit working_directory(const std::filesystem::path& directory)
      : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
  }
  ~working_directory() { std::filesystem::current_path(saved_); }
  working_directory(const working_directory&) = delete;
  working_directory& operator=(const working_directory&) = delete;

 private:
  std::filesystem::path saved_;
};

struct arguments_of_case {
  std::vector<std::string> arguments;
  std::string file_argument;
  grade_options options;
};

arguments_of_case arguments_of(const log_case& row) {
  arguments_of_case parsed;
  parsed.arguments = testing_support::split_arguments(row.arguments);
  const std::vector<std::string_view> views(parsed.arguments.begin(), parsed.arguments.end());
  const command to_run = parse_command_line(views);
  EXPECT_EQ(to_run.mode, program_mode::analysis);
  parsed.file_argument = to_run.file_argument;
  parsed.options = {to_run.options.long_mode, to_run.options.debug_mode};
  return parsed;
}

class grade_case_test : public ::testing::TestWithParam<log_case> {};

TEST_P(grade_case_test, EveryEntryPointGivesWhatTheProgramGives) {
  const log_case& row = GetParam();
  const arguments_of_case parsed = arguments_of(row);
  testing_support::scratch_directory directory;
  directory.write_file(parsed.file_argument, row.log);
  const testing_support::program_result program = testing_support::run_program(
      testing_support::sift_runlog_program(), parsed.arguments, directory.path());
  // The library gives the report without the line end the program writes after it.
  const std::string program_report =
      program.report.ends_with('\n') ? program.report.substr(0, program.report.size() - 1) : "";
  ASSERT_EQ(program.report, program_report.empty() ? "" : program_report + "\n");

  const grade_result from_buffer = grade_buffer(row.log, parsed.file_argument, parsed.options);
  std::string buffer_streamed;
  const grade_outcome buffer_stream =
      grade_buffer(row.log, parsed.file_argument, parsed.options,
                   [&](std::string_view bytes) { buffer_streamed.append(bytes); });
  grade_result from_file;
  grade_outcome file_stream;
  std::string file_streamed;
  {
    working_directory in_scratch(directory.path());
    from_file = grade_file(parsed.file_argument, parsed.options);
    file_stream = grade_file(parsed.file_argument, parsed.options,
                             [&](std::string_view bytes) { file_streamed.append(bytes); });
  }

  EXPECT_EQ(from_buffer.output, program.output);
  EXPECT_EQ(from_buffer.exit_status, program.exit_status);
  EXPECT_EQ(from_buffer.report, program_report);
  const std::string state = shown(from_buffer.state);
  EXPECT_EQ(buffer_streamed, program.output);
  EXPECT_EQ(buffer_stream.exit_status, program.exit_status);
  EXPECT_EQ(buffer_stream.report, program_report);
  EXPECT_EQ(shown(buffer_stream.state), state);
  EXPECT_EQ(from_file.output, program.output);
  EXPECT_EQ(from_file.exit_status, program.exit_status);
  EXPECT_EQ(from_file.report, program_report);
  EXPECT_EQ(shown(from_file.state), state);
  EXPECT_EQ(file_streamed, program.output);
  EXPECT_EQ(file_stream.exit_status, program.exit_status);
  EXPECT_EQ(file_stream.report, program_report);
  EXPECT_EQ(shown(file_stream.state), state);
  // A grade ends with status 1 exactly when its verdict says it failed.
  EXPECT_EQ(from_buffer.state.verdict == verdict_kind::failed, program.exit_status == 1);
}

std::string case_name(const ::testing::TestParamInfo<log_case>& info) {
  std::string name;
  for (const char c : info.param.name) {
    name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(logs, grade_case_test, ::testing::ValuesIn(testing_support::log_cases()),
                         case_name);

// Logs with the state they leave, through the buffer call and its streaming form.
struct state_case {
  std::string name;
  std::string arguments;  // as for the program; the last argument but a final -debug is the file
  std::string log;
  std::string state;  // shown()
};

const std::string velox_run =
    "# Executing tool velox\n# Number of cores : 4\nRH_START\n"
    "STATE_SPACE STATES 1024 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE TRANSITIONS 5000 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE MAX_TOKEN_IN_PLACE 1 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE MAX_TOKEN_PER_MARKING 3 TECHNIQUES TECH_A TECH_B\nRH_STOP\n";

const state_case state_cases[] = {
    {"state space", "run.log", velox_run,
     "state_space cores=4 tool=velox flags=start,stop,state_space, answers=STATES=1024,"
     "TRANSITIONS=5000,MAX_TOKEN_IN_PLACE=1,MAX_TOKEN_PER_MARKING=3, names= count=0 "
     "techniques=TECH_A,TECH_B,"},
    {"Boolean formulas, one unanswered", "run.log",
     "FORMULA_NAME F-01\nFORMULA_NAME F-02\nFORMULA_NAME F-03\nBOOL_VECTOR\nRH_START\n"
     "FORMULA F-02 FALSE TECHNIQUES T\nFORMULA F-01 TRUE\nRH_STOP\n",
     "formula_answers cores=(none) tool=(none) flags=start,stop,formula,bool_vector, "
     "answers=F-02=FALSE,F-01=TRUE, names=F-01,F-02,F-03, count=3 techniques=T,"},
    {"numeric formulas, timed out", "run.log",
     "# Number of cores : 8\nFORMULA_NAME F-01\nFORMULA_NAME F-02\nNUM_VECTOR\nRH_START\n"
     "FORMULA F-01 12 TECHNIQUES A B\nRH_TIME_CONFINEMENT_REACHED\n",
     "formula_answers cores=8 tool=(none) flags=start,time_confinement,formula,num_vector, "
     "answers=F-01=12, names=F-01,F-02, count=2 techniques=A,B,"},
    {"a formula the tool gave up on stores ?", "run.log",
     "FORMULA_NAME F\nRH_START\nFORMULA F CANNOT_COMPUTE\nRH_STOP\n",
     "formula_answers cores=(none) tool=(none) flags=start,stop,formula, answers=F=?, names=F, "
     "count=1 techniques="},
    {"repeated formula names", "run.log",
     "FORMULA_NAME A\nFORMULA_NAME B\nFORMULA_NAME A\nRH_START\nFORMULA A 1\nRH_STOP\n",
     "formula_answers cores=(none) tool=(none) flags=start,stop,formula, answers=A=1, "
     "names=A,B, count=3 techniques="},
    {"declared cannot compute", "run.log", "RH_START\nCANNOT_COMPUTE\nRH_STOP\n",
     "cannot_compute cores=(none) tool=(none) flags=start,stop,cannot_compute, answers= names= "
     "count=0 techniques="},
    {"stopped without an answer, out of memory", "run.log",
     "# Number of cores : 8\nRH_START\nCan't allocate memory\nRH_STOP\n",
     "stopped_without_answer cores=8 tool=(none) flags=start,stop,memory_overflow, answers= "
     "names= count=0 techniques="},
    {"did not finish", "run.log", "RH_START\nRH_TIME_CONFINEMENT_REACHED\n",
     "did_not_finish cores=(none) tool=(none) flags=start,time_confinement, answers= names= "
     "count=0 techniques="},
    {"never started", "run.log", "# Executing tool t\n",
     "bad_run cores=(none) tool=t flags= answers= names= count=0 techniques="},
    {"do not compete", "run.log", "DO_NOT_COMPETE\n" + velox_run,
     "do_not_compete cores=4 tool=velox flags=start,stop,do_not_compete,state_space, "
     "answers=STATES=1024,TRANSITIONS=5000,MAX_TOKEN_IN_PLACE=1,MAX_TOKEN_PER_MARKING=3, "
     "names= count=0 techniques=TECH_A,TECH_B,"},
    {"an empty core count", "run.log", "# Number of cores : \n",
     "bad_run cores= tool=(none) flags= answers= names= count=0 techniques="},
    {"a key with a colon reads as the line reads it", "run.log",
     "# Executing tool t\nRH_START\nSTATE_SPACE S:T 12\nRH_STOP\n",
     "state_space cores=(none) tool=t flags=start,stop,state_space, answers=S=T, names= count=0 "
     "techniques="},

    // How a grade ends without a complete result line.
    {"data error in the scan", "run.log", "FORMULA FCANNOT_COMPUTE\n",
     "data_error cores=(none) tool=(none) flags=cannot_compute,formula, answers= names= count=0 "
     "techniques="},
    {"data error in the scan, debug", "run.log -debug", "FORMULA FCANNOT_COMPUTE\n",
     "data_error cores=(none) tool=(none) flags=cannot_compute,formula, answers= names= count=0 "
     "techniques="},
    {"data error in the scan, where the line would fail on the file name", "-long a_b_c.log",
     "FORMULA FCANNOT_COMPUTE\n",
     "data_error cores=(none) tool=(none) flags=cannot_compute,formula, answers= names= count=0 "
     "techniques="},
    {"data error in the scan after a line that reads like a failure", "run.log -debug",
     "Problem with file run.log,-\nFORMULA FCANNOT_COMPUTE\n",
     "data_error cores=(none) tool=(none) flags=cannot_compute,formula, answers= names= count=0 "
     "techniques="},
    {"data error in the result line", "-long a_b_c_d.log",
     "# Number of cores : 4\nSTATE_SPACE TRANSITIONS 5000\n",
     "data_error cores=4 tool=(none) flags=state_space, answers=TRANSITIONS=5000, names= count=0 "
     "techniques="},
    {"missing word in the scan", "run.log", "FORMULA_NAME\n",
     "problem_with_file cores=(none) tool=(none) flags= answers= names= count=0 techniques="},
    {"missing word in the scan, where the line would be a data error", "run.log -debug",
     "# Number of cores : 4\nSTATE_SPACE TRANSITIONS 5000\nFORMULA_NAME\n",
     "problem_with_file cores=4 tool=(none) flags=state_space, answers=TRANSITIONS=5000, names= "
     "count=0 techniques="},
    {"missing part of the file name", "-long a_b_c.log", "RH_START\n",
     "problem_with_file cores=(none) tool=(none) flags=start, answers= names= count=0 "
     "techniques="},
    {"declaration after the start", "run.log", "FORMULA_NAME A\nRH_START\nFORMULA_NAME B\n",
     "failed cores=(none) tool=(none) flags=start, answers= names=A, count=1 techniques="},
};

TEST(grade_buffer, LeavesTheFinalStateAsFields) {
  for (const state_case& row : state_cases) {
    SCOPED_TRACE(row.name);
    const arguments_of_case parsed = arguments_of({row.name, row.arguments, row.log, ""});
    const grade_result graded = grade_buffer(row.log, parsed.file_argument, parsed.options);
    EXPECT_EQ(shown(graded.state), row.state) << graded.output;
    const grade_outcome streamed =
        grade_buffer(row.log, parsed.file_argument, parsed.options, [](std::string_view) {});
    EXPECT_EQ(shown(streamed.state), row.state);
  }
}

TEST(grade_buffer, KeepsEnoughOfALongOutputToTellHowItEnded) {
  // Megabytes of debug traces before the end; the streaming call keeps only the last part.
  constexpr std::size_t line_count = 3 * 1024 * 1024 / 64;
  std::string traces;
  traces.reserve(line_count * 64);
  for (std::size_t i = 0; i < line_count; ++i) traces.append(63, 'x').append(1, '\n');
  // A result line of a quarter of a megabyte: 16 answers and 16 techniques of 8000 bytes.
  std::string long_answers = "# Number of cores : " + std::string(16000, '8') + "\nNUM_VECTOR\n";
  for (int i = 1; i <= 16; ++i) long_answers += "FORMULA_NAME F" + std::to_string(i) + "\n";
  long_answers += "RH_START\n";
  for (int i = 1; i <= 16; ++i) {
    long_answers += "FORMULA F" + std::to_string(i) + " " + std::string(8000, '1') +
                    " TECHNIQUES " + std::string(8000, static_cast<char>('a' + i)) + "\n";
  }
  const std::pair<std::string, verdict_kind> endings[] = {
      {long_answers, verdict_kind::formula_answers},
      {"# Number of cores : " + std::string(16000, '8') + "\nSTATE_SPACE TRANSITIONS 1\n",
       verdict_kind::data_error},
      {"RH_START\n", verdict_kind::did_not_finish},
      {"FORMULA FCANNOT_COMPUTE\n", verdict_kind::data_error},
      {"FORMULA_NAME\n", verdict_kind::problem_with_file},
  };
  for (const auto& [ending, verdict] : endings) {
    SCOPED_TRACE(ending.substr(0, 40));
    std::size_t received = 0;
    const grade_outcome graded =
        grade_buffer(traces + ending, "run.log", {.long_mode = false, .debug_mode = true},
                     [&](std::string_view bytes) { received += bytes.size(); });
    EXPECT_EQ(graded.state.verdict, verdict);
    EXPECT_GT(received, traces.size() + ending.size());
  }
}

TEST(grade_file, ReportsALogThatCannotBeOpened) {
  testing_support::scratch_directory directory;
  const std::string missing = (directory.path() / "missing.log").string();
  const grade_result graded = grade_file(missing, {.long_mode = true, .debug_mode = false});
  EXPECT_EQ(graded.output, "");
  EXPECT_EQ(graded.exit_status, 1);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot open " + missing +
                               ": No such file or directory");
  EXPECT_EQ(graded.state.verdict, verdict_kind::failed);
}

TEST(grade_buffer, StopsCallingAWriterThatThrew) {
  int calls = 0;
  const grade_outcome graded = grade_buffer(velox_run, "run.log", {}, [&](std::string_view) {
    ++calls;
    throw std::runtime_error("the harness's pipe is closed");
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(graded.exit_status, 1);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.INTERNAL_ERROR: the harness's pipe is closed");
  EXPECT_EQ(graded.state.verdict, verdict_kind::failed);
}

TEST(grade_buffer, KeepsTheFirstFailureWhenTheWriterThrowsAfterIt) {
  // The PROBLEM line is handed over while the analysis already fails.
  const grade_outcome graded =
      grade_buffer("RH_START\nBOOL_VECTOR\n", "run.log", {},
                   [](std::string_view) { throw std::runtime_error("the pipe is closed"); });
  EXPECT_EQ(graded.exit_status, 1);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:256");
  EXPECT_EQ(graded.state.verdict, verdict_kind::failed);
}

TEST(grade_buffer, HandsOverThePROBLEMLineBeforeItEnds) {
  std::string received;
  const grade_outcome graded =
      grade_buffer("RH_START\nNUM_VECTOR\n", "run.log", {},
                   [&](std::string_view bytes) { received.append(bytes); });
  EXPECT_EQ(received, "PROBLEM with the location of directives FORMULA_NAME (after RH_START)\n");
  EXPECT_EQ(graded.exit_status, 1);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:249");
}

TEST(verdict_name, NamesEveryVerdict) {
  const std::pair<verdict_kind, std::string_view> names[] = {
      {verdict_kind::do_not_compete, "do_not_compete"},
      {verdict_kind::formula_answers, "formula_answers"},
      {verdict_kind::cannot_compute, "cannot_compute"},
      {verdict_kind::state_space, "state_space"},
      {verdict_kind::stopped_without_answer, "stopped_without_answer"},
      {verdict_kind::did_not_finish, "did_not_finish"},
      {verdict_kind::bad_run, "bad_run"},
      {verdict_kind::data_error, "data_error"},
      {verdict_kind::problem_with_file, "problem_with_file"},
      {verdict_kind::failed, "failed"},
  };
  for (const auto& [verdict, name] : names) EXPECT_EQ(verdict_name(verdict), name);
}

}  // namespace
}  // namespace sift_runlog
