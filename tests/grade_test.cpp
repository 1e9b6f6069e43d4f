// The library call: the analysis state handed back as fields, and a caller's output function
// that fails. (Its bytes, status and report are those of the program on every whole log: see
// log_cases_test.cpp.)
#include "sift_runlog/grade.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace sift_runlog {
namespace {

// The whole final state on one line.
std::string shown(const final_state& state) {
  std::string text = std::string(verdict_name(state.verdict));
  text += " cores=" + state.cores.value_or("-") + " tool=" + state.tool_name.value_or("-") + " ";
  for (const bool flag :
       {state.start_found, state.stop_found, state.time_confinement_reached, state.memory_overflow,
        state.cannot_compute, state.do_not_compete, state.state_space_found, state.formula_found,
        state.bool_vector_found, state.num_vector_found}) {
    text += flag ? '1' : '0';
  }
  text += " answers=";
  for (const answer& stored : state.answers) text += stored.key + "=" + stored.value + ",";
  text += " names=";
  for (const std::string& name : state.formula_names) text += name + ",";
  text += " count=" + std::to_string(state.formula_name_count) + " techniques=";
  for (const std::string& technique : state.techniques) text += technique + ",";
  return text;
}

TEST(grade_buffer, LeavesTheFinalStateAsFields) {
  const std::string log =
      "# Executing tool velox\n# Number of cores : 4\nFORMULA_NAME F1\nFORMULA_NAME F2\n"
      "FORMULA_NAME F1\nNUM_VECTOR\nBOOL_VECTOR\nRH_START\nSTATE_SPACE STATES 9 TECHNIQUES A B\n"
      "STATE_SPACE TRANSITIONS CANNOT_COMPUTE\nFORMULA F1 TRUE\nFORMULA F2 a:b TECHNIQUES T\n"
      "Can't allocate "
      "memory\nRH_TIME_CONFINEMENT_REACHED\nFORMULA F3CANNOT_COMPUTE\nDO_NOT_COMPETE\nRH_STOP\n";
  const std::string state =
      "do_not_compete cores=4 tool=velox 1111111111 answers=STATES=9,TRANSITIONS=?,F1=?,F2=a, "
      "names=F1,F2, count=3 techniques=A,B,T,";
  EXPECT_EQ(shown(grade_buffer(log, "run.log").state), state);
  EXPECT_EQ(shown(grade_buffer(log, "run.log", {}, [](std::string_view) {}).state), state);
  // Left out, but for the verdict; the line and the output are the same.
  grade_options without_state;
  without_state.keep_final_state = false;
  const grade_result lean = grade_buffer(log, "run.log", without_state);
  EXPECT_EQ(shown(lean.state),
            "do_not_compete cores=- tool=- 0000000000 answers= names= count=0 techniques=");
  EXPECT_EQ(lean.output, grade_buffer(log, "run.log").output);
}

TEST(grade_buffer, NamesHowEveryGradeEnds) {
  const std::pair<std::string_view, std::string_view> endings[] = {
      {"FORMULA F1 1\n", "formula_answers"},
      {"STATE_SPACE TRANSITIONS 1\n", "data_error"},
      {"STATE_SPACE STATES\n", "problem_with_file"},
      {"RH_START\nNUM_VECTOR\n", "failed"},
      {"CANNOT_COMPUTE\n", "cannot_compute"},
      {"RH_START\nRH_STOP\n", "stopped_without_answer"},
      {"RH_START\n", "did_not_finish"},
      {"", "bad_run"},
  };
  for (const auto& [log, verdict] : endings) {
    const grade_result graded = grade_buffer(log, "run.log");
    EXPECT_EQ(verdict_name(graded.state.verdict), verdict) << log;
    EXPECT_EQ(graded.line.text(false), graded.output);
  }
  // The answers field alone, as a table shows it: only a grade with answers has one.
  const std::string answers =
      "FORMULA_NAME F1\nFORMULA_NAME F2\nFORMULA F1 TRUE\nFORMULA F2 FALSE\n";
  EXPECT_EQ(grade_buffer(answers, "run.log").line.formatted_answers(), "2 NUM:TRUE NUM:FALSE");
  EXPECT_EQ(grade_buffer("RH_START\n", "run.log").line.formatted_answers(), "");
}

TEST(grade_buffer, EndsWithTheFirstFailureAndCallsAFailedOutputFunctionNoMore) {
  int calls = 0;
  const auto failing = [&](std::string_view) {
    ++calls;
    throw std::runtime_error("the pipe is closed");
  };
  grade_outcome graded = grade_buffer("RH_START\nRH_STOP\n", "run.log", {false, true}, failing);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.INTERNAL_ERROR: the pipe is closed");
  EXPECT_EQ(graded.state.verdict, verdict_kind::failed);
  EXPECT_EQ(graded.line.file, "run.log");
  EXPECT_EQ(graded.line.failure.reason, "the pipe is closed");
  // The PROBLEM line is handed over as the analysis fails already.
  graded = grade_buffer("RH_START\nBOOL_VECTOR\n", "run.log", {}, failing);
  EXPECT_EQ(graded.report, "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:256");
}

// A thread reuses the buffers of its last grade: the bytes left in them from a longer log, which
// would end the short log's last line otherwise, must never be read.
TEST(grade_buffer, ReadsNothingLeftByTheLogBeforeOnItsThread) {
  const std::string longer = "FORMULA_NAME F1\nRH_START\nFORMULA F1 TRUE\nRH_STOP\n";
  const std::string shorter = longer.substr(0, longer.find("RUE"));
  std::string fresh;
  std::thread([&] { fresh = grade_buffer(shorter, "run.log").output; }).join();
  EXPECT_EQ(fresh, "NO_CORE,OK,OK,1 NUM:T,-\n");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(grade_buffer(longer, "run.log").output, "NO_CORE,OK,OK,1 NUM:TRUE,-\n");
    EXPECT_EQ(grade_buffer(shorter, "run.log").output, fresh);
  }
}

