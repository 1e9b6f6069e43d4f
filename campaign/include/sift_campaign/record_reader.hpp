// Reading a text file record by record, in one pass with a fixed buffer: lines, or csv records,
// whose quoted fields may hold line feeds. The one framer of every table and csv file the
// programs read. Errors follow failure.hpp.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

class record_reader {
 public:
  // Reads the file `file` as it comes (a FIFO once a writer opens it), or standard input for
  // "-" (named "standard input"). Throws failure "cannot read FILE: REASON".
  explicit record_reader(const std::string& file);
  // Reads `bytes`, which must outlive the reader, naming them `name` in errors.
  record_reader(std::string name, std::string_view bytes);
  ~record_reader();
  record_reader(const record_reader&) = delete;
  record_reader& operator=(const record_reader&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }

  // The next line, without its line feed; with `csv`, the next record, its quotes balanced,
  // without its line end (LF, or CR LF). Valid until the next call. Nothing at the end of the
  // input. Throws failure for a last record without its line feed (a cut file).
  std::optional<std::string_view> next(bool csv);
  // Puts the record last read back, to be read again by the next call.
  void unread();
  // Whether the input has no more bytes.
  [[nodiscard]] bool at_end();
  // The first byte of what is left; the input must not be at its end.
  [[nodiscard]] char peek() const { return data_.front(); }
  // The line number (from 1) where the record last read begins.
  [[nodiscard]] std::size_t line() const { return record_line_; }

  // Throws failure "NAME: line LINE: REASON".
  [[noreturn]] void fail(std::size_t line, std::string_view reason) const;

 private:
  bool fill();  // reads more bytes into the buffer; false at the end of the input

  std::string name_;
  int fd_ = -1;  // -1: the bytes are in memory
  bool owns_fd_ = false;
  std::string buffer_;     // the bytes read from the descriptor and not yet consumed
  std::string_view data_;  // what is left to read: a view of buffer_ or of the caller's bytes
  bool input_done_ = false;
  std::size_t next_line_ = 1;
  std::size_t record_line_ = 0;
  std::string_view last_;  // the record last read, line end included
};

}  // namespace sift_runlog::campaign
