// Reading the tables sift_runlog_table writes (raw, csv, jsonl), row by row in one pass: every
// row is checked whole as it is read, and a malformed one stops the reading with an error that
// names the file, the line and the reason. The one decoder of the project's tables: --merge and
// sift_runlog_report read through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sift_campaign/failure.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "formats.hpp"

namespace sift_runlog::table {

// Every error of reading a table; what() is "FILE: line N: REASON" (or "cannot read FILE: REASON"
// when the system refuses the file).
class table_error : public campaign::failure {
 public:
  using campaign::failure::failure;
};

// Splits one csv record (RFC 4180, without its line end) into `fields`, reused and resized to
// the fields found. Returns the reason when the record is malformed or has more than `most`
// fields; nothing when it is whole. Tables and other csv files (a report's reference answers)
// are split by it.
[[nodiscard]] std::optional<std::string> split_csv_record(std::string_view record,
                                                          std::vector<std::string>& fields,
                                                          std::size_t most);

// 64-bit FNV-1a of `bytes`, continuing from `hash` (the offset basis to begin a digest).
constexpr std::uint64_t fnv1a_basis = 0xcbf29ce484222325ULL;
[[nodiscard]] std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = fnv1a_basis);

// Decodes into `bytes` the JSON string that begins at text[position] (its opening quote), \udcXX
// turned back into byte XX (see append_json_string); `position` is left after the closing quote.
// False when it is malformed.
[[nodiscard]] bool read_json_string(std::string_view text, std::size_t& position,
                                    std::string& bytes);

struct named_value {
  std::string name;   // empty when the table does not name it (csv without answer_names)
  std::string value;  // as the result line shows it after the type: "TRUE", "20", "?" ...
};

// One row of a csv or jsonl table. A field the table leaves empty (csv) or null (jsonl), or an
// empty string, is nothing. A raw row carries no fields: only its bytes (table_reader::row()).
struct table_row {
  std::string path;
  std::optional<std::string> tool, model, examination, run, cores, time_flag, memory_flag;
  std::string verdict;  // answers, DNC, CC, DNF, BAD_RUN?, ERROR, problem_with_file, failed
  std::vector<named_value> answers;     // in the order of the result line; none: empty
  std::vector<std::string> techniques;  // none: empty
  std::optional<std::string> report;    // the failure, for a failed or erroneous log
  std::optional<std::string> shard;     // the part's record, in a table written with --shard
};

// Reads a table from a file, standard input or bytes in memory. The format is told by the first
// line: the raw header, a csv header, or a line beginning with '{' (jsonl; an empty input is an
// empty jsonl table). A csv table may lack the answer_names column (tables of older versions:
// the answers then have empty names) and may end with a shard column. A raw table written with
// --shard ends with its trailer line "#shard ...", which is checked (its line count and digest
// of the rows) and not returned as a row.
class table_reader {
 public:
  // Reads the file `file`, or standard input for "-". Throws table_error.
  explicit table_reader(const std::string& file);
  // Reads `bytes`, which must outlive the reader, naming them `name` in errors. Throws
  // table_error.
  table_reader(std::string name, std::string_view bytes);
  ~table_reader();
  table_reader(const table_reader&) = delete;
  table_reader& operator=(const table_reader&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] table_format format() const { return format_; }
  // The first line, line feed included, for raw and csv; empty for jsonl.
  [[nodiscard]] std::string_view header() const { return header_; }
  // csv: the header ends with a shard column. raw: the trailer was met (only known at the end).
  // jsonl: the last row read has a shard member.
  [[nodiscard]] bool sharded() const { return sharded_; }

  // Reads the next row into `row` (csv and jsonl fields; for raw only the bytes are kept) and
  // returns true; false at the end of the table. Throws table_error for a malformed row.
  bool next(table_row& row);
  // The exact bytes of the row last read, line feed included; valid until the next call.
  [[nodiscard]] std::string_view row() const { return row_; }
  // The line number (from 1) where the row last read begins.
  [[nodiscard]] std::size_t line() const { return row_line_; }
  // The number of rows read so far.
  [[nodiscard]] std::size_t rows() const { return rows_; }
  // raw: the record of the trailer "#shard RECORD lines=N digest=HEX", once the end is reached.
  [[nodiscard]] const std::optional<std::string>& trailer_record() const { return trailer_; }

 private:
  [[noreturn]] void fail(std::size_t line, std::string_view reason) const;
  bool fill();  // reads more bytes into the buffer; false at the end of the input
  std::optional<std::string_view> take_line(bool csv_record);
  void read_header();
  void read_csv(table_row& row);
  void read_jsonl(table_row& row);
  void end_of_raw();

  std::string name_;
  int fd_ = -1;  // -1: the bytes are in memory
  bool owns_fd_ = false;
  std::string buffer_;     // the bytes read from the descriptor and not yet consumed
  std::string_view data_;  // what is left to read: a view of buffer_ or of the caller's bytes
  bool input_done_ = false;
  table_format format_ = table_format::jsonl;
  std::string header_;
  bool sharded_ = false;
  bool has_answer_names_ = false;
  std::size_t columns_ = 0;
  std::string_view row_;
  std::size_t next_line_ = 1;
  std::size_t row_line_ = 0;
  std::size_t rows_ = 0;
  std::uint64_t raw_digest_ = fnv1a_basis;
  std::optional<std::string> trailer_;
  std::vector<std::string> fields_;  // the decoded fields of the last csv record
};

}  // namespace sift_runlog::table
