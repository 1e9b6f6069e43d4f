// The line reader over a generated log in memory: how fast lines are found and handed out.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "generated_logs.hpp"
#include "line_reader.hpp"

namespace {

using sift_runlog::line_reader;
using sift_runlog::memory_source;
using sift_runlog::bench::generated_log;
using sift_runlog::bench::log_kind;

void read_all_lines(benchmark::State& state, const std::string& log, std::size_t block_size) {
  std::size_t lines = 0;
  for (auto _ : state) {
    memory_source source(log);
    line_reader reader(source, block_size);
    std::string_view line;
    lines = 0;
    while (reader.next(line)) {
      benchmark::DoNotOptimize(line.data());
      ++lines;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
  state.counters["lines"] = static_cast<double>(lines);
}

void line_reader_lines(benchmark::State& state, log_kind kind) {
  read_all_lines(state, generated_log(kind), line_reader::default_block_size);
}
BENCHMARK_CAPTURE(line_reader_lines, realistic, log_kind::realistic);
BENCHMARK_CAPTURE(line_reader_lines, dense, log_kind::dense);

// The same realistic log read in blocks of 4 KiB to 1 MiB.
void line_reader_block_size(benchmark::State& state) {
  read_all_lines(state, generated_log(log_kind::realistic),
                 static_cast<std::size_t>(state.range(0)));
}
BENCHMARK(line_reader_block_size)->RangeMultiplier(4)->Range(4 << 10, 1 << 20);

}  // namespace
