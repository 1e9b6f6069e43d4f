// Word marks and places: every kernel gives the portable bits with either kind of table, and
// next_candidate() hands out the lines whose tested words stand at their places.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "byte_index.hpp"
#include "line_reader.hpp"

namespace sift_runlog {
namespace {

using namespace std::string_literals;

TEST(word_index, EveryKernelGivesThePortableBitsWithEitherKindOfTableAndPlaces) {
  // Word sets with one member for each low four bits, then one with a byte from 0x80 up; a word
  // beginning with O counts only as word 3, up to 40 bytes into its line.
  std::vector<candidate_sets> all_sets = {{{byte_set("RCp"), byte_set("HA"), byte_set("_N")},
                                           {byte_set("OIN'"), byte_set("utx"), byte_set("tse")}},
                                          {{byte_set("R"), byte_set("H"), byte_set("_")},
                                           {byte_set("O\xc3"), byte_set("ut"), byte_set("t\x80")}}};
  std::mt19937 random(11);
  const std::string alphabet = "\n    RCpOIN'HAutxse_\xc3\x80\0"s;
  for (candidate_sets& sets : all_sets) {
    sets.word_place['O'] = 3;
    sets.piece_limit = 40;
    for (const index_kernel kernel :
         {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
      if (!kernel_available(kernel) ||
          (kernel == index_kernel::avx512_vbmi && !sets.word.first.low_six_bits_exact())) {
        continue;
      }
      for (int round = 0; round < 100; ++round) {
        const std::size_t size = random() % 700;
        std::string data(size + byte_index_padding, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = alphabet[random() % alphabet.size()];
        const std::size_t words = (size + 63) / 64;
        const std::size_t line_begin = random() % 64;
        const auto build = [&](index_kernel k, std::vector<std::uint64_t>& bits) {
          bits.assign(2 * words + 2, 0);
          return build_byte_index(k, data.data(), size, sets, &bits[0], &bits[words + 1],
                                  line_begin);
        };
        std::vector<std::uint64_t> got, expected;
        EXPECT_EQ(build(kernel, got), build(index_kernel::portable, expected));
        EXPECT_EQ(got, expected) << "kernel " << static_cast<int>(kernel);
      }
    }
  }
}

constexpr std::string_view starts[] = {"RH_START"};
constexpr std::string_view words[] = {"Out ", "'st"};
constexpr std::size_t places[] = {3, 0};

// Whether the line starts with a line pattern, or a blank is followed by a word pattern at its
// place (one more than the runs of blanks up to that blank; anywhere for place 0).
bool reference_candidate(std::string_view line) {
  std::size_t runs = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ' && (i == 0 || line[i - 1] != ' ')) ++runs;
    for (std::size_t k = 0; k < 2; ++k) {
      if (line[i] == ' ' && line.substr(i + 1).starts_with(words[k]) &&
          (places[k] == 0 || runs + 1 == places[k])) {
        return true;
      }
    }
  }
  return line.starts_with(starts[0]);
}

TEST(word_index, HandsOutTheLinesWithTestedWordsAtTheirPlaces) {
  std::mt19937 random(13);
  const std::vector<std::string> pieces = {" Out ", "Out ", " 'st", " ",  "  ", "\n",
                                           "\n",    "ab",   "x",    "\r", "Ou", "RH_START"};
  for (int round = 0; round < 2000; ++round) {
    std::string log;
    for (std::size_t i = random() % 80; i > 0; --i) {
      log += pieces[random() % pieces.size()];
      if (random() % 50 == 0) log += std::string(random() % 200, ' ');
    }
    const std::size_t piece_limit = round % 2 == 0 ? 16384 : 1 + random() % 100;
    const std::size_t block_size = 1 + random() % 200;
    const candidate_patterns patterns{starts, words, places};
    // Each line of next(), and whether next_candidate() must hand it out or may (the rest of a
    // long line, whose words' places were first judged from the start of the whole line).
    std::vector<std::pair<std::string, bool>> lines;
    memory_source all(log);
    line_reader every(all, block_size, piece_limit, patterns);
    std::size_t consumed = 0;
    bool after_piece = false;
    for (std::string_view line; every.next(line);) {
      consumed += line.size();
      const bool ends_in_line_feed = consumed < log.size() && log[consumed] == '\n';
      consumed += ends_in_line_feed ? 1 : 0;
      const bool must = !ends_in_line_feed || reference_candidate(line);
      if (must || after_piece) lines.emplace_back(line, must);
      after_piece = !ends_in_line_feed;
    }
    memory_source source(log);
    line_reader reader(source, block_size, piece_limit, patterns);
    std::vector<std::string> handed_out;
    for (std::string_view line; reader.next_candidate(line);) handed_out.emplace_back(line);
    // Whether lines[i..], less some of those it may leave out, is handed_out[j..].
    std::vector<std::vector<char>> match(lines.size() + 1,
                                         std::vector<char>(handed_out.size() + 1, 0));
    match[lines.size()][handed_out.size()] = 1;
    for (std::size_t i = lines.size(); i-- > 0;) {
      for (std::size_t j = handed_out.size() + 1; j-- > 0;) {
        match[i][j] = static_cast<char>(
            (!lines[i].second && match[i + 1][j]) ||
            (j < handed_out.size() && lines[i].first == handed_out[j] && match[i + 1][j + 1]));
      }
    }
    EXPECT_TRUE(match[0][0]) << "round " << round;
  }
}

}  // namespace
}  // namespace sift_runlog
