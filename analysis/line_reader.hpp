// Reads a log line by line, in large blocks.
//
// A line ends at a line feed, which is not part of it; every other byte (carriage return, NUL,
// form feed, any byte above 0x7f) belongs to the line. A line longer than `piece_limit` bytes
// comes in pieces of `piece_limit` bytes, each handed out as a line of its own, and then the
// rest; an empty rest is not handed out, so a line of exactly `piece_limit` bytes is one line. A
// last line without a line feed is read; an empty source gives no line.
//
// Lines are views into the reader's buffer, valid until the next call, and each is followed in
// memory by at least `line_padding` readable bytes. Nothing is allocated per line, and nothing
// is read from the source beyond the block that holds the last line asked for.
//
// Candidates. A line is a candidate when it begins with one of the `line_starts` patterns, or
// when a blank in it is followed by one of the `word_starts` patterns (at its place, for a
// pattern that has one). Each block is indexed once as it arrives (byte_index.hpp): a vector
// pass marks every line feed and blank followed by a pattern's first three bytes, and drops
// the marks of words out of their places; next_candidate() jumps from mark to mark, checks
// there that the whole pattern follows (at its place), and never looks at the bytes of the
// lines between.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byte_index.hpp"
#include "byte_source.hpp"

namespace sift_runlog {

class read_ahead_thread;

// What makes a line a candidate (see above). Each pattern is 3 to 63 bytes long and holds no
// line feed; there are at most 32 of each kind. word_places[i], where given and not 0, is the
// number of the word (counted from 1, a run of blanks making one cut) that word_starts[i] must
// begin to count: elsewhere in its line it makes no candidate.
struct candidate_patterns {
  std::span<const std::string_view> line_starts;
  std::span<const std::string_view> word_starts;
  std::span<const std::size_t> word_places = {};
};

// The patterns of a line: bit i for the i-th of candidate_patterns' line_starts and word_starts.
struct pattern_matches {
  std::uint32_t line_starts = 0;
  std::uint32_t word_starts = 0;
};

class line_reader {
  // A set of patterns, found by first byte.
  class pattern_set {
   public:
    explicit pattern_set(std::span<const std::string_view> patterns);
    [[nodiscard]] const std::string& first_bytes() const noexcept { return first_bytes_; }
    [[nodiscard]] const std::string& second_bytes() const noexcept { return second_bytes_; }
    [[nodiscard]] const std::string& third_bytes() const noexcept { return third_bytes_; }
    // The patterns that start at `text`, which is readable for the longest one: bit i for
    // pattern i.
    [[nodiscard]] std::uint32_t match(const char* text) const noexcept;
    // Whether one does.
    [[nodiscard]] bool starts(const char* text) const noexcept;

   private:
    // The patterns found, or only the first of them.
    template <bool all>
    [[nodiscard]] std::uint32_t find(const char* text) const noexcept;

    struct pattern {
      std::uint32_t head;       // the first bytes, at most four, as loaded from memory
      std::uint32_t head_mask;  // which bytes of a four-byte load the head covers
      std::string text;
    };
    std::vector<pattern> patterns_;
    std::array<std::uint32_t, 256> by_first_byte_{};  // bit i: pattern i begins with the byte
    std::string first_bytes_;
    std::string second_bytes_;
    std::string third_bytes_;
  };

 public:
  static constexpr std::size_t default_piece_limit = 16384;
  // Measured: larger blocks gain nothing once a block and its index stay in the L2 cache.
  static constexpr std::size_t default_block_size = 128 * 1024;
  // Read ahead, a block is read on the other thread: fewer, larger blocks keep the hand-overs
  // between the threads rare.
  static constexpr std::size_t read_ahead_block_size = 1024 * 1024;
  static constexpr std::size_t line_padding = byte_index_padding;

  // `block_size` is how much is asked of the source at a time (at least a piece and a byte).
  // A source worth reading ahead is read on a second thread, one block ahead, into a second
  // buffer, once it has given the bytes it asks for first (until then, in blocks of at most the
  // default size); a failure there reaches the caller as it would without it. That thread also
  // indexes the end of each block it reads, as much of it as keeps the two threads equally
  // busy. Throws std::invalid_argument for a pattern that breaks the rules above.
  explicit line_reader(byte_source& source, std::size_t block_size = default_block_size,
                       std::size_t piece_limit = default_piece_limit,
                       candidate_patterns patterns = {});

  // The patterns and the piece limit a reader works with, made ready once: a program that
  // reads many logs alike keeps one and hands it to each reader, which then builds nothing of
  // it. Throws std::invalid_argument as the constructor above.
  class compiled_patterns {
   public:
    compiled_patterns(candidate_patterns patterns, std::size_t limit);

