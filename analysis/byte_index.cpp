#include "byte_index.hpp"

#include <algorithm>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#define SIFT_X86_KERNELS 1
#endif

namespace sift_runlog {

byte_set::byte_set(std::string_view members) {
  // Entries no byte can equal: their low bits differ from the index. A byte below 0x80 looked
  // up by its low four bits meets 0x80 | index, which it never equals; one from 0x80 up meets
  // zero, the vector look-up's answer for such an index.
  for (std::size_t index = 0; index < 64; ++index) {
    by_low_six_[index] = static_cast<std::uint8_t>(index ^ 1);
    by_low_four_[index] = static_cast<std::uint8_t>(0x80 | (index & 15));
  }
  std::array<std::uint8_t, 16> high_nibble_bit{};
  std::uint8_t next_bit = 1;
  for (const char c : members) {
    const auto byte = static_cast<unsigned char>(c);
    if (!member_[byte]) {
      if (by_low_six_[byte & 63] != ((byte & 63) ^ 1)) low_six_exact_ = false;
      by_low_six_[byte & 63] = static_cast<std::uint8_t>(byte);
      if (byte >= 0x80 || by_low_four_[byte & 15] != (0x80 | (byte & 15))) low_four_exact_ = false;
      for (std::size_t lane = 0; lane < 64; lane += 16) {
        by_low_four_[lane + (byte & 15)] = static_cast<std::uint8_t>(byte);
      }
    }
    member_[byte] = true;
    const unsigned high = byte >> 4;
    if (high_nibble_bit[high] == 0) {
      // Eight bits name eight high nibbles; a larger set is left to the portable kernel.
      if (next_bit == 0) nibble_tables_exact_ = false;
      high_nibble_bit[high] = next_bit;
      next_bit = static_cast<std::uint8_t>(next_bit << 1);
    }
    for (std::size_t lane = 0; lane < 64; lane += 16) {
      high_[lane + high] = high_nibble_bit[high];
      low_[lane + (byte & 15)] =
          static_cast<std::uint8_t>(low_[lane + (byte & 15)] | high_nibble_bit[high]);
    }
  }
}

namespace {

bool pattern_follows(const char* at, const pattern_bytes& set) noexcept {
  return set.first.contains(at[1]) && set.second.contains(at[2]) && set.third.contains(at[3]);
}

// The marks of the line feeds among `feeds`, the line-feed bits of the chunk at `chunk`: the
// kernels share this, so that every one gives the same bits.
std::uint64_t line_start_marks(const char* chunk, std::uint64_t feeds,
                               const pattern_bytes& line) noexcept {
  std::uint64_t marks = 0;
  while (feeds != 0) {
    const int bit = std::countr_zero(feeds);
    if (pattern_follows(chunk + bit, line)) marks |= std::uint64_t{1} << bit;
    feeds &= feeds - 1;
  }
  return marks;
}

// The index of one 64-byte chunk, one byte at a time.
void index_chunk_portable(const char* chunk, const candidate_sets& sets, std::uint64_t& feeds,
                          std::uint64_t& marks, std::uint64_t& blanks) noexcept {
  feeds = 0;
  marks = 0;
  blanks = 0;
  for (std::size_t bit = 0; bit < 64; ++bit) {
    const std::uint64_t here = std::uint64_t{1} << bit;
    if (chunk[bit] == '\n') {
      feeds |= here;
      if (pattern_follows(chunk + bit, sets.line)) marks |= here;
    } else if (chunk[bit] == ' ') {
      blanks |= here;
      if (pattern_follows(chunk + bit, sets.word)) marks |= here;
    }
  }
}

// Stores one chunk's words and keeps the longest run of chunks without a line feed.
struct index_writer {
  std::uint64_t* line_feeds;
  std::uint64_t* candidates;
  std::uint64_t* word_starts;
  std::size_t run = 0;
  std::size_t longest = 0;
  std::uint64_t blank_before = 0;  // whether the byte before the chunk is a blank, as bit 0

