// The whole analysis in-process, over generated logs in memory, output discarded.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "generated_logs.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"
#include "run_analysis.hpp"

namespace {

using sift_runlog::grade_options;
using sift_runlog::memory_source;
using sift_runlog::output_sink;
using sift_runlog::string_output_sink;
using sift_runlog::bench::generated_log;
using sift_runlog::bench::log_kind;
using sift_runlog::bench::log_shape;

class discarding_sink final : public output_sink {
 private:
  void drain(std::string_view bytes) override { benchmark::DoNotOptimize(bytes.data()); }
};

// Grades `log` once into a string and checks the result line, so that a benchmark never
// measures an analysis that went wrong.
bool gives_expected_line(benchmark::State& state, const std::string& log, log_kind kind,
                         std::uint64_t size) {
  log_shape shape;
  shape.kind = kind;
  shape.size = size;
  memory_source source(log);
  string_output_sink out;
  const auto outcome = sift_runlog::run_analysis("generated.log", source, grade_options{}, out);
  const std::string expected = sift_runlog::bench::expected_result_line(shape);
  if (outcome.exit_status != 0 || out.text() != expected) {
    state.SkipWithError(("unexpected result line: " + out.text()).c_str());
    return false;
  }
  return true;
}

void run_analysis(benchmark::State& state, log_kind kind, std::uint64_t size, bool debug) {
  const std::string& log = generated_log(kind, size);
  if (!gives_expected_line(state, log, kind, size)) return;
  grade_options options;
  options.debug_mode = debug;
  for (auto _ : state) {
    memory_source source(log);
    discarding_sink out;
    const auto outcome = sift_runlog::run_analysis("generated.log", source, options, out);
    benchmark::DoNotOptimize(outcome.exit_status);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}

constexpr std::uint64_t big = sift_runlog::bench::benchmark_log_size;
BENCHMARK_CAPTURE(run_analysis, realistic, log_kind::realistic, big, false);
BENCHMARK_CAPTURE(run_analysis, dense, log_kind::dense, big, false);
BENCHMARK_CAPTURE(run_analysis, chatter, log_kind::chatter, big, false);
BENCHMARK_CAPTURE(run_analysis, hostile, log_kind::hostile, big, false);
BENCHMARK_CAPTURE(run_analysis, state_space, log_kind::state_space, big, false);
BENCHMARK_CAPTURE(run_analysis, realistic_debug, log_kind::realistic, big, true);
// A small log: what one analysis costs apart from reading (buffers, state, result line).
BENCHMARK_CAPTURE(run_analysis, small_3k, log_kind::realistic, 3 << 10, false);

}  // namespace
