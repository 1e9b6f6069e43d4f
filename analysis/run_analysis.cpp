#include "run_analysis.hpp"

#include <exception>

#include "failures.hpp"
#include "perform_stdout_analysis.hpp"

namespace sift_runlog {

namespace {

template <typename Analysis>
run_outcome run_guarded(std::string_view file_argument, output_sink& out, Analysis&& analysis) {
  try {
    run_end end = run_end::result_line;
    try {
      if (analysis() == analysis_end::data_error) end = run_end::data_error;
    } catch (const Index_Error&) {
      out.write("Problem with file ");
      out.write(file_argument);
      out.write_line(",-");
      end = run_end::problem_with_file;
    }
    out.flush();
    return {0, {}, end};
  } catch (...) {
    run_outcome failed{1, failure_report(std::current_exception()), run_end::failed};
    try {
      // What was written before the failure stays written, ahead of the report.
      out.flush();
    } catch (const output_error&) {
      // The report already names the first failure.
    }
    return failed;
  }
}

}  // namespace

run_outcome run_analysis(const std::string& file_argument, const run_options& options,
                         output_sink& out, analysis_state& state) {
  return run_guarded(file_argument, out,
                     [&] { return perform_stdout_analysis(file_argument, options, out, state); });
}

run_outcome run_analysis(std::string_view file_argument, byte_source& log,
                         const run_options& options, output_sink& out, analysis_state& state,
                         std::size_t block_size) {
  return run_guarded(file_argument, out, [&] {
    return perform_stdout_analysis(file_argument, log, options, out, state, block_size);
  });
}

run_outcome write_and_flush(std::string_view text, output_sink& out) {
  return run_guarded({}, out, [&] {
    out.write(text);
    return analysis_end::result_line;
  });
}

}  // namespace sift_runlog
