// The analysis mode of the program, as the command line and the library both run it: the
// analysis of one log, with every failure turned into what the program prints and the exit
// status it ends with.
#pragma once

#include <string>
#include <string_view>

#include "analysis_state.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"

namespace sift_runlog {

// How a run ended.
enum class run_end {
  result_line,        // the whole result line
  data_error,         // "ERROR,-" after a data error
  problem_with_file,  // the "Problem with file <file>,-" line after an Index_Error
  failed,             // exit status 1 and a report
};

struct run_outcome {
  int exit_status = 0;
  std::string failure_report;  // the line for standard error, without its line end; empty at 0
  run_end end = run_end::result_line;
};

// Analyses the log named `file_argument`. An Index_Error becomes the line
// "Problem with file <file_argument>,-" (continuing a partly written result line) and status 0.
// Any other failure (a PROBLEM, a log that cannot be read, output that cannot be written,
// exhausted memory) gives status 1 and its report. `out` is flushed before the return, so the
// report can follow it on standard error in the right order.
[[nodiscard]] run_outcome run_analysis(const std::string& file_argument, const run_options& options,
                                       output_sink& out, analysis_state& state);

// The same on a log read from `log`, named `file_argument` for the long mode and the reports.
[[nodiscard]] run_outcome run_analysis(std::string_view file_argument, byte_source& log,
                                       const run_options& options, output_sink& out,
                                       analysis_state& state,
                                       std::size_t block_size = line_reader::default_block_size);

// Writes `text` and flushes; an output failure gives status 1 and its report.
[[nodiscard]] run_outcome write_and_flush(std::string_view text, output_sink& out);

}  // namespace sift_runlog
