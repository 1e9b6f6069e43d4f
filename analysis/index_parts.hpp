// The parts of building a byte index that every kernel shares: the marks after line feeds, the
// place filter for tested words and the writer that stores a chunk's bits. Internal to
// byte_index.cpp and the x86 kernels (byte_index_x86.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_index.hpp"

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__x86_64__)
#define SIFT_X86_KERNELS 1
#endif

namespace sift_runlog::index_parts {

// Where a kernel stores the index of a block (see build_byte_index()).
struct index_target {
  std::uint64_t* line_feeds;
  std::uint64_t* candidates;
  std::size_t line_begin;
  const stretch_log* long_stretches;
};

// Internal to each file that includes it, as if written there: the kernels' calls of the place
// filter then know which registers it leaves alone, and keep their tables in them.
namespace {

// 1 when the three bytes after `at` may begin a pattern, else 0. Without branches: which bytes
// follow a line feed is as good as random, and a mispredicted branch costs more than the look-ups.
inline std::uint64_t pattern_follows(const char* at, const pattern_bytes& set) noexcept {
  return std::uint64_t{set.first.contains(at[1])} & std::uint64_t{set.second.contains(at[2])} &
         std::uint64_t{set.third.contains(at[3])};
}

// The marks of the line feeds among `feeds`, the line-feed bits of the chunk at `chunk`.
inline std::uint64_t line_start_marks(const char* chunk, std::uint64_t feeds,
                                      const pattern_bytes& line) noexcept {
  std::uint64_t marks = 0;
  while (feeds != 0) {
    const int bit = std::countr_zero(feeds);
    marks |= pattern_follows(chunk + bit, line) << bit;
    feeds &= feeds - 1;
  }
  return marks;
}

// The blanks of the 64 bytes at `chunk`, one bit each.
inline std::uint64_t blanks_of(const char* chunk) noexcept {
  std::uint64_t bits = 0;
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  for (int part = 0; part < 4; ++part) {
    const auto found = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part)), blank)));
    bits |= std::uint64_t{found} << (16 * part);
  }
#else
  for (std::size_t bit = 0; bit < 64; ++bit) {
    if (chunk[bit] == ' ') bits |= std::uint64_t{1} << bit;
  }
#endif
  return bits;
}

// A chunk with marks to check against their places, with what its line had before it.
struct chunk_to_place {
  std::size_t word;
  std::uint64_t marks;   // the marks after blanks to check
  std::uint64_t starts;  // the blanks that begin a run
  std::uint64_t feeds;
  unsigned runs;  // the runs the line going on into the chunk had before it
};

// The marks of `chunk` out of their places, one at a time: the runs up to each mark's own blank,
// from the last line feed before it, or from the chunk's start on from the runs carried into
// it. `count` counts the bits of a word.
template <typename Count>
[[gnu::always_inline]] inline std::uint64_t misplaced_marks(const chunk_to_place& chunk,
                                                            const char* data,
                                                            const std::uint8_t* word_place,
                                                            Count count) noexcept {
  std::uint64_t misplaced = 0;
  for (std::uint64_t left = chunk.marks; left != 0; left &= left - 1) {
    const int bit = std::countr_zero(left);
    const std::uint64_t feeds_before = chunk.feeds & ((std::uint64_t{1} << bit) - 1);
    const int from = feeds_before != 0 ? 64 - std::countl_zero(feeds_before) : 0;
    const unsigned runs = count(chunk.starts << (63 - bit) >> (63 - bit + from)) +
                          (feeds_before != 0 ? 0 : chunk.runs);
    const unsigned place = word_place[static_cast<unsigned char>(
        data[chunk.word * 64 + static_cast<std::size_t>(bit) + 1])];
    misplaced |= std::uint64_t{place != 0 && runs + 1 != place} << bit;
  }
  return misplaced;
}

