#include "line_reader.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "read_ahead_thread.hpp"

namespace sift_runlog {

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

template <bool all>
std::uint32_t line_reader::pattern_set::find(const char* text) const noexcept {
  std::uint32_t candidates = by_first_byte_[static_cast<unsigned char>(*text)];
  if (candidates == 0) return 0;
  std::uint32_t loaded;
  std::memcpy(&loaded, text, sizeof loaded);
  std::uint32_t found = 0;
  for (; candidates != 0; candidates &= candidates - 1) {
    const int index = std::countr_zero(candidates);
    const pattern& p = patterns_[static_cast<std::size_t>(index)];
    // The head holds the first four bytes: a pattern no longer than that is found by it alone.
    if ((loaded & p.head_mask) == p.head &&
        (p.text.size() <= sizeof loaded || std::memcmp(text, p.text.data(), p.text.size()) == 0)) {
      found |= std::uint32_t{1} << index;
      if (!all) break;
    }
  }
  return found;
}

std::uint32_t line_reader::pattern_set::match(const char* text) const noexcept {
  return find<true>(text);
}

bool line_reader::pattern_set::starts(const char* text) const noexcept {
  return find<false>(text) != 0;
}

namespace {

// The place of each word pattern, 0 where none is given.
std::vector<std::size_t> word_places(const candidate_patterns& patterns) {
  std::vector<std::size_t> places(patterns.word_places.begin(), patterns.word_places.end());
  places.resize(std::max(places.size(), patterns.word_starts.size()), 0);
  return places;
}

// The place of the word patterns by their first byte, for the index: 0 (anywhere) where two
// patterns with that first byte want different places, or for a place beyond what the index
// counts.
std::array<std::uint8_t, 256> places_by_first_byte(const candidate_patterns& patterns) {
  std::array<std::uint8_t, 256> places{};
  std::array<bool, 256> seen{};
  for (std::size_t i = 0; i < patterns.word_starts.size(); ++i) {
    const std::size_t place = i < patterns.word_places.size() ? patterns.word_places[i] : 0;
    const auto first = static_cast<unsigned char>(patterns.word_starts[i][0]);
    const auto wanted = static_cast<std::uint8_t>(place <= max_indexed_place ? place : 0);
    places[first] = seen[first] && places[first] != wanted ? 0 : wanted;
    seen[first] = true;
  }
  return places;
}

}  // namespace

line_reader::compiled_patterns::compiled_patterns(candidate_patterns patterns, std::size_t limit)
    : piece_limit(limit),
      line_starts(patterns.line_starts),
      word_starts(patterns.word_starts),
      word_places(sift_runlog::word_places(patterns)),
      sets{{byte_set(line_starts.first_bytes()), byte_set(line_starts.second_bytes()),
            byte_set(line_starts.third_bytes())},
           {byte_set(word_starts.first_bytes()), byte_set(word_starts.second_bytes()),
            byte_set(word_starts.third_bytes())},
           places_by_first_byte(patterns),
           limit},
      kernel(best_kernel(sets)) {}

line_reader::line_reader(byte_source& source, std::size_t block_size, std::size_t piece_limit,
                         candidate_patterns patterns)
    : line_reader(source, block_size, std::make_optional<compiled_patterns>(patterns, piece_limit),
                  nullptr) {}

line_reader::line_reader(byte_source& source, const compiled_patterns& compiled,
                         std::size_t block_size)
    : line_reader(source, block_size, std::nullopt, &compiled) {}

line_reader::line_reader(byte_source& source, std::size_t block_size,
                         std::optional<compiled_patterns> own, const compiled_patterns* given)
    : source_(source),
      piece_limit_(given != nullptr ? given->piece_limit : own->piece_limit),
      prefix_((piece_limit_ + 1 + 63) / 64 * 64),
      // Room for a whole piece and the byte after it, which tells whether the line goes on.
      block_size_(std::max(block_size, piece_limit_ + 1)),
      capacity_(prefix_ + block_size_),
      direct_block_size_(block_size_),
      own_patterns_(std::move(own)),
      patterns_(given != nullptr ? *given : *own_patterns_) {
  take_buffers();
  // Enough room for every long stretch a buffer can hold (each is followed by a word with a
  // line feed), so that no refill allocates.
  long_stretches_.reserve(capacity_ / 64 / (long_run() + 1) + 2);
  walk_every_line_ = long_run() == 0;
  // The reading thread starts with half of each block to index.
  ahead_index_from_ = prefix_ + block_size_ / 2 / 64 * 64;
  // A source worth reading ahead is read here, in blocks of the usual size, until it has given
  // the bytes it asks for first: a log that stops early costs no thread and no second buffer.
  if (source_.worth_reading_ahead()) {
    direct_block_size_ = std::min(block_size_, std::max(default_block_size, piece_limit_ + 1));
    ahead_after_ = source_.read_ahead_from();
  }
}

namespace {

// The buffers of the last reader of at most kept_capacity bytes that ended on this thread,
// for the next one: a thread that grades many small logs then allocates them once, not per log.
// Trivially destructible, so that a reader destroyed after the thread's own destructors ran
// (one held by a static object, at exit) still finds it, closed.
struct kept_buffers {
  std::size_t capacity = 0;  // 0: none kept
  char* bytes = nullptr;
  std::uint64_t* line_feeds = nullptr;
  std::uint64_t* marks = nullptr;
  bool closed = false;  // the thread is ending: nothing more is kept
};
thread_local kept_buffers left_on_thread;

// Frees what is kept when the thread ends, and keeps nothing after that.
struct kept_buffers_release {
  ~kept_buffers_release() {
    delete[] left_on_thread.bytes;
    delete[] left_on_thread.line_feeds;
    delete[] left_on_thread.marks;
    left_on_thread = {0, nullptr, nullptr, nullptr, true};
  }
};
thread_local kept_buffers_release release_at_thread_end;

// Readers of the usual block size; a larger buffer is not worth keeping alive after its log.
constexpr std::size_t kept_capacity = 512 * 1024;

}  // namespace

void line_reader::take_buffers() {
  if (left_on_thread.capacity == capacity_) {
    buffer_.reset(left_on_thread.bytes);
    line_feeds_.reset(left_on_thread.line_feeds);
    marks_.reset(left_on_thread.marks);
    left_on_thread = {};
    return;
  }
  // Not zero-filled: a small log touches only the pages it fills.
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_ + line_padding);
  line_feeds_ = new_index();
  marks_ = new_index();
}

