// The data files of the tests (log_cases.txt, table/rows.txt, command_cases.txt) and their one
// escape language. A file holds one case a line; blank lines and lines beginning with "#" are
// left out. Fields are cut at each "|" that no backslash escapes and trimmed of blanks. In a
// field: \n \r \t \f \0 \xNN \\ \| \{ \}, \s for a blank at a field's edge, {N*text} for text N
// times, {A..B:text} for text once per number from A to B with % standing for the number; any
// other "{" is itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::testing_support {

struct data_line {
  int number = 0;                   // from 1
  std::vector<std::string> fields;  // as written, escapes and all
};

// The cases of the file at `path`. Throws std::runtime_error "FILE:LINE: ..." for a line of
// fewer than `least` or more than `most` fields, and for a file without cases.
[[nodiscard]] std::vector<data_line> read_data_file(const std::string& path, std::size_t least,
                                                    std::size_t most);

// The bytes a field stands for. Throws std::invalid_argument for a brace left open.
[[nodiscard]] std::string expanded(std::string_view field);

// A test's name from the case's line and name: "line_12_a_name".
[[nodiscard]] std::string case_name(int line, std::string_view name);

}  // namespace sift_runlog::testing_support
