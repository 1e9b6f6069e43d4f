// One bit per byte of a block, built in one vector pass as the block arrives:
//   line_feeds  where the line feeds are;
//   candidates  where a line feed is followed by a byte that may begin a line pattern, or a
//               blank by a byte that may begin a word pattern, and the two bytes after that
//               may be the second and third bytes of a pattern.
// Finding line ends and ruling out most lines then costs a few bit operations per line instead
// of a pass over its bytes.
//
// Four kernels give the same bits: AVX-512 with byte permutes (VBMI), AVX-512BW and AVX2, chosen
// at run time where the processor has them, and a portable one, one byte at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

 private:
  std::array<bool, 256> member_{};
  std::array<std::uint8_t, 64> low_{};
  std::array<std::uint8_t, 64> high_{};
  bool nibble_tables_exact_ = true;
  std::array<std::uint8_t, 64> by_low_six_{};
  bool low_six_exact_ = true;
};

// What makes a position a candidate.
struct candidate_sets {
  byte_set line_first;  // first bytes of the line patterns, after a line feed
  byte_set word_first;  // first bytes of the word patterns, after a blank
  byte_set second;      // second bytes of all patterns
  byte_set third;       // third bytes of all patterns
};

enum class index_kernel { portable, avx2, avx512, avx512_vbmi };

// Whether this processor (and this build) can run `kernel`.
[[nodiscard]] bool kernel_available(index_kernel kernel) noexcept;
// The fastest kernel this processor can run for `sets`.
[[nodiscard]] index_kernel best_kernel(const candidate_sets& sets) noexcept;

// How many readable bytes must follow a block: the kernels load whole 64-byte chunks and the
// three bytes after each.
inline constexpr std::size_t byte_index_padding = 128;

// Writes (size + 63) / 64 words to `line_feeds` and to `candidates`: bit p % 64 of word p / 64
// tells about byte p of `data`, looking at bytes p + 1 to p + 3 as well. Bits for p >= size
// are what the padding bytes give. Returns the longest run of words without a line feed.
// REQUIRES: data[0 .. size + byte_index_padding) is readable; `kernel` is available, and every
// set has exact nibble tables for the AVX kernels and exact six-bit tables for avx512_vbmi.
std::size_t build_byte_index(index_kernel kernel, const char* data, std::size_t size,
                             const candidate_sets& sets, std::uint64_t* line_feeds,
                             std::uint64_t* candidates) noexcept;

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
