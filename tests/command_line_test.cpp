#include "command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "program_runner.hpp"

namespace sift_runlog {
namespace {

struct argument_case {
  std::vector<std::string_view> arguments;
  program_mode mode;
  std::string_view file_argument = {};
  bool long_mode = false;
  bool debug_mode = false;
};

const argument_case argument_cases[] = {
    {{}, program_mode::usage},
    {{"-help"}, program_mode::usage},
    {{"-help", "x"}, program_mode::analysis, "-help"},
    {{"-HELP"}, program_mode::analysis, "-HELP"},
    {{"-header"}, program_mode::header},
    {{"-header", "x", "-debug"}, program_mode::header},
    {{"x"}, program_mode::analysis, "x"},
    {{"x", "-debug"}, program_mode::analysis, "x", false, true},
    {{"-long", "x"}, program_mode::analysis, "x", true, false},
    {{"-long", "x", "-debug"}, program_mode::analysis, "x", true, true},
    {{"-long"}, program_mode::analysis, "-long"},
    {{"-debug"}, program_mode::analysis, "-debug"},
    {{"-long", "-debug"}, program_mode::analysis, "-debug", true, true},
    {{"-debug", "x"}, program_mode::analysis, "-debug"},
    {{"x", "-long"}, program_mode::analysis, "x"},
    {{"x", "y", "z"}, program_mode::analysis, "x"},
    {{"-x"}, program_mode::analysis, "-x"},
    {{"-long", "x", "y", "-debug"}, program_mode::analysis, "x", true, true},
    {{""}, program_mode::analysis, ""},
};

TEST(parse_command_line, FollowsTheArgumentTable) {
  for (const argument_case& row : argument_cases) {
    std::string shown;
    for (const std::string_view argument : row.arguments)
      shown += " «" + std::string(argument) + "»";
    SCOPED_TRACE("arguments" + shown);
    const command parsed = parse_command_line(row.arguments);
    EXPECT_EQ(parsed.mode, row.mode);
    if (row.mode != program_mode::analysis) continue;
    EXPECT_EQ(parsed.file_argument, row.file_argument);
    EXPECT_EQ(parsed.options.long_mode, row.long_mode);
    EXPECT_EQ(parsed.options.debug_mode, row.debug_mode);
  }
}

TEST(run_command, WritesTheUsageTextAndTheHeaderLine) {
  string_output_sink usage;
  EXPECT_EQ(run_command(parse_command_line({}), usage).exit_status, 0);
  EXPECT_EQ(usage.text(),
            "usage : sift_runlog -help | -header | [-long] <log file to analyse> [-debug]\n"
            "\n"
            "   -help   : some help\n"
            "   -header : display the header only\n"
            "   -long   : display information deduced from the file name\n"
            "   -debug  : debug mode (display traces)\n");
  string_output_sink header;
  const std::vector<std::string_view> arguments = {"-header"};
  EXPECT_EQ(run_command(parse_command_line(arguments), header).exit_status, 0);
  EXPECT_EQ(header.text(), "#time flag,memory flag,formatted result,techniques\n");
}

}  // namespace
}  // namespace sift_runlog
