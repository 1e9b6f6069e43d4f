#include "byte_index.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__x86_64__)
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

// 1 when the three bytes after `at` may begin a pattern, else 0. Without branches: which bytes
// follow a line feed is as good as random, and a mispredicted branch costs more than the look-ups.
std::uint64_t pattern_follows(const char* at, const pattern_bytes& set) noexcept {
  return std::uint64_t{set.first.contains(at[1])} & std::uint64_t{set.second.contains(at[2])} &
         std::uint64_t{set.third.contains(at[3])};
}

// The marks of the line feeds among `feeds`, the line-feed bits of the chunk at `chunk`.
std::uint64_t line_start_marks(const char* chunk, std::uint64_t feeds,
                               const pattern_bytes& line) noexcept {
  std::uint64_t marks = 0;
  while (feeds != 0) {
    const int bit = std::countr_zero(feeds);
    marks |= pattern_follows(chunk + bit, line) << bit;
    feeds &= feeds - 1;
  }
  return marks;
}

// The marks of the blanks of one 64-byte chunk, one byte at a time.
std::uint64_t word_marks_portable(const char* chunk, const candidate_sets& sets) noexcept {
  std::uint64_t marks = 0;
  for (std::size_t bit = 0; bit < 64; ++bit) {
    if (chunk[bit] == ' ' && pattern_follows(chunk + bit, sets.word) != 0) {
      marks |= std::uint64_t{1} << bit;
    }
  }
  return marks;
}

std::uint64_t line_feeds_portable(const char* chunk) noexcept {
  std::uint64_t feeds = 0;
  for (std::size_t bit = 0; bit < 64; ++bit) {
    if (chunk[bit] == '\n') feeds |= std::uint64_t{1} << bit;
  }
  return feeds;
}

// The blanks of the 64 bytes at `chunk`, one bit each.
std::uint64_t blanks_of(const char* chunk) noexcept {
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

void build_portable(const char* data, std::size_t size, const candidate_sets& sets,
                    index_writer out) noexcept {
  const std::size_t words = (size + 63) / 64;
  for (std::size_t word = 0; word < words; ++word) {
    const char* const chunk = data + word * 64;
    out.put(word, line_feeds_portable(chunk), blanks_of(chunk), word_marks_portable(chunk, sets));
  }
  out.finish(words);
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
__attribute__((target("avx2"))) void build_avx2(const char* data, std::size_t size,
                                                const candidate_sets& sets,
                                                index_writer out) noexcept {
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
__attribute__((target("avx512f,avx512bw"))) void build_avx512(const char* data, std::size_t size,
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
    out.put(index, feeds, blanks, marks);
  }
  out.finish(words);
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

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void build_avx512_vbmi(
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
    out.put(index, feeds, blanks, marks);
  }
  out.finish(words);
}

#endif

}  // namespace

std::size_t blank_runs(const char* text, std::size_t size, bool blank_before) noexcept {
  std::size_t runs = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step: the blanks as a mask, the runs as the blanks after no blank.
  const __m128i blank = _mm_set1_epi8(' ');
  for (std::size_t at = 0; at < size; at += 16) {
    auto blanks = static_cast<std::uint32_t>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)), blank)));
    if (size - at < 16) blanks &= (std::uint32_t{1} << (size - at)) - 1;
    const std::uint32_t beginnings = blanks & ~(blanks << 1 | std::uint32_t{blank_before});
    runs += static_cast<std::size_t>(count_bits(beginnings));
    blank_before = (blanks >> 15 & 1) != 0;
  }
#else
  for (std::size_t at = 0; at < size; ++at) {
    const bool is_blank = text[at] == ' ';
    if (is_blank && !blank_before) ++runs;
    blank_before = is_blank;
  }
#endif
  return runs;
}

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

void build_byte_index(index_kernel kernel, const char* data, std::size_t size,
                      const candidate_sets& sets, std::uint64_t* line_feeds,
                      std::uint64_t* candidates, std::size_t line_begin,
                      const stretch_log* long_stretches) noexcept {
  place_filter places(data, line_begin, sets);
  const bool any_place = std::any_of(sets.word_place.begin(), sets.word_place.end(),
                                     [](std::uint8_t place) { return place != 0; });
  const index_writer out{
      data, sets.line, line_feeds, candidates, any_place ? &places : nullptr, long_stretches};
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
  build_portable(data, size, sets, out);
}

namespace {

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

#if defined(SIFT_X86_KERNELS)
// The whole 256-bit steps between the edge words counted by a table of the sixteen nibbles, the
// counts of each byte summed in bytes for up to 31 steps (at most 8 a step), then in 64-bit
// lanes: about half the instructions of a popcount per word.
__attribute__((target("avx2,popcnt"))) std::uint64_t count_with_avx2(const std::uint64_t* bits,
                                                                     std::size_t begin,
                                                                     std::size_t end) noexcept {
  const std::size_t first = begin / 64;
  const std::size_t last = (end - 1) / 64;
  if (begin >= end || last - first < 9) return count_between<true>(bits, begin, end);
  std::uint64_t total =
      count_between<true>(bits, begin, first * 64 + 64) + count_between<true>(bits, last * 64, end);
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
#endif

}  // namespace

std::uint64_t count_bits_between(const std::uint64_t* bits, std::size_t begin,
                                 std::size_t end) noexcept {
#if defined(SIFT_X86_KERNELS)
  static const bool avx2 = kernel_available(index_kernel::avx2);
  if (avx2) return count_with_avx2(bits, begin, end);
#endif
  return count_between<false>(bits, begin, end);
}

}  // namespace sift_runlog
