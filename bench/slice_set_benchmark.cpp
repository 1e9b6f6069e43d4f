// The splitter on the lines of generated logs: the first 8 words, as the line scan asks for
// them, and all words.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "generated_logs.hpp"
#include "slice_set.hpp"

namespace {

using sift_runlog::slice_set;
using sift_runlog::bench::generated_lines;
using sift_runlog::bench::log_kind;

void count_bytes(benchmark::State& state, const std::vector<std::string_view>& lines) {
  std::int64_t bytes = 0;
  for (const std::string_view line : lines) bytes += static_cast<std::int64_t>(line.size());
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}

void slice_set_first_8_words(benchmark::State& state, log_kind kind) {
  const std::vector<std::string_view>& lines = generated_lines(kind);
  for (auto _ : state) {
    for (const std::string_view line : lines) {
      slice_set words = slice_set::create(line, ' ');
      for (std::size_t i = 1; i <= 8 && words.has_slice(i); ++i) {
        benchmark::DoNotOptimize(words.slice(i));
      }
    }
  }
  count_bytes(state, lines);
}
BENCHMARK_CAPTURE(slice_set_first_8_words, realistic, log_kind::realistic);
BENCHMARK_CAPTURE(slice_set_first_8_words, dense, log_kind::dense);

void slice_set_all_words(benchmark::State& state, log_kind kind) {
  const std::vector<std::string_view>& lines = generated_lines(kind);
  for (auto _ : state) {
    for (const std::string_view line : lines) {
      slice_set words = slice_set::create(line, ' ');
      const std::size_t count = words.slice_count();
      for (std::size_t i = 1; i <= count; ++i) benchmark::DoNotOptimize(words.slice(i));
    }
  }
  count_bytes(state, lines);
}
BENCHMARK_CAPTURE(slice_set_all_words, realistic, log_kind::realistic);
BENCHMARK_CAPTURE(slice_set_all_words, dense, log_kind::dense);

}  // namespace
