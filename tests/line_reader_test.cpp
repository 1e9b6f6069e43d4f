#include "line_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog {
namespace {

using namespace std::string_literals;

std::vector<std::string> read_all(std::string_view bytes, std::size_t block_size,
                                  std::size_t piece_limit) {
  memory_source source(bytes);
  line_reader reader(source, block_size, piece_limit);
  std::vector<std::string> lines;
  for (std::string_view line; reader.next(line);) lines.emplace_back(line);
  return lines;
}

// The lines as the reader must give them, found one byte at a time.
std::vector<std::string> reference_lines(std::string_view bytes, std::size_t piece_limit) {
  std::vector<std::string> lines;
  std::string line;
  bool pending = false;
  for (const char c : bytes) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      pending = false;
      continue;
    }
    if (line.size() == piece_limit) {
      lines.push_back(line);
      line.clear();
    }
    line += c;
    pending = true;
  }
  if (pending) lines.push_back(line);
  return lines;
}

struct reader_case {
  std::string name;
  std::string bytes;
  std::vector<std::string> lines;  // with a piece limit of 4
};

const std::vector<reader_case> reader_cases = {
    {"empty source", "", {}},
    {"one line feed", "\n", {""}},
    {"two line feeds", "\n\n", {"", ""}},
    {"last line without line feed", "ab\ncd", {"ab", "cd"}},
    {"carriage return and NUL belong to the line", "a\r\n\0b\n"s, {"a\r", "\0b"s}},
    {"line shorter than a piece", "abc\n", {"abc"}},
    {"line of exactly a piece", "abcd\nx\n", {"abcd", "x"}},
    {"line one byte over a piece", "abcde\n", {"abcd", "e"}},
    {"line of two pieces exactly", "abcdefgh\n", {"abcd", "efgh"}},
    {"long last line without line feed", "abcdefghij", {"abcd", "efgh", "ij"}},
    {"piece of exactly the limit at the end", "abcd", {"abcd"}},
    {"empty line after a full piece", "abcd\n\n", {"abcd", ""}},
    {"form feed is an ordinary byte", "\f\n", {"\f"}},
};

TEST(line_reader, HandsOutLinesAndPiecesAtEveryBlockSize) {
  for (const reader_case& row : reader_cases) {
    for (std::size_t block_size = 1; block_size <= 12; ++block_size) {
      SCOPED_TRACE(row.name + ", block size " + std::to_string(block_size));
      EXPECT_EQ(read_all(row.bytes, block_size, 4), row.lines);
    }
  }
}

TEST(line_reader, AgreesWithAByteByByteReaderOnRandomInput) {
  std::mt19937 random(20261206);
  // Mostly short lines, with line feeds, blanks, NULs and high bytes, and now and then a run
  // without line feed longer than a piece.
  const std::string alphabet = "ab \n\r\0\xff\n"s;
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const auto length = std::uniform_int_distribution<std::size_t>(0, 400)(random);
    for (std::size_t i = 0; i < length; ++i) {
      bytes += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
      if (random() % 50 == 0) bytes += std::string(random() % 40, 'L');
    }
    const std::size_t piece_limit = 1 + random() % 20;
    const std::size_t block_size = 1 + random() % 64;
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(read_all(bytes, block_size, piece_limit), reference_lines(bytes, piece_limit));
  }
}

TEST(line_reader, CutsLongLinesInto16384BytePiecesByDefault) {
  const std::string line = std::string(16384, 'a') + std::string(16384, 'b') + "c";
  const std::vector<std::string> lines =
      read_all(line + "\n" + std::string(16384, 'd') + "\n", line_reader::default_block_size,
               line_reader::default_piece_limit);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(16384, 'a'));
  EXPECT_EQ(lines[1], std::string(16384, 'b'));
  EXPECT_EQ(lines[2], "c");
  EXPECT_EQ(lines[3], std::string(16384, 'd'));
}

TEST(line_reader, ReadsNothingBeyondTheBlockOfTheLastLineAskedFor) {
  class counting_source final : public byte_source {
   public:
    std::size_t read_some(char* buffer, std::size_t size) override {
      ++reads;
      std::fill_n(buffer, size, 'x');
      buffer[size - 1] = '\n';
      return size;
    }
    int reads = 0;
  } source;
  line_reader reader(source, 64, 16);
  std::string_view line;
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(source.reads, 1);
}

}  // namespace
}  // namespace sift_runlog

