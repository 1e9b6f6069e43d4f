// The report's views are rectangular tables; this writes one in the format asked for: an aligned
// text table for a person, RFC 4180 csv, JSON Lines (one object per row, numbers as numbers,
// absent values null), a markdown table or a LaTeX tabular with booktabs rules.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::report {

enum class output_format { text, csv, jsonl, markdown, latex };

// The format named "text", "csv", "jsonl", "markdown" or "latex"; nothing for any other name.
[[nodiscard]] std::optional<output_format> parse_output_format(std::string_view name);

// One cell: a text, a count, or nothing (the table has no value for it). An absent cell may have
// a text that people are shown ("?", a missing answer), while machines get an empty field or
// null. A numeric text (a figure such as -3 or 1.5e+22) is a number for machines and aligned
// right like a count.
struct cell {
  enum class kind { absent, text, count };
  kind type = kind::absent;
  std::string text;
  std::uint64_t number = 0;
  bool numeric = false;

  static cell of(const std::optional<std::string>& value) {
    return value ? cell{kind::text, *value, 0} : cell{};
  }
  static cell of(std::string_view value) { return cell{kind::text, std::string(value), 0}; }
  static cell of(const std::string& value) { return cell{kind::text, value, 0}; }
  static cell of(std::uint64_t value) { return cell{kind::count, {}, value}; }
  // A missing answer: "?" for people, empty or null for machines.
  static cell no_answer() { return cell{kind::absent, "?", 0}; }
  // `digits`, a number in JSON's syntax.
  static cell figure(std::string digits) { return cell{kind::text, std::move(digits), 0, true}; }
};

// What a total row holds in its key columns in csv and jsonl (with --totals), where an absent
// value would read as a group without a name: no tool, model or examination has an underscore,
// since the names are the parts of a file name cut at its underscores.
inline constexpr std::string_view all_marker = "_all_";

// Receives the output bytes in order.
using byte_sink = std::function<void(std::string_view bytes)>;

// Writes the header and the rows as they come (text and latex wait for the last row to align the
// columns). Text and markdown show a control byte as \xNN and an absent value as "-". Rows for a
// person (text, markdown, latex) can be put in the natural order of their names (Exam2 before
// Exam10); csv and jsonl keep the rows' order, the byte order of the names, as machines expect.
class table_writer {
 public:
  // `totals`: csv and jsonl keep total rows too (they leave them out by default: a machine sums
  // for itself, and a total row read as data counts everything twice).
  table_writer(output_format format, std::vector<std::string> columns, byte_sink sink,
               bool totals = false);
  // Text, markdown and latex hold the rows and write them in the natural order of these
  // columns, the first one first: an absent name before any other, all_marker after all, rows
  // equal in them in the order they came. Called before the first row.
  void order_naturally(std::vector<std::size_t> key_columns);
  void add_row(const std::vector<cell>& row);
  // A row of totals over the rows before it, its key columns absent: kept in text, markdown and
  // latex (after a rule), and in csv and jsonl only with `totals`, the key columns then holding
  // all_marker.
  void add_total_row(const std::vector<cell>& row);
  // Writes what was held back (text); call once after the last row.
  void finish();

 private:
  void write_row(const std::vector<cell>& row);
  // Writes the rows held for their natural order.
  void write_held_rows();

  output_format format_;
  std::vector<std::string> columns_;
  byte_sink sink_;
  std::string buffer_;
  bool totals_;
  std::vector<std::vector<std::string>> held_;  // text, latex: the shown cells, header first
  std::vector<bool> right_aligned_;             // text, latex: number columns
  std::vector<std::size_t> ruled_;              // latex: the held rows with a rule above
  std::vector<std::size_t> natural_keys_;       // the columns of the natural order, if any
  std::vector<std::vector<cell>> unordered_;    // the rows held for it
};

// A value as text and markdown show it: control bytes and DEL as \xNN, and for markdown "|" and
// "\" as "\|" and "\\", so that one cell stays on one line and in its column.
[[nodiscard]] std::string shown_text(std::string_view value, bool markdown);

// A value as LaTeX text: \ & % $ # _ { } ~ ^ escaped, < > | " as the glyphs they are (the
// default font would show others), "--" kept apart from a ligature, and any byte beyond printable
// ASCII as \xNN, so that the table compiles with pdflatex and booktabs alone.
[[nodiscard]] std::string latex_text(std::string_view value);

}  // namespace sift_runlog::report
