// The lines that carry the tool's answers, each recognised by its word 1 and handled here:
// STATE_SPACE and FORMULA store answers in result_vector and technique names in techniques;
// FORMULA_NAME, NUM_VECTOR and BOOL_VECTOR declare the examination and must come before
// RH_START. A declaration after RH_START or a full table throws ANALYSIS_PROBLEM_ERROR; a
// missing word throws Index_Error; a store beyond the vector is a data_error. Each says why.
#pragma once

#include "analysis_state.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

void handle_state_space(analysis_state& state, slice_set& words);
void handle_formula_name(analysis_state& state, slice_set& words);
void handle_num_vector(analysis_state& state);
void handle_bool_vector(analysis_state& state);
void handle_formula(analysis_state& state, slice_set& words);

}  // namespace sift_runlog
