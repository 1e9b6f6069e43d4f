// The one result line of an analysis: composed from the final state as a value, field by field,
// and written from that value in one place, whoever asks for its bytes.
#pragma once

#include <string_view>

#include "analysis_state.hpp"
#include "output_sink.hpp"
#include "sift_runlog/grade.hpp"

namespace sift_runlog {

// The verdict of a scan that completed: the first row of the verdict table that holds.
[[nodiscard]] verdict_kind verdict_of(const analysis_state& state) noexcept;

// Composes the line into `line`, field by field, so that a failure part-way leaves the fields
// composed before it: a file name of fewer than four "_" parts throws Index_Error after the
// parts there are; a state-space result without "STATES" and without a tool line is a
// data_error after the flags. Without options.keep_final_state, texts of the state are moved into
// the line.
void compose_result_line(analysis_state& state, const grade_options& options,
                         std::string_view file_name, result_line& line);

// The formatted result of formula answers or a state space: "<count> " (or "<count>," without
// answers), then each answer followed by " ", the last one by ",".
void write_answers(const result_line& line, output_sink& out);

// Writes what the program writes for `line` after its debug traces: in debug mode
// "printing line" when the scan completed, then the fields the line has and its end (the
// techniques field, "ERROR,-", "Problem with file <file>,-" or the PROBLEM line).
void write_result_line(const result_line& line, bool debug_mode, output_sink& out);

}  // namespace sift_runlog
