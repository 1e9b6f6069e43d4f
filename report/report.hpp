// The sift_runlog_report command once its command line is read: read the tables once, make the
// view asked for and write it, to standard output or to a file replaced only once complete.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output_table.hpp"
#include "ranking.hpp"
#include "views.hpp"

namespace sift_runlog::report {

struct report_settings {
  view chosen = view::summary;
  std::optional<output_format> format;  // none: text on a terminal, csv otherwise
  std::string reference;                // --reference; empty: none
  std::string output;                   // -o; empty: standard output
  std::vector<std::string> tables;      // "-": standard input
  std::vector<std::string> before;      // --before (diff, html): the campaign compared with
  bool totals = false;                  // --totals: total rows in csv and jsonl too
  points worth;                         // --points (ranking, html)
};

// Writes the view and returns the exit status: 0, or 1 for a diff that found changes. Throws
// campaign::failure naming the file, and the line when there is one, when no report could be
// made.
[[nodiscard]] int run_report(const report_settings& settings);

}  // namespace sift_runlog::report
