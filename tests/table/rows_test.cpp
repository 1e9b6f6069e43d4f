// The csv and jsonl rows of whole logs, exactly, from the cases of rows.txt: every verdict and
// every kind of failure, with the log line and the reason a failure gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data_file.hpp"
#include "formats.hpp"

namespace sift_runlog::table {
namespace {

TEST(table_rows, hold_exactly_what_the_line_shows_and_why_a_grade_failed) {
  using testing_support::expanded;
  for (const testing_support::data_line& line :
       testing_support::read_data_file(SIFT_ROW_CASES, 6, 6)) {
    SCOPED_TRACE("rows.txt line " + std::to_string(line.number));
    const std::vector<std::string>& field = line.fields;
    grade_options options;
    options.long_mode = field[1] == "-long";
    const std::string path = expanded(field[2]);
    const grade_result graded = grade_buffer(expanded(field[3]), path, options);
    EXPECT_EQ(format_row(table_format::csv, path, graded), expanded(field[4]) + "\n");
    EXPECT_EQ(format_row(table_format::jsonl, path, graded), expanded(field[5]) + "\n");
  }
}

}  // namespace
}  // namespace sift_runlog::table
