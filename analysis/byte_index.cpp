#include "byte_index.hpp"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#define SIFT_X86_KERNELS 1
#endif

namespace sift_runlog {

byte_set::byte_set(std::string_view members) {
  // Entries no byte can equal: their low six bits differ from the index.
  for (std::size_t index = 0; index < 64; ++index) {
    by_low_six_[index] = static_cast<std::uint8_t>(index ^ 1);
  }
  std::array<std::uint8_t, 16> high_nibble_bit{};
  std::uint8_t next_bit = 1;
  for (const char c : members) {
    const auto byte = static_cast<unsigned char>(c);
    if (!member_[byte]) {
      if (by_low_six_[byte & 63] != ((byte & 63) ^ 1)) low_six_exact_ = false;
      by_low_six_[byte & 63] = static_cast<std::uint8_t>(byte);
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

// The index of one 64-byte chunk, one byte at a time.
void index_chunk_portable(const char* chunk, const candidate_sets& sets, std::uint64_t& feeds,
                          std::uint64_t& marks) noexcept {
  feeds = 0;
  marks = 0;
  for (std::size_t bit = 0; bit < 64; ++bit) {
    const std::uint64_t here = std::uint64_t{1} << bit;
    const char first = chunk[bit + 1];
    if (chunk[bit] == '\n') {
      feeds |= here;
      if (sets.line_first.contains(first)) marks |= here;
    } else if (chunk[bit] == ' ' && sets.word_first.contains(first)) {
      marks |= here;
    }
    if (!sets.second.contains(chunk[bit + 2]) || !sets.third.contains(chunk[bit + 3])) {
      marks &= ~here;
    }
  }
}

std::size_t build_portable(const char* data, std::size_t size, const candidate_sets& sets,
                           std::uint64_t* line_feeds, std::uint64_t* candidates) noexcept {
  const std::size_t words = (size + 63) / 64;
  std::size_t run = 0;
  std::size_t longest = 0;
  for (std::size_t word = 0; word < words; ++word) {
    index_chunk_portable(data + word * 64, sets, line_feeds[word], candidates[word]);
    run = line_feeds[word] == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

#if defined(SIFT_X86_KERNELS)

// The vector kernels keep their tables in registers, so their helpers must be inlined.
#define SIFT_AVX2_HELPER __attribute__((target("avx2"), always_inline)) inline
#define SIFT_AVX512_HELPER __attribute__((target("avx512f,avx512bw"), always_inline)) inline

struct avx2_table {
  __m256i low;
  __m256i high;
};

SIFT_AVX2_HELPER avx2_table avx2_load(const byte_set& set) noexcept {
  return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.low_nibbles().data())),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.high_nibbles().data()))};
}

// Not zero where the byte at `at` is a member of the set.
SIFT_AVX2_HELPER __m256i avx2_members(const char* at, const avx2_table& set) noexcept {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  return _mm256_and_si256(
      _mm256_shuffle_epi8(set.low, _mm256_and_si256(bytes, nibble)),
      _mm256_shuffle_epi8(set.high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
}

// Thirty-two bytes: returns the line feed bits and sets `marks`.
struct avx2_tables {
  avx2_table line_first;
  avx2_table word_first;
  avx2_table second;
  avx2_table third;
};

SIFT_AVX2_HELPER std::uint32_t avx2_step(const char* at, const avx2_tables& sets,
                                         std::uint32_t& marks) noexcept {
  const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i feed = _mm256_cmpeq_epi8(here, _mm256_set1_epi8('\n'));
  const __m256i blank = _mm256_cmpeq_epi8(here, _mm256_set1_epi8(' '));
  const __m256i starts = _mm256_or_si256(
      _mm256_andnot_si256(_mm256_cmpeq_epi8(avx2_members(at + 1, sets.line_first), zero), feed),
      _mm256_andnot_si256(_mm256_cmpeq_epi8(avx2_members(at + 1, sets.word_first), zero), blank));
  const __m256i mark = _mm256_andnot_si256(
      _mm256_cmpeq_epi8(avx2_members(at + 3, sets.third), zero),
      _mm256_andnot_si256(_mm256_cmpeq_epi8(avx2_members(at + 2, sets.second), zero), starts));
  marks = static_cast<std::uint32_t>(_mm256_movemask_epi8(mark));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(feed));
}

__attribute__((target("avx2"))) std::size_t build_avx2(const char* data, std::size_t size,
                                                       const candidate_sets& sets,
                                                       std::uint64_t* line_feeds,
                                                       std::uint64_t* candidates) noexcept {
  const avx2_tables tables{avx2_load(sets.line_first), avx2_load(sets.word_first),
                           avx2_load(sets.second), avx2_load(sets.third)};
  const std::size_t words = (size + 63) / 64;
  std::size_t run = 0;
  std::size_t longest = 0;
  for (std::size_t word = 0; word < words; ++word) {
    const char* chunk = data + word * 64;
    std::uint32_t marks_low = 0;
    std::uint32_t marks_high = 0;
    const std::uint64_t feeds = avx2_step(chunk, tables, marks_low) |
                                std::uint64_t{avx2_step(chunk + 32, tables, marks_high)} << 32;
    line_feeds[word] = feeds;
    candidates[word] = marks_low | std::uint64_t{marks_high} << 32;
    run = feeds == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

struct avx512_table {
  __m512i low;
  __m512i high;
};

SIFT_AVX512_HELPER avx512_table avx512_load(const byte_set& set) noexcept {
  return {_mm512_loadu_si512(set.low_nibbles().data()),
          _mm512_loadu_si512(set.high_nibbles().data())};
}

SIFT_AVX512_HELPER __mmask64 avx512_members(__m512i bytes, const avx512_table& set) noexcept {
  const __m512i nibble = _mm512_set1_epi8(0x0f);
  return _mm512_test_epi8_mask(
      _mm512_shuffle_epi8(set.low, _mm512_and_si512(bytes, nibble)),
      _mm512_shuffle_epi8(set.high, _mm512_and_si512(_mm512_srli_epi16(bytes, 4), nibble)));
}

__attribute__((target("avx512f,avx512bw"))) std::size_t build_avx512(
    const char* data, std::size_t size, const candidate_sets& sets, std::uint64_t* line_feeds,
    std::uint64_t* candidates) noexcept {
  const avx512_table line_first = avx512_load(sets.line_first);
  const avx512_table word_first = avx512_load(sets.word_first);
  const avx512_table second = avx512_load(sets.second);
  const avx512_table third = avx512_load(sets.third);
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i blank = _mm512_set1_epi8(' ');
  const std::size_t words = (size + 63) / 64;
  std::size_t run = 0;
  std::size_t longest = 0;
  for (std::size_t word = 0; word < words; ++word) {
    const char* chunk = data + word * 64;
    const __m512i here = _mm512_loadu_si512(chunk);
    const __m512i first = _mm512_loadu_si512(chunk + 1);
    const __mmask64 feeds = _mm512_cmpeq_epi8_mask(here, line_feed);
    const __mmask64 starts =
        (feeds & avx512_members(first, line_first)) |
        (_mm512_cmpeq_epi8_mask(here, blank) & avx512_members(first, word_first));
    line_feeds[word] = feeds;
    candidates[word] = starts & avx512_members(_mm512_loadu_si512(chunk + 2), second) &
                       avx512_members(_mm512_loadu_si512(chunk + 3), third);
    run = feeds == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// The members of the set among the 64 bytes: one permute by the low six bits, one comparison.
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline __mmask64 vbmi_members(
    __m512i bytes, __m512i entries) noexcept {
  // The zero-masking form, with every byte kept: the plain one trips a warning in some
  // compilers' headers.
  return _mm512_cmpeq_epi8_mask(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, bytes, entries),
                                bytes);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t build_avx512_vbmi(
    const char* data, std::size_t size, const candidate_sets& sets, std::uint64_t* line_feeds,
    std::uint64_t* candidates) noexcept {
  const __m512i line_first = _mm512_loadu_si512(sets.line_first.by_low_six_bits().data());
  const __m512i word_first = _mm512_loadu_si512(sets.word_first.by_low_six_bits().data());
  const __m512i second = _mm512_loadu_si512(sets.second.by_low_six_bits().data());
  const __m512i third = _mm512_loadu_si512(sets.third.by_low_six_bits().data());
  const __m512i line_feed = _mm512_set1_epi8('\n');
  const __m512i blank = _mm512_set1_epi8(' ');
  const std::size_t words = (size + 63) / 64;
  std::size_t run = 0;
  std::size_t longest = 0;
  for (std::size_t word = 0; word < words; ++word) {
    const char* chunk = data + word * 64;
    const __m512i here = _mm512_loadu_si512(chunk);
    const __m512i first = _mm512_loadu_si512(chunk + 1);
    const __mmask64 feeds = _mm512_cmpeq_epi8_mask(here, line_feed);
    const __mmask64 starts =
        (feeds & vbmi_members(first, line_first)) |
        (_mm512_cmpeq_epi8_mask(here, blank) & vbmi_members(first, word_first));
    line_feeds[word] = feeds;
    candidates[word] = starts & vbmi_members(_mm512_loadu_si512(chunk + 2), second) &
                       vbmi_members(_mm512_loadu_si512(chunk + 3), third);
    run = feeds == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
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
  const auto all = [&sets](bool (byte_set::*exact)() const noexcept) {
    return (sets.line_first.*exact)() && (sets.word_first.*exact)() && (sets.second.*exact)() &&
           (sets.third.*exact)();
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
                             std::uint64_t* candidates) noexcept {
  switch (kernel) {
#if defined(SIFT_X86_KERNELS)
    case index_kernel::avx512_vbmi:
      return build_avx512_vbmi(data, size, sets, line_feeds, candidates);
    case index_kernel::avx512:
      return build_avx512(data, size, sets, line_feeds, candidates);
    case index_kernel::avx2:
      return build_avx2(data, size, sets, line_feeds, candidates);
#else
    case index_kernel::avx512_vbmi:
    case index_kernel::avx512:
    case index_kernel::avx2:
#endif
    case index_kernel::portable:
      break;
  }
  return build_portable(data, size, sets, line_feeds, candidates);
}

}  // namespace sift_runlog
