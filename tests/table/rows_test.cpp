// The csv and jsonl rows of whole logs, exactly, from the cases of rows.txt: every verdict and
// every kind of failure, with the log line and the reason a failure gives.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "formats.hpp"

namespace sift_runlog::table {
namespace {

// Whether a {N*text} repetition begins at field[i].
bool repetition_at(std::string_view field, std::size_t i) {
  const std::size_t star = field.find_first_not_of("0123456789", i + 1);
  return field[i] == '{' && star > i + 1 && star < field.size() && field[star] == '*';
}

// \n stands for a line feed, \\ for a backslash, \| for "|"; {N*text} for text N times.
std::string expanded(std::string_view field) {
  std::string bytes;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (repetition_at(field, i)) {
      const std::size_t star = field.find('*', i);
      const std::size_t end = field.find('}', star);
      const std::string text = expanded(field.substr(star + 1, end - star - 1));
      for (int n = std::stoi(std::string(field.substr(i + 1, star - i - 1))); n > 0; --n) {
        bytes += text;
      }
      i = end;
    } else if (field[i] != '\\') {
      bytes += field[i];
    } else {
      bytes += field[++i] == 'n' ? '\n' : field[i];
    }
  }
  return bytes;
}

// The fields of a case line, cut at the " | " that no backslash escapes.
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 3, " | ") == 0) {
      fields.emplace_back();
      i += 2;
    } else {
      if (line[i] == '\\') fields.back() += line[i++];
      fields.back() += line[i];
    }
  }
  return fields;
}

TEST(table_rows, hold_exactly_what_the_line_shows_and_why_a_grade_failed) {
  std::ifstream cases(SIFT_ROW_CASES);
  ASSERT_TRUE(cases);
  std::string line;
  int checked = 0;
  for (int number = 1; std::getline(cases, line); ++number) {
    if (line.empty() || line.starts_with('#')) continue;
    SCOPED_TRACE("rows.txt line " + std::to_string(number));
    const std::vector<std::string> field = fields_of(line);
    ASSERT_EQ(field.size(), 6u);
    grade_options options;
    options.long_mode = field[1] == "-long";
    const std::string path = expanded(field[2]);
    const grade_result graded = grade_buffer(expanded(field[3]), path, options);
    EXPECT_EQ(format_row(table_format::csv, path, graded), expanded(field[4]) + "\n");
    EXPECT_EQ(format_row(table_format::jsonl, path, graded), expanded(field[5]) + "\n");
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace sift_runlog::table