line_reader::~line_reader() {
  reader_thread_.reset();  // it may still be filling the buffers
  if (capacity_ > kept_capacity || left_on_thread.closed || left_on_thread.capacity != 0) return;
  (void)&release_at_thread_end;  // made on the thread's first use, to free them at its end
  left_on_thread = {capacity_, buffer_.release(), line_feeds_.release(), marks_.release(), false};
}

void line_reader::start_reading_ahead() noexcept {
  try {
    auto spare = std::make_unique_for_overwrite<char[]>(capacity_ + line_padding);
    auto spare_line_feeds = new_index();
    auto spare_marks = new_index();
    spare_stretches_.reserve(long_stretches_.capacity());
    // Idle until asked for a block, once everything it uses is there.
    reader_thread_ = std::make_unique<read_ahead_thread>(
        source_, [this](std::size_t size) { index_ahead(size); });
    spare_ = std::move(spare);
    spare_line_feeds_ = std::move(spare_line_feeds);
    spare_marks_ = std::move(spare_marks);
  } catch (const std::exception&) {
    // No second buffer or thread to be had: every block is read here, as for any source.
  }
}

void line_reader::read_ahead() { reader_thread_->start(spare_.get() + prefix_, block_size_); }

void line_reader::index_ahead(std::size_t size) noexcept {
  char* const buffer = spare_.get();
  const std::size_t end = prefix_ + size;
  std::memset(buffer + end, 0, line_padding);
  // Nothing, when the block ends before that part.
  const std::size_t from = std::min(ahead_index_from_, end);
  const stretch_log stretches{long_run(), from / 64, &spare_stretches_};
  build_byte_index(patterns_.kernel, buffer + from, end - from, patterns_.sets,
                   spare_line_feeds_.get() + from / 64, spare_marks_.get() + from / 64, 0,
                   walk_every_line_ ? nullptr : &stretches);
}

