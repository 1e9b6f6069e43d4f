// The parts of building a byte index that every kernel shares: the marks after line feeds, the
// place filter for tested words and the writer that stores a chunk's bits. Internal to
// byte_index.cpp and the x86 kernels (byte_index_x86.cpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

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

// Clears the marks of words out of their places: the runs of blanks from the start of the
// line up to a mark give its word's number. Within the mark's chunk they are counted from the
// chunk's blank bits; before it, along the line from mark to mark, so that a long line full of
// marks is counted once. Kept apart from index_writer, whose few members stay in registers
// through the kernels' loops.
class place_filter {
 public:
  place_filter(const char* data, std::size_t line_begin, const candidate_sets& sets) noexcept
      : data_(data), sets_(sets), first_line_begin_(line_begin) {}

  // The marks that stand where their word's place allows; `blanks` are the chunk's blanks.
  [[gnu::always_inline]] std::uint64_t placed(std::size_t word, std::uint64_t feeds,
                                              std::uint64_t blanks, std::uint64_t marks,
                                              const std::uint64_t* line_feeds) noexcept {
#if defined(SIFT_X86_KERNELS)
    // Measured: on a log with a tested word on every other line, the count of bits is half the
    // work of this function without the instruction.
    if (hardware_popcount_) return placed_with_popcount(word, feeds, blanks, marks, line_feeds);
#endif
    return placed_without_popcount(word, feeds, blanks, marks, line_feeds);
  }

 private:
  // Out of line: called for the few chunks with marks, they would crowd the kernels' registers.
#if defined(SIFT_X86_KERNELS)
  [[gnu::noinline]] __attribute__((target("popcnt"))) std::uint64_t placed_with_popcount(
      std::size_t word, std::uint64_t feeds, std::uint64_t blanks, std::uint64_t marks,
      const std::uint64_t* line_feeds) noexcept {
    return placed_counting<true>(word, feeds, blanks, marks, line_feeds);
  }
#endif
  [[gnu::noinline]] std::uint64_t placed_without_popcount(
      std::size_t word, std::uint64_t feeds, std::uint64_t blanks, std::uint64_t marks,
      const std::uint64_t* line_feeds) noexcept {
    return placed_counting<false>(word, feeds, blanks, marks, line_feeds);
  }

  template <bool hardware_popcount>
  [[gnu::always_inline]] static int count(std::uint64_t bits) noexcept {
    if constexpr (hardware_popcount) return __builtin_popcountll(bits);
    return count_bits(bits);
  }

  template <bool hardware_popcount>
  [[gnu::always_inline]] std::uint64_t placed_counting(std::size_t word, std::uint64_t feeds,
                                                       std::uint64_t blanks, std::uint64_t marks,
                                                       const std::uint64_t* line_feeds) noexcept {
    const std::size_t base = word * 64;
    // The blanks that begin a run: no blank before them, in this chunk or at the end of the
    // one before (bytes before the data are zeros).
    const bool blank_before = base > 0 && data_[base - 1] == ' ';
    const std::uint64_t run_starts = blanks & ~(blanks << 1 | std::uint64_t{blank_before});
    std::uint64_t kept = marks;
    for (std::uint64_t bits = marks; bits != 0; bits &= bits - 1) {
      const int bit = std::countr_zero(bits);
      const std::size_t position = base + static_cast<std::size_t>(bit);
      const std::size_t place = sets_.word_place[static_cast<unsigned char>(data_[position + 1])];
      if (place == 0) continue;
      const std::uint64_t feeds_before = feeds & ((std::uint64_t{1} << bit) - 1);
      const std::size_t line_begin =
          feeds_before != 0 ? base + 64 - static_cast<std::size_t>(std::countl_zero(feeds_before))
                            : line_begin_before(word, line_feeds);
      // A word past the first piece of its line is numbered anew in its piece: kept.
      if (position + 1 - line_begin >= sets_.piece_limit) continue;
      // The runs up to the mark's own blank, from the line's start or this chunk's.
      std::uint64_t in_chunk = run_starts & (~std::uint64_t{0} >> (63 - bit));
      std::size_t runs = 0;
      if (line_begin >= base) {
        in_chunk &= ~std::uint64_t{0} << (line_begin - base);
      } else {
        runs = runs_before<hardware_popcount>(line_begin, base);
      }
      runs += static_cast<std::size_t>(count<hardware_popcount>(in_chunk));
      if (runs + 1 != place) kept &= ~(std::uint64_t{1} << bit);
    }
    return kept;
  }

