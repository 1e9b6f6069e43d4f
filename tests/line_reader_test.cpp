#include "line_reader.hpp"

#include <gtest/gtest.h>

#include <random>
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
