#include "line_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "failures.hpp"

namespace sift_runlog {

file_source::file_source(const std::string& path) : fd_(-1), path_(path) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw input_error("cannot open " + printable(path), errno);
#ifdef POSIX_FADV_SEQUENTIAL
  // A hint only: the log is read once, from start to end.
  (void)::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

file_source::~file_source() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t file_source::read_some(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw input_error("cannot read " + printable(path_), errno);
  }
}

std::size_t memory_source::read_some(char* buffer, std::size_t size) {
  const std::size_t taken = std::min(size, rest_.size());
  rest_.copy(buffer, taken);
  rest_.remove_prefix(taken);
  return taken;
}

line_reader::line_reader(byte_source& source, std::size_t block_size, std::size_t piece_limit)
    : source_(source),
      piece_limit_(piece_limit),
      // Room for a whole piece and the byte after it, which tells whether the line goes on.
      capacity_(std::max(block_size, piece_limit + 1)),
      // Not zero-filled: a small log touches only the pages it fills.
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

bool line_reader::refill() {
  if (at_end_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t got = source_.read_some(buffer_.get() + end_, capacity_ - end_);
  if (got == 0) {
    at_end_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool line_reader::next(std::string_view& line) {
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    // A line end just after a full piece still belongs to that piece.
    const std::size_t window = std::min(available, piece_limit_ + 1);
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', window));
    if (newline != nullptr) {
      const auto length = static_cast<std::size_t>(newline - start);
      line = std::string_view(start, length);
      begin_ += length + 1;
      return true;
    }
    if (available > piece_limit_) {
      line = std::string_view(start, piece_limit_);
      begin_ += piece_limit_;
      return true;
    }
    if (!refill()) {
      if (available == 0) return false;
      line = std::string_view(buffer_.get() + begin_, available);
      begin_ = end_;
      return true;
    }
  }
}

}  // namespace sift_runlog
