#include "perform_stdout_analysis.hpp"

#include "directives.hpp"
#include "failures.hpp"
#include "keywords.hpp"
#include "line_tests.hpp"
#include "result_line.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

namespace {

static_assert(line_reader::line_padding >= output_sink::overread,
              "a traced line must be readable as far as the trace copies");

// Whether the line has exactly `count` words, looking no further than word count + 1.
bool has_exactly(slice_set& words, std::size_t count) {
  return words.has_slice(count) && !words.has_slice(count + 1);
}

// The tests in the order of line_tests; a line that passes none is ignored. Only the tests in
// `possible` are tried: the others are known not to hold for this line.
scan run_line_tests(analysis_state& state, std::string_view line, slice_set& words,
                    test_set possible) {
  const auto may = [possible](test_set test) { return (possible & test) != 0; };
  if (may(test_named("locale_warning")) && line == keyword_of("locale_warning")) {
    state.cannot_compute = true;
  } else if (may(test_named("out_of_memory")) && words.has_slice(5) &&
             words.slice(3) == keyword_of("out_of_memory") && words.slice(5) == keyword::memory) {
    state.memory_overflow = true;
  } else if (may(test_named("cannot_allocate_memory")) &&
             line == keyword_of("cannot_allocate_memory")) {
    state.memory_overflow = true;
  } else if (may(test_named("insufficient_memory")) && words.has_slice(8) &&
             words.slice(7) == keyword_of("insufficient_memory") &&
             words.slice(8) == keyword::memory) {
    state.memory_overflow = true;
  } else if (may(test_named("bad_alloc")) && words.has_slice(8) &&
             words.slice(8) == keyword_of("bad_alloc")) {
    state.memory_overflow = true;
  } else if (may(test_named("time_confinement_reached")) &&
             words.slice(1) == keyword_of("time_confinement_reached")) {
    state.time_confinement_reached = true;
  } else if (may(test_named("executing_tool")) && has_exactly(words, 4) &&
             words.slice(2) == keyword_of("executing_tool") && words.slice(3) == keyword::tool) {
    state.tool_name = new_a_string(words.slice(4));
  } else if (may(test_named("number_of_cores")) && has_exactly(words, 6) &&
             words.slice(2) == keyword_of("number_of_cores") && words.slice(3) == keyword::of &&
             words.slice(4) == keyword::cores) {
    state.number_of_cores = new_a_string(words.slice(6));
  } else if (may(test_named("start")) && words.slice(1) == keyword_of("start")) {
    state.start_found = true;
  } else if (may(test_named("stop")) && words.slice(1) == keyword_of("stop")) {
    state.stop_found = true;
    return scan::stop;
  } else if (may(test_named("cannot_compute")) && words.slice(1) == keyword_of("cannot_compute")) {
    state.cannot_compute = true;
  } else if (may(test_named("do_not_compete")) && words.slice(1) == keyword_of("do_not_compete")) {
    state.do_not_compete = true;
  } else if (may(test_named("state_space")) && words.slice(1) == keyword_of("state_space")) {
    handle_state_space(state, words);
  } else if (may(test_named("formula_name")) && words.slice(1) == keyword_of("formula_name")) {
    handle_formula_name(state, words);
  } else if (may(test_named("num_vector")) && words.slice(1) == keyword_of("num_vector")) {
    handle_num_vector(state);
  } else if (may(test_named("bool_vector")) && words.slice(1) == keyword_of("bool_vector")) {
    handle_bool_vector(state);
  } else if (may(test_named("formula")) && words.slice(1) == keyword_of("formula")) {
    handle_formula(state, words);
  }
  return scan::go_on;
}

// Where and why the analysis stopped, for the failures it ends with.
void record_failure(result_line& line, verdict_kind verdict, std::uint64_t line_number,
                    std::string reason) {
  line.verdict = verdict;
  line.failure.line = line_number;
  line.failure.reason = std::move(reason);
}

}  // namespace

scan handle_line(analysis_state& state, std::string_view line, test_set possible) {
  slice_set words = slice_set::create(line, ' ');
  return run_line_tests(state, line, words, possible);
}

void perform_stdout_analysis(std::string_view file_name, byte_source& log,
                             const grade_options& options, output_sink& trace,
                             analysis_state& state, result_line& line, std::size_t block_size) {
  // The same patterns for every log: made ready once, on first use.
  static const line_reader::compiled_patterns patterns(
      {candidate_line_starts, candidate_word_starts, candidate_word_places},
      line_reader::default_piece_limit);
  line_reader reader(log, patterns, block_size);
  try {
    // Handles a line that may be a candidate; false once the scan must stop. It may pass the
    // tests of the patterns the reader found in it.
    const auto handle = [&](std::string_view text) {
      const pattern_matches found = reader.patterns_found();
      const test_set possible = tests_of(found.line_starts, found.word_starts);
      return possible == 0 || handle_line(state, text, possible) == scan::go_on;
    };
    if (options.debug_mode) {
      // Every line is traced; only the candidates are looked at.
      (void)reader.for_each_line([&](std::string_view text, bool candidate) {
        trace.write_line_overread("lu ", text);
        return !candidate || handle(text);
      });
    } else {
      // Most lines are chatter that no test can take: the reader passes over them without a
      // look at their bytes.
      std::string_view text;
      while (reader.next_candidate(text) && handle(text)) {
      }
    }
  } catch (const data_error& e) {
    record_failure(line, verdict_kind::data_error, reader.line_number(), e.what());
    return;
  } catch (const Index_Error& e) {
    record_failure(line, verdict_kind::problem_with_file, reader.line_number(), e.what());
    return;
  } catch (const ANALYSIS_PROBLEM_ERROR& e) {
    record_failure(line, verdict_kind::failed, reader.line_number(), e.reason());
    line.failure.problem_line = e.problem_line();
    throw;
  }
  // The line's own failures concern no line of the log.
  try {
    compose_result_line(state, options, file_name, line);
  } catch (const data_error& e) {
    line.answers.clear();
    record_failure(line, verdict_kind::data_error, 0, e.what());
  } catch (const Index_Error& e) {
    record_failure(line, verdict_kind::problem_with_file, 0, e.what());
  }
}

void perform_stdout_analysis(const std::string& file_name, const grade_options& options,
                             output_sink& trace, analysis_state& state, result_line& line) {
  file_source log(file_name);
  perform_stdout_analysis(file_name, log, options, trace, state, line,
                          log.worth_reading_ahead() ? line_reader::read_ahead_block_size
                                                    : line_reader::default_block_size);
}

}  // namespace sift_runlog
