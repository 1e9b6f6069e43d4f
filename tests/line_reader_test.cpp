// The line reader and the line filter on random logs of the words the line tests look for,
// with odd bytes and long runs, pieces and blocks of many sizes, against a plain definition:
// every line and piece in order, exactly the lines with a candidate pattern, and among them
// every line that a test takes. A line the scan passes over must be one no test can take.
#include "line_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "line_tests.hpp"
#include "perform_stdout_analysis.hpp"

namespace sift_runlog {
namespace {

constexpr candidate_patterns real_patterns{candidate_line_starts, candidate_word_starts,
                                           candidate_word_places};

struct expected_line {
  std::string text;
  bool has_pattern;    // begins with a line start, or holds a blank and a word start anywhere
  bool piece_or_last;  // a piece, or a last line without a line feed: handed out unchecked
};

// Whether `part` is `whole` less some of its lines.
bool is_subsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  std::size_t next = 0;
  for (const std::string& line : whole) next += next < part.size() && part[next] == line;
  return next == part.size();
}

// The lines and pieces, found one at a time.
std::vector<expected_line> reference(std::string_view bytes, std::size_t piece_limit) {
  std::vector<expected_line> lines;
  for (std::size_t begin = 0; begin < bytes.size();) {
    const std::size_t feed = std::min(bytes.find('\n', begin), bytes.size());
    const std::string_view line = bytes.substr(begin, std::min(feed - begin, piece_limit));
    bool has_pattern = false;
    for (const std::string_view start : candidate_line_starts)
      has_pattern |= line.starts_with(start);
    for (std::size_t i = 0; i < line.size(); ++i) {
      for (const std::string_view word : candidate_word_starts) {
        has_pattern |= line[i] == ' ' && line.substr(i + 1).starts_with(word);
      }
    }
    lines.push_back(
        {std::string(line), has_pattern, feed - begin > piece_limit || feed == bytes.size()});
    begin += feed - begin > piece_limit ? piece_limit : feed - begin + 1;
  }
  return lines;
}

// What the tests in `tests` make of the line: the state, and 1 when it stops the scan, 2 when
// it fails.
std::pair<analysis_state, int> run_tests(std::string_view line, test_set tests = all_tests) {
  analysis_state state;
  state.tool_name = new_a_string("marcie");  // so that more of the directives act
  int ending = 0;
  try {
    ending = handle_line(state, line, tests) == scan::stop ? 1 : 0;
  } catch (const std::exception&) {
    ending = 2;
  }
  return {state, ending};
}

// Whether a test takes the line: it changes the state, writes, fails or stops the scan.
bool taken_by_a_test(std::string_view line) { return run_tests(line) != run_tests(line, 0); }

// Lines of the tested words in any order and spacing, now and then odd bytes or a long run.
std::string random_log(std::mt19937& random) {
  // The keywords of every line test (the whole-line messages as one word and cut into words),
  // the other words the tests look at, and near misses; the empty word among them.
  std::vector<std::string_view> words = {
      "of",      "memory", "tool",     "cores",    "TECHNIQUES", "12",      "x",
      "",        "Can't",  "allocate", "perl:",    "warning:",   "Setting", "locale",
      "failed.", "A",      "Out\t",    "memory\r", "Ou",         "\xff",    "RH_STA"};
  for (const line_test& test : line_tests) words.push_back(test.keyword);
  std::string log;
  for (std::size_t lines = random() % 40; lines > 0; --lines) {
    for (std::size_t i = random() % 10; i > 0; --i) {
      // Blanks between the words, and now and then before the first: an empty word 1.
      if ((!log.empty() && log.back() != '\n') || random() % 4 == 0) {
        log.append(1 + random() % 2, ' ');
      }
      log += random() % 8 == 0 ? " " : words[random() % words.size()];
    }
    if (random() % 20 == 0) log += std::string(random() % 300, 'L');
    if (random() % 4 != 0) log += '\n';
  }
  return log;
}

TEST(line_reader, HandsOutEveryLineAndEveryLineATestTakes) {
  std::mt19937 random(3);
  int taken = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string log = random_log(random);
    const std::size_t piece_limit = round % 3 == 0 ? 16384 : 1 + random() % 200;
    const std::size_t block_size = 1 + random() % 300;
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<expected_line> expected = reference(log, piece_limit);
    std::vector<std::string> all, expected_all, handed_out, must, may;
    std::vector<bool> taken_here;
    for (const expected_line& line : expected) {
      expected_all.push_back(line.text);
      taken_here.push_back(taken_by_a_test(line.text));
      if (line.has_pattern || line.piece_or_last) may.push_back(line.text);
      if (taken_here.back() || line.piece_or_last) must.push_back(line.text);
      if (!taken_here.back()) continue;
      ++taken;
      EXPECT_TRUE(line.has_pattern || line.piece_or_last) << line.text;
    }
    memory_source all_source(log), candidate_source(log), visit_source(log);
    line_reader all_reader(all_source, block_size, piece_limit, real_patterns);
    for (std::string_view line; all_reader.next(line);) all.emplace_back(line);
    EXPECT_EQ(all, expected_all);
    // Every line a test takes is handed out, and no line without a pattern but a piece's rest.
    line_reader candidate_reader(candidate_source, block_size, piece_limit, real_patterns);
    for (std::string_view line; candidate_reader.next_candidate(line);) {
      handed_out.emplace_back(line);
      const pattern_matches found = candidate_reader.patterns_found();
      EXPECT_EQ(run_tests(line, tests_of(found.line_starts, found.word_starts)), run_tests(line))
          << line;
    }
    EXPECT_TRUE(is_subsequence(must, handed_out));
    EXPECT_TRUE(piece_limit < 16384 || is_subsequence(handed_out, may));
    line_reader visit_reader(visit_source, block_size, piece_limit, real_patterns);
    std::size_t visited = 0;
    EXPECT_TRUE(visit_reader.for_each_line([&](std::string_view line, bool candidate) {
      // Every line a test takes is flagged; a flag on another line only costs a look.
      EXPECT_TRUE(visited < expected.size() && line == expected[visited].text &&
                  (candidate || !taken_here[visited]));
      ++visited;
      return true;
    }));
    EXPECT_EQ(visited, expected.size());
  }
  EXPECT_GT(taken, 9000);
  // A line without patterns costs no test at all.
  EXPECT_EQ(tests_of(0, 0), test_set{0});
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

TEST(line_reader, HandsOutTheLinesWithTestedWordsAtTheirPlaces) {
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
    const candidate_patterns placed{starts, words, places};
    // Each line of next(), and whether next_candidate() must hand it out or may (the rest of a
    // long line, whose words' places were first judged from the start of the whole line).
    std::vector<std::pair<std::string, bool>> lines;
    memory_source all(log);
    line_reader every(all, block_size, piece_limit, placed);
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
    line_reader reader(source, block_size, piece_limit, placed);
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

// A reader that outlives its thread's own storage, as one held by a static object does at exit,
// frees its buffers rather than leave them to a thread that is gone: the process ends cleanly.
TEST(line_reader, EndsAfterItsThreadWithoutKeepingItsBuffers) {
  static memory_source source("a line\n");
  static line_reader late(source, line_reader::default_block_size, 16384, real_patterns);
  {
    memory_source other("x\n");
    const line_reader first(other, line_reader::default_block_size, 16384, real_patterns);
  }
  std::string_view line;
  EXPECT_TRUE(late.next(line));
}

TEST(line_reader, ReadsNothingBeyondTheBlockOfTheLastLineAskedFor) {
  struct endless_source final : byte_source {
    std::size_t read_some(char* buffer, std::size_t size) override {
      ++reads;
      std::fill_n(buffer, size, '\n');
      return size;
    }
    int reads = 0;
  } source;
  line_reader reader(source, 64, 16);
  std::string_view line;
  for (int i = 0; i < 64; ++i) ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(source.reads, 1);
}

}  // namespace
}  // namespace sift_runlog
