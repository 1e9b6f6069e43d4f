// The block index alone, with each kernel this processor can run forced in turn, over the
// generated logs in memory: what the vector pass costs apart from the rest of the reader.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "byte_index.hpp"
#include "generated_logs.hpp"
#include "line_reader.hpp"
#include "line_tests.hpp"

namespace {

using sift_runlog::byte_set;
using sift_runlog::candidate_sets;
using sift_runlog::index_kernel;
using sift_runlog::bench::generated_log;
using sift_runlog::bench::log_kind;

// The sets of the analysis's own patterns: the first three bytes of each, by place.
candidate_sets analysis_sets() {
  std::string line[3];
  std::string word[3];
  for (const std::string_view start : sift_runlog::candidate_line_starts) {
    for (std::size_t i = 0; i < 3; ++i) line[i] += start[i];
  }
  for (const std::string_view start : sift_runlog::candidate_word_starts) {
    for (std::size_t i = 0; i < 3; ++i) word[i] += start[i];
  }
  return {{byte_set(line[0]), byte_set(line[1]), byte_set(line[2])},
          {byte_set(word[0]), byte_set(word[1]), byte_set(word[2])}};
}

void index_blocks(benchmark::State& state, log_kind kind, index_kernel kernel) {
  if (!sift_runlog::kernel_available(kernel)) {
    state.SkipWithError("this processor cannot run the kernel");
    return;
  }
  const std::string& log = generated_log(kind);
  const candidate_sets sets = analysis_sets();
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
BENCHMARK_CAPTURE(index_blocks, hostile_avx2, log_kind::hostile, index_kernel::avx2);

}  // namespace
