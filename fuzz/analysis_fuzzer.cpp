// Grades arbitrary bytes as a log, in memory, and checks what must hold for every log:
//   - the output ends with a line feed; the debug traces come first and are the log's lines and
//     pieces in order, up to the RH_STOP line; then "printing line" (debug mode, scan complete)
//     and exactly one more line; a failure only after a PROBLEM line;
//   - nothing after the RH_STOP line matters: the log cut right after it grades the same;
//   - the size of the blocks the log is read in changes nothing;
//   - a file read ahead on a second thread (a memfd: no disk) grades as the log in memory;
//   - a failure in the scan names one of the log's lines, the one that stopped it;
//   - no line test is skipped: the tests of the patterns the reader finds in a line (none in a
//     line it passes over) decide it as all the tests do, both ways of walking the lines;
//   - every index kernel this processor can run marks the log as the portable kernel does.
// A property that fails aborts, so that the fuzzer keeps the input. The first byte chooses the
// options: bit 0 long mode, bit 1 debug mode, bits 2-3 the read-block size, bit 4 a second
// grade from a file read ahead, bit 7 a prefix that puts the first line across the first piece
// boundary.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "line_reader.hpp"
#include "output_sink.hpp"
#include "perform_stdout_analysis.hpp"
#include "run_analysis.hpp"

