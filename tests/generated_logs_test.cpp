// Generated logs of every kind graded with read blocks of every size, tiny ones included: the
// block size, the index kernel's chunking and the reader's jumps must never change a byte.
#include <gtest/gtest.h>

#include <string>

#include "chunked_source.hpp"
#include "log_generator.hpp"
#include "run_analysis.hpp"

namespace sift_runlog {
namespace {

// Reads of at most `chunk` bytes into blocks of `block_size`.
std::string grade(const std::string& log, bool debug, std::size_t block_size,
                  std::size_t chunk = std::size_t{1} << 30) {
  testing_support::chunked_source source(log, chunk);
  string_output_sink out;
  analysis_state state;
  const run_outcome outcome =
      run_analysis("generated.log", source, {false, debug}, out, state, block_size);
  EXPECT_EQ(outcome.exit_status, 0);
  return out.text();
}

TEST(generated_logs, GiveTheSameBytesAtEveryBlockSize) {
  for (const bench::log_kind kind : {bench::log_kind::realistic, bench::log_kind::dense,
                                     bench::log_kind::early_stop, bench::log_kind::state_space}) {
    for (const std::uint64_t seed : {1u, 2u}) {
      bench::log_shape shape;
      shape.kind = kind;
      shape.size = 200 * 1024;
      shape.seed = seed;
      shape.answers = seed == 1 ? bench::answer_kind::boolean : bench::answer_kind::numeric;
      shape.stop_at = 60 * 1024;
      const std::string log = bench::make_log(shape);
      const std::string expected = bench::expected_result_line(shape);
      const std::string traced = grade(log, true, line_reader::default_block_size);
      ASSERT_TRUE(traced.ends_with("printing line\n" + expected));
      for (const std::size_t block_size :
           {std::size_t{1}, std::size_t{3}, std::size_t{64}, std::size_t{1000}, std::size_t{4096},
            std::size_t{65536}, line_reader::default_block_size, std::size_t{1} << 20}) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + ", seed " +
                     std::to_string(seed) + ", block size " + std::to_string(block_size));
        EXPECT_EQ(grade(log, false, block_size), expected);
        EXPECT_EQ(grade(log, true, block_size), traced);
      }
      for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{63},
                                      std::size_t{64}, std::size_t{65}, std::size_t{5000}}) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + ", reads of " +
                     std::to_string(chunk));
        EXPECT_EQ(grade(log, false, line_reader::default_block_size, chunk), expected);
        if (chunk > 1) {
          EXPECT_EQ(grade(log, true, 4096, chunk), traced);
        }
      }
    }
  }
}

}  // namespace
}  // namespace sift_runlog
