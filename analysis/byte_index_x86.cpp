// The x86 vector kernels of the byte index, each compiled for its instruction set and chosen at
// run time (byte_index.cpp): AVX2, and one AVX-512 loop over three ways of testing bytes for
// membership of a set. Also the line-feed count with AVX2.
#include <algorithm>
#include <cstdint>

#include "index_parts.hpp"

#if defined(SIFT_X86_KERNELS)

namespace sift_runlog::index_parts {

namespace {

// The vector kernels keep their tables in registers, so their helpers must be inlined.
#define SIFT_AVX2_HELPER __attribute__((target("avx2"), always_inline)) inline
#define SIFT_AVX512_HELPER __attribute__((target("avx512f,avx512bw"), always_inline)) inline

// Every vector kernel checks the places of its marks with AVX2 (index_parts.hpp): for all the
// bytes of a chunk at once, the runs of blanks of each one's line up to it are a prefix sum
// of the chunk's run starts (plus the runs carried into the chunk), less its value at the last
// line feed before the byte (a prefix maximum of the sums at line feeds); the place each
// mark's word wants is a table look-up of the word's first byte. 32 bytes a vector: prefix
// sums and maxima by shifts within each 128-bit lane, each lane's last byte carried to the
// lane above and the low vector's to the high one.

// All ones in byte i where bit i of the low (`half` 0) or high (1) 32 bits of `bits` is set.
SIFT_AVX2_HELPER __m256i avx2_bytes_of(std::uint64_t bits, int half) noexcept {
  const __m256i low_index = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2,
                                             2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i index = _mm256_add_epi8(low_index, _mm256_set1_epi8(static_cast<char>(4 * half)));
  const __m256i select = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201U));
  const __m256i spread =
      _mm256_shuffle_epi8(_mm256_set1_epi64x(static_cast<long long>(bits)), index);
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, select), select);
}

// The last byte of each lane in every byte of the lane above (zeros in the low lane), or with
// `both`, the last byte of the vector in every byte.
template <bool both>
SIFT_AVX2_HELPER __m256i avx2_last_bytes(__m256i x) noexcept {
  const __m256i last = _mm256_shuffle_epi8(x, _mm256_set1_epi8(15));
  return _mm256_permute2x128_si256(last, last, both ? 0x11 : 0x08);
}

template <bool maximum>
SIFT_AVX2_HELPER __m256i avx2_combine(__m256i a, __m256i b) noexcept {
  return maximum ? _mm256_max_epu8(a, b) : _mm256_add_epi8(a, b);
}

// The sums (or maxima) of the bytes of `x` up to each.
template <bool maximum>
SIFT_AVX2_HELPER __m256i avx2_prefix(__m256i x) noexcept {
  x = avx2_combine<maximum>(x, _mm256_slli_si256(x, 1));
  x = avx2_combine<maximum>(x, _mm256_slli_si256(x, 2));
  x = avx2_combine<maximum>(x, _mm256_slli_si256(x, 4));
  x = avx2_combine<maximum>(x, _mm256_slli_si256(x, 8));
  return avx2_combine<maximum>(x, avx2_last_bytes<false>(x));
}

// The bytes before words in place, of 32 with `runs` runs each in their line and the first bytes
// of their words at `first`: the word number is the place its first byte wants (by its low four
// bits, in `places`), or no place is wanted.
SIFT_AVX2_HELPER std::uint32_t avx2_in_place(__m256i runs, const char* first,
                                             __m256i places) noexcept {
  const __m256i wanted =
      _mm256_shuffle_epi8(places, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first)));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_add_epi8(runs, _mm256_set1_epi8(1)), wanted),
                      _mm256_cmpeq_epi8(wanted, _mm256_setzero_si256()))));
}

