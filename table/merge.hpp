// Joining the tables that the parts of a sharded campaign wrote into one. Every part is checked
// whole before a byte is written: each row well formed, every part's shard record of one cut and
// one mode, every part from 1 to N once, each holding the rows of its range. The joined table is
// the parts' rows in part order, each without its shard record: the table of one whole run. The
// parts are read twice, once to check and once to write, so that memory stays that of one row
// whatever their size.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::table {

// A part: the file `name`, or bytes in memory named `name` in messages.
struct table_part {
  std::string name;
  std::optional<std::string_view> bytes;
};

// Checks the parts, then hands the joined table to `write`. Returns the number of rows written.
// Throws campaign::failure naming the part and the reason when they cannot be joined; nothing
// has been written then.
std::size_t merge_parts(std::span<const table_part> parts,
                        const std::function<void(std::string_view)>& write);

// Joins the tables and writes the result to `output` (replaced once complete), or to standard
// output when it is empty. Returns the exit status, 0; throws campaign::failure when nothing was
// written.
[[nodiscard]] int merge_tables(const std::vector<std::string>& tables, const std::string& output,
                               bool quiet);

}  // namespace sift_runlog::table
