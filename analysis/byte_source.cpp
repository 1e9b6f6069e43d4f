#include "byte_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "failures.hpp"

namespace sift_runlog {

namespace {

int open_log(const std::string& path) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != EINTR) throw input_error("cannot open " + printable(path), errno);
  }
}

}  // namespace

file_source::file_source(const std::string& path, read_ahead policy)
    : fd_(open_log(path)), owned_(true), path_(path) {
#ifdef POSIX_FADV_SEQUENTIAL
  // A hint only: the log is read once, from start to end.
  (void)::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  decide(policy);
}

file_source::file_source(int fd, std::string_view path, read_ahead policy)
    : fd_(fd), owned_(false), path_(path) {
  decide(policy);
}

file_source::file_source(int fd, std::string_view path, read_ahead policy, std::uint64_t size)
    : fd_(fd), owned_(false), path_(path), type_unchecked_(true), expected_size_(size) {
  decide(policy, size);
}

void file_source::decide(read_ahead policy) noexcept {
  struct stat status {};
  // A file's size is known when it is opened; a log that grows later is still read to its end.
  if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    decide(policy, static_cast<std::uint64_t>(status.st_size));
  }
}

void file_source::decide(read_ahead policy, std::uint64_t regular_size) noexcept {
  if (policy == read_ahead::always) read_ahead_from_ = 0;
  if (policy == read_ahead::when_large && regular_size >= read_ahead_size) {
    read_ahead_from_ = read_ahead_after;
  }
}

file_source::~file_source() {
  // A file opened here is open: the constructor throws when it cannot open it.
  if (owned_) ::close(fd_);
}

std::size_t file_source::read_some(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) {
      read_so_far_ += static_cast<std::uint64_t>(got);
      if (type_unchecked_ &&
          (got == 0 ? read_so_far_ != expected_size_ : read_so_far_ > expected_size_)) {
        check_still_regular();
      }
      return static_cast<std::size_t>(got);
    }
    if (errno == EINTR) continue;
    const int error_number = errno;
    // A regular file never makes a read wait: whatever made this one fail may be in its place.
    if (type_unchecked_) check_still_regular();
    throw input_error("cannot read " + printable(path_), error_number);
  }
}

void file_source::check_still_regular() {
  type_unchecked_ = false;
  struct stat status {};
  if (::fstat(fd_, &status) != 0) throw input_error("cannot read " + printable(path_), errno);
  if (!S_ISREG(status.st_mode)) {
    throw input_error("cannot read " + printable(path_), "no longer a regular file");
  }
}

std::size_t memory_source::read_some(char* buffer, std::size_t size) {
  const std::size_t taken = std::min(size, rest_.size());
  rest_.copy(buffer, taken);
  rest_.remove_prefix(taken);
  return taken;
}

}  // namespace sift_runlog
