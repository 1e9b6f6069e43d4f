// The words and lines of a log that mean something to the analysis. Every comparison with them
// is exact: same length, same bytes, upper and lower case distinct.
#pragma once

#include <string_view>

namespace sift_runlog::keyword {

// Whole lines.
inline constexpr std::string_view locale_warning = "perl: warning: Setting locale failed.";
inline constexpr std::string_view cannot_allocate_memory = "Can't allocate memory";

// Words of the memory exhaustion messages, the tool line and the core-count line.
inline constexpr std::string_view out = "Out";
inline constexpr std::string_view memory = "memory";
inline constexpr std::string_view insufficient = "Insufficient";
inline constexpr std::string_view bad_alloc = "'std::bad_alloc'";
inline constexpr std::string_view executing = "Executing";
inline constexpr std::string_view tool = "tool";
inline constexpr std::string_view number = "Number";
inline constexpr std::string_view of = "of";
inline constexpr std::string_view cores = "cores";

// The harness's markers and the tool's refusals, as word 1.
inline constexpr std::string_view time_confinement_reached = "RH_TIME_CONFINEMENT_REACHED";
inline constexpr std::string_view start = "RH_START";
inline constexpr std::string_view stop = "RH_STOP";
inline constexpr std::string_view cannot_compute = "CANNOT_COMPUTE";
inline constexpr std::string_view do_not_compete = "DO_NOT_COMPETE";

// The directives that carry the tool's answers, as word 1.
inline constexpr std::string_view state_space = "STATE_SPACE";
inline constexpr std::string_view formula_name = "FORMULA_NAME";
inline constexpr std::string_view num_vector = "NUM_VECTOR";
inline constexpr std::string_view bool_vector = "BOOL_VECTOR";
inline constexpr std::string_view formula = "FORMULA";

// Words inside the answer lines.
inline constexpr std::string_view techniques = "TECHNIQUES";
inline constexpr std::string_view spx_run = "spx_run:";
inline constexpr std::string_view inf = "inf";
inline constexpr std::string_view true_word = "TRUE";
inline constexpr std::string_view false_word = "FALSE";

// Tools with a rule of their own.
inline constexpr std::string_view marcie = "marcie";
inline constexpr std::string_view velox = "velox";

// The keys of the state-space answers.
inline constexpr std::string_view states = "STATES";
inline constexpr std::string_view state = "STATE";
inline constexpr std::string_view transitions = "TRANSITIONS";
inline constexpr std::string_view max_token_in_place = "MAX_TOKEN_IN_PLACE";
inline constexpr std::string_view max_token_per_marking = "MAX_TOKEN_PER_MARKING";

}  // namespace sift_runlog::keyword
