// Reading a file ahead on a second thread: the same lines as from memory at every block size,
// a failed read reported as without it, and no thread where a read could wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "failures.hpp"
#include "line_reader.hpp"

namespace sift_runlog {
namespace {

// A file in memory holding `bytes`, read from its start.
int memory_file(const std::string& bytes) {
  const int fd = ::memfd_create("log", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  return fd;
}

std::vector<std::string> lines_of(byte_source& source, std::size_t block_size) {
  line_reader reader(source, block_size, 100);
  std::vector<std::string> lines;
  for (std::string_view line; reader.next(line);) lines.emplace_back(line);
  return lines;
}

TEST(read_ahead, ReadsAFileAsItIsReadFromMemory) {
  std::mt19937 random(17);
  for (int round = 0; round < 40; ++round) {
    std::string log;
    for (std::size_t i = random() % 3000; i > 0; --i) log += "ab \n"[random() % 4];
    if (round % 4 == 0) log += std::string(random() % 500, 'L');
    const int fd = memory_file(log);
    for (const std::size_t block_size : {std::size_t{1}, std::size_t{64}, std::size_t{1000}}) {
      ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
      file_source file(fd, "log", read_ahead::always);
      ASSERT_TRUE(file.worth_reading_ahead());
      memory_source memory(log);
      EXPECT_EQ(lines_of(file, block_size), lines_of(memory, block_size)) << round;
    }
    ::close(fd);
  }
}

TEST(read_ahead, AFailedReadReachesTheCaller) {
  class failing_source final : public byte_source {
   public:
    std::size_t read_some(char* buffer, std::size_t size) override {
      if (++reads > 3) throw input_error("cannot read log", EIO);
      std::fill_n(buffer, size, '\n');
      return size;
    }
    [[nodiscard]] bool worth_reading_ahead() const noexcept override { return true; }
    int reads = 0;
  } source;
  line_reader reader(source, 200, 100);
  std::string_view line;
  EXPECT_THROW(
      {
        while (reader.next(line)) {
        }
      },
      input_error);
}

TEST(read_ahead, OnlyLargeRegularFilesAreWorthIt) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  EXPECT_FALSE(file_source(pipe_ends[0], "pipe", read_ahead::always).worth_reading_ahead());
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  const int small = memory_file("RH_START\n");
  EXPECT_FALSE(file_source(small, "small", read_ahead::when_large).worth_reading_ahead());
  ASSERT_EQ(::ftruncate(small, file_source::read_ahead_size), 0);
  EXPECT_TRUE(file_source(small, "large", read_ahead::when_large).worth_reading_ahead());
  ::close(small);
}

}  // namespace
}  // namespace sift_runlog
