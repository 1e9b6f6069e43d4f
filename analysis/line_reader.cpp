#include "line_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

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

line_reader::pattern_set::pattern_set(std::span<const std::string_view> patterns) {
  if (patterns.size() > 32) throw std::invalid_argument("more than 32 candidate patterns");
  for (const std::string_view text : patterns) {
    if (text.size() < 3 || text.size() >= 64 || text.find('\n') != std::string_view::npos) {
      throw std::invalid_argument("a candidate pattern must be 3 to 63 bytes without line feed");
    }
    pattern added{0, 0, std::string(text)};
    const std::size_t head = std::min<std::size_t>(4, text.size());
    std::memcpy(&added.head, text.data(), head);
    std::memset(&added.head_mask, 0xff, head);
    const auto first = static_cast<unsigned char>(text[0]);
    if (by_first_byte_[first] == 0) first_bytes_ += text[0];
    if (second_bytes_.find(text[1]) == std::string::npos) second_bytes_ += text[1];
    if (third_bytes_.find(text[2]) == std::string::npos) third_bytes_ += text[2];
    by_first_byte_[first] |= std::uint32_t{1} << patterns_.size();
    patterns_.push_back(std::move(added));
  }
}

bool line_reader::pattern_set::starts(const char* text) const noexcept {
  std::uint32_t candidates = by_first_byte_[static_cast<unsigned char>(*text)];
  if (candidates == 0) return false;
  std::uint32_t loaded;
  std::memcpy(&loaded, text, sizeof loaded);
  while (candidates != 0) {
    const pattern& p = patterns_[static_cast<std::size_t>(std::countr_zero(candidates))];
    if ((loaded & p.head_mask) == p.head && std::memcmp(text, p.text.data(), p.text.size()) == 0) {
      return true;
    }
    candidates &= candidates - 1;
  }
  return false;
}

line_reader::line_reader(byte_source& source, std::size_t block_size, std::size_t piece_limit,
                         candidate_patterns patterns)
    : source_(source),
      piece_limit_(piece_limit),
      // Room for a whole piece and the byte after it, which tells whether the line goes on.
      capacity_(std::max(block_size, piece_limit + 1)),
      // Not zero-filled: a small log touches only the pages it fills.
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_ + line_padding)),
      line_starts_(patterns.line_starts),
      word_starts_(patterns.word_starts),
      pattern_bytes_{byte_set(line_starts_.first_bytes()), byte_set(word_starts_.first_bytes()),
                     byte_set(line_starts_.second_bytes() + word_starts_.second_bytes()),
                     byte_set(line_starts_.third_bytes() + word_starts_.third_bytes())},
      kernel_(best_kernel(pattern_bytes_)),
      line_feeds_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity_ / 64 + 2)),
      marks_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity_ / 64 + 2)) {
  // Enough room for every long stretch a buffer can hold, so that no refill allocates.
  long_stretches_.reserve(capacity_ / (piece_limit_ + 1) + 2);
}

