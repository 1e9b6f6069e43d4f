// What the analysis of one log keeps from one line to the next. One object per analysis, set to
// these initial values before the log is opened; every flag only ever goes from false to true.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "string_tables.hpp"

namespace sift_runlog {

inline constexpr std::size_t technique_capacity = 20;
inline constexpr std::size_t formula_capacity = 16;
inline constexpr std::int32_t state_space_vector_size = 4;
inline constexpr std::int32_t formula_vector_size = 16;

struct analysis_state {
  bool start_found = false;
  bool stop_found = false;
  bool cannot_compute = false;
  bool time_confinement_reached = false;
  bool do_not_compete = false;
  bool state_space_found = false;
  bool bool_vector_found = false;
  bool num_vector_found = false;
  bool formula_found = false;
  bool memory_overflow = false;
  tab_a_string techniques{technique_capacity};
  tab_a_string formula_names{formula_capacity};
  std::int32_t formula_name_count = 0;         // every FORMULA_NAME line, repeats included
  std::optional<vector_result> result_vector;  // made by the first STATE_SPACE or FORMULA line
  std::int32_t result_index = 0;               // positions of result_vector used so far
  a_string tool_name;
  a_string number_of_cores;

  bool operator==(const analysis_state&) const = default;
};

}  // namespace sift_runlog
