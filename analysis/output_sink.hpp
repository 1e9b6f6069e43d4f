// Where the program's output goes. Text is gathered in one buffer and handed on in large
// blocks: never a write per line. A sink that cannot pass its bytes on throws output_error, so
// that a lost result can never look like a success.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace sift_runlog {

class output_sink {
 public:
  // Measured: fewer, larger writes matter for the debug trace of a large log; a buffer costs
  // only the pages that are really written.
  static constexpr std::size_t default_capacity = 256 * 1024;

  explicit output_sink(std::size_t capacity = default_capacity);
  virtual ~output_sink() = default;
  output_sink(const output_sink&) = delete;
  output_sink& operator=(const output_sink&) = delete;

  // Appends `text` without ending the line.
  void write(std::string_view text) {
    if (text.size() <= capacity_ - used_) {
      text.copy(buffer_.get() + used_, text.size());
      used_ += text.size();
    } else {
      write_through(text);
    }
  }
  void end_line() { write(std::string_view("\n", 1)); }
  void write_line(std::string_view text) {
    write(text);
    end_line();
  }
  // `prefix`, `text` and a line end, as three writes would give them, with one look at the
  // room left: the debug trace writes one such line for every line of a log.
  void write_line(std::string_view prefix, std::string_view text) {
    const std::size_t size = prefix.size() + text.size() + 1;
    if (size <= capacity_ - used_) {
      char* const at = buffer_.get() + used_;
      prefix.copy(at, prefix.size());
      text.copy(at + prefix.size(), text.size());
      at[size - 1] = '\n';
      used_ += size;
    } else {
      write(prefix);
      write_line(text);
    }
  }

  // How far write_line_overread() may read past its text and write past its line.
  static constexpr std::size_t overread = 64;

  // As write_line(prefix, text), for a text followed in memory by at least `overread` readable
  // bytes, as every line of line_reader is: the text is copied in whole 64-byte steps, without
  // a library call, and the bytes copied past the line are overwritten by what comes next.
  void write_line_overread(std::string_view prefix, std::string_view text) {
    const std::size_t size = prefix.size() + text.size() + 1;
    if (size > capacity_ - used_) {
      write_line(prefix, text);
      return;
    }
    char* const at = buffer_.get() + used_;
    prefix.copy(at, prefix.size());
    char* const to = at + prefix.size();
    for (std::size_t done = 0; done < text.size(); done += overread) {
      std::memcpy(to + done, text.data() + done, overread);
    }
    at[size - 1] = '\n';
    used_ += size;
  }

  // Hands every gathered byte on. Throws output_error when that fails.
  void flush();

 protected:
  // Passes `bytes` on, all of them, or throws output_error.
  virtual void drain(std::string_view bytes) = 0;

 private:
  void write_through(std::string_view text);

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// Writes to a file descriptor (standard output for the program).
class fd_output_sink final : public output_sink {
 public:
  explicit fd_output_sink(int fd, std::string_view name = "standard output",
                          std::size_t capacity = default_capacity)
      : output_sink(capacity), fd_(fd), name_(name) {}

 private:
  void drain(std::string_view bytes) override;

  int fd_;
  std::string name_;
};

// Gathers everything in memory, for the library call and the tests. The buffer holds a result
// line: one of a few KiB costs more to allocate per log than the copies it saves.
class string_output_sink final : public output_sink {
 public:
  explicit string_output_sink(std::size_t capacity = 256) : output_sink(capacity) {}

  // Everything written so far, flushed first.
  [[nodiscard]] const std::string& text() {
    flush();
    return text_;
  }
  // The same, moved out: the sink holds nothing after it.
  [[nodiscard]] std::string take_text() {
    flush();
    return std::move(text_);
  }

 private:
  void drain(std::string_view bytes) override { text_.append(bytes); }

  std::string text_;
};

}  // namespace sift_runlog