// Clears the marks of words out of their places: the runs of blanks from the start of the
// line up to a mark give its word's number. The kernels note the chunks with marks as they
// store them; the notes are taken in batches, apart from the kernels' loops and their
// registers. The count is carried from chunk to chunk along a line: a chunk with marks takes
// the runs its line had before it and leaves the runs after its last line feed for the next.
// The chunks in between, which have no marks, are counted when the next chunk with marks
// comes, and only from the last line feed before it: every byte is counted once, however many
// marks its line holds. `check` then clears the misplaced marks of the batch: one mark at a
// time (portable_check), or with vectors for all the bytes of a chunk at once
// (byte_index_x86.cpp), without a branch per mark.
template <typename check>
class place_filter {
 public:
  place_filter(const char* data, std::size_t line_begin, const candidate_sets& sets,
               const std::uint64_t* line_feeds, std::uint64_t* candidates) noexcept
      : data_(data),
        sets_(sets),
        line_feeds_(line_feeds),
        candidates_(candidates),
        first_line_begin_(line_begin),
        carry_{0, line_begin, 0} {
    // The place of each word's first byte by its low four bits, where those tell the first
    // bytes of the word patterns apart.
    const std::array<std::uint8_t, 64>& first_bytes = sets.word.first.by_low_four_bits();
    places_by_low_four_bits_ = sets.word.first.low_four_bits_exact();
    for (std::size_t index = 0; index < 16; ++index) {
      place_by_low_four_bits_[index] = place_by_low_four_bits_[index + 16] =
          sets.word_place[first_bytes[index]];
    }
  }

  // Takes note of chunk `word`, stored with marks after some of its `blanks`; its marks are
  // placed with those of the chunks noted after it, by place_noted() at the latest.
  [[gnu::always_inline]] void note(std::size_t word, std::uint64_t blanks) noexcept {
    noted_[noted_count_] = {word, blanks};
    if (++noted_count_ == noted_.size()) place_noted();
  }

  // Clears the marks out of their places in the chunks noted, in order.
  void place_noted() noexcept { check::place(*this); }

  // For `check`. The chunks noted, each with its carry, the notes taken. The members in
  // locals: a store to the index could alias them, and would make the compiler load them again
  // for every chunk.
  [[gnu::always_inline]] std::span<const chunk_to_place> prepare() noexcept {
    const char* const data = data_;
    const std::uint64_t* const line_feeds = line_feeds_;
    const std::uint64_t* const candidates = candidates_;
    const std::size_t piece_limit = sets_.piece_limit;
    const std::size_t first_line_begin = first_line_begin_;
    const std::size_t noted_count = noted_count_;
    line_carry carry = carry_;
    for (std::size_t i = 0; i < noted_count; ++i) {
      const std::size_t word = noted_[i].word;
      const std::uint64_t blanks = noted_[i].blanks;
      carry_to(carry, word, data, line_feeds, first_line_begin);
      const std::size_t base = word * 64;
      const std::uint64_t feeds = line_feeds[word];
      const std::uint64_t starts = run_starts(carry.start, base, blanks, data);
      prepared_[i] = {
          word,
          candidates[word] & blanks & ~past_first_piece(carry.start, base, feeds, piece_limit),
          starts, feeds, carry.runs};
      // On to the next chunk: the runs after the last line feed, if any.
      if (feeds != 0) {
        const int last_feed = 63 - std::countl_zero(feeds);
        carry.start = std::max(base + static_cast<std::size_t>(last_feed) + 1, first_line_begin);
        carry.runs = std::min(filter_count(starts >> last_feed >> 1), max_carried_runs);
      } else {
        carry.runs = std::min(carry.runs + filter_count(starts), max_carried_runs);
      }
      carry.chunk = word + 1;
    }
    carry_ = carry;
    noted_count_ = 0;
    return {prepared_.data(), noted_count};
  }
  // Clears the marks of each chunk noted out of their places, one at a time.
  [[gnu::always_inline]] void place_one_at_a_time() noexcept {
    const auto count = [](std::uint64_t bits) { return filter_count(bits); };
    for (const chunk_to_place& chunk : prepare()) {
      candidates_[chunk.word] &= ~misplaced_marks(chunk, data_, sets_.word_place.data(), count);
    }
  }
  [[nodiscard]] const char* data() const noexcept { return data_; }
  [[nodiscard]] std::uint64_t* candidates() const noexcept { return candidates_; }
  // The place by the low four bits of a word's first byte, twice; valid for the first bytes
  // of the word patterns where places_by_low_four_bits().
  [[nodiscard]] const std::uint8_t* place_by_low_four_bits() const noexcept {
    return place_by_low_four_bits_.data();
  }
  [[nodiscard]] bool places_by_low_four_bits() const noexcept { return places_by_low_four_bits_; }