namespace {

using namespace sift_runlog;

void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

constexpr std::size_t piece_limit = line_reader::default_piece_limit;
constexpr candidate_patterns patterns{candidate_line_starts, candidate_word_starts,
                                      candidate_word_places};
constexpr std::size_t block_sizes[4] = {1, 7, 4096, 16385};
struct reference_line {
  std::string_view text;
  std::size_t end;  // the offset after the line and its line feed
  bool stops;       // the scan ends after it
};

// The lines and pieces as the analysis must read them, found the plain way, each run through
// the line tests alone to see whether it ends the scan.
std::vector<reference_line> reference_lines(std::string_view log) {
  std::vector<reference_line> lines;
  for (std::size_t begin = 0; begin < log.size();) {
    const std::size_t feed = std::min(log.find('\n', begin), log.size());
    const std::size_t length = std::min(feed - begin, piece_limit);
    const std::size_t end = feed - begin > piece_limit ? begin + length : feed + 1;
    analysis_state state;
    bool stops = false;
    try {
      stops = handle_line(state, log.substr(begin, length)) == scan::stop;
    } catch (...) {
    }
    lines.push_back({log.substr(begin, length), std::min(end, log.size()), stops});
    begin = end;
  }
  return lines;
}

// What the tests in `tests` make of one line on its own: the state, and the scan stopped or
// the failure.
std::pair<analysis_state, std::string> run_tests(std::string_view line, test_set tests) {
  analysis_state state;
  std::string ending;
  try {
    ending = handle_line(state, line, tests) == scan::stop ? "stop" : "";
  } catch (const std::exception& e) {
    ending = e.what();
  }
  return {state, ending};
}

// Whether the tests of the patterns `reader` found in the line (none without a reader) decide
// it as all the tests do.
bool decided_alike(std::string_view line, const line_reader* reader) {
  const pattern_matches found = reader != nullptr ? reader->patterns_found() : pattern_matches{};
  return run_tests(line, tests_of(found.line_starts, found.word_starts)) ==
         run_tests(line, all_tests);
}

// Walks every line with its flag and, beside it, jumps from candidate to candidate.
void check_no_test_skipped(std::string_view log, std::size_t block_size) {
  memory_source walking_source(log), jumping_source(log);
  line_reader walking(walking_source, block_size, piece_limit, patterns);
  line_reader jumping(jumping_source, block_size, piece_limit, patterns);
  std::string_view candidate;
  bool more = jumping.next_candidate(candidate);
  (void)walking.for_each_line([&](std::string_view line, bool flagged) {
    const bool jumped_to = more && candidate == line;
    require(decided_alike(line, flagged ? &walking : nullptr) &&
                decided_alike(line, jumped_to ? &jumping : nullptr),
            "the tests of the patterns found decide a line as all the tests do");
    if (jumped_to) more = jumping.next_candidate(candidate);
    return true;
  });
  require(!more, "every line handed out is a line of the log");
}

// Every kernel this processor can run for the reader's patterns marks the log, as one block, as
// the portable kernel does: one fuzz run covers them all, not only the one the reader picks.
void check_kernels(std::string_view log) {
  static memory_source nothing("");
  static const line_reader reader(nothing, line_reader::default_block_size, piece_limit, patterns);
  static const std::vector<index_kernel> kernels = [] {
    std::vector<index_kernel> runnable;
    for (const index_kernel kernel :
         {index_kernel::avx2, index_kernel::avx512, index_kernel::avx512_vbmi}) {
      if (kernel_runs(kernel, reader.index_sets())) runnable.push_back(kernel);
    }
    return runnable;
  }();
  const std::string block = std::string(log).append(byte_index_padding, '\0');
  const std::size_t words = (log.size() + 63) / 64;
  std::vector<std::uint64_t> portable(2 * words), other(2 * words);
  build_byte_index(index_kernel::portable, block.data(), log.size(), reader.index_sets(),
                   portable.data(), portable.data() + words);
  for (const index_kernel kernel : kernels) {
    build_byte_index(kernel, block.data(), log.size(), reader.index_sets(), other.data(),
                     other.data() + words);
    require(other == portable, "every kernel marks the same bytes");
  }
}

struct graded {
  std::string output;
  grade_outcome outcome;
  bool operator==(const graded& other) const {
    return output == other.output && outcome.report == other.outcome.report &&
           outcome.line.failure.line == other.outcome.line.failure.line &&
           outcome.line.failure.reason == other.outcome.line.failure.reason;
  }
};

// The log read from memory, or from a file read ahead from its first byte.
graded grade(std::string_view log, const grade_options& options, std::size_t block_size,
             bool from_file = false) {
  memory_source memory(log);
  const int fd = from_file ? ::memfd_create("log", MFD_CLOEXEC) : -1;
  if (from_file) {
    require(fd >= 0 && ::write(fd, log.data(), log.size()) == static_cast<ssize_t>(log.size()) &&
                ::lseek(fd, 0, SEEK_SET) == 0,
            "the log is written to a memfd");
  }
  std::optional<file_source> file;
  if (from_file) file.emplace(fd, "a_b_c_d.log", read_ahead::always);
  byte_source& source = from_file ? static_cast<byte_source&>(*file) : memory;
  string_output_sink out;
  graded result;
  result.outcome = run_analysis("a_b_c_d.log", source, options, out, block_size);
  result.output = out.text();
  file.reset();
  if (fd >= 0) ::close(fd);
  return result;
}

void check_output(const graded& result, std::string_view log, const grade_options& options) {
  std::string_view output = result.output;
  require(!output.empty() && output.back() == '\n', "the output ends with a line feed");
  const std::vector<reference_line> lines = reference_lines(log);
  std::size_t traced = 0;
  bool stopped = false;
  while (output.starts_with("lu ")) {
    require(options.debug_mode && traced < lines.size() && !stopped, "a trace for each line");
    const std::size_t end = output.find('\n');
    require(output.substr(3, end - 3) == lines[traced].text, "a trace is the line read");
    stopped = lines[traced++].stops;
    output.remove_prefix(end + 1);
  }
  if (output.starts_with("printing line\n")) {
    require(options.debug_mode && (stopped || traced == lines.size()), "the whole scan traced");
    output.remove_prefix(14);
  }
  require(output.find('\n') == output.size() - 1, "exactly one line after the traces");
  require(result.outcome.exit_status == 0 || output.starts_with("PROBLEM"),
          "status 1 only after a PROBLEM line");
  const result_line& line = result.outcome.line;
  if (line.verdict != verdict_kind::failed && line.verdict != verdict_kind::data_error &&
      line.verdict != verdict_kind::problem_with_file) {
    return;
  }
  // Stopped in the scan: no field reached. Its line is at most the last one traced.
  if (line.name_fields.empty() && !line.cores.has_value()) {
    require(
        line.failure.line >= 1 && line.failure.line <= (options.debug_mode ? traced : lines.size()),
        "a failure in the scan names one of the log's lines");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const grade_options options{(data[0] & 1U) != 0, (data[0] & 2U) != 0};
  const std::size_t block_size = block_sizes[(data[0] >> 2U) & 3U];
  std::string log((data[0] & 0x80U) != 0 ? piece_limit - 8 : 0, 'x');
  log.append(reinterpret_cast<const char*>(data + 1), size - 1);

  const graded result = grade(log, options, line_reader::default_block_size);
  check_output(result, log, options);
  require(grade(log, options, block_size) == result, "the read-block size changes nothing");
  if ((data[0] & 0x10U) != 0) {
    require(grade(log, options, block_size, true) == result, "a file read ahead is the same");
  }
  check_no_test_skipped(log, block_size);
  check_kernels(log);
  for (const reference_line& line : reference_lines(log)) {
    if (!line.stops) continue;
    const std::string head(log.substr(0, line.end));
    require(grade(head, options, block_size) == result, "the log cut after RH_STOP is the same");
    break;
  }
  return 0;
}
