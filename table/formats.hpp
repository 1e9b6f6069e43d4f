// The table formats of sift_runlog_table: the program's own lines (raw), CSV with one row for
// every log, and JSON Lines, and the encoders their fields are made of (table_reader.hpp reads
// them back).
#pragma once

#include <cstddef>
#include <optional>
#include <sift_runlog/grade.hpp>
#include <string>
#include <string_view>

namespace sift_runlog::table {

enum class table_format { raw, csv, jsonl };

// The format named "raw", "csv" or "jsonl"; nothing for any other name.
[[nodiscard]] std::optional<table_format> parse_format(std::string_view name);

// Appends `field` as one CSV field: as it is, or between double quotes with its quotes doubled
// when it holds a comma, a double quote, a carriage return or a line feed (RFC 4180).
void append_csv_field(std::string& out, std::string_view field);

// Appends `bytes` as a JSON string, quotes included. Valid UTF-8 is copied; '"', '\' and the
// control bytes are escaped; a byte that is no part of valid UTF-8 becomes \udcXX (XX the
// byte, 80 to ff), a lone surrogate that a reader can turn back into the byte (Python:
// errors="surrogateescape"), so that the path is never lost.
void append_json_string(std::string& out, std::string_view bytes);

// The length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when the byte there begins
// none (overlong forms, surrogates and code points beyond U+10FFFF are not valid).
[[nodiscard]] std::size_t valid_utf8_length(std::string_view text, std::size_t i);

// The table's first line, line feed included: the program's header for raw, the column names
// for csv; empty for jsonl, which has none.
[[nodiscard]] std::string_view table_header(table_format format);

// Why a grade failed, on one line, control bytes shown as \xNN; empty for a graded line. For
// ERROR and problem_with_file rows "line N: <reason>" ("no log line: <reason>" when the file
// name or the end of the log is at fault); for a failed grade the same when a line is at fault,
// then the program's report and the PROBLEM line it printed, if any, separated by "; ".
[[nodiscard]] std::string failure_text(const grade_outcome& graded);

// The row of one graded log, line feed included, from the grade's result line alone. Raw:
// exactly the program's output, nothing when the grade failed. Csv and jsonl: the columns of
// table_header (see the manual page); a field the line does not show is empty, or null.
[[nodiscard]] std::string format_row(table_format format, std::string_view path,
                                     const grade_result& graded);

}  // namespace sift_runlog::table
