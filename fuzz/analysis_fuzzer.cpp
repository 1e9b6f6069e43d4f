// Grades arbitrary bytes as a log, in memory, and checks what must hold for every log:
//
//   - the output ends with a line feed, and is, after the debug traces, exactly one of: a
//     complete result line; a line ending in "ERROR,-"; a line ending in
//     "Problem with file <file argument>,-"; or a PROBLEM line with exit status 1 and a report
//     naming SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR;
//   - the debug traces come first and are the log's lines (and pieces) in order, each once,
//     up to the RH_STOP line at most;
//   - nothing after the RH_STOP line matters: the same log cut right after it, or with other
//     bytes after it, gives the same bytes and the same exit status;
//   - the size of the blocks the log is read in changes nothing.
//
// A property that fails aborts, so that the fuzzer keeps the input that broke it. Sanitizers
// catch the rest (reads out of bounds, undefined behaviour).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "analysis_state.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"
#include "run_analysis.hpp"

namespace {

using sift_runlog::analysis_state;
using sift_runlog::line_reader;
using sift_runlog::memory_source;
using sift_runlog::run_options;
using sift_runlog::run_outcome;
using sift_runlog::string_output_sink;

void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

// The file arguments an input can choose, with what the long mode writes for each before the
// cores field (or before the "Problem with file" text, for a name of fewer than four "_" parts).
struct file_argument {
  std::string_view name;
  std::string_view long_fields;
  bool has_four_parts;
};

constexpr file_argument file_arguments[8] = {
    {"run.log", "run.log,", false},
    {"a_b", "a,b,", false},
    {"logs/a_b_c.log", "a,b,c.log,", false},
    {"a_b_c_d", "a,b,c,d,", true},
    {"logs/run7/alpha_beta_gamma_delta_rest.out", "alpha,beta,gamma,delta,", true},
    {"__a__b_c_d_", ",a,b,c,", true},
    {"x_y_z_w/", ",", false},
    {"", ",", false},
};

constexpr std::size_t block_sizes[4] = {1, 7, 4096, 16385};

// Filler put in front of the log when bit 7 of the first byte is set: the first line then
// crosses the first piece boundary 8 bytes after the log's own first byte.
constexpr std::size_t piece_limit = line_reader::default_piece_limit;
constexpr std::size_t filler_size = piece_limit - 8;

// Different bytes to put after a stop line; none of them may change anything.
constexpr std::string_view other_tail =
    "\nCan't allocate memory\nRH_TIME_CONFINEMENT_REACHED\nDO_NOT_COMPETE\nRH_START\n"
    "FORMULA_NAME X\nSTATE_SPACE STATES\nFORMULA\nperl: warning: Setting locale failed.\n";

// ---------------------------------------------------------------------------------------------
// A plain model of the line scan: which lines the analysis reads, and where it stops.

struct reference_line {
  std::string_view text;
  std::size_t end;  // offset of the first byte after the line (and its line feed, if any)
};

// The lines as the analysis must read them: cut at line feeds, and a line longer than a piece
// cut into pieces; an empty rest of a long line and the end after a final line feed give none.
std::vector<reference_line> reference_lines(std::string_view log) {
  std::vector<reference_line> lines;
  std::size_t begin = 0;
  while (begin < log.size()) {
    const std::size_t feed = log.find('\n', begin);
    const std::size_t stop = feed == std::string_view::npos ? log.size() : feed;
    const std::size_t after = feed == std::string_view::npos ? log.size() : feed + 1;
    if (stop == begin) {
      lines.push_back({log.substr(begin, 0), after});
    }
    for (std::size_t at = begin; at < stop; at += piece_limit) {
      const std::size_t length = std::min(piece_limit, stop - at);
      lines.push_back({log.substr(at, length), at + length == stop ? after : at + length});
    }
    begin = after;
  }
  return lines;
}

// The words of a line: cut at blanks, a run of blanks making one cut.
std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t blank = line.find(' ', begin);
    if (blank == std::string_view::npos) {
      words.push_back(line.substr(begin));
      return words;
    }
    words.push_back(line.substr(begin, blank - begin));
    begin = line.find_first_not_of(' ', blank);
    if (begin == std::string_view::npos) begin = line.size();
  }
}

