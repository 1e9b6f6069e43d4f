// Reading a file ahead on a second thread, which indexes part of each block: the same lines, and
// the same candidates with the same patterns, as from memory; a failed read reported as without
// it, and a thread only for large regular files.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "failures.hpp"
#include "line_reader.hpp"
#include "line_tests.hpp"

namespace sift_runlog {
namespace {

// Every line, or the candidates each with the words found at their places.
std::vector<std::string> lines_of(byte_source& source, std::size_t block_size, bool candidates) {
  line_reader reader(source, block_size, 300,
                     {candidate_line_starts, candidate_word_starts, candidate_word_places});
  std::vector<std::string> lines;
  for (std::string_view line; candidates ? reader.next_candidate(line) : reader.next(line);) {
    lines.push_back(std::string(line) + "|" +
                    std::to_string(candidates ? reader.patterns_found().word_starts : 0));
  }
  return lines;
}

TEST(read_ahead, ReadsAFileAsItIsReadFromMemory) {
  std::mt19937 random(17);
  const std::string_view words[] = {"ab", " ", "\n", " Out ", "memory", "RH_START\n", "'std::"};
  for (int round = 0; round < 40; ++round) {
    std::string log;
    // Lines longer than a piece now and then, across the part of a block the thread indexes.
    for (std::size_t i = random() % 3000; i > 0; --i) {
      log += random() % 200 == 0 ? std::string(random() % 1500, 'L')
                                 : std::string(words[random() % std::size(words)]);
    }
    log += std::string(random() % 500, 'L');
    const int fd = ::memfd_create("log", MFD_CLOEXEC);
    ASSERT_EQ(::write(fd, log.data(), log.size()), static_cast<ssize_t>(log.size()));
    for (const std::size_t block_size : {std::size_t{1}, std::size_t{64}, std::size_t{1000}}) {
      ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
      file_source file(fd, "log", read_ahead::always);
      ASSERT_TRUE(file.worth_reading_ahead());
      memory_source memory(log);
      const bool candidates = round % 2 == 0;
      EXPECT_EQ(lines_of(file, block_size, candidates), lines_of(memory, block_size, candidates));
    }
    ::close(fd);
  }
}

TEST(read_ahead, BeginsOnceTheBytesAskedForFirstAreRead) {
  struct counting_source final : byte_source {
    std::size_t read_some(char* buffer, std::size_t size) override {
      (std::this_thread::get_id() == caller ? here : ahead) += size;
      std::fill_n(buffer, size, '\n');
      return here + ahead > limit ? 0 : size;
    }
    [[nodiscard]] std::uint64_t read_ahead_from() const noexcept override { return 1000; }
    std::thread::id caller = std::this_thread::get_id();
    std::size_t here = 0, ahead = 0, limit = 5000;
  } source;
  (void)lines_of(source, 200, false);
  EXPECT_EQ(source.here, 1204U);  // four blocks of a piece and a byte
  EXPECT_GT(source.ahead, 0U);
  // Before the thread, blocks of the usual size, however large those it reads: a log that stops
  // early is read no further than without it.
  counting_source large;
  large.limit = 4 << 20;
  (void)lines_of(large, line_reader::read_ahead_block_size, true);
  EXPECT_EQ(large.here, line_reader::default_block_size);
}

TEST(read_ahead, AFailedReadReachesTheCaller) {
  struct failing_source final : byte_source {
    std::size_t read_some(char* buffer, std::size_t size) override {
      if (++reads > 3) throw input_error("cannot read log", EIO);
      std::fill_n(buffer, size, '\n');
      return size;
    }
    [[nodiscard]] std::uint64_t read_ahead_from() const noexcept override { return 0; }
    int reads = 0;
  } source;
  EXPECT_THROW((void)lines_of(source, 200, false), input_error);
}

TEST(read_ahead, ALargeFileOnlyNeverAPipeNorASmallFile) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_FALSE(file_source(ends[0], "pipe", read_ahead::always).worth_reading_ahead());
  const int file = ::memfd_create("log", MFD_CLOEXEC);
  EXPECT_FALSE(file_source(file, "small", read_ahead::when_large).worth_reading_ahead());
  ASSERT_EQ(::ftruncate(file, file_source::read_ahead_size), 0);
  EXPECT_TRUE(file_source(file, "large", read_ahead::when_large).worth_reading_ahead());
  for (const int fd : {ends[0], ends[1], file}) ::close(fd);
}

TEST(read_ahead, BySizeTheCallerFound) {
  constexpr auto large = file_source::read_ahead_size;
  EXPECT_TRUE(file_source(-1, "large", read_ahead::when_large, large).worth_reading_ahead());
  EXPECT_FALSE(file_source(-1, "smaller", read_ahead::when_large, large - 1).worth_reading_ahead());
  EXPECT_TRUE(file_source(-1, "small", read_ahead::always, 1).worth_reading_ahead());
  EXPECT_FALSE(file_source(-1, "large", read_ahead::never, large).worth_reading_ahead());
}

}  // namespace
}  // namespace sift_runlog
