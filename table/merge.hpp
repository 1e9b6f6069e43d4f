// Joining the tables that the parts of a sharded campaign wrote into one. Every part is checked
// whole before a byte is written: each row well formed, every part's shard record of one cut and
// one mode, every part from 1 to N once, each holding the rows of its range. The joined table is
// the parts' rows in part order, each without its shard record: the table of one whole run.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::table {

// A part's bytes in memory, named for the messages.
struct table_part {
  std::string name;
  std::string_view bytes;
};

// Checks the parts, then hands the joined table to `write`. Returns the number of rows written.
// Throws table_error (table_reader.hpp) naming the part and the reason when they cannot be
// joined; nothing has been written then.
std::size_t merge_parts(std::span<const table_part> parts,
                        const std::function<void(std::string_view)>& write);

// Reads the tables, joins them and writes the result to `output` (replaced once complete), or
// to standard output when it is empty. Returns the exit status, 0; throws campaign::failure (a
// table_error among them) when nothing was written.
[[nodiscard]] int merge_tables(const std::vector<std::string>& tables, const std::string& output,
                               bool quiet);

}  // namespace sift_runlog::table
