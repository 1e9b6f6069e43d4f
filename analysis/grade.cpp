// The library call: the analysis of one log as the program runs it, with its output, exit
// status and report, and the analysis state turned into plain fields.
#include "sift_runlog/grade.hpp"

#include <cerrno>
#include <exception>

#include "analysis_state.hpp"
#include "failures.hpp"
#include "grade_into.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"
#include "run_analysis.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

namespace {

// Stands in for an exception of the caller's output function while the analysis unwinds: the
// analysis lets output failures through to its one report, and the caller's own exception takes
// the place of this one in that report.
class output_function_failure final : public output_error {
 public:
  output_function_failure() : output_error("the output function failed", ECANCELED) {}
};

// Hands the output on to the caller's function in blocks.
class function_output_sink final : public output_sink {
 public:
  explicit function_output_sink(const output_function& write) : write_(write) {}

  // What the caller's function threw, if it did.
  [[nodiscard]] const std::exception_ptr& failure() const { return failure_; }

 private:
  void drain(std::string_view bytes) override {
    // After a failure the caller is not called again: the grade already ends with its report.
    if (failure_) return;
    try {
      write_(bytes);
    } catch (...) {
      failure_ = std::current_exception();
      throw output_function_failure();
    }
  }

  const output_function& write_;
  std::exception_ptr failure_;
};

// The caller's exception in the report when it was the failure that ended the grade.
grade_outcome with_caller_failure(grade_outcome graded, const function_output_sink& out) {
  if (graded.exit_status != 0 && out.failure() &&
      graded.report == failure_report(std::make_exception_ptr(output_function_failure()))) {
    graded.report = failure_report(out.failure());
  }
  return graded;
}

std::vector<std::string> texts_of(const tab_a_string& table) {
  std::vector<std::string> texts;
  for (std::size_t position = 1; position <= table.size(); ++position) {
    if (table.at(position).has_value()) texts.push_back(*table.at(position));
  }
  return texts;
}

// The verdict: how the run ended, and for a whole result line the first row of the verdict
// table that holds.
verdict_kind verdict_of(const analysis_state& state, run_end end) {
  switch (end) {
    case run_end::data_error:
      return verdict_kind::data_error;
    case run_end::problem_with_file:
      return verdict_kind::problem_with_file;
    case run_end::failed:
      return verdict_kind::failed;
    case run_end::result_line:
      break;
  }
  if (state.do_not_compete) return verdict_kind::do_not_compete;
  if (state.formula_found) return verdict_kind::formula_answers;
  if (state.cannot_compute) return verdict_kind::cannot_compute;
  if (state.state_space_found) return verdict_kind::state_space;
  if (state.start_found && state.stop_found) return verdict_kind::stopped_without_answer;
  if (state.start_found) return verdict_kind::did_not_finish;
  return verdict_kind::bad_run;
}

final_state fields_of(const analysis_state& state) {
  final_state fields;
  fields.cores = state.number_of_cores;
  fields.tool_name = state.tool_name;
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
    // Key and value as the result line reads them: the text before the first colon, and the
    // text between the first run of colons and the next colon.
    for (const std::string& entry : texts_of(state.result_vector->entries)) {
      slice_set parts = slice_set::create(entry, ':');
      const std::string_view value = parts.has_slice(2) ? parts.slice(2) : std::string_view();
      fields.answers.push_back({std::string(parts.slice(1)), std::string(value)});
    }
  }
  fields.formula_names = texts_of(state.formula_names);
  fields.formula_name_count = state.formula_name_count;
  fields.techniques = texts_of(state.techniques);
  return fields;
}

}  // namespace

grade_outcome grade_into(const std::string& file_argument, byte_source* log,
                         const grade_options& options, output_sink& out) {
  const run_options run{options.long_mode, options.debug_mode};
  analysis_state state;
  const run_outcome ran =
      log != nullptr ? run_analysis(file_argument, *log, run, out, state,
                                    log->worth_reading_ahead() ? line_reader::read_ahead_block_size
                                                               : line_reader::default_block_size)
                     : run_analysis(file_argument, run, out, state);
  grade_outcome outcome;
  outcome.exit_status = ran.exit_status;
  outcome.report = ran.failure_report;
  try {
    outcome.state = fields_of(state);
    outcome.state.verdict = verdict_of(state, ran.end);
  } catch (const std::bad_alloc&) {
    // Memory ran out after the analysis: the fields are lost, and the grade ends as the
    // program does when memory runs out.
    outcome.state = {};
    outcome.state.verdict = verdict_kind::failed;
    if (outcome.exit_status == 0) {
      outcome.exit_status = 1;
      outcome.report = failure_report(std::current_exception());
    }
  }
  return outcome;
}

std::string_view version() noexcept { return SIFT_RUNLOG_VERSION; }

std::string_view verdict_name(verdict_kind verdict) noexcept {
  switch (verdict) {
    case verdict_kind::do_not_compete:
      return "do_not_compete";
    case verdict_kind::formula_answers:
      return "formula_answers";
    case verdict_kind::cannot_compute:
      return "cannot_compute";
    case verdict_kind::state_space:
      return "state_space";
    case verdict_kind::stopped_without_answer:
      return "stopped_without_answer";
    case verdict_kind::did_not_finish:
      return "did_not_finish";
    case verdict_kind::bad_run:
      return "bad_run";
    case verdict_kind::data_error:
      return "data_error";
    case verdict_kind::problem_with_file:
      return "problem_with_file";
    case verdict_kind::failed:
      return "failed";
  }
  return "unknown";
}

grade_result grade_file(const std::string& path, const grade_options& options) {
  string_output_sink out;
  grade_result result;
  static_cast<grade_outcome&>(result) = grade_into(path, nullptr, options, out);
  result.output = out.text();
  return result;
}

grade_outcome grade_file(const std::string& path, const grade_options& options,
                         const output_function& write) {
  function_output_sink out(write);
  return with_caller_failure(grade_into(path, nullptr, options, out), out);
}

grade_result grade_descriptor(int fd, const std::string& path, const grade_options& options) {
  file_source source(fd, path, read_ahead::when_large);
  string_output_sink out;
  grade_result result;
  static_cast<grade_outcome&>(result) = grade_into(path, &source, options, out);
  result.output = out.text();
  return result;
}

grade_result grade_buffer(std::string_view log, std::string_view file_name,
                          const grade_options& options) {
  memory_source source(log);
  string_output_sink out;
  grade_result result;
  static_cast<grade_outcome&>(result) = grade_into(std::string(file_name), &source, options, out);
  result.output = out.text();
  return result;
}

grade_outcome grade_buffer(std::string_view log, std::string_view file_name,
                           const grade_options& options, const output_function& write) {
  memory_source source(log);
  function_output_sink out(write);
  return with_caller_failure(grade_into(std::string(file_name), &source, options, out), out);
}

}  // namespace sift_runlog
