// The one notation of the tests' data files (log_cases.txt, table/rows.txt, ...): a case per
// line, its fields cut at the bars "|" that no backslash escapes and trimmed of blanks; '#'
// begins a comment line. In a field, \n \r \t \f \0 \s stand for a line feed, a carriage return,
// a tab, a form feed, a NUL byte and a blank, \xHH for the byte HH, \| \\ \{ for the character
// itself; {N*text} is text N times, {A..B:text} is text once for each number from A to B, with
// % standing for the number; any other "{" is itself (a shell's braces in a command).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::testing_support {

// The bytes a field stands for. Throws std::invalid_argument for a brace left open.
[[nodiscard]] std::string expanded(std::string_view field);

// The fields of a case line, as written (not expanded).
[[nodiscard]] std::vector<std::string_view> case_fields(std::string_view line);

// The case lines of a data file: its line number and text. Throws std::runtime_error when the
// file cannot be read or holds no case.
struct case_line {
  int number = 0;
  std::string text;
};
[[nodiscard]] std::vector<case_line> read_case_lines(const std::string& file);

// A test name made of the line number and the case's name, letters and digits kept.
[[nodiscard]] std::string case_test_name(int line, std::string_view name);

}  // namespace sift_runlog::testing_support