// Whether the scan ends after this line: word 1 is RH_STOP and no earlier test takes the line.
bool is_stop_line(std::string_view line) {
  const std::vector<std::string_view> w = words_of(line);
  const std::size_t n = w.size();
  const auto word = [&](std::size_t i) { return w[i - 1]; };
  if (line == "perl: warning: Setting locale failed.") return false;
  if (n >= 5 && word(3) == "Out" && word(5) == "memory") return false;
  if (line == "Can't allocate memory") return false;
  if (n >= 8 && word(7) == "Insufficient" && word(8) == "memory") return false;
  if (n >= 8 && word(8) == "'std::bad_alloc'") return false;
  if (word(1) == "RH_TIME_CONFINEMENT_REACHED") return false;
  if (n == 4 && word(2) == "Executing" && word(3) == "tool") return false;
  if (n == 6 && word(2) == "Number" && word(3) == "of" && word(4) == "cores") return false;
  return word(1) == "RH_STOP";
}

// ---------------------------------------------------------------------------------------------

struct graded {
  std::string output;
  run_outcome outcome;
};

graded grade(std::string_view log, const file_argument& argument, const run_options& options,
             std::size_t block_size) {
  memory_source source(log);
  string_output_sink out;
  analysis_state state;
  graded result;
  result.outcome =
      sift_runlog::run_analysis(argument.name, source, options, out, state, block_size);
  result.output = out.text();
  return result;
}

