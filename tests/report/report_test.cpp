// sift_runlog_report over the tables of a small campaign: every case of report_cases.txt runs the
// program in data/ and compares its standard output with a file of expected/, or its standard
// error with a text it must hold; then the exact-number rule on its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sift_campaign/csv_codec.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "exact_number.hpp"
#include "html_page.hpp"
#include "natural_order.hpp"
#include "output_table.hpp"
#include "program_runner.hpp"

namespace {

namespace support = sift_runlog::testing_support;
const std::filesystem::path cases_folder = SIFT_REPORT_CASES;

struct report_case {
  std::string expected;  // a file of expected/, or "error: TEXT" for standard error
  int exit_status = 0;
  std::string input;  // a file of data/ given as standard input, or "-" for none
  std::vector<std::string> arguments;
  std::size_t line = 0;
};

// Named by its line in the test's name, not as bytes.
void PrintTo(const report_case& entry, std::ostream* out) { *out << "line " << entry.line; }

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Lines of four fields separated by tabs: expected, exit status, standard input, arguments (one
// blank apart); blank lines and lines beginning with '#' are left out.
std::vector<report_case> read_cases() {
  std::vector<report_case> cases;
  std::ifstream in(cases_folder / "report_cases.txt");
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() != 4) {
      ADD_FAILURE() << "report_cases.txt line " << number << ": four tab-separated fields";
      continue;
    }
    report_case entry{fields[0], std::stoi(fields[1]), fields[2], {}, number};
    std::istringstream words(fields[3]);
    for (std::string word; words >> word;) entry.arguments.push_back(word);
    cases.push_back(std::move(entry));
  }
  return cases;
}

class report_cases : public ::testing::TestWithParam<report_case> {};

TEST_P(report_cases, the_program_writes_the_expected_view) {
  const report_case& entry = GetParam();
  std::vector<std::string> arguments = entry.arguments;
  std::string program = SIFT_RUNLOG_REPORT;
  if (entry.input != "-") {
    arguments.insert(arguments.begin(), {"-c", "exec \"$0\" \"$@\" < " + entry.input, program});
    program = "/bin/sh";
  }
  const support::program_result result =
      support::run_program(program, arguments, cases_folder / "data");
  SCOPED_TRACE("report_cases.txt line " + std::to_string(entry.line));
  EXPECT_EQ(result.exit_status, entry.exit_status) << result.report;
  if (entry.expected.starts_with("error: ")) {
    EXPECT_NE(result.report.find(entry.expected.substr(7)), std::string::npos) << result.report;
    EXPECT_EQ(result.output, "");
  } else {
    EXPECT_EQ(result.output, read_file(cases_folder / "expected" / entry.expected));
  }
}

std::string case_name(const ::testing::TestParamInfo<report_case>& test) {
  return "line_" + std::to_string(test.param.line);
}

INSTANTIATE_TEST_SUITE_P(report_cases_txt, report_cases, ::testing::ValuesIn(read_cases()),
                         case_name);

// Runs the program in data/ and returns what it wrote; the test fails unless it exits with 0.
std::string report_of(const std::vector<std::string>& arguments) {
  const support::program_result result =
      support::run_program(SIFT_RUNLOG_REPORT, arguments, cases_folder / "data",
                           {.time_limit = std::chrono::seconds(60)});
  EXPECT_EQ(result.exit_status, 0) << result.report;
  return result.output;
}

// The rows of an SQL query as the report's csv writes them (NULL empty, a text quoted as
// needed), with the header; with `typed`, without it and each cell after its type.
std::string query(sqlite3* db, const std::string& sql, bool typed = false) {
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
  std::string out;
  const int columns = sqlite3_column_count(statement);
  for (int i = 0; i < columns && !typed; ++i) {
    out += i == 0 ? "" : ",";
    sift_runlog::campaign::append_csv_field(out, sqlite3_column_name(statement, i));
  }
  for (bool header = !typed; sqlite3_step(statement) == SQLITE_ROW; header = true) {
    if (header) out += '\n';
    for (int i = 0; i < columns; ++i) {
      out += i == 0 ? "" : ",";
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_blob(statement, i));
      const std::string value(text != nullptr ? text : "",
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, i)));
      static constexpr const char* types[] = {"", "integer:", "real:", "text:", "blob:", "null:"};
      if (typed) out += types[sqlite3_column_type(statement, i)];
      if (sqlite3_column_type(statement, i) != SQLITE_NULL) {
        sift_runlog::campaign::append_csv_field(out, value);
      }
    }
  }
  sqlite3_finalize(statement);
  return out + "\n";
}

