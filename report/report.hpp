// The sift_runlog_report command once its command line is read: read the tables once, make the
// view asked for and write it, to standard output or to a file replaced only once complete.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output_table.hpp"
#include "views.hpp"

namespace sift_runlog::report {

struct report_settings {
  view chosen = view::summary;
  std::optional<output_format> format;  // none: text on a terminal, csv otherwise
  std::string reference;                // --reference; empty: none
  std::string output;                   // -o; empty: standard output
  std::vector<std::string> tables;      // "-": standard input
};

// Writes the view and returns the exit status, 0. Throws campaign::failure naming the file, and
// the line when there is one, when no report could be made.
[[nodiscard]] int run_report(const report_settings& settings);

}  // namespace sift_runlog::report
