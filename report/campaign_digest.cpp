#include "campaign_digest.hpp"

#include <algorithm>
#include <cstring>

#include "exact_number.hpp"

namespace sift_runlog::report {
namespace {

void append_with_length(std::string& key, std::string_view part) {
  const auto size = static_cast<std::uint32_t>(part.size());
  char bytes[sizeof size];
  std::memcpy(bytes, &size, sizeof size);
  key.append(bytes, sizeof size);
  key += part;
}

std::string_view take_with_length(std::string_view& key) {
  std::uint32_t size = 0;
  std::memcpy(&size, key.data(), sizeof size);
  const std::string_view part = key.substr(sizeof size, size);
  key.remove_prefix(sizeof size + size);
  return part;
}

std::size_t verdict_index(std::string_view verdict) {
  const auto* found = std::find(verdict_words.begin(), verdict_words.end(), verdict);
  return static_cast<std::size_t>(found - verdict_words.begin());
}

bool definite(std::string_view value) { return !value.empty() && value != "?"; }

}  // namespace

void formula_key(std::string& key, std::string_view model, std::string_view examination,
                 std::string_view formula) {
  key.clear();
  append_with_length(key, model);
  append_with_length(key, examination);
  key += formula;
}

void group_counts::add(const group_counts& other) {
  logs += other.logs;
  formulas += other.formulas;
  answered += other.answered;
  disputed += other.disputed;
  for (std::size_t i = 0; i < verdicts.size(); ++i) verdicts[i] += other.verdicts[i];
  time_flag_dnf += other.time_flag_dnf;
  memory_flag_movf += other.memory_flag_movf;
  right += other.right;
  wrong += other.wrong;
  unanswered += other.unanswered;
  not_in_reference += other.not_in_reference;
}

const reference_answers::known* reference_answers::find(std::string_view model,
                                                        std::string_view examination,
                                                        std::string_view formula) const {
  std::string key;
  formula_key(key, model, examination, formula);
  const auto found = answers_.find(key);
  return found == answers_.end() ? nullptr : &found->second;
}

campaign_digest::campaign_digest(const reference_answers* reference,
                                 std::function<void(const wrong_answer&)> on_wrong)
    : reference_(reference), on_wrong_(std::move(on_wrong)) {}

void campaign_digest::add(const table::table_row& row) {
  auto group = groups_.try_emplace(group_key{row.tool, row.examination}).first;
  group_counts& counts = group->second;
  ++counts.logs;
  const std::size_t verdict = verdict_index(row.verdict);
  if (verdict < counts.verdicts.size()) ++counts.verdicts[verdict];
  if (row.time_flag == "DNF") ++counts.time_flag_dnf;
  if (row.memory_flag == "MOVF") ++counts.memory_flag_movf;

  // A formula is known by its model, examination and name: an answer without them is counted,
  // never compared.
  const bool comparable = row.model && row.examination;
  std::uint32_t log = 0;
  bool log_known = false;
  for (const table::named_value& answer : row.answers) {
    ++counts.formulas;
    if (!definite(answer.value)) {
      if (reference_ != nullptr) score(row, answer, counts);
      continue;
    }
    ++counts.answered;
    if (reference_ != nullptr) score(row, answer, counts);
    if (!comparable || answer.name.empty()) continue;
    if (!log_known) {
      log = static_cast<std::uint32_t>(logs_.size());
      logs_.push_back({&counts, &group->first, paths_.size(), row.path.size()});
      paths_ += row.path;
      log_known = true;
    }
    formula_key(key_, *row.model, *row.examination, answer.name);
    formula_answers& formula = formulas_[key_];
    const auto known = std::find(formula.values.begin(), formula.values.end(), answer.value);
    const auto value = static_cast<std::uint32_t>(known - formula.values.begin());
    if (known == formula.values.end()) formula.values.push_back(answer.value);
    formula.by.emplace_back(log, value);
  }
}

void campaign_digest::score(const table::table_row& row, const table::named_value& answer,
                            group_counts& group) {
  const reference_answers::known* expected =
      row.model && row.examination && !answer.name.empty()
          ? reference_->find(*row.model, *row.examination, answer.name)
          : nullptr;
  if (expected == nullptr) {
    ++group.not_in_reference;
  } else if (!definite(answer.value)) {
    ++group.unanswered;
  } else if (answer.value == expected->value || comparison_key(answer.value) == expected->key) {
    ++group.right;
  } else {
    ++group.wrong;
    if (on_wrong_) on_wrong_({&row, answer.name, expected->value, answer.value});
  }
}

namespace {

// The same value in other notations: each distinct text's class (texts of one value share it).
std::vector<std::uint32_t> value_classes(const std::vector<std::string>& values) {
  std::vector<std::string> keys;
  std::vector<std::uint32_t> classes;
  for (const std::string& value : values) {
    std::string key = comparison_key(value);
    const auto found = std::find(keys.begin(), keys.end(), key);
    classes.push_back(static_cast<std::uint32_t>(found - keys.begin()));
    if (found == keys.end()) keys.push_back(std::move(key));
  }
  return classes;
}

}  // namespace

void campaign_digest::finish() {
  for (auto& [key, formula] : formulas_) {
    if (formula.values.size() < 2) continue;
    const std::vector<std::uint32_t> classes = value_classes(formula.values);
    const std::uint32_t class_count = *std::max_element(classes.begin(), classes.end()) + 1;
    if (class_count < 2) continue;
    std::vector<std::size_t> in_class(class_count, 0);
    for (const auto& [log, value] : formula.by) ++in_class[classes[value]];
    // An answer is disputed when a log other than its own gave another value: the answers in
    // other classes, less those of its own log.
    std::vector<std::size_t> own(class_count, 0);
    for (std::size_t begin = 0; begin < formula.by.size();) {
      std::size_t end = begin;
      std::fill(own.begin(), own.end(), 0);
      for (; end < formula.by.size() && formula.by[end].first == formula.by[begin].first; ++end) {
        ++own[classes[formula.by[end].second]];
      }
      const std::size_t own_total = end - begin;
      for (std::size_t i = begin; i < end; ++i) {
        const std::uint32_t value_class = classes[formula.by[i].second];
        const std::size_t others = formula.by.size() - in_class[value_class];
        const std::size_t own_others = own_total - own[value_class];
        if (others > own_others) ++logs_[formula.by[i].first].group->disputed;
      }
      begin = end;
    }
  }
}

group_counts campaign_digest::total() const {
  group_counts sum;
  for (const auto& [key, counts] : groups_) sum.add(counts);
  return sum;
}

void campaign_digest::for_each_disagreement(
    const std::function<void(const disagreement&)>& visit) const {
  struct disputed_formula {
    std::string_view model, examination, formula;
    const formula_answers* answers;
    std::vector<std::uint32_t> classes;
  };
  std::vector<disputed_formula> disputed;
  for (const auto& [key, formula] : formulas_) {
    if (formula.values.size() < 2) continue;
    std::vector<std::uint32_t> classes = value_classes(formula.values);
    if (*std::max_element(classes.begin(), classes.end()) == 0) continue;
    std::string_view rest = key;
    const std::string_view model = take_with_length(rest);
    const std::string_view examination = take_with_length(rest);
    disputed.push_back({model, examination, rest, &formula, std::move(classes)});
  }
  std::sort(disputed.begin(), disputed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.model, a.examination, a.formula) <
           std::tie(b.model, b.examination, b.formula);
  });
  for (const disputed_formula& formula : disputed) {
    const std::uint32_t class_count =
        *std::max_element(formula.classes.begin(), formula.classes.end()) + 1;
    std::vector<std::size_t> in_class(class_count, 0);
    for (const auto& [log, value] : formula.answers->by) ++in_class[formula.classes[value]];
    const auto most = std::max_element(in_class.begin(), in_class.end());
    std::optional<std::string_view> majority;
    if (std::count(in_class.begin(), in_class.end(), *most) == 1) {
      const auto majority_class = static_cast<std::uint32_t>(most - in_class.begin());
      const auto first = std::find(formula.classes.begin(), formula.classes.end(), majority_class);
      majority = formula.answers->values[static_cast<std::size_t>(first - formula.classes.begin())];
    }
    for (const auto& [log, value] : formula.answers->by) {
      const log_entry& entry = logs_[log];
      visit({formula.model, formula.examination, formula.formula, formula.answers->values[value],
             &entry.key->tool, std::string_view(paths_).substr(entry.path_begin, entry.path_size),
             majority});
    }
  }
}

std::size_t campaign_digest::for_each_agreed_answer(
    const std::function<void(std::string_view key, std::string_view value)>& visit) const {
  std::size_t left_out = 0;
  for (const auto& [key, formula] : formulas_) {
    const std::vector<std::uint32_t> classes = value_classes(formula.values);
    if (*std::max_element(classes.begin(), classes.end()) != 0) {
      ++left_out;
    } else {
      visit(key, formula.values.front());
    }
  }
  return left_out;
}

}  // namespace sift_runlog::report
