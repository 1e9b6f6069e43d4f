// The analysis of one log: read it line by line, decide what each line is, keep what it
// declares, then write the result line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "analysis_state.hpp"
#include "line_filter.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"

namespace sift_runlog {

// How an analysis that returned ended: with its whole result line, or with "ERROR,-" after a
// data error.
enum class analysis_end { result_line, data_error };

// Opens the log named `file_name`, analyses it and writes its result line to `out`; `state` is
// reset first and holds the final analysis state afterwards.
//
// A data error ends the analysis with "ERROR,-" and a normal return. Index_Error,
// ANALYSIS_PROBLEM_ERROR, input_error (the log cannot be opened or read) and output_error
// escape.
analysis_end perform_stdout_analysis(const std::string& file_name, const run_options& options,
                                     output_sink& out, analysis_state& state);

// The same on a log read from `log`; `file_name` is what the long mode cuts into fields.
// `block_size` is how much is read at a time; it never changes a byte of the output.
analysis_end perform_stdout_analysis(std::string_view file_name, byte_source& log,
                                     const run_options& options, output_sink& out,
                                     analysis_state& state,
                                     std::size_t block_size = line_reader::default_block_size);

// Runs the line tests on one line in their fixed order (the first that holds decides the line)
// and says whether the scan must stop after it (RH_STOP). The scan calls it only for the lines
// that may pass a test, with the tests they may pass; the tests call it on any line.
enum class scan { go_on, stop };
scan handle_line(analysis_state& state, std::string_view line, output_sink& out,
                 test_set possible = all_tests);

}  // namespace sift_runlog
