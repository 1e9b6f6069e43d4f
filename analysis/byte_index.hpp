// One bit per byte of a block, built in one vector pass as the block arrives:
//   line_feeds  where the line feeds are;
//   candidates  where a line feed is followed by three bytes that may be the first three of a
//               line pattern, or a blank by three that may be the first three of a word pattern
//               (each byte a member of the set for its place).
// Finding line ends and ruling out most lines then costs a few bit operations per line instead
// of a pass over its bytes.
//
// Four kernels give the same bits: AVX-512 with byte permutes (VBMI), AVX-512BW and AVX2, chosen
// at run time where the processor has them, and a portable one, one byte at a time. The vector
// kernels test the bytes after every blank; the bytes after a line feed, one in tens of bytes,
// are looked up one line at a time (measured: cheaper than a vector test of every byte).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sift_runlog {

// A set of bytes, tested by table.
class byte_set {
 public:
  explicit byte_set(std::string_view members = {});
  [[nodiscard]] bool contains(char byte) const noexcept {
    return member_[static_cast<unsigned char>(byte)];
  }
  // The set as two tables of 16 entries, each repeated four times to fill a 64-byte vector:
  // a byte is a member when low[byte & 15] & high[byte >> 4] is not zero. Exact when the
  // members have at most 8 distinct high nibbles.
  [[nodiscard]] const std::array<std::uint8_t, 64>& low_nibbles() const noexcept { return low_; }
  [[nodiscard]] const std::array<std::uint8_t, 64>& high_nibbles() const noexcept { return high_; }
  [[nodiscard]] bool nibble_tables_exact() const noexcept { return nibble_tables_exact_; }
  // The set as one table of 64 entries indexed by the low six bits of a byte: a byte is a
  // member when the entry equals the byte. Exact when no two members share their low six bits.
  [[nodiscard]] const std::array<std::uint8_t, 64>& by_low_six_bits() const noexcept {
    return by_low_six_;
  }
  [[nodiscard]] bool low_six_bits_exact() const noexcept { return low_six_exact_; }
  // The set as one table of 16 entries indexed by the low four bits of a byte, repeated four
  // times: a byte below 0x80 is a member when the entry equals it. Exact when every member is
  // below 0x80 and no two share their low four bits; one table look-up and one comparison then
  // test a vector of bytes.
  [[nodiscard]] const std::array<std::uint8_t, 64>& by_low_four_bits() const noexcept {
    return by_low_four_;
  }
  [[nodiscard]] bool low_four_bits_exact() const noexcept { return low_four_exact_; }

 private:
  std::array<bool, 256> member_{};
  std::array<std::uint8_t, 64> low_{};
  std::array<std::uint8_t, 64> high_{};
  bool nibble_tables_exact_ = true;
  std::array<std::uint8_t, 64> by_low_six_{};
  bool low_six_exact_ = true;
  std::array<std::uint8_t, 64> by_low_four_{};
  bool low_four_exact_ = true;
};

// The first three bytes of a kind of pattern, each byte by its place.
struct pattern_bytes {
  byte_set first;
  byte_set second;
  byte_set third;
};

// What makes a position a candidate.
struct candidate_sets {
  pattern_bytes line;  // after a line feed
  pattern_bytes word;  // after a blank
  // Where the word a word pattern begins must stand, by that word's first byte: its number in
  // the line (a run of blanks making one cut, at most max_indexed_place), or 0 for anywhere.
  // The mark of a word elsewhere is cleared, unless the word begins piece_limit bytes or more
  // into its line: the pieces of a long line number their words anew.
  std::array<std::uint8_t, 256> word_place{};
  std::size_t piece_limit = SIZE_MAX;
};

// The highest place candidate_sets::word_place may give: the index counts the runs of blanks of
// a line, up to that many, in bytes.
inline constexpr std::size_t max_indexed_place = 127;

enum class index_kernel { portable, avx2, avx512, avx512_vbmi };

// A stretch of whole index words without a line feed, from word first_word to last_word.
struct word_stretch {
  std::size_t first_word;
  std::size_t last_word;
};

