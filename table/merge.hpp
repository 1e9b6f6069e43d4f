// Joining the tables that the parts of a sharded campaign wrote into one: raw tables in the
// order given (their rows carry no path), csv and jsonl tables merged by their path column.
#pragma once

#include <string>
#include <vector>

namespace sift_runlog::table {

// Writes the joined table to `output` (replaced once complete), or to standard output when it is
// empty. Every table must be of the same format, each in path order, and no path in two of
// them. Returns the exit status: 0, or 2 with a message when nothing was written.
[[nodiscard]] int merge_tables(const std::vector<std::string>& tables, const std::string& output,
                               bool quiet);

}  // namespace sift_runlog::table
