// Reading one table that sift_runlog_table wrote (raw, csv or jsonl), row by row in one pass,
// into row values. The format is told by the first line: the raw header, a csv header, or a
// JSON object. Every row is checked whole as it is read; a malformed one stops the reading.
// Memory stays that of the longest row, whatever the table's size. Errors follow failure.hpp:
// "FILE: line N: REASON", or "cannot read FILE: REASON" when the system refuses the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "csv_codec.hpp"
#include "formats.hpp"
#include "raw_codec.hpp"
#include "record_reader.hpp"
#include "row.hpp"

namespace sift_runlog::campaign {

class table_reader {
 public:
  // Reads the file `file` as it comes (a FIFO is read once a writer opens it), or standard input
  // for "-". Throws failure, also for an empty input: sift_runlog_table never writes one.
  explicit table_reader(const std::string& file);
  // Reads `bytes`, which must outlive the reader, naming them `name` in errors. Throws failure.
  table_reader(std::string name, std::string_view bytes);
  // Reads what is left of `in`, a file whose first record was looked at and put back.
  explicit table_reader(std::unique_ptr<record_reader> in);
  ~table_reader();
  table_reader(const table_reader&) = delete;
  table_reader& operator=(const table_reader&) = delete;

  [[nodiscard]] const std::string& name() const { return in_->name(); }
  [[nodiscard]] table_format format() const { return format_; }
  // csv: whether the header has the shard column, and the answer_names column (tables of older
  // versions lack it).
  [[nodiscard]] bool sharded_header() const { return csv_ && csv_->sharded(); }
  [[nodiscard]] bool names_answers() const { return !csv_ || csv_->names_answers(); }

  // Reads the next row into `out` and returns true; false at the end of the table. A raw row
  // carries its line alone. Throws failure for a malformed row.
  bool next(row& out);
  // The line number (from 1) where the row last read begins.
  [[nodiscard]] std::size_t line() const { return in_->line(); }
  // The number of rows read so far.
  [[nodiscard]] std::size_t rows() const { return rows_; }
  // A raw part's trailer, once the end is reached (checked against the rows above it).
  [[nodiscard]] const std::optional<raw_trailer>& trailer() const { return trailer_; }

 private:
  void read_header();
  void end_of_raw(std::string_view trailer_line);

  std::unique_ptr<record_reader> in_;
  table_format format_ = table_format::jsonl;
  std::unique_ptr<csv_decoder> csv_;
  std::size_t rows_ = 0;
  raw_trailer counted_;  // the raw rows read so far
  std::optional<raw_trailer> trailer_;
};

}  // namespace sift_runlog::campaign
