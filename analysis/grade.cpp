// The library call: the analysis of one log as the program runs it, with its result line as a
// value, its output, exit status and report, and the analysis state turned into plain fields.
#include "sift_runlog/grade.hpp"

#include <cerrno>
#include <exception>

#include "failures.hpp"
#include "line_reader.hpp"
#include "output_sink.hpp"
#include "perform_stdout_analysis.hpp"
#include "result_line.hpp"
#include "run_analysis.hpp"

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
  // Once the caller's function failed it is not called again, so an output failure is its.
  if (out.failure() && graded.line.failure.cause == failure_cause::output_error) {
    graded.report = failure_report(out.failure());
    graded.line.failure.reason = failure_message(out.failure());
  }
  return graded;
}

}  // namespace

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

std::string_view verdict_word(verdict_kind verdict) noexcept {
  switch (verdict) {
    case verdict_kind::do_not_compete:
      return "DNC";
    case verdict_kind::formula_answers:
    case verdict_kind::state_space:
      return "answers";
    case verdict_kind::cannot_compute:
    case verdict_kind::stopped_without_answer:
      return "CC";
    case verdict_kind::did_not_finish:
      return "DNF";
    case verdict_kind::bad_run:
      return "BAD_RUN?";
    case verdict_kind::data_error:
      return "ERROR";
    case verdict_kind::problem_with_file:
      return "problem_with_file";
    case verdict_kind::failed:
      break;
  }
  return "failed";
}

std::string result_line::formatted_answers() const {
  if (verdict != verdict_kind::formula_answers && verdict != verdict_kind::state_space) return {};
  string_output_sink out;
  write_answers(*this, out);
  std::string text = out.take_text();
  text.pop_back();  // the comma that ends the field
  return text;
}

std::string result_line::text(bool debug_mode) const {
  string_output_sink out;
  write_result_line(*this, debug_mode, out);
  return out.take_text();
}

grade_result grade_file(const std::string& path, const grade_options& options) {
  string_output_sink out;
  grade_outcome outcome = run_analysis(path, options, out);
  return {std::move(outcome), out.take_text()};
}

grade_outcome grade_file(const std::string& path, const grade_options& options,
                         const output_function& write) {
  function_output_sink out(write);
  return with_caller_failure(run_analysis(path, options, out), out);
}

grade_outcome grade_file_to_descriptor(int output_fd, const std::string& path,
                                       const grade_options& options) {
  fd_output_sink out(output_fd);
  return run_analysis(path, options, out);
}

grade_outcome write_to_descriptor(int output_fd, std::string_view text) {
  fd_output_sink out(output_fd);
  return write_and_flush(text, out);
}

grade_outcome output_lost(std::string_view context, int error_number) {
  grade_outcome outcome;
  outcome.exit_status = 1;
  const std::exception_ptr failure = std::make_exception_ptr(output_error(context, error_number));
  outcome.report = failure_report(failure);
  outcome.line.verdict = verdict_kind::failed;
  outcome.line.failure.cause = failure_cause::output_error;
  outcome.line.failure.reason = failure_message(failure);
  outcome.state.verdict = verdict_kind::failed;
  return outcome;
}

namespace {

grade_result grade_source(file_source& source, const std::string& path,
                          const grade_options& options) {
  string_output_sink out;
  grade_outcome outcome =
      run_analysis(path, source, options, out,
                   source.worth_reading_ahead() ? line_reader::read_ahead_block_size
                                                : line_reader::default_block_size);
  return {std::move(outcome), out.take_text()};
}

}  // namespace

grade_result grade_descriptor(int fd, const std::string& path, const grade_options& options) {
  file_source source(fd, path, read_ahead::when_large);
  return grade_source(source, path, options);
}

grade_result grade_descriptor(int fd, const std::string& path, const grade_options& options,
                              std::uint64_t size) {
  file_source source(fd, path, read_ahead::when_large, size);
  return grade_source(source, path, options);
}

grade_result grade_buffer(std::string_view log, std::string_view file_name,
                          const grade_options& options) {
  memory_source source(log);
  string_output_sink out;
  grade_outcome outcome = run_analysis(file_name, source, options, out);
  return {std::move(outcome), out.take_text()};
}

grade_outcome grade_buffer(std::string_view log, std::string_view file_name,
                           const grade_options& options, const output_function& write) {
  memory_source source(log);
  function_output_sink out(write);
  return with_caller_failure(run_analysis(file_name, source, options, out), out);
}

}  // namespace sift_runlog