bool same(const graded& a, const graded& b) {
  return a.output == b.output && a.outcome.exit_status == b.outcome.exit_status &&
         a.outcome.failure_report == b.outcome.failure_report;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Consumes `prefix` from the front of `text` if it is there.
bool take(std::string_view& text, std::string_view prefix) {
  if (!starts_with(text, prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// The verdict and techniques of a result line, the part after the memory flag.
bool is_verdict(std::string_view rest) {
  for (const std::string_view fixed : {"DNC,-", "CC,-", "DNF,-", "BAD_RUN?,-", "ERROR,-"}) {
    if (rest == fixed) return true;
  }
  // The two forms that print answers end with the techniques field: "-", or names each
  // followed by a blank.
  if (!ends_with(rest, "-") && !ends_with(rest, " ")) return false;
  if (take(rest, "4 NUM:")) return rest.find(',') != std::string_view::npos;
  // The vector form: the count of formulas, then a blank (entries follow) or a comma (none).
  const std::size_t digits = rest.find_first_not_of("0123456789");
  return digits > 0 && digits != std::string_view::npos &&
         (rest[digits] == ' ' || rest[digits] == ',');
}

// A result line after the long-mode fields: a cores field without blanks, the time and memory
// flags, and a verdict. The cores field may hold commas, so every cut is tried.
bool is_result_line(std::string_view line) {
  const std::size_t first_blank = std::min(line.find(' '), line.size());
  for (std::size_t comma = line.find(','); comma < first_blank; comma = line.find(',', comma + 1)) {
    std::string_view rest = line.substr(comma + 1);
    if ((take(rest, "OK,") || take(rest, "DNF,")) && (take(rest, "OK,") || take(rest, "MOVF,")) &&
        is_verdict(rest)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string_view> lines_of(std::string_view output) {
  std::vector<std::string_view> lines;
  while (!output.empty()) {
    const std::size_t feed = output.find('\n');
    lines.push_back(output.substr(0, feed));
    output.remove_prefix(feed + 1);
  }
  return lines;
}

void check_output(const graded& result, std::string_view log, const file_argument& argument,
                  const run_options& options) {
  const std::string_view output = result.output;
  require(!output.empty(), "something is written");
  require(output.back() == '\n', "the output ends with a line feed");
  const std::vector<std::string_view> lines = lines_of(output);
  const std::vector<reference_line> reference = reference_lines(log);

  // The debug traces: the lines read, in order, from the first on.
  std::size_t traces = 0;
  while (traces < lines.size() && starts_with(lines[traces], "lu ")) {
    require(options.debug_mode, "traces only in debug mode");
    require(traces < reference.size(), "no more traces than lines");
    require(lines[traces].substr(3) == reference[traces].text, "a trace is the line read");
    if (is_stop_line(reference[traces].text)) {
      require(traces + 1 < lines.size() && !starts_with(lines[traces + 1], "lu "),
              "nothing is traced after the stop line");
    }
    ++traces;
  }
  std::size_t next = traces;
  const bool printing = next < lines.size() && lines[next] == "printing line";
  if (printing) {
    // The scan ran to its end: every line up to the stop line was traced.
    std::size_t expected = 0;
    while (expected < reference.size() && !is_stop_line(reference[expected].text)) ++expected;
    if (expected < reference.size()) ++expected;
    require(traces == expected, "the scan reads every line up to RH_STOP and no further");
    ++next;
  }
  require(next + 1 == lines.size(), "exactly one line after the traces");
  const std::string_view last = lines[next];
  const std::string problem_text = "Problem with file " + std::string(argument.name) + ",-";

  if (result.outcome.exit_status == 1) {
    const std::string_view report = result.outcome.failure_report;
    const std::string_view name = "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:";
    require(starts_with(report, name), "the only failure is ANALYSIS_PROBLEM_ERROR");
    const std::string_view code = report.substr(name.size());
    require(!printing, "a PROBLEM comes from the scan");
    if (code == "99") {
      require(last == "PROBLEM, too many referenced techniques", "the full-table PROBLEM line");
    } else {
      require(code == "242" || code == "249" || code == "256", "a known PROBLEM message");
      require(last == "PROBLEM with the location of directives FORMULA_NAME (after RH_START)",
              "the misplaced-directive PROBLEM line");
    }
    return;
  }
  require(result.outcome.exit_status == 0, "exit status 0 or 1");
  require(result.outcome.failure_report.empty(), "no report at status 0");

  // A failure in the scan comes alone, before anything of the result line; in the long mode
  // the result line starts with the file-name fields, so a bare failure text is the scan's.
  if (last == "ERROR,-" || last == problem_text) {
    require(!printing, "a failure of the scan comes without \"printing line\"");
    return;
  }
  require(printing == options.debug_mode, "\"printing line\" before the result line");
  std::string_view line = last;
  if (options.long_mode) {
    require(take(line, argument.long_fields), "the long mode starts with the file-name fields");
    if (!argument.has_four_parts) {
      require(line == problem_text, "a name of fewer than four parts ends in the problem line");
      return;
    }
  }
  require(is_result_line(line), "a complete result line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  run_options options;
  options.long_mode = (choice & 1U) != 0;
  options.debug_mode = (choice & 2U) != 0;
  const file_argument& argument = file_arguments[(choice >> 2U) & 7U];
  const std::size_t block_size = block_sizes[(choice >> 5U) & 3U];

  std::string log;
  if ((choice & 0x80U) != 0) log.assign(filler_size, 'x');
  log.append(reinterpret_cast<const char*>(data + 1), size - 1);

  const graded result = grade(log, argument, options, line_reader::default_block_size);
  check_output(result, log, argument, options);
  require(same(grade(log, argument, options, block_size), result),
          "the read-block size changes nothing");

  // Nothing after the stop line counts.
  for (const reference_line& line : reference_lines(log)) {
    if (!is_stop_line(line.text)) continue;
    if (line.end < log.size()) {
      const std::string_view head = std::string_view(log).substr(0, line.end);
      require(same(grade(head, argument, options, block_size), result),
              "the log cut after RH_STOP gives the same");
      require(same(grade(std::string(head) + std::string(other_tail), argument, options,
                         line_reader::default_block_size),
                   result),
              "other bytes after RH_STOP give the same");
    }
    break;
  }
  return 0;
}
