// The block index alone, with each kernel this processor can run forced in turn, over the
// generated logs in memory: what the vector pass and the place filter cost apart from the rest
// of the reader.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "byte_index.hpp"
#include "generated_logs.hpp"
#include "line_reader.hpp"
#include "line_tests.hpp"

namespace {

using sift_runlog::candidate_sets;
using sift_runlog::index_kernel;
using sift_runlog::bench::generated_log;
using sift_runlog::bench::log_kind;

// The sets of the analysis's own patterns, as the reader makes them: the first three bytes of
// each, and the places of the words.
const candidate_sets& analysis_sets() {
  static sift_runlog::memory_source nothing("");
  static const sift_runlog::line_reader reader(
      nothing, sift_runlog::line_reader::default_block_size,
      sift_runlog::line_reader::default_piece_limit,
      {sift_runlog::candidate_line_starts, sift_runlog::candidate_word_starts,
       sift_runlog::candidate_word_places});
  return reader.index_sets();
}

void index_blocks(benchmark::State& state, log_kind kind, index_kernel kernel) {
  if (!sift_runlog::kernel_available(kernel)) {
    state.SkipWithError("this processor cannot run the kernel");
    return;
  }
  const std::string& log = generated_log(kind);
  const candidate_sets& sets = analysis_sets();
  constexpr std::size_t block = sift_runlog::line_reader::default_block_size;
  std::vector<char> buffer(block + sift_runlog::byte_index_padding);
  std::vector<std::uint64_t> feeds(block / 64 + 1), marks(block / 64 + 1);
  for (auto _ : state) {
    for (std::size_t at = 0; at + block <= log.size(); at += block) {
      // The reader's own step: the block is copied into its buffer, then indexed.
      log.copy(buffer.data(), block, at);
      sift_runlog::build_byte_index(kernel, buffer.data(), block, sets, feeds.data(), marks.data());
      benchmark::DoNotOptimize(marks.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}

BENCHMARK_CAPTURE(index_blocks, realistic_avx512_vbmi, log_kind::realistic,
                  index_kernel::avx512_vbmi);
BENCHMARK_CAPTURE(index_blocks, realistic_avx512, log_kind::realistic, index_kernel::avx512);
BENCHMARK_CAPTURE(index_blocks, realistic_avx2, log_kind::realistic, index_kernel::avx2);
BENCHMARK_CAPTURE(index_blocks, realistic_portable, log_kind::realistic, index_kernel::portable);
BENCHMARK_CAPTURE(index_blocks, hostile_avx512_vbmi, log_kind::hostile, index_kernel::avx512_vbmi);
BENCHMARK_CAPTURE(index_blocks, hostile_avx512, log_kind::hostile, index_kernel::avx512);
BENCHMARK_CAPTURE(index_blocks, hostile_avx2, log_kind::hostile, index_kernel::avx2);

}  // namespace
