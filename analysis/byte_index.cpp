#include "byte_index.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "index_parts.hpp"

namespace sift_runlog {

using namespace index_parts;

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

void build_portable(const char* data, std::size_t size, const candidate_sets& sets,
                    index_writer<portable_check> out) noexcept {
  const std::size_t words = (size + 63) / 64;
  for (std::size_t word = 0; word < words; ++word) {
    const char* const chunk = data + word * 64;
    out.put(word, line_feeds_portable(chunk), blanks_of(chunk), word_marks_portable(chunk, sets));
  }
  out.finish(words);
}

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

#if defined(SIFT_X86_KERNELS)
namespace {
bool filter_instructions() noexcept {
  return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0 &&
         __builtin_cpu_supports("bmi") != 0 && __builtin_cpu_supports("bmi2") != 0;
}
}  // namespace
#endif

bool kernel_available(index_kernel kernel) noexcept {
#if defined(SIFT_X86_KERNELS)
  // Every vector kernel checks the places of its marks with AVX2 and the bit instructions,
  // which every processor with these vector units has.
  switch (kernel) {
    case index_kernel::avx2:
      return filter_instructions();
    case index_kernel::avx512:
      return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
             filter_instructions();
    case index_kernel::avx512_vbmi:
      return kernel_available(index_kernel::avx512) && __builtin_cpu_supports("avx512vbmi") != 0;
    case index_kernel::portable:
      break;
  }
#endif
  return kernel == index_kernel::portable;
}

bool kernel_runs(index_kernel kernel, const candidate_sets& sets) noexcept {
  const pattern_bytes& word = sets.word;
  const auto all = [&word](bool (byte_set::*exact)() const noexcept) {
    return (word.first.*exact)() && (word.second.*exact)() && (word.third.*exact)();
  };
  switch (kernel) {
    case index_kernel::avx512_vbmi:
      return all(&byte_set::low_six_bits_exact) && kernel_available(kernel);
    case index_kernel::avx512:
    case index_kernel::avx2:
      return all(&byte_set::nibble_tables_exact) && kernel_available(kernel);
    case index_kernel::portable:
      break;
  }
  return true;
}

index_kernel best_kernel(const candidate_sets& sets) noexcept {
  for (const index_kernel kernel :
       {index_kernel::avx512_vbmi, index_kernel::avx512, index_kernel::avx2}) {
    if (kernel_runs(kernel, sets)) return kernel;
  }
  return index_kernel::portable;
}

void build_byte_index(index_kernel kernel, const char* data, std::size_t size,
                      const candidate_sets& sets, std::uint64_t* line_feeds,
                      std::uint64_t* candidates, std::size_t line_begin,
                      const stretch_log* long_stretches) noexcept {
  const index_target target{line_feeds, candidates, line_begin, long_stretches};
  if (long_stretches != nullptr) long_stretches->stretches->clear();
  switch (kernel) {
#if defined(SIFT_X86_KERNELS)
    case index_kernel::avx512_vbmi:
      return build_avx512_vbmi(data, size, sets, target);
    case index_kernel::avx512:
      return build_avx512(data, size, sets, target);
    case index_kernel::avx2:
      return build_avx2(data, size, sets, target);
#else
    case index_kernel::avx512_vbmi:
    case index_kernel::avx512:
    case index_kernel::avx2:
#endif
    case index_kernel::portable:
      break;
  }
  with_writer<portable_check>(data, sets, target,
                              [&](const auto& out) { build_portable(data, size, sets, out); });
}

std::uint64_t count_bits_between(const std::uint64_t* bits, std::size_t begin,
                                 std::size_t end) noexcept {
#if defined(SIFT_X86_KERNELS)
  static const bool avx2 = kernel_available(index_kernel::avx2);
  if (avx2) return count_with_avx2(bits, begin, end);
#endif
  return count_between(bits, begin, end);
}

}  // namespace sift_runlog
