// The csv and jsonl rows of whole logs, exactly, from the cases of rows.txt (its head says how to
// read it): every verdict and every kind of failure, with the log's line and the reason a failure
// gives. Each row read back is the row written.
#include <gtest/gtest.h>

#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <string>
#include <vector>

#include "case_text.hpp"

namespace sift_runlog::campaign {
namespace {

using sift_runlog::testing_support::expanded;

struct row_case {
  int line = 0;
  std::vector<std::string> fields;  // name, mode, path, log, csv row, jsonl row
};

void PrintTo(const row_case& c, std::ostream* os) { *os << "line " << c.line; }

std::vector<row_case> read_cases() {
  std::vector<row_case> cases;
  for (const sift_runlog::testing_support::case_line& line :
       sift_runlog::testing_support::read_case_lines(SIFT_ROW_CASES)) {
    row_case c{line.number, {}};
    for (const std::string_view field : sift_runlog::testing_support::case_fields(line.text)) {
      c.fields.emplace_back(field);
    }
    if (c.fields.size() != 6) throw std::runtime_error("rows.txt: six fields a case");
    cases.push_back(c);
  }
  return cases;
}

class row_case_test : public ::testing::TestWithParam<row_case> {};

TEST_P(row_case_test, IsWrittenExactlyAndReadBackAsItself) {
  const std::vector<std::string>& field = GetParam().fields;
  grade_options options;
  options.long_mode = field[1] == "-long";
  const std::string path = expanded(field[2]);
  const row graded = row_of(path, grade_buffer(expanded(field[3]), path, options), false);
  std::string csv;
  append_csv_row(csv, graded);
  EXPECT_EQ(csv, expanded(field[4]) + "\n");
  std::string jsonl;
  append_jsonl_row(jsonl, graded);
  EXPECT_EQ(jsonl, expanded(field[5]) + "\n");

  csv_decoder decoder(csv_header(false).substr(0, csv_header(false).size() - 1));
  row read;
  decoder.decode(std::string_view(csv).substr(0, csv.size() - 1), read);
  EXPECT_EQ(read, graded);
  decode_jsonl_row(std::string_view(jsonl).substr(0, jsonl.size() - 1), read);
  row without_type = graded;
  without_type.boolean_answers = false;  // jsonl does not say BOOL or NUM
  EXPECT_EQ(read, without_type);
}

std::string case_name(const ::testing::TestParamInfo<row_case>& param) {
  return sift_runlog::testing_support::case_test_name(param.param.line, param.param.fields[0]);
}

INSTANTIATE_TEST_SUITE_P(rows, row_case_test, ::testing::ValuesIn(read_cases()), case_name);

}  // namespace
}  // namespace sift_runlog::campaign
