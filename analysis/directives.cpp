#include "directives.hpp"

#include <limits>
#include <string>

#include "failures.hpp"
#include "keywords.hpp"
#include "number_syntax.hpp"

namespace sift_runlog {

namespace {

constexpr std::string_view misplaced_declaration =
    "PROBLEM with the location of directives FORMULA_NAME (after RH_START)";

// Declarations describe the examination, so they must come before the run starts.
void check_before_start(const analysis_state& state, const char* message,
                        std::string_view directive) {
  if (state.start_found) {
    throw ANALYSIS_PROBLEM_ERROR(message, misplaced_declaration,
                                 "a " + std::string(directive) + " line after RH_START");
  }
}

// Word `number` of a directive's line; a line without it is the Index_Error that names them.
std::string_view word(slice_set& words, std::size_t number, std::string_view directive) {
  if (!words.has_slice(number)) {
    throw Index_Error("word " + std::to_string(number) + " missing from a " +
                      std::string(directive) + " line");
  }
  return words.slice(number);
}

void make_result_vector(analysis_state& state, std::int32_t size, bool is_boolean) {
  if (!state.result_vector.has_value()) state.result_vector.emplace(size, is_boolean);
}

// Stores "key:value" at position result_index; beyond the vector's size it is a data_error.
void store_entry(analysis_state& state, std::string_view key, std::string_view value) {
  if (state.result_index > state.result_vector->size) {
    throw data_error("a " + ordinal(static_cast<std::uint64_t>(state.result_index)) +
                     " answer (room for " + std::to_string(state.result_vector->size) + ")");
  }
  std::string entry;
  entry.reserve(key.size() + 1 + value.size());
  entry.append(key).append(1, ':').append(value);
  state.result_vector->entries.set(static_cast<std::size_t>(state.result_index), std::move(entry));
}

// The words after "TECHNIQUES", when word 4 is that word.
void add_techniques(analysis_state& state, slice_set& words) {
  if (!words.has_slice(4) || words.slice(4) != keyword::techniques) return;
  for (std::size_t i = 5; words.has_slice(i); ++i) {
    add_a_value_if_new(words.slice(i), state.techniques, "technique");
  }
}

// Both counters are 32-bit; a log with more than 2^31 such lines is beyond them, a data error
// rather than a silent wrap-around.
void count_one_more(std::int32_t& counter) {
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw data_error("a count beyond its 32-bit range");
  }
  ++counter;
}

bool ends_with_cannot_compute(std::string_view word) {
  return word.size() >= keyword::cannot_compute.size() &&
         word.substr(word.size() - keyword::cannot_compute.size()) == keyword::cannot_compute;
}

}  // namespace

void handle_state_space(analysis_state& state, slice_set& words) {
  state.state_space_found = true;
  make_result_vector(state, state_space_vector_size, false);
  // Every STATE_SPACE line uses a position, also one that stores nothing.
  count_one_more(state.result_index);

  const std::string_view key = word(words, 2, keyword::state_space);
  if (key == keyword::cannot_compute) {
    state.cannot_compute = true;
    return;
  }
  const std::string_view value = word(words, 3, keyword::state_space);
  if (value == keyword::cannot_compute) {
    store_entry(state, key, "?");
    return;
  }
  // The value is stored as written; only its form is checked. A value that is no number gets
  // "?" and its techniques are not taken.
  if (value == keyword::inf || is_number(value)) {
    store_entry(state, key, value);
    add_techniques(state, words);
  } else {
    store_entry(state, key, "?");
  }
}

void handle_formula_name(analysis_state& state, slice_set& words) {
  check_before_start(state, "sift_runlog:242", keyword::formula_name);
  add_a_value_if_new(word(words, 2, keyword::formula_name), state.formula_names, "formula name");
  count_one_more(state.formula_name_count);
}

void handle_num_vector(analysis_state& state) {
  check_before_start(state, "sift_runlog:249", keyword::num_vector);
  state.num_vector_found = true;
}

void handle_bool_vector(analysis_state& state) {
  check_before_start(state, "sift_runlog:256", keyword::bool_vector);
  state.bool_vector_found = true;
}

void handle_formula(analysis_state& state, slice_set& words) {
  state.formula_found = true;
  make_result_vector(state, formula_vector_size, state.bool_vector_found);

  const std::string_view name = word(words, 2, keyword::formula);
  // "<formula name>CANNOT_COMPUTE": the tool gave up on that formula. A shorter word 2 is an
  // ordinary formula name and goes on as one.
  if (ends_with_cannot_compute(name)) {
    state.cannot_compute = true;
    if (!state.tool_name.has_value()) throw data_error("a formula refusal before any tool line");
    if (*state.tool_name == keyword::marcie && !words.has_slice(3)) {
      count_one_more(state.result_index);
      store_entry(state, name.substr(0, name.size() - keyword::cannot_compute.size()), "?");
    }
    return;
  }

  const std::string_view answer = word(words, 3, keyword::formula);
  const tab_a_string& entries = state.result_vector->entries;
  if (answer == keyword::cannot_compute || answer == keyword::techniques ||
      answer == keyword::spx_run) {
    if (display_for_key(name, entries).empty()) {
      count_one_more(state.result_index);
      store_entry(state, name, "?");
    }
    return;
  }

  // The first answer for a formula wins, a stored "?" included.
  if (!display_for_key(name, entries).empty()) return;
  count_one_more(state.result_index);
  if (state.num_vector_found && (answer == keyword::true_word || answer == keyword::false_word)) {
    store_entry(state, name, "?");
    return;
  }
  store_entry(state, name, answer);
  add_techniques(state, words);
}

}  // namespace sift_runlog
