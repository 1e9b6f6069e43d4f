// The three formats of a table, and a whole table written in one of them: its header, its rows,
// and for a part written with --shard its record (in each csv and jsonl row, row::shard; a raw
// part ends with a trailer, raw_codec.hpp).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "row.hpp"

namespace sift_runlog::campaign {

enum class table_format { raw, csv, jsonl };

// The format named "raw", "csv" or "jsonl"; nothing for any other name.
[[nodiscard]] std::optional<table_format> parse_format(std::string_view name);
[[nodiscard]] std::string_view format_name(table_format format);

// The header line, line feed included: the program's header for raw, the columns for csv (with
// the shard column in a part); empty for jsonl, which has none.
[[nodiscard]] std::string table_header(table_format format, bool sharded);

// Appends the row, line feed included: for raw the program's line (empty for a failed grade),
// for csv and jsonl every field, the shard record where the row has one.
void append_row(table_format format, std::string& out, const row& r);

}  // namespace sift_runlog::campaign
