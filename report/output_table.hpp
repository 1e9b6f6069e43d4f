// The report's views are rectangular tables; this writes one in the format asked for: an aligned
// text table for a person, RFC 4180 csv, JSON Lines (one object per row, counts as numbers,
// absent values null) or a markdown table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::report {

enum class output_format { text, csv, jsonl, markdown };

// The format named "text", "csv", "jsonl" or "markdown"; nothing for any other name.
[[nodiscard]] std::optional<output_format> parse_output_format(std::string_view name);

// One cell: a text, a count, or nothing (the table has no value for it).
struct cell {
  enum class kind { absent, text, count };
  kind type = kind::absent;
  std::string text;
  std::uint64_t number = 0;

  static cell of(const std::optional<std::string>& value) {
    return value ? cell{kind::text, *value, 0} : cell{};
  }
  static cell of(std::string_view value) { return cell{kind::text, std::string(value), 0}; }
  static cell of(const std::string& value) { return cell{kind::text, value, 0}; }
  static cell of(std::uint64_t value) { return cell{kind::count, {}, value}; }
};

// Receives the output bytes in order.
using byte_sink = std::function<void(std::string_view bytes)>;

// Writes the header and the rows as they come (text waits for the last row to align the
// columns). Text and markdown show a control byte as \xNN and an absent value as "-".
class table_writer {
 public:
  table_writer(output_format format, std::vector<std::string> columns, byte_sink sink);
  void add_row(const std::vector<cell>& row);
  // Writes what was held back (text); call once after the last row.
  void finish();

 private:
  output_format format_;
  std::vector<std::string> columns_;
  byte_sink sink_;
  std::string buffer_;
  std::vector<std::vector<std::string>> held_;  // text: the shown cells, header first
  std::vector<bool> right_aligned_;             // text: count columns
};

// A value as text and markdown show it: control bytes and DEL as \xNN, and for markdown "|" and
// "\" as "\|" and "\\", so that one cell stays on one line and in its column.
[[nodiscard]] std::string shown_text(std::string_view value, bool markdown);

}  // namespace sift_runlog::report