   private:
    friend class line_reader;
    std::size_t piece_limit;
    pattern_set line_starts;
    pattern_set word_starts;
    std::vector<std::size_t> word_places;
    candidate_sets sets;
    index_kernel kernel;
  };

  // A reader of `compiled`'s patterns and piece limit, which must outlive it.
  line_reader(byte_source& source, const compiled_patterns& compiled,
              std::size_t block_size = default_block_size);
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  // Sets `line` to the next line or piece; false at the end of the source.
  [[nodiscard]] bool next(std::string_view& line) {
    // The line feeds at or after begin_ in word scan_word_ are kept at hand between calls, so
    // that consecutive short lines cost a few bit operations each.
    while (scan_bits_ == 0) {
      if ((scan_word_ + 1) * 64 >= end_) return next_slowly(line);
      scan_bits_ = line_feeds_[++scan_word_];
    }
    const std::size_t line_feed =
        scan_word_ * 64 + static_cast<std::size_t>(std::countr_zero(scan_bits_));
    // A line end just after a full piece still belongs to that piece.
    if (line_feed - begin_ > piece_limit_) return next_slowly(line);
    scan_bits_ &= scan_bits_ - 1;
    line = hand_out(begin_, line_feed, false);
    begin_ = line_feed + 1;
    return true;
  }

  // Like next(), but passes over the lines that are not candidates. A piece, and a line that
  // is read at the end of the source without a line feed, is always handed out; so may be the
  // rest of a line that came in pieces, where a word's place was judged in the whole line.
  [[nodiscard]] bool next_candidate(std::string_view& line);

  // Calls visit(line, may_be_candidate) for every line and piece in order, as next() and
  // line_is_candidate() would give them, until it returns false; says whether the end of the
  // source was reached. The walk keeps its state in locals: the visitor may write bytes
  // anywhere (an output buffer) without making it reload the reader's members.
  template <typename Visit>
  bool for_each_line(Visit&& visit) {
    for (;;) {
      const char* const buffer = buffer_.get();
      const std::uint64_t* const feeds = line_feeds_.get();
      const std::size_t words = (end_ + 63) / 64;
      const std::size_t limit = piece_limit_;
      std::size_t begin = begin_;
      std::size_t word = begin / 64;
      std::uint64_t bits = begin < end_ ? feeds[word] & (~std::uint64_t{0} << (begin % 64)) : 0;
      // The first line may follow a piece or a refill, with no line feed before it.
      bool feed_before = begin > 0 && buffer[begin - 1] == '\n';
      // The first mark that may still concern a line from here on: marks are few, so one
      // comparison per line decides, and the search goes on only past a marked line.
      std::size_t mark = first_mark_from(feed_before ? begin - 1 : begin);
      for (;;) {
        while (bits == 0 && ++word < words) bits = feeds[word];
        if (bits == 0) break;
        const std::size_t line_feed = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
        if (line_feed - begin > limit) break;
        bits &= bits - 1;
        const bool candidate = mark < line_feed || (!feed_before && begins_with_line_start(begin));
        if (mark < line_feed) mark = first_mark_from(line_feed);
        hand_out(begin, line_feed, false);
        begin_ = line_feed + 1;
        if (!visit(std::string_view(buffer + begin, line_feed - begin), candidate)) return false;
        begin = line_feed + 1;
        feed_before = true;
      }
      std::string_view line;
      if (!next_slowly(line)) return true;
      if (!visit(line, line_is_candidate())) return false;
    }
  }

  // Whether the line last handed out may be a candidate: a mark of the index (of its first
  // bytes only) on the line feed before it or inside it, or a line start where that line feed
  // is not in the buffer. A piece always is.
  [[nodiscard]] bool line_is_candidate() const noexcept {
    if (line_is_piece_) return true;
    if (line_begin_ > 0 && buffer_[line_begin_ - 1] == '\n') {
      return any_bit(marks_.get(), line_begin_ - 1, line_end_);
    }
    return begins_with_line_start(line_begin_) || any_bit(marks_.get(), line_begin_, line_end_);
  }

  // The patterns found in the line last handed out: the line starts it begins with, and the
  // word starts that follow a blank in it at their places (a piece counts its words from its
  // own start). For a piece, a pattern may run past its end.
  [[nodiscard]] pattern_matches patterns_found() const noexcept;

  // What the index of each block marks, and the kernel that builds it.
  [[nodiscard]] const candidate_sets& index_sets() const noexcept { return patterns_.sets; }
  [[nodiscard]] index_kernel kernel() const noexcept { return patterns_.kernel; }

  // The number of the line last handed out in the source, counted from 1 (the pieces of a long
  // line share its number). The line feeds of a block are counted once, as the block is
  // released; here only those before the line in the buffer are: cheap enough for a failure.
  [[nodiscard]] std::uint64_t line_number() const noexcept {
    return lines_released_ + count_bits_between(line_feeds_.get(), data_begin_, line_begin_) + 1;
  }

