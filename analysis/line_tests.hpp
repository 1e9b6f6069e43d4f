// The line tests, one row each, in the order the scan tries them, and everything derived from
// them: the patterns that make a line a candidate for the reader, and which tests a line that
// holds a pattern may pass. Adding a test is one row here and its rule in the scan's chain.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "keywords.hpp"

namespace sift_runlog {

// What a test compares its keyword with: the whole line, word 1, or word `place` (2 or more),
// which stands after a blank.
enum class test_kind { whole_line, word_1, word_k };

struct line_test {
  std::string_view name;
  test_kind kind;
  std::string_view keyword;
  std::size_t place = 0;      // word_k: the keyword's word number (a run of blanks is one cut)
  bool word_follows = false;  // word_k: the test also needs a further word after the keyword
};

// In chain order: the first test that holds decides the line.
inline constexpr std::array line_tests = std::to_array<line_test>({
    {"locale_warning", test_kind::whole_line, keyword::locale_warning},
    {"out_of_memory", test_kind::word_k, keyword::out, 3, true},
    {"cannot_allocate_memory", test_kind::whole_line, keyword::cannot_allocate_memory},
    {"insufficient_memory", test_kind::word_k, keyword::insufficient, 7, true},
    {"bad_alloc", test_kind::word_k, keyword::bad_alloc, 8},
    {"time_confinement_reached", test_kind::word_1, keyword::time_confinement_reached},
    {"executing_tool", test_kind::word_k, keyword::executing, 2, true},
    {"number_of_cores", test_kind::word_k, keyword::number, 2, true},
    {"start", test_kind::word_1, keyword::start},
    {"stop", test_kind::word_1, keyword::stop},
    {"cannot_compute", test_kind::word_1, keyword::cannot_compute},
    {"do_not_compete", test_kind::word_1, keyword::do_not_compete},
    {"state_space", test_kind::word_1, keyword::state_space},
    {"formula_name", test_kind::word_1, keyword::formula_name},
    {"num_vector", test_kind::word_1, keyword::num_vector},
    {"bool_vector", test_kind::word_1, keyword::bool_vector},
    {"formula", test_kind::word_1, keyword::formula},
});

// A set of line tests, bit n for row n.
using test_set = std::uint32_t;
static_assert(line_tests.size() <= 32, "a test_set holds at most 32 tests");
inline constexpr test_set all_tests = (test_set{1} << (line_tests.size() - 1) << 1) - 1;

// The test of that name, as a set; a name with no row does not compile.
consteval test_set test_named(std::string_view name) {
  for (std::size_t i = 0; i < line_tests.size(); ++i) {
    if (line_tests[i].name == name) return test_set{1} << i;
  }
  throw "no line test of this name";
}

// The keyword of the test of that name.
consteval std::string_view keyword_of(std::string_view name) {
  for (const line_test& test : line_tests) {
    if (test.name == name) return test.keyword;
  }
  throw "no line test of this name";
}

namespace line_test_detail {

constexpr bool starts_line(const line_test& test) { return test.kind != test_kind::word_k; }

constexpr std::size_t count_rows(bool line_starts) {
  std::size_t count = 0;
  for (const line_test& test : line_tests) count += starts_line(test) == line_starts;
  return count;
}

// The rows whose patterns begin lines (or stand after a blank), in table order.
template <bool line_starts>
constexpr auto rows() {
  std::array<std::size_t, count_rows(line_starts)> found{};
  std::size_t next = 0;
  for (std::size_t i = 0; i < line_tests.size(); ++i) {
    if (starts_line(line_tests[i]) == line_starts) found[next++] = i;
  }
  return found;
}

// A word pattern: the keyword, and the blank before the further word its test needs.
struct pattern_text {
  std::array<char, 64> bytes{};
  std::size_t size = 0;
};

constexpr auto word_pattern_texts() {
  std::array<pattern_text, count_rows(false)> texts{};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const line_test& test = line_tests[rows<false>()[i]];
    for (const char byte : test.keyword) texts[i].bytes[texts[i].size++] = byte;
    if (test.word_follows) texts[i].bytes[texts[i].size++] = ' ';
  }
  return texts;
}

inline constexpr auto line_start_rows = rows<true>();
inline constexpr auto word_start_rows = rows<false>();
inline constexpr auto word_start_texts = word_pattern_texts();

}  // namespace line_test_detail

// The candidate patterns (line_reader.hpp): every line that can pass a test begins with the
// keyword of a whole-line or word-1 test...
inline constexpr auto candidate_line_starts = [] {
  std::array<std::string_view, line_test_detail::line_start_rows.size()> starts{};
  for (std::size_t i = 0; i < starts.size(); ++i) {
    starts[i] = line_tests[line_test_detail::line_start_rows[i]].keyword;
  }
  return starts;
}();

// ... or holds a blank followed by the keyword of a word-k test (and by the blank before the
// further word, where its test needs one)...
inline constexpr auto candidate_word_starts = [] {
  std::array<std::string_view, line_test_detail::word_start_rows.size()> starts{};
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const line_test_detail::pattern_text& text = line_test_detail::word_start_texts[i];
    starts[i] = std::string_view(text.bytes.data(), text.size);
  }
  return starts;
}();

// ... which only matters as word number `place` of its line.
inline constexpr auto candidate_word_places = [] {
  std::array<std::size_t, line_test_detail::word_start_rows.size()> places{};
  for (std::size_t i = 0; i < places.size(); ++i) {
    places[i] = line_tests[line_test_detail::word_start_rows[i]].place;
  }
  return places;
}();

// The limits of the reader's patterns, and of the places its index keeps by first byte.
constexpr bool patterns_within_limits() {
  if (candidate_line_starts.size() > 32 || candidate_word_starts.size() > 32) return false;
  for (const line_test& test : line_tests) {
    if ((test.kind == test_kind::word_k) != (test.place >= 2)) return false;
    if (test.place > 255 || (test.word_follows && test.kind != test_kind::word_k)) return false;
  }
  const auto fits = [](std::string_view text) {
    return text.size() >= 3 && text.size() <= 63 && text.find('\n') == std::string_view::npos;
  };
  for (const std::string_view text : candidate_line_starts) {
    if (!fits(text)) return false;
  }
  for (const std::string_view text : candidate_word_starts) {
    if (!fits(text)) return false;
  }
  return true;
}
static_assert(patterns_within_limits(),
              "at most 32 patterns of each kind, each 3 to 63 bytes without a line feed; a "
              "place (2 to 255) for word-k tests alone");

// The tests a line may pass, from the patterns it holds: bit i of `line_starts` for
// candidate_line_starts[i] at its start, of `word_starts` for candidate_word_starts[i] at its
// place.
[[nodiscard]] constexpr test_set tests_of(std::uint32_t line_starts,
                                          std::uint32_t word_starts) noexcept {
  test_set tests = 0;
  for (; line_starts != 0; line_starts &= line_starts - 1) {
    tests |= test_set{1} << line_test_detail::line_start_rows[static_cast<std::size_t>(
                 std::countr_zero(line_starts))];
  }
  for (; word_starts != 0; word_starts &= word_starts - 1) {
    tests |= test_set{1} << line_test_detail::word_start_rows[static_cast<std::size_t>(
                 std::countr_zero(word_starts))];
  }
  return tests;
}

}  // namespace sift_runlog
