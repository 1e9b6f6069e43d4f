#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/record_reader.hpp>

namespace sift_runlog::campaign {

namespace {

constexpr std::size_t block_size = 1 << 20;
// Far beyond any row (a million answers make 40 MB); reached at once on /dev/zero.
constexpr std::size_t longest_record = std::size_t{256} << 20;

}  // namespace

record_reader::record_reader(const std::string& file)
    : name_(file == "-" ? "standard input" : file) {
  if (file == "-") {
    fd_ = STDIN_FILENO;
  } else {
    do {
      fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw system_failure("cannot read " + file, errno);
    owns_fd_ = true;
  }
  data_ = buffer_;
}

record_reader::record_reader(std::string name, std::string_view bytes)
    : name_(std::move(name)), data_(bytes), input_done_(true) {}

record_reader::~record_reader() {
  if (owns_fd_) ::close(fd_);
}

void record_reader::fail(std::size_t line, std::string_view reason) const {
  throw failure(name_ + ": line " + std::to_string(line) + ": " + std::string(reason));
}

bool record_reader::fill() {
  if (input_done_) return false;
  // What is left moves to the front; the records read before are no longer needed.
  buffer_.erase(0, buffer_.size() - data_.size());
  const std::size_t kept = buffer_.size();
  buffer_.resize(kept + block_size);
  ssize_t got = 0;
  do {
    got = ::read(fd_, buffer_.data() + kept, block_size);
  } while (got < 0 && errno == EINTR);
  const int error = errno;
  buffer_.resize(kept + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  data_ = buffer_;
  if (got < 0) throw system_failure("cannot read " + name_, error);
  if (got == 0) input_done_ = true;
  return got > 0;
}

void record_reader::unread() {
  // The record is still in front of what is left: nothing is read between the two calls.
  data_ = std::string_view(last_.data(), last_.size() + data_.size());
  next_line_ = record_line_;
  last_ = {};
}

bool record_reader::at_end() {
  while (data_.empty()) {
    if (!fill()) return true;
  }
  return false;
}

std::optional<std::string_view> record_reader::next(bool csv) {
  std::size_t from = 0;
  bool open_quote = false;
  for (;;) {
    const char* const begin = data_.data();
    const void* found =
        from < data_.size() ? std::memchr(begin + from, '\n', data_.size() - from) : nullptr;
    if (found != nullptr) {
      const auto end = static_cast<std::size_t>(static_cast<const char*>(found) - begin);
      if (csv) open_quote ^= std::count(begin + from, begin + end, '"') % 2 != 0;
      from = end + 1;
      if (!open_quote) break;
      continue;
    }
    if (data_.size() > longest_record) {
      fail(next_line_,
           "a row longer than " + std::to_string(longest_record >> 20) + " MiB (not a table?)");
    }
    const std::size_t scanned = from;
    if (!fill()) {
      if (data_.empty()) return std::nullopt;
      from = data_.size();
      break;
    }
    from = scanned;  // fill() keeps the unread bytes in front
  }
  std::string_view record = data_.substr(0, from);
  last_ = record;
  data_.remove_prefix(from);
  record_line_ = next_line_;
  next_line_ += static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n'));
  if (!record.ends_with('\n')) {
    fail(record_line_, "the row does not end in a line feed (a cut table?)");
  }
  record.remove_suffix(1);
  // Outside quotes (they are balanced): the line end of a file written on another system.
  if (csv && record.ends_with('\r')) record.remove_suffix(1);
  return record;
}

}  // namespace sift_runlog::campaign