 private:
  // Either constructor: with the patterns made here (`own`), or with those `given`.
  line_reader(byte_source& source, std::size_t block_size, std::optional<compiled_patterns> own,
              const compiled_patterns* given);
  // The buffer and its index: those a reader of the same capacity left on this thread, if
  // any, else new ones. Their bytes are never read before they are written.
  void take_buffers();
  // Room for the bits of a buffer, one per byte, and the word the index may write past it.
  [[nodiscard]] std::unique_ptr<std::uint64_t[]> new_index() const {
    return std::make_unique_for_overwrite<std::uint64_t[]>(capacity_ / 64 + 2);
  }
  // Keeps the unread bytes, appends a block from the source and indexes the buffer; false at
  // the end of the source.
  bool refill();
  // A line longer than the piece limit spans at least this many whole index words without a
  // line feed (0: pieces too short for that).
  [[nodiscard]] std::size_t long_run() const noexcept {
    return piece_limit_ / 64 > 2 ? piece_limit_ / 64 - 2 : 0;
  }
  // The runs of blanks in the buffer from `line_begin` to `end`. Asked for positions further and
  // further into one line, as the marks of a line are, it goes on from where it stopped: a long
  // line full of tested words costs one pass over it, not one per word.
  [[nodiscard]] std::size_t runs_before(std::size_t line_begin, std::size_t end) const noexcept {
    if (line_begin != counted_line_ || end < counted_to_) {
      counted_line_ = line_begin;
      counted_to_ = line_begin;
      counted_runs_ = 0;
    }
    const char* const buffer = buffer_.get();
    counted_runs_ += blank_runs(buffer + counted_to_, end - counted_to_,
                                counted_to_ > line_begin && buffer[counted_to_ - 1] == ' ');
    counted_to_ = end;
    return counted_runs_;
  }
  // What follows the mark at `position` (the index only knows that the first three bytes of a
  // pattern may): a whole pattern, at its place if it has one; a whole word pattern elsewhere
  // in its line beyond the line's first piece (where the piece it is in counts its words anew;
  // within the first piece the index has dropped such marks); or only part of a pattern.
  enum class mark_kind { whole, elsewhere_in_long_line, part };
  [[nodiscard]] mark_kind mark_at(std::size_t position) const noexcept;
  // The word starts that follow the blank at `position` where their places allow, for a line
  // or piece that begins at `line_begin`.
  [[nodiscard]] std::uint32_t words_in_place(std::size_t position,
                                             std::size_t line_begin) const noexcept;
  // The first line feed at or after `from` and before `limit`, or `limit`.
  [[nodiscard]] std::size_t find_line_feed(std::size_t from, std::size_t limit) const noexcept {
    if (from >= limit) return limit;
    std::size_t word = from / 64;
    std::uint64_t bits = line_feeds_[word] & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
      if (++word * 64 >= limit) return limit;
      bits = line_feeds_[word];
    }
    return std::min(limit, word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
  }
  // The position after the last line feed in [from, to), or `from` when there is none.
  [[nodiscard]] std::size_t after_last_line_feed(std::size_t from, std::size_t to) const noexcept;
  // The first mark of the index at or after `from`, or end_.
  [[nodiscard]] std::size_t first_mark_from(std::size_t from) const noexcept {
    const std::size_t words = (end_ + 63) / 64;
    std::size_t word = from / 64;
    if (word >= words) return end_;
    std::uint64_t bits = marks_[word] & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
      if (++word >= words) return end_;
      bits = marks_[word];
    }
    return std::min(end_, word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
  }
  // The first mark at or after `from` that a whole pattern follows, or end_; clears the marks
  // passed on the way, which only the first bytes of a pattern follow.
  [[nodiscard]] std::size_t first_whole_pattern_from(std::size_t from) noexcept;
  // Moves begin_ over the lines that end in the buffer and are no candidates.
  void pass_over_non_candidates() noexcept;
  // Moves begin_ line by line towards `target`, stopping at a line too long to pass over.
  void walk_towards(std::size_t target) noexcept;
  [[nodiscard]] bool begins_with_line_start(std::size_t position) const noexcept {
    return patterns_.line_starts.starts(buffer_.get() + position);
  }
  // Points the scan of next() at begin_, after begin_ moved other than past a line feed.
  void restart_scan() noexcept {
    scan_word_ = begin_ / 64;
    scan_bits_ = begin_ < end_ ? line_feeds_[scan_word_] & (~std::uint64_t{0} << (begin_ % 64)) : 0;
  }
  std::string_view hand_out(std::size_t begin, std::size_t end, bool piece) noexcept {
    line_begin_ = begin;
    line_end_ = end;
    line_is_piece_ = piece;
    return {buffer_.get() + begin, end - begin};
  }
  // The next line or piece when no line ends in the buffer at begin_: it may need a refill.
  bool next_slowly(std::string_view& line);
  // Hands out the line or piece at begin_ when the buffer holds all of it, or the last line
  // once the source has ended; false when more bytes are needed first (or none are left).
  bool take_buffered(std::string_view& line);