// The marks of `chunk` out of their places; `places` holds the place by the low four bits of
// a word's first byte, in both lanes.
SIFT_AVX2_HELPER std::uint64_t avx2_misplaced(const chunk_to_place& chunk, const char* data,
                                              __m256i places) noexcept {
  const __m256i low = avx2_prefix<false>(
      _mm256_add_epi8(_mm256_abs_epi8(avx2_bytes_of(chunk.starts, 0)),
                      _mm256_setr_epi64x(static_cast<long long>(chunk.runs), 0, 0, 0)));
  const __m256i high =
      _mm256_add_epi8(avx2_prefix<false>(_mm256_abs_epi8(avx2_bytes_of(chunk.starts, 1))),
                      avx2_last_bytes<true>(low));
  const __m256i low_cut = avx2_prefix<true>(_mm256_and_si256(low, avx2_bytes_of(chunk.feeds, 0)));
  const __m256i high_cut =
      _mm256_max_epu8(avx2_prefix<true>(_mm256_and_si256(high, avx2_bytes_of(chunk.feeds, 1))),
                      avx2_last_bytes<true>(low_cut));
  const char* const first = data + chunk.word * 64 + 1;
  const std::uint64_t kept =
      avx2_in_place(_mm256_sub_epi8(low, low_cut), first, places) |
      std::uint64_t{avx2_in_place(_mm256_sub_epi8(high, high_cut), first + 32, places)} << 32;
  return chunk.marks & ~kept;
}

// Checks the marks of a chunk all at once where the low four bits of the first bytes of the
// word patterns tell them apart, else one at a time.
struct avx2_check {
  static constexpr bool hardware_popcount = true;
  template <typename filter>
  [[gnu::noinline]] __attribute__((target("avx2,bmi,bmi2,popcnt"))) static void place(
      filter& places) noexcept {
    if (!places.places_by_low_four_bits()) {
      places.place_one_at_a_time();
      return;
    }
    const __m256i by_low_four_bits =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(places.place_by_low_four_bits()));
    const char* const data = places.data();
    std::uint64_t* const candidates = places.candidates();
    for (const chunk_to_place& chunk : places.prepare()) {
      candidates[chunk.word] &= ~avx2_misplaced(chunk, data, by_low_four_bits);
    }
  }
};

// How a vector kernel tests bytes for membership of a set: by one table of the low four bits
// and a comparison where every word set allows it, else by the two nibble tables.
enum class lookup { low_four_bits, nibbles };

bool all_low_four_bits_exact(const pattern_bytes& set) noexcept {
  return set.first.low_four_bits_exact() && set.second.low_four_bits_exact() &&
         set.third.low_four_bits_exact();
}

struct avx2_table {
  __m256i exact;
  __m256i low;
  __m256i high;
};

SIFT_AVX2_HELPER avx2_table avx2_load(const byte_set& set) noexcept {
  return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.by_low_four_bits().data())),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.low_nibbles().data())),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.high_nibbles().data()))};
}