// Where build_byte_index() writes the stretches of at least `min_words` words, their word
// numbers raised by `word_offset`.
struct stretch_log {
  std::size_t min_words;
  std::size_t word_offset;
  std::vector<word_stretch>* stretches;
};

// Whether this processor (and this build) can run `kernel`.
[[nodiscard]] bool kernel_available(index_kernel kernel) noexcept;
// Whether this processor can run `kernel` for `sets`: the word sets have the exact tables its
// look-up needs.
[[nodiscard]] bool kernel_runs(index_kernel kernel, const candidate_sets& sets) noexcept;
// The fastest kernel this processor can run for `sets` (only the word sets matter).
[[nodiscard]] index_kernel best_kernel(const candidate_sets& sets) noexcept;

// How many readable bytes must follow a block: the kernels load whole 64-byte chunks and the
// three bytes after each.
inline constexpr std::size_t byte_index_padding = 128;

// Writes (size + 63) / 64 words to `line_feeds` and to `candidates`: bit p % 64 of word p / 64
// tells about byte p of `data`, looking at bytes p + 1 to p + 3 as well (and, for a word's
// place, back to the start of its line; the first line starts at data[line_begin]). Bits for
// p >= size are what the padding bytes give. Writes the long stretches without a line feed to
// `long_stretches` in place of those it held, unless it is null.
// REQUIRES: data[0 .. size + byte_index_padding) is readable; `kernel` is available, and the
// word sets have exact nibble tables for the AVX kernels and exact six-bit tables for
// avx512_vbmi.
void build_byte_index(index_kernel kernel, const char* data, std::size_t size,
                      const candidate_sets& sets, std::uint64_t* line_feeds,
                      std::uint64_t* candidates, std::size_t line_begin = 0,
                      const stretch_log* long_stretches = nullptr) noexcept;

// The number of set bits. Without a popcount instruction guaranteed at build time, the
// library call std::popcount makes costs more than this count in registers.
[[nodiscard]] inline int count_bits(std::uint64_t x) noexcept {
#if defined(__POPCNT__) || !defined(__x86_64__)
  return std::popcount(x);
#else
  x -= (x >> 1) & 0x5555555555555555U;
  x = (x & 0x3333333333333333U) + ((x >> 2) & 0x3333333333333333U);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fU;
  return static_cast<int>((x * 0x0101010101010101U) >> 56);
#endif
}

// The number of runs of blanks that begin in text[0, size), a run that goes on past `size`
// included; with `blank_before`, a run at text[0] goes on from before and does not count. With
// `size` one past a blank, one more than this is the number of the word after that blank in a
// line that begins at `text` (a run of blanks making one cut). Looks at sixteen bytes a step.
// REQUIRES: text[0, size rounded up to a multiple of 16) is readable.
[[nodiscard]] std::size_t blank_runs(const char* text, std::size_t size,
                                     bool blank_before = false) noexcept;

// The number of bits set in positions [begin, end) of `bits`: the line feeds of a stretch of
// the buffer, counted once per block. Uses the popcount instruction where the processor has it.
[[nodiscard]] std::uint64_t count_bits_between(const std::uint64_t* bits, std::size_t begin,
                                               std::size_t end) noexcept;

// Whether any bit in positions [begin, end) of `bits` is set.
[[nodiscard]] inline bool any_bit(const std::uint64_t* bits, std::size_t begin,
                                  std::size_t end) noexcept {
  if (begin >= end) return false;
  const std::size_t first = begin / 64;
  const std::size_t last = (end - 1) / 64;
  const std::uint64_t from_begin = ~std::uint64_t{0} << (begin % 64);
  const std::uint64_t to_end = ~std::uint64_t{0} >> (63 - (end - 1) % 64);
  if (first == last) return (bits[first] & from_begin & to_end) != 0;
  if ((bits[first] & from_begin) != 0 || (bits[last] & to_end) != 0) return true;
  for (std::size_t word = first + 1; word < last; ++word) {
    if (bits[word] != 0) return true;
  }
  return false;
}

}  // namespace sift_runlog
