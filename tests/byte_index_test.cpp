#include "byte_index.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sift_runlog {
namespace {

TEST(byte_set, NibbleTablesHoldExactlyTheMembers) {
  const std::string members = "RCDSFNBp'\x80\xff";
  const byte_set set(members);
  ASSERT_TRUE(set.nibble_tables_exact());
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool member = members.find(c) != std::string::npos;
    EXPECT_EQ(set.contains(c), member) << byte;
    const auto low = set.low_nibbles()[static_cast<std::size_t>(byte & 15)];
    const auto high = set.high_nibbles()[static_cast<std::size_t>(byte >> 4)];
    EXPECT_EQ((low & high) != 0, member) << byte;
  }
}

TEST(byte_set, SixBitTableHoldsExactlyTheMembersWhenTheyDifferThere) {
  const byte_set set("RCp'\xc0");
  ASSERT_TRUE(set.low_six_bits_exact());
  for (int byte = 0; byte < 256; ++byte) {
    const auto entry = set.by_low_six_bits()[static_cast<std::size_t>(byte & 63)];
    EXPECT_EQ(entry == byte, set.contains(static_cast<char>(byte))) << byte;
  }
  // 'A' (0x41) and 0x01 share their low six bits.
  EXPECT_FALSE(byte_set("A\x01").low_six_bits_exact());
  EXPECT_TRUE(byte_set("AA").low_six_bits_exact());
}

TEST(byte_set, MoreThanEightHighNibblesAreLeftToThePortableKernel) {
  const byte_set set("\x01\x11\x21\x31\x41\x51\x61\x71\x81");
  EXPECT_FALSE(set.nibble_tables_exact());
  EXPECT_TRUE(set.contains('\x81'));
  EXPECT_EQ(best_kernel({{byte_set("a"), byte_set("b"), byte_set("c")},
                         {set, byte_set("a"), byte_set("b")}}),
            index_kernel::portable);
}

TEST(any_bit, LooksOnlyInsideTheRange) {
  const std::uint64_t bits[] = {std::uint64_t{1} << 63, 0, 0, 1};
  EXPECT_TRUE(any_bit(bits, 63, 64));
  EXPECT_FALSE(any_bit(bits, 0, 63));
  EXPECT_FALSE(any_bit(bits, 64, 192));
  EXPECT_TRUE(any_bit(bits, 64, 193));
  EXPECT_TRUE(any_bit(bits, 0, 256));
  EXPECT_FALSE(any_bit(bits, 5, 5));
}

TEST(build_byte_index, EveryKernelGivesThePortableBits) {
  const candidate_sets sets{{byte_set("RCp"), byte_set("HAue"), byte_set("_tx")},
                            {byte_set("OIN'"), byte_set("HAue"), byte_set("_tx")}};
  std::mt19937 random(7);
  // Bytes that make marks likely, and some that matter to no set.
  using namespace std::string_literals;
  const std::string alphabet = "\n \n RCpOIN'HAuexy_t\t\0\x80\xff"s;
  for (const index_kernel kernel :
       {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
    if (!kernel_available(kernel)) continue;
    for (int round = 0; round < 200; ++round) {
      const std::size_t size = random() % 700;
      std::string data(size + byte_index_padding, '\0');
      for (std::size_t i = 0; i < size; ++i) data[i] = alphabet[random() % alphabet.size()];
      const std::size_t words = (size + 63) / 64;
      std::vector<std::uint64_t> feeds(words + 1), marks(words + 1);
      std::vector<std::uint64_t> expected_feeds(words + 1), expected_marks(words + 1);
      const std::size_t run =
          build_byte_index(kernel, data.data(), size, sets, feeds.data(), marks.data());
      const std::size_t expected_run =
          build_byte_index(index_kernel::portable, data.data(), size, sets, expected_feeds.data(),
                           expected_marks.data());
      SCOPED_TRACE("kernel " + std::to_string(static_cast<int>(kernel)) + ", round " +
                   std::to_string(round));
      EXPECT_EQ(feeds, expected_feeds);
      EXPECT_EQ(marks, expected_marks);
      EXPECT_EQ(run, expected_run);
    }
  }
}

TEST(build_byte_index, MarksALineFeedOrBlankBeforeThreeBytesThatMayBeginAPattern) {
  const candidate_sets sets{{byte_set("R"), byte_set("Hu"), byte_set("_t")},
                            {byte_set("O"), byte_set("Hu"), byte_set("_t")}};
  std::string data = "x\nRH_ Out\nRx Ou_ \nRut";
  const std::size_t size = data.size();
  data.resize(size + byte_index_padding, '\0');
  std::uint64_t feeds = 0;
  std::uint64_t marks = 0;
  EXPECT_EQ(build_byte_index(index_kernel::portable, data.data(), size, sets, &feeds, &marks), 0u);
  EXPECT_EQ(feeds, std::uint64_t{1} << 1 | std::uint64_t{1} << 9 | std::uint64_t{1} << 17);
  // "\nRH_" at 1, " Out" at 5, " Ou_" at 12 and "\nRut" at 17: any second and third byte of
  // either kind counts; "\nRx" at 9 and " \nR" at 16 do not.
  EXPECT_EQ(marks, std::uint64_t{1} << 1 | std::uint64_t{1} << 5 | std::uint64_t{1} << 12 |
                       std::uint64_t{1} << 17);
}

}  // namespace
}  // namespace sift_runlog
