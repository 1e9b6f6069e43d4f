// The command line: which of the three modes a run is (usage text, header line, analysis of
// one log), with the two run options and the file argument; and running that mode.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sift_runlog/grade.hpp"

namespace sift_runlog {

enum class program_mode { usage, header, analysis };

struct command {
  program_mode mode = program_mode::usage;
  grade_options options;
  std::string file_argument;  // the log to analyse, exactly as given
};

inline constexpr std::string_view usage_text =
    "usage : sift_runlog -help | -header | [-long] <log file to analyse> [-debug]\n"
    "\n"
    "   -help   : some help\n"
    "   -header : display the header only\n"
    "   -long   : display information deduced from the file name\n"
    "   -debug  : debug mode (display traces)\n";

// Chooses the mode from the arguments after the program name. Never fails: an argument in the
// file position is a file name whatever it looks like.
[[nodiscard]] command parse_command_line(std::span<const std::string_view> arguments);

// Runs the mode, writing to the descriptor `output_fd`, and says how the process ends.
[[nodiscard]] grade_outcome run_command(const command& to_run, int output_fd);

}  // namespace sift_runlog