  // The most runs carried into a chunk: beyond any place the index checks, and the counts of
  // a chunk fit a byte.
  static constexpr unsigned max_carried_runs = max_indexed_place;

 private:
  struct noted_chunk {
    std::size_t word;
    std::uint64_t blanks;
  };
  // At the start of chunk `chunk`, the line going on into it began at `start` and had `runs`
  // runs of blanks (or max_carried_runs, when it had more).
  struct line_carry {
    std::size_t chunk;
    std::size_t start;
    unsigned runs;
  };

  [[gnu::always_inline]] static unsigned filter_count(std::uint64_t bits) noexcept {
    if constexpr (check::hardware_popcount) {
      return static_cast<unsigned>(__builtin_popcountll(bits));
    }
    return static_cast<unsigned>(count_bits(bits));
  }

  // The blanks among `blanks`, the chunk at `base`, that begin a run of the line begun at
  // `line_start`: no blank before them, in the chunk, just before it, nor before the line.
  [[gnu::always_inline]] static std::uint64_t run_starts(std::size_t line_start, std::size_t base,
                                                         std::uint64_t blanks,
                                                         const char* data) noexcept {
    const bool blank_before = base > 0 && data[base - 1] == ' ';
    std::uint64_t starts = blanks & ~(blanks << 1 | std::uint64_t{blank_before});
    if (line_start > base) {
      starts = line_start - base < 64 ? starts & ~std::uint64_t{0} << (line_start - base) : 0;
    }
    return starts;
  }

  // The bytes of the chunk at `base` whose word begins `limit` bytes or more into its line, the
  // line going on into the chunk having begun at `start`: a piece after the first numbers its
  // words anew, so their marks are kept. With pieces of 64 bytes or more, only that line may
  // reach so far.
  [[gnu::always_inline]] static std::uint64_t past_first_piece(std::size_t start, std::size_t base,
                                                               std::uint64_t feeds,
                                                               std::size_t limit) noexcept {
    if (limit >= 64 && (start >= base + 64 || base + 64 - start < limit)) return 0;
    std::uint64_t far = 0;
    for (std::uint64_t left = feeds;; left &= left - 1) {
      // The line's bytes in the chunk end before `end`; the word after byte b begins
      // base + b + 1 - start bytes into the line.
      const std::size_t end = left != 0 ? static_cast<std::size_t>(std::countr_zero(left)) : 64;
      const std::size_t reach = base + end;
      if (reach > start && reach - start >= limit) {
        const std::size_t beyond = reach - start - limit;  // the bytes past the limit, less one
        const std::size_t first = beyond + 1 >= end ? 0 : end - 1 - beyond;
        far |= ~std::uint64_t{0} << first &
               (end < 64 ? (std::uint64_t{1} << end) - 1 : ~std::uint64_t{0});
      }
      if (left == 0 || limit >= 64) return far;
      start = base + end + 1;
    }
  }

  // Brings `carry` to the start of chunk `word`, counting the chunks without marks since the
  // last line feed before it.
  [[gnu::always_inline]] static void carry_to(line_carry& carry, std::size_t word, const char* data,
                                              const std::uint64_t* line_feeds,
                                              std::size_t first_line_begin) noexcept {
    if (carry.chunk == word) return;
    std::size_t chunk = word;
    while (chunk > carry.chunk && line_feeds[chunk - 1] == 0) --chunk;
    if (chunk > carry.chunk) {
      // The line began after the last line feed of that chunk.
      --chunk;
      carry.start =
          std::max(chunk * 64 + 64 - static_cast<std::size_t>(std::countl_zero(line_feeds[chunk])),
                   first_line_begin);
      carry.runs = 0;
    }
    for (; chunk < word; ++chunk) {
      const std::size_t base = chunk * 64;
      carry.runs = std::min(
          carry.runs + filter_count(run_starts(carry.start, base, blanks_of(data + base), data)),
          max_carried_runs);
    }
    carry.chunk = word;
  }

  const char* data_;
  const candidate_sets& sets_;
  const std::uint64_t* line_feeds_;
  std::uint64_t* candidates_;
  std::size_t first_line_begin_;  // where the first line begins; nothing before it counts
  line_carry carry_;
  std::array<std::uint8_t, 32> place_by_low_four_bits_{};
  bool places_by_low_four_bits_;
  std::array<noted_chunk, 64> noted_;
  std::array<chunk_to_place, 64> prepared_;
  std::size_t noted_count_ = 0;
};