// All ones where the byte at `at` is a member of the set.
template <lookup method>
SIFT_AVX2_HELPER __m256i avx2_members(const char* at, const avx2_table& set) noexcept {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  if constexpr (method == lookup::low_four_bits) {
    return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(set.exact, bytes), bytes);
  } else {
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i found = _mm256_and_si256(
        _mm256_shuffle_epi8(set.low, _mm256_and_si256(bytes, nibble)),
        _mm256_shuffle_epi8(set.high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
    return _mm256_xor_si256(_mm256_cmpeq_epi8(found, _mm256_setzero_si256()), _mm256_set1_epi8(-1));
  }
}

struct avx2_tables {
  avx2_table first;
  avx2_table second;
  avx2_table third;
};

struct avx2_bits {
  std::uint32_t feeds;
  std::uint32_t blanks;
  std::uint32_t marks;  // of the blanks only
};

// Thirty-two bytes.
template <lookup method>
SIFT_AVX2_HELPER avx2_bits avx2_step(const char* at, const avx2_tables& word) noexcept {
  const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i feed = _mm256_cmpeq_epi8(here, _mm256_set1_epi8('\n'));
  const __m256i blank = _mm256_cmpeq_epi8(here, _mm256_set1_epi8(' '));
  const __m256i mark =
      _mm256_and_si256(_mm256_and_si256(blank, avx2_members<method>(at + 1, word.first)),
                       _mm256_and_si256(avx2_members<method>(at + 2, word.second),
                                        avx2_members<method>(at + 3, word.third)));
  return {static_cast<std::uint32_t>(_mm256_movemask_epi8(feed)),
          static_cast<std::uint32_t>(_mm256_movemask_epi8(blank)),
          static_cast<std::uint32_t>(_mm256_movemask_epi8(mark))};
}

template <lookup method>
[[gnu::noinline]] __attribute__((target("avx2"))) void avx2_loop(
    const char* data, std::size_t size, const candidate_sets& sets,
    index_writer<avx2_check> out) noexcept {
  const avx2_tables word{avx2_load(sets.word.first), avx2_load(sets.word.second),
                         avx2_load(sets.word.third)};
  const std::size_t words = (size + 63) / 64;
  for (std::size_t index = 0; index < words; ++index) {
    const char* chunk = data + index * 64;
    const avx2_bits low = avx2_step<method>(chunk, word);
    const avx2_bits high = avx2_step<method>(chunk + 32, word);
    out.put(index, low.feeds | std::uint64_t{high.feeds} << 32,
            low.blanks | std::uint64_t{high.blanks} << 32,
            low.marks | std::uint64_t{high.marks} << 32);
  }
  out.finish(words);
}

// How the AVX-512 kernel tests 64 bytes for membership of a set: by the low four bits, by the two
// nibble tables, or (VBMI) by one permute by the low six bits and one comparison.
struct avx512_low_four_bits {
  __m512i exact;
  SIFT_AVX512_HELPER explicit avx512_low_four_bits(const byte_set& set) noexcept
      : exact(_mm512_loadu_si512(set.by_low_four_bits().data())) {}
  SIFT_AVX512_HELPER __mmask64 members(const char* at) const noexcept {
    const __m512i bytes = _mm512_loadu_si512(at);
    return _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(exact, bytes), bytes);
  }
};

struct avx512_nibbles {
  __m512i low;
  __m512i high;
  SIFT_AVX512_HELPER explicit avx512_nibbles(const byte_set& set) noexcept
      : low(_mm512_loadu_si512(set.low_nibbles().data())),
        high(_mm512_loadu_si512(set.high_nibbles().data())) {}
  SIFT_AVX512_HELPER __mmask64 members(const char* at) const noexcept {
    const __m512i bytes = _mm512_loadu_si512(at);
    const __m512i nibble = _mm512_set1_epi8(0x0f);
    return _mm512_test_epi8_mask(
        _mm512_shuffle_epi8(low, _mm512_and_si512(bytes, nibble)),
        _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(bytes, 4), nibble)));
  }
};

struct avx512_low_six_bits {
  __m512i entries;
  SIFT_AVX512_HELPER explicit avx512_low_six_bits(const byte_set& set) noexcept
      : entries(_mm512_loadu_si512(set.by_low_six_bits().data())) {}
  SIFT_AVX512_HELPER __mmask64 members(const char* at) const noexcept {
    const __m512i bytes = _mm512_loadu_si512(at);
    // The byte permute, written out: the loop it is inlined into is compiled for AVX-512BW
    // alone, and only a processor with VBMI runs it (build_avx512_vbmi).
    __m512i permuted;
    asm("vpermb %[table], %[bytes], %[permuted]"
        : [permuted] "=v"(permuted)
        : [table] "v"(entries), [bytes] "v"(bytes));
    return _mm512_cmpeq_epi8_mask(permuted, bytes);
  }
};

