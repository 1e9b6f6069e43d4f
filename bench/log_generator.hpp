// Generated run logs for the benchmarks: the same bytes for the same shape on every machine.
//
// realistic    the harness's header lines, FORMULA_NAME declarations and BOOL_VECTOR or
//              NUM_VECTOR, RH_START, then tool chatter (progress lines, timestamped logger
//              lines, rows of numbers, stack traces with tabs, now and then a line of tens of
//              thousands of bytes) with the FORMULA answers spread through it, and RH_STOP last.
// dense        the same frame, but every chatter line is 12 words of 2 to 5 letters, one in
//              three capitalised: the most words per byte, the worst case of the line scan.
// early_stop   a realistic log of `stop_at` bytes ending in RH_STOP, then chatter up to `size`
//              with lines that would change the result if they were read.
// state_space  the realistic frame with four STATE_SPACE answers instead of formulas.
// chatter      the realistic frame, with lines of 1 to 15 words from about 40 progress words
//              ("memory" in about one line in six), 8% progress lines such as
//              "[66510 ms] explored 230530419 states, 40260662 transitions, depth 1408", 2%
//              stack-trace lines and 2% lines of 2000 to 6000 numbers.
// hostile      RH_START, lines of 10 to 14 words drawn from "ab cd ef gh ij kl Out of memory mn
//              op qr st uv wx yz", RH_STOP: nearly every line holds a word some test looks for.
//
// The log is exactly `size` bytes long, unless its header and answers alone need more.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sift_runlog::bench {

enum class log_kind { realistic, dense, early_stop, state_space, chatter, hostile };
enum class answer_kind { boolean, numeric };

struct log_shape {
  log_kind kind = log_kind::realistic;
  std::uint64_t size = 1 << 20;
  std::uint64_t seed = 1;
  answer_kind answers = answer_kind::boolean;
  int formula_count = 16;     // 1 to 16
  std::uint64_t stop_at = 0;  // early_stop only; 0 means min(1 MiB, size / 2)
};

// Hands the log to `consume` in chunks of about 1 MiB, in order.
void write_log(const log_shape& shape, const std::function<void(std::string_view)>& consume);

// The whole log in memory.
[[nodiscard]] std::string make_log(const log_shape& shape);

// The line (with its line feed) that grading the log must print, worked out from the answers
// the generator puts in it, not by grading it.
[[nodiscard]] std::string expected_result_line(const log_shape& shape);

[[nodiscard]] std::optional<log_kind> parse_log_kind(std::string_view text);

// A byte count with an optional suffix K, M or G (powers of 1024): "4096", "4K", "64M", "1G".
[[nodiscard]] std::optional<std::uint64_t> parse_size(std::string_view text);

}  // namespace sift_runlog::bench
