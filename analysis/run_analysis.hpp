// The analysis mode of the program, as the command line and the library both run it: the
// analysis of one log as a value, the program's bytes written from that value, and every
// failure turned into the exit status and the report the program ends with.
#pragma once

#include <string>
#include <string_view>

#include "line_reader.hpp"
#include "output_sink.hpp"
#include "sift_runlog/grade.hpp"

namespace sift_runlog {

// Analyses the log named `file_argument` and writes what the program prints to `out`: the
// debug traces as the log is read, then the result line written from the outcome's value. An
// Index_Error gives the line "Problem with file <file_argument>,-" (after the fields the line
// reached) and status 0. Any other failure (a PROBLEM, a log that cannot be read, output that
// cannot be written, exhausted memory) gives status 1 and its report. `out` is flushed before
// the return, so the report can follow it on standard error in the right order.
[[nodiscard]] grade_outcome run_analysis(const std::string& file_argument,
                                         const grade_options& options, output_sink& out);

// The same on a log read from `log`, named `file_argument` for the long mode and the reports.
[[nodiscard]] grade_outcome run_analysis(std::string_view file_argument, byte_source& log,
                                         const grade_options& options, output_sink& out,
                                         std::size_t block_size = line_reader::default_block_size);

// Writes `text` and flushes; an output failure gives status 1 and its report.
[[nodiscard]] grade_outcome write_and_flush(std::string_view text, output_sink& out);

}  // namespace sift_runlog