// The one AVX-512 loop, over a way of testing membership.
template <typename members>
[[gnu::noinline]] __attribute__((target("avx512f,avx512bw"))) void avx512_loop(
    const char* data, std::size_t size, const candidate_sets& sets,
    index_writer<avx2_check> out) noexcept {
  const members first(sets.word.first);
  const members second(sets.word.second);
  const members third(sets.word.third);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i blank = _mm512_set1_epi8(' ');
  const std::size_t words = (size + 63) / 64;
  for (std::size_t index = 0; index < words; ++index) {
    const char* chunk = data + index * 64;
    const __m512i here = _mm512_loadu_si512(chunk);
    const __mmask64 feeds = _mm512_cmpeq_epi8_mask(here, line_feed);
    const __mmask64 blanks = _mm512_cmpeq_epi8_mask(here, blank);
    const __mmask64 marks =
        blanks & first.members(chunk + 1) & second.members(chunk + 2) & third.members(chunk + 3);
    out.put(index, feeds, blanks, marks);
  }
  out.finish(words);
}

}  // namespace

void build_avx512(const char* data, std::size_t size, const candidate_sets& sets,
                  const index_target& target) noexcept {
  with_writer<avx2_check>(data, sets, target, [&](const auto& out) {
    if (all_low_four_bits_exact(sets.word)) {
      avx512_loop<avx512_low_four_bits>(data, size, sets, out);
    } else {
      avx512_loop<avx512_nibbles>(data, size, sets, out);
    }
  });
}

void build_avx512_vbmi(const char* data, std::size_t size, const candidate_sets& sets,
                       const index_target& target) noexcept {
  with_writer<avx2_check>(data, sets, target, [&](const auto& out) {
    avx512_loop<avx512_low_six_bits>(data, size, sets, out);
  });
}

void build_avx2(const char* data, std::size_t size, const candidate_sets& sets,
                const index_target& target) noexcept {
  with_writer<avx2_check>(data, sets, target, [&](const auto& out) {
    if (all_low_four_bits_exact(sets.word)) {
      avx2_loop<lookup::low_four_bits>(data, size, sets, out);
    } else {
      avx2_loop<lookup::nibbles>(data, size, sets, out);
    }
  });
}

// The whole 256-bit steps between the edge words counted by a table of the sixteen nibbles, the
// counts of each byte summed in bytes for up to 31 steps (at most 8 a step), then in 64-bit
// lanes: about half the instructions of a popcount per word.
__attribute__((target("avx2,popcnt"))) std::uint64_t count_with_avx2(const std::uint64_t* bits,
                                                                     std::size_t begin,
                                                                     std::size_t end) noexcept {
  const std::size_t first = begin / 64;
  const std::size_t last = (end - 1) / 64;
  if (begin >= end || last - first < 9) return count_between(bits, begin, end);
  std::uint64_t total =
      count_between(bits, begin, first * 64 + 64) + count_between(bits, last * 64, end);
  const __m256i nibble_bits = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1,
                                               1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low_nibbles = _mm256_set1_epi8(0x0f);
  __m256i lanes = _mm256_setzero_si256();
  std::size_t word = first + 1;
  std::size_t steps = (last - word) / 4;
  while (steps != 0) {
    const std::size_t now = std::min<std::size_t>(steps, 31);
    __m256i bytes = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (std::size_t step = 0; step < now; ++step, word += 4) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bits + word));
      const __m256i low = _mm256_shuffle_epi8(nibble_bits, _mm256_and_si256(v, low_nibbles));
      const __m256i high =
          _mm256_shuffle_epi8(nibble_bits, _mm256_and_si256(_mm256_srli_epi16(v, 4), low_nibbles));
      bytes = _mm256_add_epi8(bytes, _mm256_add_epi8(low, high));
    }
    lanes = _mm256_add_epi64(lanes, _mm256_sad_epu8(bytes, _mm256_setzero_si256()));
    steps -= now;
  }
  for (int lane = 0; lane < 4; ++lane) {
    total += static_cast<std::uint64_t>(_mm256_extract_epi64(lanes, 0));
    lanes = _mm256_permute4x64_epi64(lanes, 0x39);
  }
  for (; word < last; ++word) total += static_cast<std::uint64_t>(__builtin_popcountll(bits[word]));
  return total;
}

}  // namespace sift_runlog::index_parts

#endif
