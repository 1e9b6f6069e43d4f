// Where the bytes of a log come from: a file read with read(2), which may be worth reading ahead
// on a second thread (read_ahead_thread.hpp), or bytes already in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sift_runlog {

// Where the bytes of a log come from.
class byte_source {
 public:
  virtual ~byte_source() = default;
  // Reads up to `size` bytes into `buffer`; 0 only at the end. Throws input_error on failure.
  virtual std::size_t read_some(char* buffer, std::size_t size) = 0;
  // After how many bytes the reader should read the next block on a thread of its own while
  // it looks at this one, or never (UINT64_MAX): only where each read is a copy worth hiding
  // and always ends promptly.
  [[nodiscard]] virtual std::uint64_t read_ahead_from() const noexcept { return UINT64_MAX; }
  [[nodiscard]] bool worth_reading_ahead() const noexcept {
    return read_ahead_from() != UINT64_MAX;
  }
};

// When a file_source is worth reading ahead.
enum class read_ahead { when_large, always, never };

// A file read with read(2). Regular files of read_ahead_size bytes or more (when they are
// opened) are worth reading ahead once their first read_ahead_after bytes are read (a log that
// stops early starts no thread): the kernel's copy into the reader's buffer, about half of the
// work on a large log, then runs beside the analysis. Pipes and other files never are: a read
// may wait for a writer. read_ahead::always reads a regular file ahead from its first byte.
class file_source final : public byte_source {
 public:
  static constexpr std::uint64_t read_ahead_size = 4 << 20;
  static constexpr std::uint64_t read_ahead_after = 2 << 20;

  // Opens the file by name. Throws input_error when it cannot be opened. The path, here and
  // below, must outlive the source: it is kept to name the file in reports.
  explicit file_source(const std::string& path, read_ahead policy = read_ahead::when_large);
  // Reads the open descriptor `fd` (not closed here) from its current offset; `path` names it
  // in reports.
  file_source(int fd, std::string_view path, read_ahead policy);
  // The same, from the start of a file that the caller found to be a regular file of `size`
  // bytes before it opened it, without asking the descriptor again. The descriptor is asked
  // with fstat(2) only when the reads disagree with that size (more bytes, an earlier end, a
  // read that would wait): a file put in its place since then that is no regular file (a FIFO,
  // a device that never ends) is not read further.
  file_source(int fd, std::string_view path, read_ahead policy, std::uint64_t size);
  ~file_source() override;
  file_source(const file_source&) = delete;
  file_source& operator=(const file_source&) = delete;

  std::size_t read_some(char* buffer, std::size_t size) override;
  [[nodiscard]] std::uint64_t read_ahead_from() const noexcept override { return read_ahead_from_; }

 private:
  void decide(read_ahead policy) noexcept;
  void decide(read_ahead policy, std::uint64_t regular_size) noexcept;
  void check_still_regular();

  int fd_;
  bool owned_;
  std::string_view path_;  // the caller's, which outlives the source: no copy a log
  std::uint64_t read_ahead_from_ = UINT64_MAX;
  bool type_unchecked_ = false;  // the size below was found before the file was opened
  std::uint64_t expected_size_ = 0;
  std::uint64_t read_so_far_ = 0;
};

// A log already in memory.
class memory_source final : public byte_source {
 public:
  explicit memory_source(std::string_view bytes) : rest_(bytes) {}
  std::size_t read_some(char* buffer, std::size_t size) override;

 private:
  std::string_view rest_;
};

}  // namespace sift_runlog
