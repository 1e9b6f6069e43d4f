#include "string_tables.hpp"

#include <algorithm>

#include "failures.hpp"
#include "slice_set.hpp"

namespace sift_runlog {

std::size_t tab_a_string::index_of(std::size_t position) const {
  if (position < 1 || position > slots_.size()) {
    throw data_error("table position " + std::to_string(position) + " outside 1.." +
                     std::to_string(slots_.size()));
  }
  return position - 1;
}

const a_string& tab_a_string::at(std::size_t position) const { return slots_[index_of(position)]; }

void tab_a_string::set(std::size_t position, std::string text) {
  slots_[index_of(position)] = std::move(text);
}

std::string tab_a_string::take(std::size_t position) {
  a_string& slot = slots_[index_of(position)];
  return slot.has_value() ? std::move(*slot) : std::string();
}

std::size_t tab_a_string::filled_count() const noexcept {
  std::size_t count = 0;
  while (count < slots_.size() && slots_[count].has_value()) ++count;
  return count;
}

namespace {

template <typename Slots>
std::vector<std::string> texts_of(Slots& slots) {
  std::vector<std::string> filled;
  filled.reserve(static_cast<std::size_t>(std::count_if(
      slots.begin(), slots.end(), [](const a_string& slot) { return slot.has_value(); })));
  for (auto& slot : slots) {
    if (slot.has_value()) filled.push_back(std::move(*slot));
  }
  return filled;
}

}  // namespace

std::vector<std::string> tab_a_string::texts() const& { return texts_of(slots_); }

std::vector<std::string> tab_a_string::texts() && { return texts_of(slots_); }

void add_a_value_if_new(std::string_view value, tab_a_string& table, std::string_view what) {
  std::size_t position = 1;
  while (position <= table.size() && table.at(position).has_value()) {
    const std::string_view stored = *table.at(position);
    // The names of a log share long beginnings: their last bytes tell most of them apart.
    if (stored.size() == value.size() && (value.empty() || stored.back() == value.back()) &&
        stored == value) {
      return;
    }
    ++position;
  }
  if (position > table.size()) {
    throw ANALYSIS_PROBLEM_ERROR("sift_runlog:99", "PROBLEM, too many referenced techniques",
                                 "a " + ordinal(position) + " " + std::string(what));
  }
  table.set(position, std::string(value));
}

std::string ordinal(std::uint64_t number) {
  const std::uint64_t tens = number % 100;
  const std::uint64_t units = number % 10;
  const char* suffix = "th";
  if (tens < 11 || tens > 13) {
    if (units == 1) suffix = "st";
    if (units == 2) suffix = "nd";
    if (units == 3) suffix = "rd";
  }
  return std::to_string(number) + suffix;
}

key_and_value key_and_value_of(std::string_view entry) noexcept {
  const std::size_t colon = std::min(entry.find(':'), entry.size());
  const std::size_t begin = std::min(entry.find_first_not_of(':', colon), entry.size());
  const std::size_t end = std::min(entry.find(':', begin), entry.size());
  return {entry.substr(0, colon), entry.substr(begin, end - begin)};
}

std::string_view display_for_key(std::string_view key, const tab_a_string& table) {
  // The text before an entry's first colon holds no colon: no entry matches such a key.
  if (key.find(':') != std::string_view::npos) return {};
  // Looked for on every answer line, in every entry: compared in place rather than cut into
  // slices.
  for (std::size_t position = 1; position <= table.size(); ++position) {
    const a_string& entry = table.at(position);
    if (!entry.has_value() || entry->size() < key.size()) continue;
    const std::string_view text = *entry;
    // The cheap refusals first: the formula names of a log share long beginnings and differ
    // near their ends.
    if (text.size() > key.size() && text[key.size()] != ':') continue;
    if (!key.empty() && text[key.size() - 1] != key.back()) continue;
    if (text.substr(0, key.size()) != key) continue;
    if (text.size() == key.size()) {
      // No colon at all: its second slice does not exist.
      slice_set parts = slice_set::create(text, ':');
      return parts.slice(2);
    }
    return key_and_value_of(text).value;
  }
  return {};
}

}  // namespace sift_runlog
