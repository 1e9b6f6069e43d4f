// The table reader on a table of 1,000,000 answers (10,000 rows of 100 formula answers), jsonl
// and csv, read in memory row by row as sift_runlog_report and --merge read them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <sift_campaign/table_reader.hpp>
#include <string>

namespace {

using namespace sift_runlog::campaign;

constexpr int rows = 10'000;
constexpr int answers_per_row = 100;

std::string make_table(table_format format) {
  std::string table(table_header(format, false));
  for (int r = 0; r < rows; ++r) {
    const std::string path = "campaign/run" + std::to_string(r) + "/tool_Model-" +
                             std::to_string(r) + "_ReachabilityCardinality_1.log";
    if (format == table_format::jsonl) {
      table += "{\"path\":\"" + path +
               "\",\"tool\":\"tool\",\"model\":\"Model\",\"examination\":"
               "\"ReachabilityCardinality\",\"run\":\"1.log\",\"cores\":\"4\",\"time_flag\":"
               "\"OK\",\"memory_flag\":\"OK\",\"verdict\":\"answers\",\"answers\":[";
      for (int a = 0; a < answers_per_row; ++a) {
        if (a != 0) table += ',';
        table += "{\"name\":\"Model-RC-" + std::to_string(a) + "\",\"value\":\"" +
                 (a % 2 != 0 ? "TRUE" : "FALSE") + "\"}";
      }
      table += "],\"techniques\":[\"EXPLICIT\",\"SAT_SMT\"],\"report\":null}\n";
    } else {
      std::string result = std::to_string(answers_per_row);
      std::string names;
      for (int a = 0; a < answers_per_row; ++a) {
        result += a % 2 != 0 ? " BOOL:TRUE" : " BOOL:FALSE";
        if (a != 0) names += ' ';
        names += "Model-RC-" + std::to_string(a);
      }
      table += path + ",tool,Model,ReachabilityCardinality,1.log,4,OK,OK,answers," + result +
               ",EXPLICIT SAT_SMT,," + names + "\n";
    }
  }
  return table;
}

void read_table(benchmark::State& state, table_format format) {
  const std::string table = make_table(format);
  std::int64_t answers = 0;
  for (auto _ : state) {
    table_reader reader("table", table);
    for (row r; reader.next(r);) answers += static_cast<std::int64_t>(r.answers.size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(table.size()));
  state.SetItemsProcessed(answers);  // answers a second
}
BENCHMARK_CAPTURE(read_table, jsonl, table_format::jsonl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_table, csv, table_format::csv)->Unit(benchmark::kMillisecond);

}  // namespace