TEST(grade_file, StreamsItsOutputAndReportsALogThatCannotBeOpened) {
  std::string streamed;
  const auto keep = [&](std::string_view bytes) { streamed.append(bytes); };
  EXPECT_EQ(grade_file("/dev/null", {true, false}, keep).state.verdict,
            verdict_kind::problem_with_file);
  EXPECT_EQ(streamed, "null,Problem with file /dev/null,-\n");
  EXPECT_EQ(grade_file("/dev/null", {true, false}).output, streamed);
  const grade_result missing = grade_file("no/such.log");
  EXPECT_EQ(missing.report, "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: " + missing.line.failure.reason);
  EXPECT_EQ(missing.line.failure.reason, "cannot open no/such.log: No such file or directory");
}

TEST(grade_file, ReportsOutputLostAfterTheGradeAsTheProgramDoes) {
  const grade_outcome lost = output_lost("cannot close standard output", EIO);
  EXPECT_EQ(lost.exit_status, 1);
  EXPECT_EQ(lost.report,
            "sift_runlog: SIFT_RUNLOG.OUTPUT_ERROR: cannot close standard output: Input/output "
            "error");
  EXPECT_EQ(lost.line.failure.reason, "cannot close standard output: Input/output error");
  EXPECT_EQ(lost.line.failure.cause, failure_cause::output_error);
  EXPECT_EQ(lost.line.verdict, verdict_kind::failed);
}

// A file found as a regular one of `size` bytes, opened later, where something else may have
// been put in the meantime.
struct found_file_case {
  const char* name;
  std::uint64_t size;  // as found
  std::function<int()> open_in_its_place;
  const char* report;  // when it is no longer read, else empty: graded as its bytes
};

const char* const found_log = "RH_START\nFORMULA Model-Formula-01 TRUE TECHNIQUES A\nRH_STOP\n";

int memory_file(std::string_view bytes) {
  const int fd = ::memfd_create("log", MFD_CLOEXEC);
  if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    ::close(fd);
    return -1;
  }
  if (fd >= 0) (void)::lseek(fd, 0, SEEK_SET);
  return fd;
}

class found_file : public ::testing::TestWithParam<found_file_case> {};

TEST_P(found_file, IsReadNoFurtherOnceItIsNoLongerRegular) {
  const found_file_case& c = GetParam();
  const int fd = c.open_in_its_place();
  ASSERT_GE(fd, 0);
  const grade_result graded = grade_descriptor(fd, "run.log", {}, c.size);
  ::close(fd);
  if (*c.report != '\0') {
    EXPECT_EQ(graded.report, c.report);
  } else {
    const grade_result expected = grade_buffer(found_log, "run.log");
    EXPECT_EQ(graded.output, expected.output);
    EXPECT_EQ(graded.report, "");
  }
}

const char* const no_longer_regular =
    "sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot read run.log: no longer a regular file";

int pipe_end(bool writer_kept) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  // The writer's end stays open for the test's life when kept: nothing ever comes.
  if (!writer_kept) ::close(ends[1]);
  return ends[0];
}

std::string found_file_name(const ::testing::TestParamInfo<found_file_case>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    grade_descriptor, found_file,
    ::testing::Values(
        found_file_case{"a_FIFO_without_a_writer", 100, [] { return pipe_end(false); },
                        no_longer_regular},
        found_file_case{"a_FIFO_with_nothing_written", 100, [] { return pipe_end(true); },
                        no_longer_regular},
        found_file_case{"a_device_that_never_ends", 10,
                        [] { return ::open("/dev/zero", O_RDONLY | O_CLOEXEC); },
                        no_longer_regular},
        found_file_case{"the_log_as_found", std::string_view(found_log).size(),
                        [] { return memory_file(found_log); }, ""},
        found_file_case{"a_log_that_grew", 5, [] { return memory_file(found_log); }, ""},
        found_file_case{"a_log_that_shrank", 1 << 20, [] { return memory_file(found_log); }, ""}),
    found_file_name);

}  // namespace
}  // namespace sift_runlog
