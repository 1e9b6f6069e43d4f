#include "result_line.hpp"

#include <charconv>
#include <string>

#include "failures.hpp"
#include "keywords.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

namespace {

// The first four "_" parts of the last "/" part of the file name; a name of fewer parts leaves
// those it has written before the failure.
void compose_file_name_fields(std::string_view file_name, result_line& line) {
  line.name_fields = file_name_fields(file_name);
  if (line.name_fields.size() < 4) throw Index_Error("fewer than four name parts in the file name");
}

std::string_view value_of(const analysis_state& state, std::string_view key) {
  if (!state.result_vector.has_value()) throw data_error("no answer vector");
  return display_for_key(key, state.result_vector->entries);
}

std::string shown(std::string_view value) { return value.empty() ? "?" : std::string(value); }

// Each declared formula's answer, in the order of declaration: as many as distinct formula
// names, so that the count the line shows is the number of its answers. The names are moved
// into the line when the state is not kept.
void compose_formula_answers(analysis_state& state, bool state_kept, result_line& line) {
  line.boolean_answers = state.bool_vector_found;
  const std::size_t count = state.formula_names.filled_count();
  line.answers.reserve(count);
  for (std::size_t i = 1; i <= count; ++i) {
    const std::string& name = *state.formula_names.at(i);
    std::string value = shown(value_of(state, name));
    line.answers.push_back({state_kept ? name : state.formula_names.take(i), std::move(value)});
  }
}

void compose_state_space(const analysis_state& state, result_line& line) {
  std::string_view states = value_of(state, keyword::states);
  if (states.empty()) {
    // One tool names the figure "STATE"; no other tool's "STATE" counts.
    if (!state.tool_name.has_value()) {
      throw data_error("a state space without STATES and without a tool line");
    }
    if (*state.tool_name == keyword::velox) states = value_of(state, keyword::state);
  }
  line.answers.push_back({std::string(keyword::states), shown(states)});
  for (const std::string_view key :
       {keyword::transitions, keyword::max_token_in_place, keyword::max_token_per_marking}) {
    line.answers.push_back({std::string(key), shown(value_of(state, key))});
  }
}

bool has_answers(verdict_kind verdict) {
  return verdict == verdict_kind::formula_answers || verdict == verdict_kind::state_space;
}

void write_field(std::string_view text, output_sink& out) {
  out.write(text);
  out.write(",");
}

void write_techniques(const result_line& line, output_sink& out) {
  if (line.techniques.empty()) out.write("-");
  for (const std::string& technique : line.techniques) {
    out.write(technique);
    out.write(" ");
  }
  out.end_line();
}

}  // namespace

std::vector<std::string> file_name_fields(std::string_view file_name) {
  slice_set directories = slice_set::create(file_name, '/');
  const std::string_view own_name = directories.slice(directories.slice_count());
  slice_set parts = slice_set::create(own_name, '_');
  std::vector<std::string> fields;
  fields.reserve(4);
  for (std::size_t i = 1; i <= 4 && parts.has_slice(i); ++i) fields.emplace_back(parts.slice(i));
  return fields;
}

verdict_kind verdict_of(const analysis_state& state) noexcept {
  if (state.do_not_compete) return verdict_kind::do_not_compete;
  if (state.formula_found) return verdict_kind::formula_answers;
  if (state.cannot_compute) return verdict_kind::cannot_compute;
  if (state.state_space_found) return verdict_kind::state_space;
  if (state.start_found && state.stop_found) return verdict_kind::stopped_without_answer;
  if (state.start_found) return verdict_kind::did_not_finish;
  return verdict_kind::bad_run;
}

void write_answers(const result_line& line, output_sink& out) {
  char digits[24];
  const auto converted = std::to_chars(digits, digits + sizeof digits, line.answers.size());
  out.write(std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
  out.write(line.answers.empty() ? "," : " ");
  const std::string_view prefix = line.boolean_answers ? "BOOL:" : "NUM:";
  for (std::size_t i = 0; i < line.answers.size(); ++i) {
    out.write(prefix);
    out.write(line.answers[i].value);
    out.write(i + 1 == line.answers.size() ? "," : " ");
  }
}

void compose_result_line(analysis_state& state, const grade_options& options,
                         std::string_view file_name, result_line& line) {
  if (options.long_mode) compose_file_name_fields(file_name, line);
  line.cores = state.number_of_cores.value_or("NO_CORE");
  line.time_flag = state.time_confinement_reached ? "DNF" : "OK";
  line.memory_flag = state.memory_overflow ? "MOVF" : "OK";
  const verdict_kind verdict = verdict_of(state);
  if (verdict == verdict_kind::formula_answers) {
    compose_formula_answers(state, options.keep_final_state, line);
  }
  if (verdict == verdict_kind::state_space) compose_state_space(state, line);
  if (has_answers(verdict)) {
    line.techniques =
        options.keep_final_state ? state.techniques.texts() : std::move(state.techniques).texts();
  }
  line.verdict = verdict;
}

void write_result_line(const result_line& line, bool debug_mode, output_sink& out) {
  if (line.verdict == verdict_kind::failed) {
    if (!line.failure.problem_line.empty()) out.write_line(line.failure.problem_line);
    return;
  }
  // A line with fields was composed after the whole scan; a failure in the scan leaves none.
  if (debug_mode && (!line.name_fields.empty() || line.cores.has_value())) {
    out.write_line("printing line");
  }
  for (const std::string& field : line.name_fields) write_field(field, out);
  if (line.cores.has_value()) write_field(*line.cores, out);
  if (line.time_flag.has_value()) write_field(*line.time_flag, out);
  if (line.memory_flag.has_value()) write_field(*line.memory_flag, out);
  if (line.verdict == verdict_kind::problem_with_file) {
    out.write("Problem with file ");
    out.write(line.file);
    out.write_line(",-");
  } else if (has_answers(line.verdict)) {
    write_answers(line, out);
    write_techniques(line, out);
  } else {
    // DNC, CC, DNF, BAD_RUN? and ERROR: the verdict's word is the line's text.
    out.write(verdict_word(line.verdict));
    out.write_line(",-");
  }
}

}  // namespace sift_runlog