  // The runs of blanks that begin in [line_begin, base), counted chunk by chunk and on from the
  // last call when it was along the same line.
  template <bool hardware_popcount>
  [[gnu::always_inline]] std::size_t runs_before(std::size_t line_begin,
                                                 std::size_t base) noexcept {
    if (line_begin != counted_line_) {
      counted_line_ = line_begin;
      counted_to_ = line_begin;
      runs_ = 0;
    }
    while (counted_to_ < base) {
      const std::size_t chunk = counted_to_ / 64 * 64;
      const std::uint64_t blanks = blanks_of(data_ + chunk);
      const bool blank_before = chunk > 0 && data_[chunk - 1] == ' ';
      runs_ += static_cast<std::size_t>(
          count<hardware_popcount>(blanks & ~(blanks << 1 | std::uint64_t{blank_before}) &
                                   ~std::uint64_t{0} << (counted_to_ - chunk)));
      counted_to_ = chunk + 64;
    }
    return runs_;
  }

  // Where the line that goes on into chunk `word` began, from the line feeds stored before it.
  [[nodiscard]] std::size_t line_begin_before(std::size_t word,
                                              const std::uint64_t* line_feeds) const noexcept {
    while (word > 0 && (word - 1) * 64 + 63 >= first_line_begin_) {
      const std::uint64_t feeds = line_feeds[--word];
      if (feeds != 0) {
        const std::size_t after =
            word * 64 + 64 - static_cast<std::size_t>(std::countl_zero(feeds));
        return std::max(after, first_line_begin_);
      }
    }
    return first_line_begin_;
  }

  const char* data_;
  const candidate_sets& sets_;
  std::size_t first_line_begin_;  // where the first line begins; nothing before it counts
  std::size_t counted_line_ = SIZE_MAX;
  std::size_t counted_to_ = 0;
  std::size_t runs_ = 0;  // runs of blanks in [counted_line_, counted_to_)
#if defined(SIFT_X86_KERNELS)
  bool hardware_popcount_ = __builtin_cpu_supports("popcnt") != 0;
#endif
};

// Takes each chunk's line feeds and blank marks from a kernel, clears the marks of words out of
// their places, adds the marks of the line feeds, stores the words and logs the long runs of
// chunks without a line feed. Every kernel shares this, so that all give the same bits.
struct index_writer {
  const char* data;
  const pattern_bytes& line;
  std::uint64_t* line_feeds;
  std::uint64_t* candidates;
  place_filter* places;               // null when no word pattern has a place
  const stretch_log* long_stretches;  // null when they are not wanted
  std::size_t run = 0;

  void put(std::size_t word, std::uint64_t feeds, std::uint64_t blanks,
           std::uint64_t word_marks) noexcept {
    if (places != nullptr && word_marks != 0) {
      word_marks = places->placed(word, feeds, blanks, word_marks, line_feeds);
    }
    line_feeds[word] = feeds;
    candidates[word] = word_marks | line_start_marks(data + word * 64, feeds, line);
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

  // Keeps the run at the end of the `words` words written.
  void finish(std::size_t words) { end_run(words); }
};

// The bits set in positions [begin, end) of `bits`, word by word.
template <bool hardware_popcount>
[[gnu::always_inline]] inline std::uint64_t count_between(const std::uint64_t* bits,
                                                          std::size_t begin,
                                                          std::size_t end) noexcept {
  if (begin >= end) return 0;
  const auto count = [](std::uint64_t word) -> std::uint64_t {
    if constexpr (hardware_popcount) return static_cast<std::uint64_t>(__builtin_popcountll(word));
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

// Calls build(out) with the writer of `target`, and the place filter when a word has a place.
template <typename Build>
void with_writer(const char* data, const candidate_sets& sets, const index_target& target,
                 Build&& build) noexcept {
  place_filter places(data, target.line_begin, sets);
  const bool any_place = std::any_of(sets.word_place.begin(), sets.word_place.end(),
                                     [](std::uint8_t place) { return place != 0; });
  build(index_writer{data, sets.line, target.line_feeds, target.candidates,
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