namespace sift_runlog {
namespace {

constexpr std::string_view test_line_starts[] = {"RH_START", "Can't"};
constexpr std::string_view test_word_starts[] = {"Out ", "'st"};

// Whether the line is a candidate, found the slow way.
bool reference_candidate(std::string_view line) {
  for (const std::string_view start : test_line_starts) {
    if (line.starts_with(start)) return true;
  }
  for (std::size_t i = 0; i < line.size(); ++i) {
    for (const std::string_view word : test_word_starts) {
      if (line[i] == ' ' && line.substr(i + 1).starts_with(word)) return true;
    }
  }
  return false;
}

std::string random_log(std::mt19937& random) {
  static const std::vector<std::string> pieces = {"RH_START",
                                                  "Can't",
                                                  " Out ",
                                                  " 'st",
                                                  "Out",
                                                  " ",
                                                  "  ",
                                                  "\n",
                                                  "\n",
                                                  "\n",
                                                  "x",
                                                  "yy",
                                                  "RH_STAR",
                                                  "\nRH_START",
                                                  " Ou",
                                                  "\r",
                                                  std::string(1, '\0'),
                                                  "\xff"};
  std::string log;
  const std::size_t count = random() % 120;
  for (std::size_t i = 0; i < count; ++i) {
    log += pieces[random() % pieces.size()];
    if (random() % 40 == 0) log += std::string(random() % 300, 'L');
  }
  return log;
}

TEST(line_reader, NextCandidateHandsOutExactlyTheCandidates) {
  std::mt19937 random(3);
  for (int round = 0; round < 3000; ++round) {
    const std::string log = random_log(random);
    const std::size_t piece_limit = round % 3 == 0 ? 16384 : 1 + random() % 200;
    const std::size_t block_size = 1 + random() % 300;
    const candidate_patterns patterns{test_line_starts, test_word_starts};
    // The lines of next() that are candidates, and every piece and last line without line
    // feed, which are handed out unchecked.
    std::vector<std::string> expected;
    {
      memory_source source(log);
      line_reader reader(source, block_size, piece_limit, patterns);
      std::size_t consumed = 0;
      for (std::string_view line; reader.next(line);) {
        consumed += line.size();
        const bool ends_in_line_feed = consumed < log.size() && log[consumed] == '\n';
        if (ends_in_line_feed) ++consumed;
        if (!ends_in_line_feed || reference_candidate(line)) expected.emplace_back(line);
      }
    }
    std::vector<std::string> handed_out;
    {
      memory_source source(log);
      line_reader reader(source, block_size, piece_limit, patterns);
      for (std::string_view line; reader.next_candidate(line);) handed_out.emplace_back(line);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(handed_out, expected);
  }
}

TEST(line_reader, ForEachLineVisitsEveryLineAndFlagsEveryCandidate) {
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    const std::string log = random_log(random);
    const std::size_t piece_limit = round % 3 == 0 ? 16384 : 1 + random() % 200;
    const std::size_t block_size = 1 + random() % 300;
    const candidate_patterns patterns{test_line_starts, test_word_starts};
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::string> visited;
    {
      memory_source source(log);
      line_reader reader(source, block_size, piece_limit, patterns);
      EXPECT_TRUE(reader.for_each_line([&](std::string_view line, bool candidate) {
        if (reference_candidate(line)) {
          EXPECT_TRUE(candidate) << line;
        }
        visited.emplace_back(line);
        return true;
      }));
    }
    EXPECT_EQ(visited, read_all(log, block_size, piece_limit));
  }
}

TEST(line_reader, RefusesPatternsItCannotIndex) {
  memory_source source("");
  const std::string_view too_short[] = {"x"};
  const std::string_view with_line_feed[] = {"a\nb"};
  EXPECT_THROW(line_reader(source, 64, 16, {too_short, {}}), std::invalid_argument);
  EXPECT_THROW(line_reader(source, 64, 16, {{}, with_line_feed}), std::invalid_argument);
}

}  // namespace
}  // namespace sift_runlog
