// The analysis of one log: read it line by line, decide what each line is, keep what it
// declares, then write the result line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "analysis_state.hpp"
#include "line_reader.hpp"
#include "line_tests.hpp"
#include "output_sink.hpp"
#include "sift_runlog/grade.hpp"

namespace sift_runlog {

// Opens the log named `file_name`, analyses it and composes its result line into `line`, which
// comes fresh with its file set; `state`, fresh too, holds the final analysis state afterwards.
// In debug mode the traces of the lines read are written to `trace` as they are read; nothing
// else is.
//
// A data error ends the analysis with the verdict data_error and an Index_Error with
// problem_with_file, each with the line at fault and its reason in line.failure, and a normal
// return. ANALYSIS_PROBLEM_ERROR escapes after the same (verdict failed, the PROBLEM line
// kept); input_error (the log cannot be opened or read) and output_error escape as they are.
void perform_stdout_analysis(const std::string& file_name, const grade_options& options,
                             output_sink& trace, analysis_state& state, result_line& line);

// The same on a log read from `log`; `file_name` is what the long mode cuts into fields.
// `block_size` is how much is read at a time; it never changes a byte of the output.
void perform_stdout_analysis(std::string_view file_name, byte_source& log,
                             const grade_options& options, output_sink& trace,
                             analysis_state& state, result_line& line,
                             std::size_t block_size = line_reader::default_block_size);

// Runs the line tests on one line in their fixed order (the first that holds decides the line)
// and says whether the scan must stop after it (RH_STOP). The scan calls it only for the lines
// that may pass a test, with the tests they may pass; the tests call it on any line.
enum class scan { go_on, stop };
scan handle_line(analysis_state& state, std::string_view line, test_set possible = all_tests);

}  // namespace sift_runlog
