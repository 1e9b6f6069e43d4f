// The number syntax check on a mix of numbers and non-numbers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "generated_logs.hpp"
#include "number_syntax.hpp"

namespace {

using sift_runlog::is_number;
using sift_runlog::bench::generated_lines;
using sift_runlog::bench::log_kind;

// The forms a STATE_SPACE value takes, and near misses.
const std::vector<std::string_view> typical_forms = {
    "1024",      "5000",     "2.5E+06", "-3",   "1_000", "16#FF#",     "2#1.1#", "16:ff:",
    "123456789", "3.41E+12", "0",       "+7",   "1e9",   "98765.4321", "inf",    "Inf",
    "12abc",     "0x1F",     "1,5",     "1__0", "1_",    "17#1#",      "2#2#",   "1E",
    "1E+",       "",         ".",       "nan",  "TRUE",  "FALSE",      "states", "transitions"};

void check_words(benchmark::State& state, const std::vector<std::string_view>& words) {
  std::int64_t bytes = 0;
  for (const std::string_view word : words) bytes += static_cast<std::int64_t>(word.size());
  for (auto _ : state) {
    for (const std::string_view word : words) benchmark::DoNotOptimize(is_number(word));
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(words.size()));
}

void is_number_typical_forms(benchmark::State& state) { check_words(state, typical_forms); }
BENCHMARK(is_number_typical_forms);

// Every word of the first lines of a realistic log: about one in four is a number.
void is_number_log_words(benchmark::State& state) {
  std::vector<std::string_view> words;
  for (std::string_view line : generated_lines(log_kind::realistic, 256 << 10)) {
    while (!line.empty()) {
      const std::size_t blank = line.find(' ');
      words.push_back(line.substr(0, blank));
      line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
    }
  }
  check_words(state, words);
}
BENCHMARK(is_number_log_words);

}  // namespace