// The database of the sqlite view, read through the SQLite library as any client reads it: its
// views hold the report's rows, and its columns the types a client expects.
TEST(sqlite_view, holds_the_report_views_with_typed_columns) {
  support::scratch_directory scratch;
  const std::string file = (scratch.path / "campaign.db").string();
  report_of({"sqlite", "-o", file, "--reference", "reference.csv", "campaign.csv"});
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(query(db, "SELECT * FROM summary"), report_of({"summary", "campaign.csv"}));
  EXPECT_EQ(query(db, "SELECT * FROM disagreements"), report_of({"disagreements", "campaign.csv"}));
  EXPECT_EQ(query(db, "SELECT * FROM scores"),
            report_of({"scores", "--reference", "reference.csv", "campaign.csv"}));
  // "?" as NULL, a decimal value's number, a name that is not UTF-8 as a BLOB, the cores an
  // integer; a failed log's report a text.
  EXPECT_EQ(query(db,
                  "SELECT formula, value, number, cores FROM answers JOIN logs USING (path) "
                  "WHERE path LIKE 'c/lynx/%' AND (position = 2 AND examination = "
                  "'Reachability' OR value IS NULL OR value LIKE '%E+%') ORDER BY path, position",
                  true),
            "blob:q\xffr&,text:FALSE,null:,integer:4\n"
            "text:Philosophers-PT-000010-ReachabilityFireability-03,null:,null:,integer:2\n"
            "text:STATES,text:1.024E+3,real:1024.0,integer:4\n"
            "text:TokenRing-PT-020-UpperBounds-01,text:2.0E+1,real:20.0,integer:2\n");
  EXPECT_EQ(query(db, "SELECT typeof(report) FROM logs WHERE verdict = 'failed'", true),
            "text:text\n");
  sqlite3_close(db);
}

