// Csv tables: RFC 4180, rows ending in a line feed, a header naming every column (row.hpp's
// column_names, then `shard` in a part written with --shard). Every byte of every field is
// carried as it is, NUL included; a field that holds a comma, a double quote, a carriage return
// or a line feed is quoted. An absent field is empty, and a present but empty one is written
// `""`, so that the two read back apart. Errors follow failure.hpp: the decoder throws failure
// with the reason alone, and the table reader adds the file and the line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "row.hpp"

namespace sift_runlog::campaign {

// Appends `field` as one csv field: as it is, or quoted with its quotes doubled.
void append_csv_field(std::string& out, std::string_view field);

// The fields of one record, reused from record to record.
struct csv_fields {
  std::vector<std::string> text;
  std::vector<bool> quoted;  // written between quotes
  std::size_t count = 0;
};

// Splits one record (without its line end) into `fields`. Throws failure when the record is
// malformed or has more than `most` fields.
void split_csv_record(std::string_view record, csv_fields& fields, std::size_t most);

// The header line, line feed included.
[[nodiscard]] std::string csv_header(bool sharded);

// Appends the row, line feed included; its shard record, if it has one, in the last column.
void append_csv_row(std::string& out, const row& r);

// Reads the rows of one csv table, whose header it is made from.
class csv_decoder {
 public:
  // `header` without its line end. Throws failure when it is not the header of a table: the
  // columns of column_names in order (a table of an older version may lack answer_names), and
  // `shard` last in a part.
  explicit csv_decoder(std::string_view header);

  [[nodiscard]] bool sharded() const { return sharded_; }
  [[nodiscard]] bool names_answers() const { return names_answers_; }

  // Decodes one record (without its line end) into `out`. Throws failure for a malformed row.
  void decode(std::string_view record, row& out);

 private:
  bool sharded_ = false;
  bool names_answers_ = false;
  std::size_t columns_ = 0;
  csv_fields fields_;
  std::string shard_text_;  // the last shard record read, and its value
  std::optional<shard_record> shard_;
};

}  // namespace sift_runlog::campaign
