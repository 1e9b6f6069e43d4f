// A quick, conservative test of whether a log line can mean anything to the analysis.
//
// Almost every line of a log is tool chatter that passes none of the line tests. A line can
// only pass one when
//   - it is one of the two messages compared as whole lines, or
//   - it begins with "RH_S", "RH_T", "CANN", "DO_N", "STAT", "FORM", "NUM_" or "BOOL" (every
//     keyword tested as word 1 begins so), or
//   - it holds one of the words tested at positions 2 to 8, which always stand after a blank:
//     " Out ", " Insufficient ", " Executing ", " Number " (each followed by a further word) or
//     " 'std::bad_alloc'" (followed by a blank or the end of the line); and such a word only
//     matters at the place its test looks for it (word 3, 7, 2, 2 and 8).
// may_pass_a_test() is false only when none of these holds, so that skipping such a line can
// never change a result; the tests themselves decide the lines it lets through. The scan goes
// further: it knows each tested word's place, and tries only the tests a line may pass.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "keywords.hpp"

namespace sift_runlog {

// Every line that can pass a test begins with one of these (the whole-line messages and the
// keywords tested as word 1)...
inline constexpr std::array<std::string_view, 12> candidate_line_starts = {
    keyword::locale_warning,
    keyword::cannot_allocate_memory,
    keyword::time_confinement_reached,
    keyword::start,
    keyword::stop,
    keyword::cannot_compute,
    keyword::do_not_compete,
    keyword::state_space,
    keyword::formula_name,
    keyword::num_vector,
    keyword::bool_vector,
    keyword::formula,
};

// ... or holds a blank followed by one of these: the words tested at positions 2 to 8, each
// followed by the blank before a further word (or, for the last, by a blank or the end).
inline constexpr std::array<std::string_view, 5> candidate_word_starts = {
    "Out ", "Insufficient ", "Executing ", "Number ", "'std::bad_alloc'",
};

// Where each of candidate_word_starts must stand to matter: its word number in the line.
inline constexpr std::array<std::size_t, 5> candidate_word_places = {3, 7, 2, 2, 8};

// A set of line tests, bit n for test n.
using test_set = std::uint32_t;
inline constexpr test_set all_tests = 0x3fffe;
// The tests of whole lines and of word 1, which only a line that may_pass_by_start() can pass.
inline constexpr test_set tests_by_start =
    all_tests & ~test_set{1 << 2 | 1 << 4 | 1 << 5 | 1 << 7 | 1 << 8};

// A word tested at positions 2 to 8: where its test looks for it, and that test.
struct tested_word {
  std::size_t place = 0;
  test_set test = 0;
};

// The tested word that follows the blank at `position` of the line, as tested_word_at() finds
// it; place 0 and no test when there is none.
[[nodiscard]] tested_word tested_word_after(std::string_view line, std::size_t position) noexcept;

// Whether the line is a whole-line message or begins like a keyword.
[[nodiscard]] bool may_pass_by_start(std::string_view line) noexcept;

// Whether one of the words tested at positions 2 to 8 stands at `position` of the line, a
// blank followed by one of candidate_word_starts.
[[nodiscard]] bool tested_word_at(std::string_view line, std::size_t position) noexcept;

// may_pass_by_start(line), or tested_word_at() some position of the line.
[[nodiscard]] bool may_pass_a_test(std::string_view line) noexcept;

}  // namespace sift_runlog
