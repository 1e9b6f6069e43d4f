// The one call behind the library's grade_file() and grade_buffer() and the program's analysis
// mode, so that they can never disagree on a log.
#pragma once

#include <string>

#include "line_reader.hpp"
#include "output_sink.hpp"
#include "sift_runlog/grade.hpp"

namespace sift_runlog {

// Grades the log read from `log`, or from the file named `file_argument` when `log` is null,
// writing what the program prints to `out` (flushed before the return).
[[nodiscard]] grade_outcome grade_into(const std::string& file_argument, byte_source* log,
                                       const grade_options& options, output_sink& out);

}  // namespace sift_runlog