  // Reads the next block into buffer_ at prefix_, or takes the one read ahead (swapping the
  // buffers and their indexes), after moving the `kept` bytes at begin_ right before it;
  // returns its size.
  std::size_t next_block(std::size_t kept);
  // Indexes buffer_ from first_word on, as far as the reading thread has not.
  void index_buffer(std::size_t first_word);
  // Starts the reading thread, which refill() then asks for each block; without a thread or a
  // second buffer to be had, every block goes on being read here.
  void start_reading_ahead() noexcept;
  // Asks the reading thread for the next block, and for the index of its end, from
  // ahead_index_from_ on.
  void read_ahead();
  // On the reading thread: indexes the end of the block of `size` bytes it has read into
  // spare_. The line that goes on into that end is not known there: where it begins and the
  // words it has before. So index_buffer() indexes again the words up to the first one with a
  // line feed.
  void index_ahead(std::size_t size) noexcept;

  byte_source& source_;
  std::size_t piece_limit_;
  // A buffer holds up to prefix_ bytes kept from the block before (a line not yet ended, at
  // most a piece), then a block of up to block_size_ bytes: blocks start at one place, so
  // that a block can be read into the other buffer before it is known what will be kept.
  std::size_t prefix_;
  std::size_t block_size_;
  std::size_t capacity_;  // prefix_ + block_size_
  // Blocks read here, without the thread, are this large; the thread starts once ahead_after_
  // bytes are read (never, for a source not worth reading ahead).
  std::size_t direct_block_size_;
  std::uint64_t ahead_after_ = UINT64_MAX;
  std::uint64_t read_so_far_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::unique_ptr<char[]> spare_;                  // the block being read ahead, if any
  std::optional<compiled_patterns> own_patterns_;  // made here when none was given
  const compiled_patterns& patterns_;
  std::unique_ptr<std::uint64_t[]> line_feeds_;  // one bit per buffer byte
  std::unique_ptr<std::uint64_t[]> marks_;       // one bit per buffer byte
  std::size_t begin_ = 0;                        // first unread byte
  std::size_t end_ = 0;                          // one past the last byte read from the source
  std::size_t line_begin_ = 0;                   // the line last handed out
  std::size_t line_end_ = 0;
  bool line_is_piece_ = false;
  // The line feeds of the source before data_begin_, where the bytes kept in the buffer start.
  std::uint64_t lines_released_ = 0;
  std::size_t data_begin_ = 0;
  bool at_end_ = false;  // the source has no more bytes
  // next() goes on from here: the line feeds of word scan_word_ at or after begin_ (none
  // before it from begin_ on).
  std::size_t scan_word_ = 0;
  std::uint64_t scan_bits_ = 0;
  // The stretches of whole index words without a line feed long enough to belong to an
  // over-long line: a jump over lines must stop at the line of each, which may come in pieces.
  std::vector<word_stretch> long_stretches_;
  // With a piece limit too small for stretches of whole words, every line is looked at.
  bool walk_every_line_;
  // The index of the block being read ahead, as far as the reading thread builds it: from
  // ahead_index_from_ on (in buffer bytes, a multiple of 64, or the block's end), which moves
  // so that neither thread waits for the other long; indexed_from_ says the same of buffer_
  // (SIZE_MAX: nowhere).
  std::unique_ptr<std::uint64_t[]> spare_line_feeds_;
  std::unique_ptr<std::uint64_t[]> spare_marks_;
  std::vector<word_stretch> spare_stretches_;
  // Where index_buffer() puts together its own stretches and those of the reading thread.
  std::vector<word_stretch> merged_stretches_;
  std::size_t ahead_index_from_ = 0;
  std::size_t indexed_from_ = SIZE_MAX;
  // The first mark at or after the position where it was searched from that a whole pattern
  // follows (end_ for none), while next_mark_known_; forgotten at each refill.
  std::size_t next_mark_ = 0;
  bool next_mark_known_ = false;
  // runs_before() has counted counted_runs_ runs in [counted_line_, counted_to_); refill()
  // forgets it.
  mutable std::size_t counted_line_ = 0;
  mutable std::size_t counted_to_ = 0;
  mutable std::size_t counted_runs_ = 0;
  // The search for next_mark_ passed a word out of its place beyond the first piece of its line.
  bool passed_misplaced_ = false;
  // Last member: stopped first, before the buffers it fills go.
  std::unique_ptr<read_ahead_thread> reader_thread_;
};

}  // namespace sift_runlog
