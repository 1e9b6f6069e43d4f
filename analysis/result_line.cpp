#include "result_line.hpp"

#include <charconv>
#include <string>

#include "failures.hpp"
#include "keywords.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

namespace {

// The first four "_" parts of the last "/" part of the file name, each followed by ",".
void write_file_name_fields(std::string_view file_name, output_sink& out) {
  slice_set directories = slice_set::create(file_name, '/');
  const std::string_view own_name = directories.slice(directories.slice_count());
  slice_set parts = slice_set::create(own_name, '_');
  for (std::size_t i = 1; i <= 4; ++i) {
    out.write(parts.slice(i));
    out.write(",");
  }
}

std::string_view value_of(const analysis_state& state, std::string_view key) {
  if (!state.result_vector.has_value()) throw data_error("no answer vector");
  return display_for_key(key, state.result_vector->entries);
}

void write_techniques(const analysis_state& state, output_sink& out) {
  const std::size_t count = state.techniques.filled_count();
  if (count == 0) out.write("-");
  for (std::size_t i = 1; i <= count; ++i) {
    out.write(*state.techniques.at(i));
    out.write(" ");
  }
  out.end_line();
}

// "<count> " then each declared formula's answer, the last one followed by "," instead of " ".
// The count is the number of distinct formula names, so that the comma always closes the field.
void write_vector_form(const analysis_state& state, output_sink& out) {
  const std::size_t count = state.formula_names.filled_count();
  char digits[24];
  const auto converted = std::to_chars(digits, digits + sizeof digits, count);
  out.write(std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
  out.write(count == 0 ? "," : " ");
  const std::string_view prefix = state.bool_vector_found ? "BOOL:" : "NUM:";
  for (std::size_t i = 1; i <= count; ++i) {
    const std::string_view value = value_of(state, *state.formula_names.at(i));
    out.write(prefix);
    out.write(value.empty() ? "?" : value);
    out.write(i == count ? "," : " ");
  }
}

void write_state_space_value(std::string_view prefix, std::string_view value,
                             std::string_view after, output_sink& out) {
  out.write(prefix);
  out.write(value.empty() ? "?" : value);
  out.write(after);
}

void write_state_space_form(const analysis_state& state, output_sink& out) {
  std::string_view states = value_of(state, keyword::states);
  if (states.empty()) {
    // One tool names the figure "STATE"; no other tool's "STATE" counts.
    if (!state.tool_name.has_value()) throw data_error("state space without a tool line");
    if (*state.tool_name == keyword::velox) states = value_of(state, keyword::state);
  }
  write_state_space_value("4 NUM:", states, " ", out);
  write_state_space_value("NUM:", value_of(state, keyword::transitions), " ", out);
  write_state_space_value("NUM:", value_of(state, keyword::max_token_in_place), " ", out);
  write_state_space_value("NUM:", value_of(state, keyword::max_token_per_marking), ",", out);
}

}  // namespace

void write_result_line(const analysis_state& state, const run_options& options,
                       std::string_view file_name, output_sink& out) {
  if (options.debug_mode) out.write_line("printing line");
  if (options.long_mode) write_file_name_fields(file_name, out);

  if (state.number_of_cores.has_value()) {
    out.write(*state.number_of_cores);
    out.write(",");
  } else {
    out.write("NO_CORE,");
  }
  out.write(state.time_confinement_reached ? "DNF," : "OK,");
  out.write(state.memory_overflow ? "MOVF," : "OK,");

  // The verdict: the first row that holds decides.
  if (state.do_not_compete) {
    out.write_line("DNC,-");
  } else if (state.formula_found) {
    write_vector_form(state, out);
    write_techniques(state, out);
  } else if (state.cannot_compute) {
    out.write_line("CC,-");
  } else if (state.state_space_found) {
    write_state_space_form(state, out);
    write_techniques(state, out);
  } else if (state.start_found && state.stop_found) {
    out.write_line("CC,-");
  } else if (state.start_found) {
    out.write_line("DNF,-");
  } else {
    out.write_line("BAD_RUN?,-");
  }
}

}  // namespace sift_runlog
