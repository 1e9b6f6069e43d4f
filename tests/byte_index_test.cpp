// The block index: the portable kernel gives the bits its definition gives, and every vector
// kernel the portable bits, with either kind of table and with word places. On a processor
// without a kernel, this is the only guard of that kernel. The count of bits in a range.
#include "byte_index.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sift_runlog {
namespace {

using namespace std::string_literals;

TEST(build_byte_index, PortableKernelMarksLineFeedsAndBlanksBeforePatternBytes) {
  candidate_sets sets{{byte_set("R"), byte_set("Hu"), byte_set("_t")},
                      {byte_set("O"), byte_set("Hu"), byte_set("_t")}};
  sets.word_place['O'] = 3;
  sets.piece_limit = 4;
  std::string data = " x Out\nRH_ Out\nRx Ou_ \nRut";
  const std::size_t size = data.size();
  data.resize(size + byte_index_padding, '\0');
  // Output words that hold old bits: the kernel must clear them.
  std::uint64_t feeds = ~std::uint64_t{0};
  std::uint64_t marks = ~std::uint64_t{0};
  build_byte_index(index_kernel::portable, data.data(), size, sets, &feeds, &marks);
  EXPECT_EQ(feeds, std::uint64_t{1} << 6 | std::uint64_t{1} << 14 | std::uint64_t{1} << 22);
  // " Out" at 2 (word 3, counted from the first byte), "\nRH_" at 6, " Out" at 10 (word 2, but
  // 4 bytes into its line: a later piece) and "\nRut" at 22; not " Ou_" at 17 (word 2, 3 bytes
  // into its line), "\nRx" at 14 nor " \nR" at 21.
  EXPECT_EQ(marks, std::uint64_t{1} << 2 | std::uint64_t{1} << 6 | std::uint64_t{1} << 10 |
                       std::uint64_t{1} << 22);
}

TEST(build_byte_index, EveryKernelGivesThePortableBitsWithEitherKindOfTableAndPlaces) {
  // Word sets with one member for each low four bits, then two with a byte from 0x80 up; a word
  // beginning with O counts only as word 3, up to 40 bytes into its line.
  std::vector<candidate_sets> all_sets = {{{byte_set("RCp"), byte_set("HA"), byte_set("_N")},
                                           {byte_set("OIN'"), byte_set("utx"), byte_set("tse")}},
                                          {{byte_set("R"), byte_set("H"), byte_set("_")},
                                           {byte_set("O\xc3"), byte_set("ut"), byte_set("t\x80")}},
                                          {{byte_set("R"), byte_set("H"), byte_set("_")},
                                           {byte_set("O"), byte_set("u"), byte_set("t\x80")}}};
  std::mt19937 random(11);
  // Words that match a set's three bytes or miss it by one, so that marks at every place are
  // common; blanks often, to number the words; the bytes from 0x80 up alone and in words.
  const std::vector<std::string> tokens = {
      "\n",  " ",   " ",      " ",   "  ",  "Out", "Ot\x80", "O\xc3t", "Oxt",  "Iux",  "Ntt",
      "'xe", "Ous", "\xc3ut", "RH_", "CAN", "pH_", "x",      "ab",     "\xc3", "\x80", "\0"s};
  for (candidate_sets& sets : all_sets) {
    sets.word_place['O'] = 3;
    sets.piece_limit = 40;
    for (const index_kernel kernel :
         {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
      if (!kernel_runs(kernel, sets)) continue;
      for (int round = 0; round < 100; ++round) {
        // Now and then a run without a line feed over whole words, for the stretches.
        std::string data;
        for (const std::size_t wanted = random() % 700; data.size() < wanted;) {
          data += tokens[random() % tokens.size()];
        }
        const std::size_t size = data.size();
        data.resize(size + byte_index_padding, '\0');
        if (round % 3 == 0 && size > 300) std::fill_n(data.begin() + 100, 200, 'x');
        const std::size_t words = (size + 63) / 64;
        const std::size_t line_begin = random() % 64;
        // Stale output words, unlike for each kernel: every word must be written.
        const auto build = [&](index_kernel k, std::vector<std::uint64_t>& bits,
                               std::uint64_t old) {
          bits.assign(2 * words + 2, old);
          std::vector<word_stretch> stretches;
          const stretch_log log{1, 0, &stretches};
          build_byte_index(k, data.data(), size, sets, &bits[0], &bits[words + 1], line_begin,
                           &log);
          std::vector<std::pair<std::size_t, std::size_t>> runs;
          for (const word_stretch& s : stretches) runs.emplace_back(s.first_word, s.last_word);
          return runs;
        };
        std::vector<std::uint64_t> got, expected;
        EXPECT_EQ(build(kernel, got, 0x5555), build(index_kernel::portable, expected, 0xaaaa));
        got.resize(2 * words + 1);
        expected.resize(2 * words + 1);
        got[words] = expected[words] = 0;
        EXPECT_EQ(got, expected) << "kernel " << static_cast<int>(kernel);
      }
    }
  }
}

TEST(count_bits_between, CountsTheBitsOfAnyRange) {
  std::mt19937_64 random(5);
  std::vector<std::uint64_t> bits(40);
  for (std::uint64_t& word : bits) word = random() & random();
  for (std::size_t begin = 0; begin < 2560; begin += 13) {
    std::uint64_t count = 0;  // the bits in [begin, end)
    for (std::size_t end = begin; end <= 2560;
         count += end < 2560 && (bits[end / 64] >> end % 64 & 1), ++end) {
      ASSERT_EQ(count_bits_between(bits.data(), begin, end), count) << begin << " " << end;
      ASSERT_EQ(any_bit(bits.data(), begin, end), count != 0);
    }
  }
  // A line feed in every byte: each byte of the vector count adds up to 8 per step.
  const std::vector<std::uint64_t> ones(200, ~std::uint64_t{0});
  EXPECT_EQ(count_bits_between(ones.data(), 3, 12797), 12794U);
  // A word between the two ends that holds its lowest bit alone.
  const std::uint64_t lowest_bit[3] = {0, 1, 0};
  EXPECT_TRUE(any_bit(lowest_bit, 0, 192));
}

TEST(best_kernel, TakesAVectorKernelForTheSetsItCanHold) {
  // Eight high nibbles fit the nibble tables, nine do not; 'A' and 0x01 share their low six bits.
  const byte_set eight("\x01\x11\x21\x31\x41\x51\x61\x71");
  const byte_set wide("\x01\x11\x21\x31\x41\x51\x61\x71\x81");
  const pattern_bytes line{byte_set("a"), byte_set("b"), byte_set("c")};
  EXPECT_EQ(best_kernel({line, {eight, byte_set("b"), byte_set("c")}}) == index_kernel::portable,
            !kernel_available(index_kernel::avx2));
  EXPECT_EQ(best_kernel({line, {wide, byte_set("b"), byte_set("c")}}), index_kernel::portable);
  EXPECT_NE(best_kernel({line, {byte_set("A\x01"), byte_set("b"), byte_set("c")}}),
            index_kernel::avx512_vbmi);
}

}  // namespace
}  // namespace sift_runlog
