// The line filter may only rule out lines that no test can take: a skipped line that changed
// the state would change a result. These tests hold the filter to the line tests themselves.
#include "line_filter.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis_state.hpp"
#include "failures.hpp"
#include "output_sink.hpp"
#include "perform_stdout_analysis.hpp"

namespace sift_runlog {
namespace {

// Whether the line changes a fresh state, writes anything, fails or stops the scan.
bool line_matters(std::string_view line) {
  analysis_state state;
  // A tool line and a declaration or two, so that more of the directives can act.
  state.tool_name = new_a_string("marcie");
  const analysis_state before = state;
  string_output_sink out;
  try {
    if (handle_line(state, line, out) == scan::stop) return true;
  } catch (const std::exception&) {
    return true;
  }
  return !(state == before) || !out.text().empty();
}

bool is_reader_candidate(std::string_view line) {
  for (const std::string_view start : candidate_line_starts) {
    if (line.starts_with(start)) return true;
  }
  for (std::size_t blank = line.find(' '); blank != std::string_view::npos;
       blank = line.find(' ', blank + 1)) {
    for (const std::string_view word : candidate_word_starts) {
      if (line.substr(blank + 1).starts_with(word)) return true;
    }
  }
  return false;
}

// Lines made of the words the tests look for, in every order and spacing.
std::string random_line(std::mt19937& random) {
  static const std::vector<std::string> words = {"Out",
                                                 "of",
                                                 "memory",
                                                 "Insufficient",
                                                 "'std::bad_alloc'",
                                                 "Executing",
                                                 "tool",
                                                 "Number",
                                                 "cores",
                                                 "RH_START",
                                                 "RH_STOP",
                                                 "FORMULA",
                                                 "FORMULA_NAME",
                                                 "STATE_SPACE",
                                                 "NUM_VECTOR",
                                                 "BOOL_VECTOR",
                                                 "CANNOT_COMPUTE",
                                                 "DO_NOT_COMPETE",
                                                 "RH_TIME_CONFINEMENT_REACHED",
                                                 "TECHNIQUES",
                                                 "12",
                                                 "x",
                                                 "",
                                                 "Can't",
                                                 "allocate",
                                                 "perl:",
                                                 "warning:",
                                                 "Setting",
                                                 "locale",
                                                 "failed.",
                                                 "STATES",
                                                 "A",
                                                 "Out\t",
                                                 "memory\r"};
  std::string line;
  const std::size_t count = random() % 10;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 || random() % 4 == 0) line.append(1 + random() % 2, ' ');
    line += words[random() % words.size()];
  }
  if (random() % 5 == 0) line += ' ';
  return line;
}

TEST(line_filter, RulesOutNoLineThatATestTakes) {
  std::mt19937 random(11);
  int taken = 0;
  for (int round = 0; round < 200000; ++round) {
    const std::string line = random_line(random);
    if (!line_matters(line)) continue;
    ++taken;
    // The reader must hand the line out, and the filter must let it through.
    ASSERT_TRUE(is_reader_candidate(line)) << '"' << line << '"';
    ASSERT_TRUE(may_pass_a_test(line)) << '"' << line << '"';
  }
  EXPECT_GT(taken, 1000);
}

TEST(line_filter, KnowsTheWholeLineMessagesAndEveryTestedWord) {
  for (const std::string_view line :
       {"perl: warning: Setting locale failed.", "Can't allocate memory", "RH_START",
        "a b Out c memory", "1 2 3 4 5 6 Insufficient memory", "1 2 3 4 5 6 7 'std::bad_alloc'",
        "# Executing tool x", "# Number of cores : 4", "FORMULA_NAME A"}) {
    EXPECT_TRUE(may_pass_a_test(line)) << line;
    EXPECT_TRUE(is_reader_candidate(line)) << line;
  }
  for (const std::string_view line :
       {"", " RH_START", "a b Out", "Executing tool x y", "exploring 12 states", "# Number"}) {
    EXPECT_FALSE(may_pass_a_test(line)) << line;
  }
}

}  // namespace
}  // namespace sift_runlog