std::size_t line_reader::next_block(std::size_t kept) {
  char* const kept_from = buffer_.get() + begin_;
  if (!reader_thread_) {
    std::memmove(buffer_.get() + prefix_ - kept, kept_from, kept);
    const std::size_t got = source_.read_some(buffer_.get() + prefix_, direct_block_size_);
    read_so_far_ += got;
    // From now on the next block is read on the other thread while this one is looked at.
    if (got > 0 && read_so_far_ >= ahead_after_) start_reading_ahead();
    return got;
  }
  const read_ahead_thread::taken_block block = reader_thread_->take();
  std::memcpy(spare_.get() + prefix_ - kept, kept_from, kept);
  std::swap(buffer_, spare_);
  std::swap(line_feeds_, spare_line_feeds_);
  std::swap(marks_, spare_marks_);
  std::swap(long_stretches_, spare_stretches_);
  indexed_from_ = std::min(ahead_index_from_, prefix_ + block.size);
  // A block waited for: the reading thread has more to do than this one, so it indexes less
  // of the next block; otherwise more.
  const std::size_t step = std::max<std::size_t>(64, block_size_ / 16 / 64 * 64);
  ahead_index_from_ =
      block.waited ? std::min(ahead_index_from_ + step, (prefix_ + block_size_ + 63) / 64 * 64)
                   : std::max(ahead_index_from_, prefix_ + step) - step;
  return block.size;
}

void line_reader::index_buffer(std::size_t first_word) {
  const std::size_t words = (end_ + 63) / 64;
  // The reading thread's index stands from the word after the first one with a line feed in
  // what it indexed: the line going on into that word begins there, or later.
  std::size_t ahead_word = words;
  if (indexed_from_ < end_) {
    std::size_t word = indexed_from_ / 64;
    while (word < words && line_feeds_[word] == 0) ++word;
    if (word < words) ahead_word = word + 1;
  }
  const bool ahead = ahead_word < words;
  std::vector<word_stretch>& stretches_here = ahead ? merged_stretches_ : long_stretches_;
  const stretch_log stretches{long_run(), first_word, &stretches_here};
  const std::size_t end = std::min(end_, ahead_word * 64);
  build_byte_index(patterns_.kernel, buffer_.get() + first_word * 64, end - first_word * 64,
                   patterns_.sets, line_feeds_.get() + first_word, marks_.get() + first_word,
                   begin_ - first_word * 64, walk_every_line_ ? nullptr : &stretches);
  if (ahead) {
    // The thread's stretches in the words it indexed and that stand follow these.
    for (const word_stretch& stretch : long_stretches_) {
      if (stretch.first_word >= ahead_word) merged_stretches_.push_back(stretch);
    }
    std::swap(long_stretches_, merged_stretches_);
  }
}

bool line_reader::refill() {
  if (at_end_) return false;
  // What is kept is never more than a piece: a longer line would have been handed out.
  const std::size_t kept = end_ - begin_;
  lines_released_ += count_bits_between(line_feeds_.get(), data_begin_, begin_);
  const std::size_t got = next_block(kept);
  at_end_ = got == 0;
  begin_ = prefix_ - kept;
  data_begin_ = begin_;
  end_ = prefix_ + got;
  // The next block is read while this one is indexed and looked at, none after the end: the
  // thread then works through the whole of this block's time here, not only its scan.
  if (reader_thread_ && got > 0) read_ahead();
  // The bytes kept need their index rebuilt even when nothing more came. The index starts at
  // the word that holds the byte before begin_. The bytes of that word before begin_, and the
  // padding after the data, are zeros whatever the buffer held there: no line feed or blank
  // before the first line, nothing undefined for the index to read.
  const std::size_t first_word = (begin_ - 1) / 64;
  std::memset(buffer_.get() + first_word * 64, 0, begin_ - first_word * 64);
  std::memset(buffer_.get() + end_, 0, line_padding);
  index_buffer(first_word);
  next_mark_known_ = false;
  counted_to_ = counted_line_ = end_ + 1;  // nothing counted in this buffer yet
  return got > 0;
}

line_reader::mark_kind line_reader::mark_at(std::size_t position) const noexcept {
  const char* mark = buffer_.get() + position;
  if (*mark == '\n')
    return patterns_.line_starts.starts(mark + 1) ? mark_kind::whole : mark_kind::part;
  if (!patterns_.word_starts.starts(mark + 1)) return mark_kind::part;
  // The word's number in the line that holds it, as far as the buffer shows where that line
  // begins (or the piece begun at begin_). A piece after the first counts its words anew.
  const std::size_t line_begin = after_last_line_feed(begin_, position);
  // Within the first piece of its line, the index has kept the word only at its place.
  if (position + 1 - line_begin < piece_limit_) return mark_kind::whole;
  return words_in_place(position, line_begin) != 0 ? mark_kind::whole
                                                   : mark_kind::elsewhere_in_long_line;
}