  void put(std::size_t word, std::uint64_t feeds, std::uint64_t marks, std::uint64_t blanks) {
    line_feeds[word] = feeds;
    candidates[word] = marks;
    if (word_starts != nullptr) word_starts[word] = ~blanks & (blanks << 1 | blank_before);
    blank_before = blanks >> 63;
    run = feeds == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
};

std::size_t build_portable(const char* data, std::size_t size, const candidate_sets& sets,
                           index_writer out) noexcept {
  const std::size_t words = (size + 63) / 64;
  for (std::size_t word = 0; word < words; ++word) {
    std::uint64_t feeds = 0;
    std::uint64_t marks = 0;
    std::uint64_t blanks = 0;
    index_chunk_portable(data + word * 64, sets, feeds, marks, blanks);
    out.put(word, feeds, marks, blanks);
  }
  return out.longest;
}

#if defined(SIFT_X86_KERNELS)

// The vector kernels keep their tables in registers, so their helpers must be inlined.
#define SIFT_AVX2_HELPER __attribute__((target("avx2"), always_inline)) inline
#define SIFT_AVX512_HELPER __attribute__((target("avx512f,avx512bw"), always_inline)) inline

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
__attribute__((target("avx2"))) std::size_t build_avx2(const char* data, std::size_t size,
                                                       const candidate_sets& sets,
                                                       index_writer out) noexcept {
  const avx2_tables word{avx2_load(sets.word.first), avx2_load(sets.word.second),
                         avx2_load(sets.word.third)};
  const std::size_t words = (size + 63) / 64;
  for (std::size_t index = 0; index < words; ++index) {
    const char* chunk = data + index * 64;
    const avx2_bits low = avx2_step<method>(chunk, word);
    const avx2_bits high = avx2_step<method>(chunk + 32, word);
    const std::uint64_t feeds = low.feeds | std::uint64_t{high.feeds} << 32;
    const std::uint64_t marks =
        (low.marks | std::uint64_t{high.marks} << 32) | line_start_marks(chunk, feeds, sets.line);
    out.put(index, feeds, marks, low.blanks | std::uint64_t{high.blanks} << 32);
  }
  return out.longest;
}

struct avx512_table {
  __m512i exact;
  __m512i low;
  __m512i high;
};

SIFT_AVX512_HELPER avx512_table avx512_load(const byte_set& set) noexcept {
  return {_mm512_loadu_si512(set.by_low_four_bits().data()),
          _mm512_loadu_si512(set.low_nibbles().data()),
          _mm512_loadu_si512(set.high_nibbles().data())};
}

template <lookup method>
SIFT_AVX512_HELPER __mmask64 avx512_members(const char* at, const avx512_table& set) noexcept {
  const __m512i bytes = _mm512_loadu_si512(at);
  if constexpr (method == lookup::low_four_bits) {
    return _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(set.exact, bytes), bytes);
  } else {
    const __m512i nibble = _mm512_set1_epi8(0x0f);
    return _mm512_test_epi8_mask(
        _mm512_shuffle_epi8(set.low, _mm512_and_si512(bytes, nibble)),
        _mm512_shuffle_epi8(set.high, _mm512_and_si512(_mm512_srli_epi16(bytes, 4), nibble)));
  }
}

template <lookup method>
__attribute__((target("avx512f,avx512bw"))) std::size_t build_avx512(const char* data,
                                                                     std::size_t size,
                                                                     const candidate_sets& sets,
                                                                     index_writer out) noexcept {
  const avx512_table first = avx512_load(sets.word.first);
  const avx512_table second = avx512_load(sets.word.second);
  const avx512_table third = avx512_load(sets.word.third);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i blank = _mm512_set1_epi8(' ');
  const std::size_t words = (size + 63) / 64;
  for (std::size_t index = 0; index < words; ++index) {
    const char* chunk = data + index * 64;
    const __m512i here = _mm512_loadu_si512(chunk);
    const __mmask64 feeds = _mm512_cmpeq_epi8_mask(here, line_feed);
    const __mmask64 blanks = _mm512_cmpeq_epi8_mask(here, blank);
    const __mmask64 marks = blanks & avx512_members<method>(chunk + 1, first) &
                            avx512_members<method>(chunk + 2, second) &
                            avx512_members<method>(chunk + 3, third);
    out.put(index, feeds, marks | line_start_marks(chunk, feeds, sets.line), blanks);
  }
  return out.longest;
}

// The members of the set among the 64 bytes: one permute by the low six bits, one comparison.
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline __mmask64 vbmi_members(
    const char* at, __m512i entries) noexcept {
  const __m512i bytes = _mm512_loadu_si512(at);
  // The zero-masking form, with every byte kept: the plain one trips a warning in some
  // compilers' headers.
  return _mm512_cmpeq_epi8_mask(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, bytes, entries),
                                bytes);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t build_avx512_vbmi(
    const char* data, std::size_t size, const candidate_sets& sets, index_writer out) noexcept {
  const __m512i first = _mm512_loadu_si512(sets.word.first.by_low_six_bits().data());
  const __m512i second = _mm512_loadu_si512(sets.word.second.by_low_six_bits().data());
  const __m512i third = _mm512_loadu_si512(sets.word.third.by_low_six_bits().data());
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i blank = _mm512_set1_epi8(' ');
  const std::size_t words = (size + 63) / 64;
  for (std::size_t index = 0; index < words; ++index) {
    const char* chunk = data + index * 64;
    const __m512i here = _mm512_loadu_si512(chunk);
    const __mmask64 feeds = _mm512_cmpeq_epi8_mask(here, line_feed);
    const __mmask64 blanks = _mm512_cmpeq_epi8_mask(here, blank);
    const __mmask64 marks = blanks & vbmi_members(chunk + 1, first) &
                            vbmi_members(chunk + 2, second) & vbmi_members(chunk + 3, third);
    out.put(index, feeds, marks | line_start_marks(chunk, feeds, sets.line), blanks);
  }
  return out.longest;
}

#endif

}  // namespace

bool kernel_available(index_kernel kernel) noexcept {
  switch (kernel) {
    case index_kernel::portable:
      return true;
#if defined(SIFT_X86_KERNELS)
    case index_kernel::avx2:
      return __builtin_cpu_supports("avx2") != 0;
    case index_kernel::avx512:
      return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
    case index_kernel::avx512_vbmi:
      return kernel_available(index_kernel::avx512) && __builtin_cpu_supports("avx512vbmi") != 0;
#else
    case index_kernel::avx2:
    case index_kernel::avx512:
    case index_kernel::avx512_vbmi:
      return false;
#endif
  }
  return false;
}

index_kernel best_kernel(const candidate_sets& sets) noexcept {
  const pattern_bytes& word = sets.word;
  const auto all = [&word](bool (byte_set::*exact)() const noexcept) {
    return (word.first.*exact)() && (word.second.*exact)() && (word.third.*exact)();
  };
  if (all(&byte_set::low_six_bits_exact) && kernel_available(index_kernel::avx512_vbmi)) {
    return index_kernel::avx512_vbmi;
  }
  if (!all(&byte_set::nibble_tables_exact)) return index_kernel::portable;
  for (const index_kernel kernel : {index_kernel::avx512, index_kernel::avx2}) {
    if (kernel_available(kernel)) return kernel;
  }
  return index_kernel::portable;
}

std::size_t build_byte_index(index_kernel kernel, const char* data, std::size_t size,
                             const candidate_sets& sets, std::uint64_t* line_feeds,
                             std::uint64_t* candidates, std::uint64_t* word_starts) noexcept {
  const index_writer out{line_feeds, candidates, word_starts};
  switch (kernel) {
#if defined(SIFT_X86_KERNELS)
    case index_kernel::avx512_vbmi:
      return build_avx512_vbmi(data, size, sets, out);
    case index_kernel::avx512:
      return all_low_four_bits_exact(sets.word)
                 ? build_avx512<lookup::low_four_bits>(data, size, sets, out)
                 : build_avx512<lookup::nibbles>(data, size, sets, out);
    case index_kernel::avx2:
      return all_low_four_bits_exact(sets.word)
                 ? build_avx2<lookup::low_four_bits>(data, size, sets, out)
                 : build_avx2<lookup::nibbles>(data, size, sets, out);
#else
    case index_kernel::avx512_vbmi:
    case index_kernel::avx512:
    case index_kernel::avx2:
#endif
    case index_kernel::portable:
      break;
  }
  return build_portable(data, size, sets, out);
}

}  // namespace sift_runlog
