// The block index: every vector kernel must give the portable kernel's bits, and the portable
// kernel the bits its definition gives. On a processor without a kernel, this is the only guard
// of that kernel.
#include "byte_index.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sift_runlog {
namespace {

using namespace std::string_literals;

TEST(build_byte_index, PortableKernelMarksLineFeedsAndBlanksBeforePatternBytes) {
  const candidate_sets sets{byte_set("R"), byte_set("O"), byte_set("Hu"), byte_set("_t")};
  std::string data = "x\nRH_ Out\nRx Ou_ \nRut";
  const std::size_t size = data.size();
  data.resize(size + byte_index_padding, '\0');
  // Output words that hold old bits: the kernel must clear them.
  std::uint64_t feeds = ~std::uint64_t{0};
  std::uint64_t marks = ~std::uint64_t{0};
  EXPECT_EQ(build_byte_index(index_kernel::portable, data.data(), size, sets, &feeds, &marks), 0u);
  EXPECT_EQ(feeds, std::uint64_t{1} << 1 | std::uint64_t{1} << 9 | std::uint64_t{1} << 17);
  // "\nRH_" at 1, " Out" at 5, " Ou_" at 12 and "\nRut" at 17; not "\nRx" at 9 nor " \nR" at 16.
  EXPECT_EQ(marks, std::uint64_t{1} << 1 | std::uint64_t{1} << 5 | std::uint64_t{1} << 12 |
                       std::uint64_t{1} << 17);
}

TEST(build_byte_index, EveryKernelGivesThePortableBits) {
  // Sets with high bytes and shared nibbles, and an alphabet that makes marks likely.
  const candidate_sets sets{byte_set("RCp\x80"), byte_set("OIN'"), byte_set("HAue\xff"),
                            byte_set("_tx")};
  const std::string alphabet = "\n \n RCpOIN'HAuexy_t\t\0\x80\xff"s;
  std::mt19937 random(7);
  for (const index_kernel kernel :
       {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
    if (!kernel_available(kernel)) continue;
    for (int round = 0; round < 300; ++round) {
      // Lines without a line feed for several words now and then, for the longest run.
      const std::size_t size = random() % 900;
      std::string data(size + byte_index_padding, '\0');
      for (std::size_t i = 0; i < size; ++i) {
        data[i] = random() % 8 == 0 ? 'x' : alphabet[random() % alphabet.size()];
      }
      if (round % 3 == 0 && size > 300) std::fill_n(data.begin() + 100, 200, 'x');
      const std::size_t words = (size + 63) / 64;
      std::vector<std::uint64_t> feeds(words, random()), marks(words, random());
      std::vector<std::uint64_t> expected_feeds(words), expected_marks(words);
      const std::size_t run =
          build_byte_index(kernel, data.data(), size, sets, feeds.data(), marks.data());
      SCOPED_TRACE("kernel " + std::to_string(static_cast<int>(kernel)) + ", round " +
                   std::to_string(round));
      EXPECT_EQ(run, build_byte_index(index_kernel::portable, data.data(), size, sets,
                                      expected_feeds.data(), expected_marks.data()));
      EXPECT_EQ(feeds, expected_feeds);
      EXPECT_EQ(marks, expected_marks);
    }
  }
}

TEST(best_kernel, TakesAVectorKernelForTheSetsItCanHold) {
  // Eight high nibbles fit the nibble tables, nine do not; 'A' and 0x01 share their low six bits.
  const byte_set eight("\x01\x11\x21\x31\x41\x51\x61\x71");
  const byte_set wide("\x01\x11\x21\x31\x41\x51\x61\x71\x81");
  EXPECT_EQ(
      best_kernel({eight, byte_set("a"), byte_set("b"), byte_set("c")}) == index_kernel::portable,
      !kernel_available(index_kernel::avx2));
  EXPECT_EQ(best_kernel({wide, byte_set("a"), byte_set("b"), byte_set("c")}),
            index_kernel::portable);
  EXPECT_NE(best_kernel({byte_set("A\x01"), byte_set("a"), byte_set("b"), byte_set("c")}),
            index_kernel::avx512_vbmi);
}

}  // namespace
}  // namespace sift_runlog