// Checks the marks one at a time: for the portable kernel.
struct portable_check {
  static constexpr bool hardware_popcount = false;
  template <typename filter>
  [[gnu::noinline]] static void place(filter& places) noexcept {
    places.place_one_at_a_time();
  }
};

// Takes each chunk's line feeds and blank marks from a kernel, clears the marks of words out of
// their places, adds the marks of the line feeds, stores the words and logs the long runs of
// chunks without a line feed. Every kernel shares this, so that all give the same bits.
template <typename check>
struct index_writer {
  const char* data;
  const pattern_bytes& line;
  std::uint64_t* line_feeds;
  std::uint64_t* candidates;
  place_filter<check>* places;        // null when no word pattern has a place
  const stretch_log* long_stretches;  // null when they are not wanted
  std::size_t run = 0;

  void put(std::size_t word, std::uint64_t feeds, std::uint64_t blanks,
           std::uint64_t word_marks) noexcept {
    line_feeds[word] = feeds;
    candidates[word] = word_marks | line_start_marks(data + word * 64, feeds, line);
    if (places != nullptr && word_marks != 0) places->note(word, blanks);
    if (feeds == 0) {
      ++run;
    } else if (run != 0) {
      end_run(word);
    }
  }

  // Keeps the run of words without a line feed that ends before `word`, if it is long.
  void end_run(std::size_t word) {
    if (long_stretches != nullptr && run >= long_stretches->min_words && run > 0) {
      long_stretches->stretches->push_back(
          {long_stretches->word_offset + word - run, long_stretches->word_offset + word - 1});
    }
    run = 0;
  }

  // Keeps the run at the end of the `words` words written, and places the last marks.
  void finish(std::size_t words) {
    end_run(words);
    if (places != nullptr) places->place_noted();
  }
};

// The bits set in positions [begin, end) of `bits`, word by word.
inline std::uint64_t count_between(const std::uint64_t* bits, std::size_t begin,
                                   std::size_t end) noexcept {
  if (begin >= end) return 0;
  const auto count = [](std::uint64_t word) {
    return static_cast<std::uint64_t>(count_bits(word));
  };
  const std::size_t first = begin / 64;
  const std::size_t last = (end - 1) / 64;
  const std::uint64_t from_begin = ~std::uint64_t{0} << (begin % 64);
  const std::uint64_t to_end = ~std::uint64_t{0} >> (63 - (end - 1) % 64);
  if (first == last) return count(bits[first] & from_begin & to_end);
  std::uint64_t total = count(bits[first] & from_begin) + count(bits[last] & to_end);
  for (std::size_t word = first + 1; word < last; ++word) total += count(bits[word]);
  return total;
}

// Calls build(out) with the writer of `target`, and the place filter when a word has a place,
// which checks the marks with `check`.
template <typename check, typename Build>
void with_writer(const char* data, const candidate_sets& sets, const index_target& target,
                 Build&& build) noexcept {
  place_filter<check> places(data, target.line_begin, sets, target.line_feeds, target.candidates);
  const bool any_place = std::any_of(sets.word_place.begin(), sets.word_place.end(),
                                     [](std::uint8_t place) { return place != 0; });
  build(index_writer<check>{data, sets.line, target.line_feeds, target.candidates,
                            any_place ? &places : nullptr, target.long_stretches});
}

}  // namespace

#if defined(SIFT_X86_KERNELS)
// The vector kernels (byte_index_x86.cpp), each for a processor kernel_available() accepts and
// for word sets with the exact tables its lookup needs.
void build_avx2(const char* data, std::size_t size, const candidate_sets& sets,
                const index_target& target) noexcept;
void build_avx512(const char* data, std::size_t size, const candidate_sets& sets,
                  const index_target& target) noexcept;
void build_avx512_vbmi(const char* data, std::size_t size, const candidate_sets& sets,
                       const index_target& target) noexcept;
// count_bits_between() with AVX2 and popcount.
std::uint64_t count_with_avx2(const std::uint64_t* bits, std::size_t begin,
                              std::size_t end) noexcept;
#endif

}  // namespace sift_runlog::index_parts
