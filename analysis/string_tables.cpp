#include "string_tables.hpp"

#include "failures.hpp"
#include "output_sink.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

const a_string& tab_a_string::at(std::size_t position) const {
  if (position < 1 || position > slots_.size()) {
    throw data_error("table position " + std::to_string(position) + " outside 1.." +
                     std::to_string(slots_.size()));
  }
  return slots_[position - 1];
}

void tab_a_string::set(std::size_t position, std::string_view text) {
  if (position < 1 || position > slots_.size()) {
    throw data_error("table position " + std::to_string(position) + " outside 1.." +
                     std::to_string(slots_.size()));
  }
  slots_[position - 1] = new_a_string(text);
}

std::size_t tab_a_string::filled_count() const noexcept {
  std::size_t count = 0;
  while (count < slots_.size() && slots_[count].has_value()) ++count;
  return count;
}

void add_a_value_if_new(std::string_view value, tab_a_string& table, output_sink& problem_out) {
  std::size_t position = 1;
  while (position <= table.size() && table.at(position).has_value()) {
    if (*table.at(position) == value) return;
    ++position;
  }
  if (position > table.size()) {
    problem_out.write_line("PROBLEM, too many referenced techniques");
    throw ANALYSIS_PROBLEM_ERROR("sift_runlog:99");
  }
  table.set(position, value);
}

std::string_view display_for_key(std::string_view key, const tab_a_string& table) {
  for (std::size_t position = 1; position <= table.size(); ++position) {
    const a_string& entry = table.at(position);
    if (!entry.has_value()) continue;
    slice_set parts = slice_set::create(*entry, ':');
    if (parts.slice(1) == key) return parts.slice(2);
  }
  return {};
}

}  // namespace sift_runlog
