// The companions run as command_cases.txt says (its head says how to read it): each case its
// own test, in a fresh folder, ending with the status and the standard error of its row, and
// leaving what its check expects and no temporary file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "case_text.hpp"
#include "program_runner.hpp"

namespace {

namespace support = sift_runlog::testing_support;

struct command_case {
  int line = 0;
  std::string name;
  std::string build;  // "any", "plain" or "no-tsan"
  std::string setup, command;
  int status = 0;
  std::string says, check;
};

// Named by its line in the test's name, not as bytes.
void PrintTo(const command_case& entry, std::ostream* out) { *out << "line " << entry.line; }

// The campaign every case starts from: two graded logs and one that fails.
constexpr const char* campaign = R"(
mkdir -p camp/sub
printf 'RH_START\nRH_STOP\n' > camp/t_M_E_1.log
printf '# Number of cores : 4\nDO_NOT_COMPETE\n' > camp/sub/t_M_E_2.log
printf 'RH_START\nFORMULA_NAME A\n' > camp/t_M_Bad_3.log
echo 'the old table' > old.txt
)";

// What any case may leave: never a temporary file of a program.
constexpr const char* no_leftovers = "! find . -name '.sift_runlog_*-*' | grep -q .";

std::vector<command_case> read_cases() {
  std::vector<command_case> cases;
  for (const support::case_line& line : support::read_case_lines(SIFT_COMMAND_CASES)) {
    const std::vector<std::string_view> field = support::case_fields(line.text);
    if (field.size() != 7) {
      throw std::runtime_error("command_cases.txt: line " + std::to_string(line.number) +
                               ": seven fields a case");
    }
    if (field[1] != "any" && field[1] != "plain" && field[1] != "no-tsan") {
      throw std::runtime_error("command_cases.txt: line " + std::to_string(line.number) +
                               ": the build is any, plain or no-tsan");
    }
    cases.push_back({line.number, std::string(field[0]), std::string(field[1]),
                     support::expanded(field[2]), support::expanded(field[3]),
                     std::stoi(std::string(field[4])), support::expanded(field[5]),
                     support::expanded(field[6])});
  }
  return cases;
}

// Runs `script` with sh in `folder`; its exit status, 128 + N for a death by signal N.
int shell(const std::string& script, const std::filesystem::path& folder) {
  ::setenv("T", SIFT_RUNLOG_TABLE, 1);
  ::setenv("R", SIFT_RUNLOG_REPORT, 1);
  return support::run_program("/bin/sh", {"-c", script}, folder).exit_status;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class command_cases : public ::testing::TestWithParam<command_case> {};

TEST_P(command_cases, end_as_their_rows_say) {
  const command_case& entry = GetParam();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  if (entry.build == "plain") GTEST_SKIP() << "no room for the sanitizer's runtime";
#endif
#if defined(__SANITIZE_THREAD__)
  if (entry.build == "no-tsan") GTEST_SKIP() << "the thread sanitizer defers signals";
#endif
  support::scratch_directory folder;
  ASSERT_EQ(shell(std::string(campaign) + entry.setup, folder.path), 0);
  const int status = shell("exec >out 2>err; " + entry.command, folder.path);
  const std::string err = read_file(folder.path / "err");
  EXPECT_EQ(status, entry.status) << err;
  EXPECT_NE(err.find(entry.says), std::string::npos) << err;
  const std::string check = entry.check.empty() ? "" : " && " + entry.check;
  EXPECT_EQ(shell(no_leftovers + check, folder.path), 0) << err;
}

std::string case_name(const ::testing::TestParamInfo<command_case>& test) {
  return support::case_test_name(test.param.line, test.param.name);
}

INSTANTIATE_TEST_SUITE_P(command_cases_txt, command_cases, ::testing::ValuesIn(read_cases()),
                         case_name);

}  // namespace
