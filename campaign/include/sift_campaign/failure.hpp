// sift_campaign: the library of campaign tables, between the analysis's public header and the
// companion programs. It owns the row of a table as a value, one codec per format (each encoder
// beside its decoder), the reading of tables, and the I/O every program of the project shares:
// messages, buffered writing, the guard of the standard descriptors, temporary files removed on
// any way out, outputs replaced whole, and the identity checks between outputs and inputs.
//
// The error model, for every part of the library:
// - A fault that stops the command (a table that cannot be read or is not whole, an output
//   that cannot be made or written, an input that is also an output, a resource run out) is
//   thrown as `failure`. Its what() is one line that names the file or the option and the
//   reason ("part-2.csv: line 7: 13 fields, the header has 14", "-o t.csv: Permission denied").
//   The program catches it once, at the top, says it and ends with exit status 2.
// - A fault of one item that does not stop the command (a log whose grade failed, a folder that
//   cannot be searched) is a value: the row's failure, a search note, counted in the summary and
//   in the exit status 1.
// - std::bad_alloc is left as it is: the programs' top says that memory ran out.
// No function reports a fault through a return code, a bool or an errno.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

class failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure of the system: "WHAT: REASON", REASON being strerror(error_number).
[[nodiscard]] failure system_failure(std::string_view what, int error_number);

}  // namespace sift_runlog::campaign