std::uint32_t line_reader::words_in_place(std::size_t position,
                                          std::size_t line_begin) const noexcept {
  const char* const word_start = buffer_.get() + position + 1;
  std::uint32_t found = patterns_.word_starts.match(word_start);
  // Within the first piece of a line that begins after a line feed in the buffer, the index
  // kept the mark only where the place its first byte stands for allows.
  const bool placed_by_index =
      line_begin > 0 && buffer_[line_begin - 1] == '\n' && position + 1 - line_begin < piece_limit_;
  const std::size_t index_place =
      patterns_.sets.word_place[static_cast<unsigned char>(*word_start)];
  // The word's number, counted only when a pattern found has a place the index did not check.
  std::size_t word = 0;
  for (std::uint32_t left = found; left != 0; left &= left - 1) {
    const auto index = static_cast<std::size_t>(std::countr_zero(left));
    const std::size_t place = patterns_.word_places[index];
    if (place == 0 || (placed_by_index && place == index_place)) continue;
    if (word == 0) word = runs_before(line_begin, position + 1) + 1;
    if (word != place) found &= ~(std::uint32_t{1} << index);
  }
  return found;
}

pattern_matches line_reader::patterns_found() const noexcept {
  const char* const buffer = buffer_.get();
  const std::uint64_t* const marks = marks_.get();
  // In locals: a look at a word may change the reader's count of blanks, which would make the
  // compiler load the members again on every step.
  const std::size_t begin = line_begin_;
  const std::size_t end = line_end_;
  pattern_matches found{patterns_.line_starts.match(buffer + begin)};
  std::size_t word = begin / 64;
  std::uint64_t bits = marks[word] & ~std::uint64_t{0} << (begin % 64);
  for (;;) {
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t position = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (position >= end) return found;
      found.word_starts |= words_in_place(position, begin);
    }
    if (++word * 64 >= end) return found;
    bits = marks[word];
  }
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

std::size_t line_reader::first_whole_pattern_from(std::size_t from) noexcept {
  std::uint64_t* const marks = marks_.get();
  const std::size_t words = (end_ + 63) / 64;
  std::size_t word = from / 64;
  std::uint64_t bits = marks[word] & (~std::uint64_t{0} << (from % 64));
  for (;;) {
    // Marks are rare: four words at a time while there are none.
    if (bits == 0) {
      ++word;
      while (word + 4 <= words &&
             (marks[word] | marks[word + 1] | marks[word + 2] | marks[word + 3]) == 0) {
        word += 4;
      }
      while (word < words && marks[word] == 0) ++word;
      if (word >= words) return end_;
      bits = marks[word];
    }
    const int bit = std::countr_zero(bits);
    const std::size_t position = word * 64 + static_cast<std::size_t>(bit);
    const mark_kind kind = mark_at(position);
    if (kind == mark_kind::whole) return position;
    if (kind == mark_kind::elsewhere_in_long_line) passed_misplaced_ = true;
    // Only the first bytes of a pattern: never look at this mark again. A word out of its
    // place may be in place in a piece of its line, which looks at the marks itself.
    if (kind == mark_kind::part) marks[word] &= ~(std::uint64_t{1} << bit);
    bits &= bits - 1;
  }
}

void line_reader::pass_over_non_candidates() noexcept {
  for (;;) {
    // The line at begin_ may follow a piece or a refill, with no line feed (and so no mark)
    // before it in the buffer: its start is looked at directly.
    if (begin_ >= end_ || begins_with_line_start(begin_)) return;
    // The mark found last still holds while begin_ has not passed it: a log with few marks
    // and many pieces must not search the same stretch of the index again for each piece.
    if (!next_mark_known_ || next_mark_ < begin_) {
      passed_misplaced_ = false;
      next_mark_ = first_whole_pattern_from(begin_);
      next_mark_known_ = true;
    }
    const std::size_t mark = next_mark_;
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
                     [this](const word_stretch& s) { return (s.last_word + 1) * 64 > begin_; });
    if (stretch == long_stretches_.end() || stretch->first_word * 64 >= target) {
      begin_ = target;
      return;
    }
    // Still before the target: the stretch begins before it.
    begin_ = std::max(begin_, after_last_line_feed(begin_, stretch->first_word * 64));
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
  // A word's place counts from the start of its piece: a word passed over as out of its place
  // in the whole line may be in place in the rest of it.
  if (piece && passed_misplaced_) next_mark_known_ = false;
  restart_scan();
  return true;
}

}  // namespace sift_runlog