// A name in UTF-8 is stored as TEXT, whatever its letters; other bytes as a BLOB.
TEST(sqlite_view, keeps_names_in_utf8_as_text) {
  const support::scratch_directory folder;
  std::ofstream(folder.path / "t.csv")
      << "path,tool,model,examination,run,cores,time_flag,memory_flag,verdict,answers,"
         "techniques,report,answer_names\n"
         "l/v\xc3\xa9lo_M\xe2\x82\xac_E_1.log,v\xc3\xa9lo,M\xe2\x82\xac,E,1.log,4,OK,OK,"
         "answers,1 NUM:7,,,F\xf0\x9f\x98\x80\n";
  const support::program_result made =
      support::run_program(SIFT_RUNLOG_REPORT, {"sqlite", "-o", "t.db", "t.csv"}, folder.path);
  ASSERT_EQ(made.exit_status, 0) << made.report;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((folder.path / "t.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  EXPECT_EQ(query(db, "SELECT tool, model, formula FROM answers JOIN logs USING (path)", true),
            "text:v\xc3\xa9lo,text:M\xe2\x82\xac,text:F\xf0\x9f\x98\x80\n");
  sqlite3_close(db);
}

// html --before: the page holds the diff view's changes per tool, total last.
TEST(html_view, shows_the_changes_since_the_campaign_before) {
  const std::string page = report_of({"html", "--before", "before.csv", "campaign.csv"});
  const std::string counts =
      "<td class=\"n\">0</td><td class=\"n\">0</td><td class=\"n\">1</td>"
      "<td class=\"n\">0</td><td class=\"n\">1</td><td class=\"n\">1</td>";
  EXPECT_NE(page.find("<tr><td>velox</td>" + counts), std::string::npos) << page;
  EXPECT_NE(page.find("<tfoot><tr><td>total</td><td class=\"n\">1</td><td class=\"n\">5</td>"),
            std::string::npos);
  // The campaign itself is still counted: 13 logs, 33 answers.
  EXPECT_NE(page.find("<tfoot><tr><td>total</td><td class=\"n\">13</td><td class=\"n\">33</td>"),
            std::string::npos);
}

TEST(html_view, writes_names_as_text_whatever_their_bytes) {
  std::string out;
  sift_runlog::report::append_html_text(out, "a&b<c>\"d'\x01\xff\xc3\xa9");
  EXPECT_EQ(out, "a&amp;b&lt;c&gt;&quot;d&#39;\\x01\\xff\xc3\xa9");
}

TEST(html_view, keeps_its_total_rows_past_hundreds_of_groups) {
  const support::scratch_directory folder;
  std::ofstream table(folder.path / "t.csv");
  std::ofstream reference(folder.path / "r.csv");
  table << "path,tool,model,examination,run,cores,time_flag,memory_flag,verdict,answers,"
           "techniques,report,answer_names\n";
  reference << "model,examination,formula,value\n";
  for (int tool = 10; tool < 40; ++tool) {  // 30 tools in 20 examinations: 600 groups
    for (int exam = 10; exam < 30; ++exam) {
      table << "l/t" << tool << "_M_E" << exam << "_1.log,t" << tool << ",M,E" << exam
            << ",1.log,4,OK,OK,answers,1 NUM:7,,,F\n";
      if (tool == 10) reference << "M,E" << exam << ",F,7\n";
    }
  }
  table.close();
  reference.close();
  const support::program_result result = support::run_program(
      SIFT_RUNLOG_REPORT, {"html", "--reference", "r.csv", "t.csv"}, folder.path);
  ASSERT_EQ(result.exit_status, 0) << result.report;
  std::size_t totals = 0;  // the tools', the summary's and the scores'
  for (std::size_t at = 0;
       (at = result.output.find("<tfoot><tr><td>total</td>", at)) != std::string::npos; ++at) {
    ++totals;
  }
  EXPECT_EQ(totals, 3U);
  // Past the size at which a text table is handed out in parts: each row once.
  const support::program_result text = support::run_program(
      SIFT_RUNLOG_REPORT, {"summary", "--format", "text", "t.csv"}, folder.path);
  ASSERT_GT(text.output.size(), std::size_t{1} << 16);
  std::size_t rows = 0;
  for (std::size_t at = 0; (at = text.output.find("\nt10 ", at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, 20U);
}

// Pairs of answers and whether they are the same value.
struct same_value_case {
  const char* first;
  const char* second;
  bool same;
};

constexpr same_value_case same_value_cases[] = {
    {"1024", "1.024E+3", true},
    {"1024", "+1_024.000", true},
    {"1024", "10240e-1", true},
    {"0", "-0.0E+7", true},
    {"12345678901234567890123", "1.2345678901234567890123E22", true},
    {"1024", "1025", false},
    {"0.1", "1E-1", true},
    {"1", "1.000000000000000000001", false},  // equal as doubles, not as numbers
    {"-5", "5", false},
    {"TRUE", "TRUE", true},
    {"TRUE", "true", false},
    {"16#400#", "1024", false},  // based literals compare as written
    {"1__0", "10", false},       // not a number: as written
    {"1E99999999999999999999", "1E99999999999999999999", true},
    {"1E99999999999999999999", "10E99999999999999999998", false},  // too big an exponent: text
};

TEST(shown_text, keeps_a_markdown_cell_in_its_column_and_on_its_line) {
  EXPECT_EQ(sift_runlog::report::shown_text("a\\|b\n", true), "a\\\\\\|b\\x0a");
  EXPECT_EQ(sift_runlog::report::shown_text("a\\|b\n", false), "a\\|b\\x0a");
}

TEST(comparison_key, tells_the_same_value_in_another_notation) {
  for (const same_value_case& entry : same_value_cases) {
    EXPECT_EQ(sift_runlog::report::comparison_key(entry.first) ==
                  sift_runlog::report::comparison_key(entry.second),
              entry.same)
        << entry.first << " and " << entry.second;
  }
}

// Pairs of names and which comes first in natural order (-1: the first, 1: the second).
struct natural_case {
  const char* first;
  const char* second;
  int order;
};

constexpr natural_case natural_cases[] = {
    {"Exam2", "Exam10", -1},
    {"Model-9-PT", "Model-10-PT", -1},
    {"x10y10", "x10y2", 1},
    {"n99999999999999999999", "n100000000000000000000", -1},  // past 64 bits
    {"Exam02", "Exam2", -1},                                  // the same number: byte order decides
    {"00", "0", 1},
    {"a!", "a1", -1},  // a digit against another byte: as bytes
    {"ab", "a1", 1},
    {"a", "a1", -1},
    {"", "a", -1},
    {"Exam2", "Exam2", 0},
};

TEST(natural_compare, puts_numbers_in_names_in_numeric_order) {
  for (const natural_case& entry : natural_cases) {
    EXPECT_EQ(sift_runlog::report::natural_compare(entry.first, entry.second), entry.order)
        << entry.first << " and " << entry.second;
    EXPECT_EQ(sift_runlog::report::natural_compare(entry.second, entry.first), -entry.order)
        << entry.second << " and " << entry.first;
  }
}

}  // namespace
