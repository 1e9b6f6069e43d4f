// The word-start bits of the index and what the reader makes of them: every kernel gives the
// portable bits with either kind of table, and a word's number and place agree with the words
// the line is cut into.
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

std::string random_text(std::mt19937& random, std::string_view alphabet, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) text += alphabet[random() % alphabet.size()];
  return text;
}

TEST(word_index, EveryKernelGivesThePortableBitsWithEitherKindOfTableAndPlaces) {
  // Word sets with one member for each low four bits, then one with a byte from 0x80 up; words
  // beginning with O count only as word 3, up to 40 bytes into their line.
  std::vector<candidate_sets> all_sets = {{{byte_set("RCp"), byte_set("HA"), byte_set("_N")},
                                           {byte_set("OIN'"), byte_set("utx"), byte_set("tse")}},
                                          {{byte_set("R"), byte_set("H"), byte_set("_")},
                                           {byte_set("O\xc3"), byte_set("ut"), byte_set("t\x80")}}};
  for (candidate_sets& sets : all_sets) {
    sets.word_place['O'] = 3;
    sets.piece_limit = 40;
  }
  std::mt19937 random(11);
  const std::string alphabet = "\n    RCpOIN'HAutxse_\xc3\x80\0"s;
  for (const candidate_sets& sets : all_sets) {
    for (const index_kernel kernel :
         {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
      if (!kernel_available(kernel) ||
          (kernel == index_kernel::avx512_vbmi && !sets.word.first.low_six_bits_exact())) {
        continue;
      }
      for (int round = 0; round < 100; ++round) {
        const std::size_t size = random() % 700;
        std::string data = random_text(random, alphabet, size) + std::string(byte_index_padding, 0);
        const std::size_t words = (size + 63) / 64;
        const std::size_t line_begin = random() % 64;
        std::vector<std::uint64_t> got(2 * words + 2), expected(2 * words + 2);
        const auto build = [&](index_kernel k, std::vector<std::uint64_t>& bits) {
          return build_byte_index(k, data.data(), size, sets, &bits[0], &bits[words + 1],
                                  line_begin);
        };
        SCOPED_TRACE("kernel " + std::to_string(static_cast<int>(kernel)));
        EXPECT_EQ(build(kernel, got), build(index_kernel::portable, expected));
        EXPECT_EQ(got, expected);
      }
    }
  }
}

// The number of the word after the blank at `position`: one more than the runs of blanks up to
// it, as the line's words are cut.
std::size_t reference_word_after(std::string_view line, std::size_t position) {
  std::size_t runs = 0;
  for (std::size_t i = 0; i <= position; ++i) {
    if (line[i] == ' ' && (i == 0 || line[i - 1] != ' ')) ++runs;
  }
  return runs + 1;
}

constexpr std::string_view starts[] = {"RH_START"};
constexpr std::string_view words[] = {"Out ", "'st"};
constexpr std::size_t places[] = {3, 0};

// Whether a line is a candidate: it starts with a line pattern, or a blank is followed by a
// word pattern at its place (anywhere for place 0).
bool reference_candidate(std::string_view line) {
  if (line.starts_with(starts[0])) return true;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    for (std::size_t k = 0; k < 2; ++k) {
      if (line[i] == ' ' && line.substr(i + 1).starts_with(words[k]) &&
          (places[k] == 0 || reference_word_after(line, i) == places[k])) {
        return true;
      }
    }
  }
  return false;
}

TEST(word_index, WordNumbersAndPlacesAgreeWithTheWordsOfTheLine) {
  std::mt19937 random(13);
  const std::vector<std::string> pieces = {" Out ", "Out ", " 'st", " ",        "  ", "\n",
                                           "\n",    "ab",   "x",    "RH_START", "\r", "Ou"};
  for (int round = 0; round < 2000; ++round) {
    std::string log;
    for (std::size_t i = random() % 80; i > 0; --i) {
      log += pieces[random() % pieces.size()];
      if (random() % 50 == 0) log += std::string(random() % 200, ' ');
    }
    const std::size_t piece_limit = round % 2 == 0 ? 16384 : 1 + random() % 100;
    const std::size_t block_size = 1 + random() % 200;
    const candidate_patterns patterns{starts, words, places};
    SCOPED_TRACE("round " + std::to_string(round));
    // Every line as next() gives it, and whether next_candidate() must hand it out (a
    // candidate, a piece, a last line without line feed) or may (the rest of a long line,
    // whose words were first counted from the start of the whole line).
    std::vector<std::pair<std::string, bool>> lines;
    {
      memory_source source(log);
      line_reader reader(source, block_size, piece_limit, patterns);
      std::size_t consumed = 0;
      bool after_piece = false;
      for (std::string_view line; reader.next(line);) {
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
          if (line[i] == ' ' && line[i + 1] != ' ') {
            ASSERT_EQ(reader.word_after(i), reference_word_after(line, i)) << line << " @" << i;
          }
        }
        consumed += line.size();
        const bool ends_in_line_feed = consumed < log.size() && log[consumed] == '\n';
        if (ends_in_line_feed) ++consumed;
        const bool must = !ends_in_line_feed || reference_candidate(line);
        if (must || after_piece) lines.emplace_back(line, must);
        after_piece = !ends_in_line_feed;
      }
    }
    memory_source source(log);
    line_reader reader(source, block_size, piece_limit, patterns);
    std::vector<std::string> handed_out;
    for (std::string_view line; reader.next_candidate(line);) handed_out.emplace_back(line);
    // Whether lines[i..] less some of the lines it may leave out is handed_out[j..].
    const std::size_t n = lines.size();
    const std::size_t m = handed_out.size();
    std::vector<std::vector<char>> matches(n + 1, std::vector<char>(m + 1, 0));
    matches[n][m] = 1;
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m + 1; j-- > 0;) {
        matches[i][j] =
            static_cast<char>((!lines[i].second && matches[i + 1][j]) ||
                              (j < m && lines[i].first == handed_out[j] && matches[i + 1][j + 1]));
      }
    }
    EXPECT_TRUE(matches[0][0]);
  }
}

}  // namespace
}  // namespace sift_runlog