bool line_reader::refill() {
  if (at_end_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t got = source_.read_some(buffer_.get() + end_, capacity_ - end_);
  at_end_ = got == 0;
  end_ += got;
  // The bytes moved to the front need their index rebuilt even when nothing more came. The
  // padding after the data is always defined, whatever an earlier block left there.
  std::memset(buffer_.get() + end_, 0, line_padding);
  const std::size_t longest_run = build_byte_index(kernel_, buffer_.get(), end_, pattern_bytes_,
                                                   line_feeds_.get(), marks_.get());
  // A line longer than the piece limit spans at least this many whole index words without a
  // line feed.
  const std::size_t long_run = piece_limit_ / 64 > 2 ? piece_limit_ / 64 - 2 : 0;
  walk_every_line_ = long_run == 0;
  long_stretches_.clear();
  if (long_run > 0 && longest_run >= long_run) find_long_stretches(long_run);
  return got > 0;
}

void line_reader::find_long_stretches(std::size_t long_run) {
  const std::uint64_t* const feeds = line_feeds_.get();
  const std::size_t words = (end_ + 63) / 64;
  std::size_t run = 0;
  for (std::size_t word = 0; word <= words; ++word) {
    if (word < words && feeds[word] == 0) {
      ++run;
    } else {
      if (run >= long_run) long_stretches_.push_back({word - run, word - 1});
      run = 0;
    }
  }
}

bool line_reader::whole_pattern_at(std::size_t position) const noexcept {
  const char* mark = buffer_.get() + position;
  return (*mark == '\n' ? line_starts_ : word_starts_).starts(mark + 1);
}

std::size_t line_reader::after_last_line_feed(std::size_t from, std::size_t to) const noexcept {
  if (to <= from) return from;
  std::size_t word = (to - 1) / 64;
  std::uint64_t bits = line_feeds_[word];
  if (to % 64 != 0) bits &= (std::uint64_t{1} << (to % 64)) - 1;
  while (bits == 0) {
    if (word * 64 <= from) return from;
    bits = line_feeds_[--word];
  }
  const std::size_t line_feed = word * 64 + 63 - static_cast<std::size_t>(std::countl_zero(bits));
  return line_feed >= from ? line_feed + 1 : from;
}

bool line_reader::next_candidate(std::string_view& line) {
  for (;;) {
    pass_over_non_candidates();
    // begin_ now holds a candidate, a line that does not end in the buffer, or nothing.
    if (take_buffered(line)) return true;
    if (!refill()) return take_buffered(line);
  }
}

void line_reader::pass_over_non_candidates() noexcept {
  for (;;) {
    // The line at begin_ may follow a piece or a refill, with no line feed (and so no mark)
    // before it in the buffer: its start is looked at directly.
    if (begin_ >= end_ || begins_with_line_start(begin_)) return;
    std::uint64_t* const marks = marks_.get();
    const std::size_t words = (end_ + 63) / 64;
    std::size_t word = begin_ / 64;
    std::uint64_t bits = marks[word] & (~std::uint64_t{0} << (begin_ % 64));
    std::size_t mark = end_;
    for (;;) {
      while (bits == 0 && ++word < words) bits = marks[word];
      if (bits == 0) break;
      const int bit = std::countr_zero(bits);
      const std::size_t position = word * 64 + static_cast<std::size_t>(bit);
      if (whole_pattern_at(position)) {
        mark = position;
        break;
      }
      // Only the first bytes of a pattern: never look at this mark again.
      marks[word] &= ~(std::uint64_t{1} << bit);
      bits &= bits - 1;
    }
    // A mark on a line feed makes the line after it a candidate; a mark on a blank, the line
    // that holds it. Every line before that one is no candidate.
    const std::size_t target =
        (mark < end_ && buffer_[mark] == '\n') ? mark + 1 : after_last_line_feed(begin_, mark);
    if (target == begin_) return;
    if (walk_every_line_) {
      walk_towards(target);
      return;
    }
    // Every line up to a long stretch is short: jump to the line that holds the stretch, the
    // one line on the way that may be too long to pass over.
    const auto stretch =
        std::find_if(long_stretches_.begin(), long_stretches_.end(),
                     [this](const long_stretch& s) { return (s.last_word + 1) * 64 > begin_; });
    if (stretch == long_stretches_.end() || stretch->first_word * 64 >= target) {
      begin_ = target;
      return;
    }
    begin_ = std::max(begin_, after_last_line_feed(begin_, stretch->first_word * 64));
    if (begin_ >= target) {
      begin_ = target;
      return;
    }
    const std::size_t window = std::min(end_, begin_ + piece_limit_ + 1);
    const std::size_t line_feed = find_line_feed(begin_, window);
    // Too long, or not ended in the buffer: the caller hands out a piece or refills.
    if (line_feed == window) return;
    // Short after all, and before the candidate: pass it and look again.
    begin_ = line_feed + 1;
  }
}

void line_reader::walk_towards(std::size_t target) noexcept {
  while (begin_ < target) {
    const std::size_t line_feed = find_line_feed(begin_, target);
    if (line_feed == target || line_feed - begin_ > piece_limit_) return;
    begin_ = line_feed + 1;
  }
}

bool line_reader::next_slowly(std::string_view& line) {
  while (!take_buffered(line)) {
    if (!refill()) return take_buffered(line);
  }
  return true;
}

bool line_reader::take_buffered(std::string_view& line) {
  // A line end just after a full piece still belongs to that piece.
  const std::size_t window = std::min(end_, begin_ + piece_limit_ + 1);
  std::size_t end = find_line_feed(begin_, window);
  std::size_t next = end + 1;
  bool piece = false;
  if (end == window) {
    if (end_ - begin_ > piece_limit_) {
      end = next = begin_ + piece_limit_;
      piece = true;
    } else if (at_end_ && begin_ < end_) {
      // The last line has no line feed; it is a line, not a piece.
      end = next = end_;
    } else {
      return false;
    }
  }
  line = hand_out(begin_, end, piece);
  begin_ = next;
  restart_scan();
  return true;
}

}  // namespace sift_runlog
