// The one result line written after the scan: the file-name fields (long mode), the cores
// field, the time and memory flags, the formatted result and the techniques field.
#pragma once

#include <string_view>

#include "analysis_state.hpp"
#include "output_sink.hpp"

namespace sift_runlog {

// Writes the line in pieces, so that a failure part-way leaves what was written. A file name of
// fewer than four "_" parts throws Index_Error after the parts before; a state-space result
// without "STATES" and without a tool line is a data_error after the flags.
void write_result_line(const analysis_state& state, const run_options& options,
                       std::string_view file_name, output_sink& out);

}  // namespace sift_runlog
