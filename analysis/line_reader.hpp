// Reads a log line by line, in large blocks.
//
// A line ends at a line feed, which is not part of it; every other byte (carriage return, NUL,
// form feed, any byte above 0x7f) belongs to the line. A line longer than `piece_limit` bytes
// comes in pieces of `piece_limit` bytes, each handed out as a line of its own, and then the
// rest; an empty rest is not handed out, so a line of exactly `piece_limit` bytes is one line. A
// last line without a line feed is read; an empty source gives no line.
//
// Lines are views into the reader's buffer, valid until the next call of next(). Nothing is
// allocated per line, and nothing is read from the source beyond the block that holds the last
// line asked for.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace sift_runlog {

// Where the bytes of a log come from.
class byte_source {
 public:
  virtual ~byte_source() = default;
  // Reads up to `size` bytes into `buffer`; 0 only at the end. Throws input_error on failure.
  virtual std::size_t read_some(char* buffer, std::size_t size) = 0;
};

// A file opened by name, read with read(2). Throws input_error when it cannot be opened.
class file_source final : public byte_source {
 public:
  explicit file_source(const std::string& path);
  ~file_source() override;
  file_source(const file_source&) = delete;
  file_source& operator=(const file_source&) = delete;

  std::size_t read_some(char* buffer, std::size_t size) override;

 private:
  int fd_;
  std::string path_;
};

// A log already in memory.
class memory_source final : public byte_source {
 public:
  explicit memory_source(std::string_view bytes) : rest_(bytes) {}
  std::size_t read_some(char* buffer, std::size_t size) override;

 private:
  std::string_view rest_;
};

class line_reader {
 public:
  static constexpr std::size_t default_piece_limit = 16384;
  static constexpr std::size_t default_block_size = 128 * 1024;

  // `block_size` is how much is asked of the source at a time; the buffer also holds one piece.
  explicit line_reader(byte_source& source, std::size_t block_size = default_block_size,
                       std::size_t piece_limit = default_piece_limit);

  // Sets `line` to the next line or piece; false at the end of the source.
  [[nodiscard]] bool next(std::string_view& line);

 private:
  // Keeps the unread bytes and appends a block from the source; false at its end.
  bool refill();

  byte_source& source_;
  std::size_t piece_limit_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // one past the last byte read from the source
  bool at_end_ = false;    // the source has no more bytes
};

}  // namespace sift_runlog
