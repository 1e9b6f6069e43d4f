#include "run_analysis.hpp"

#include <exception>

#include "analysis_state.hpp"
#include "failures.hpp"
#include "perform_stdout_analysis.hpp"
#include "result_line.hpp"
#include "string_tables.hpp"

namespace sift_runlog {

namespace {

// Takes the texts out of a state that is not needed any more.
final_state fields_of(analysis_state&& state, verdict_kind verdict) {
  final_state fields;
  fields.verdict = verdict;
  fields.cores = std::move(state.number_of_cores);
  fields.tool_name = std::move(state.tool_name);
  fields.start_found = state.start_found;
  fields.stop_found = state.stop_found;
  fields.time_confinement_reached = state.time_confinement_reached;
  fields.memory_overflow = state.memory_overflow;
  fields.cannot_compute = state.cannot_compute;
  fields.do_not_compete = state.do_not_compete;
  fields.state_space_found = state.state_space_found;
  fields.formula_found = state.formula_found;
  fields.bool_vector_found = state.bool_vector_found;
  fields.num_vector_found = state.num_vector_found;
  if (state.result_vector.has_value()) {
    std::vector<std::string> entries = std::move(state.result_vector->entries).texts();
    fields.answers.reserve(entries.size());
    for (std::string& entry : entries) {
      const key_and_value cut = key_and_value_of(entry);
      std::string value(cut.value);
      // The key begins the entry: the entry's own text, cut short, holds it.
      const std::size_t key_size = cut.key.size();
      entry.resize(key_size);
      fields.answers.push_back({std::move(entry), std::move(value)});
    }
  }
  fields.formula_names = std::move(state.formula_names).texts();
  fields.formula_name_count = state.formula_name_count;
  fields.techniques = std::move(state.techniques).texts();
  return fields;
}

// The outcome of a failure that ends the process: nothing of the line but its PROBLEM line.
void fail(grade_outcome& outcome, const std::exception_ptr& failure) {
  if (outcome.exit_status != 0) return;  // the report names the first failure
  outcome.exit_status = 1;
  outcome.report = failure_report(failure);
  grade_failure kept = std::move(outcome.line.failure);
  std::string file = std::move(outcome.line.file);
  outcome.line = result_line{};
  outcome.line.verdict = verdict_kind::failed;
  outcome.line.file = std::move(file);
  outcome.line.failure = std::move(kept);
  outcome.line.failure.cause = failure_cause_of(failure);
  if (outcome.line.failure.reason.empty()) {
    // A failure of the system rather than of the log: its message is the reason.
    outcome.line.failure.reason = failure_message(failure);
  }
  outcome.state.verdict = verdict_kind::failed;
}

template <typename Analysis>
grade_outcome run_guarded(std::string_view file_argument, const grade_options& options,
                          output_sink& out, Analysis&& analysis) {
  grade_outcome outcome;
  outcome.line.file = file_argument;
  analysis_state state;
  try {
    try {
      analysis(state, outcome.line);
    } catch (...) {
      fail(outcome, std::current_exception());
    }
    if (options.keep_final_state) {
      outcome.state = fields_of(std::move(state), outcome.line.verdict);
    } else {
      outcome.state.verdict = outcome.line.verdict;
    }
    write_result_line(outcome.line, options.debug_mode, out);
    out.flush();
  } catch (...) {
    fail(outcome, std::current_exception());
    try {
      // What was written before the failure stays written, ahead of the report.
      out.flush();
    } catch (const output_error&) {
      // The report already names the first failure.
    }
  }
  return outcome;
}

}  // namespace

grade_outcome run_analysis(const std::string& file_argument, const grade_options& options,
                           output_sink& out) {
  return run_guarded(file_argument, options, out, [&](analysis_state& state, result_line& line) {
    perform_stdout_analysis(file_argument, options, out, state, line);
  });
}

grade_outcome run_analysis(std::string_view file_argument, byte_source& log,
                           const grade_options& options, output_sink& out, std::size_t block_size) {
  return run_guarded(file_argument, options, out, [&](analysis_state& state, result_line& line) {
    perform_stdout_analysis(file_argument, log, options, out, state, line, block_size);
  });
}

grade_outcome write_and_flush(std::string_view text, output_sink& out) {
  grade_outcome outcome;
  try {
    out.write(text);
    out.flush();
  } catch (...) {
    fail(outcome, std::current_exception());
  }
  return outcome;
}

}  // namespace sift_runlog
