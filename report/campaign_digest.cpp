#include "campaign_digest.hpp"

#include <algorithm>
#include <cstring>

#include "exact_number.hpp"

namespace sift_runlog::report {
namespace {

bool definite(const std::optional<std::string>& value) { return value && !value->empty(); }

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

void examination_key(std::string& key, std::string_view model, std::string_view examination) {
  const auto size = static_cast<std::uint32_t>(model.size());
  char bytes[sizeof size];
  std::memcpy(bytes, &size, sizeof size);
  key.assign(bytes, sizeof size);
  key += model;
  key += examination;
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
  runs.insert(other.runs.begin(), other.runs.end());
}

const std::vector<reference_answers::known>* reference_answers::find(
    std::string_view model, std::string_view examination) const {
  std::string key;
  examination_key(key, model, examination);
  const auto found = answers_.find(key);
  return found == answers_.end() ? nullptr : &found->second;
}

void reference_answers::for_each(
    const std::function<void(std::string_view, std::string_view, const known&)>& visit) const {
  for (const auto& [key, list] : answers_) {
    // The key: the model's length, the model, the examination (examination_key).
    std::uint32_t size = 0;
    std::memcpy(&size, key.data(), sizeof size);
    const std::string_view names = std::string_view(key).substr(sizeof size);
    for (const known& answer : list) visit(names.substr(0, size), names.substr(size), answer);
  }
}

campaign_digest::campaign_digest(const reference_answers* reference,
                                 std::function<void(const wrong_answer&)> on_wrong)
    : reference_(reference), on_wrong_(std::move(on_wrong)) {}

void campaign_digest::add(const campaign::row& row) {
  auto group = groups_.try_emplace(group_key{row.tool, row.examination}).first;
  group_counts& counts = group->second;
  ++counts.logs;
  ++counts.verdicts[static_cast<std::size_t>(row.verdict)];
  if (row.time_flag == "DNF") ++counts.time_flag_dnf;
  if (row.memory_flag == "MOVF") ++counts.memory_flag_movf;
  if (row.run) counts.runs.insert(*row.run);
  if (row.answers.empty()) return;

  // A formula is known by its model, examination and name: an answer without them is counted,
  // never compared.
  const bool comparable = row.model && row.examination;
  const std::vector<reference_answers::known>* known = nullptr;
  if (reference_ != nullptr && comparable) known = reference_->find(*row.model, *row.examination);
  examination_answers* answers = nullptr;
  std::uint32_t log = 0;
  for (std::size_t i = 0; i < row.answers.size(); ++i) {
    const campaign::answer& answer = row.answers[i];
    ++counts.formulas;
    if (reference_ != nullptr) score(row, answer, known, i, counts);
    if (!definite(answer.value)) continue;
    ++counts.answered;
    if (!comparable || answer.name.empty()) continue;
    if (answers == nullptr) {
      examination_key(key_, *row.model, *row.examination);
      answers = &examinations_[key_];
      if (answers->formulas.empty()) {
        answers->model = *row.model;
        answers->examination = *row.examination;
      }
      log = static_cast<std::uint32_t>(logs_.size());
      logs_.push_back({&counts, &group->first, paths_.size(), row.path.size()});
      paths_ += row.path;
    }
    formula_answers* formula = find_formula(answers->formulas, answer.name, i);
    if (formula == nullptr) {
      formula = &answers->formulas.emplace_back();
      formula->formula = answer.name;
    }
    const auto seen = std::find(formula->values.begin(), formula->values.end(), *answer.value);
    const auto value = static_cast<std::uint32_t>(seen - formula->values.begin());
    if (seen == formula->values.end()) formula->values.push_back(*answer.value);
    formula->by.emplace_back(log, value);
  }
}

void campaign_digest::score(const campaign::row& row, const campaign::answer& answer,
                            const std::vector<reference_answers::known>* known, std::size_t hint,
                            group_counts& group) {
  const reference_answers::known* expected =
      known != nullptr && !answer.name.empty() ? find_formula(*known, answer.name, hint) : nullptr;
  if (expected == nullptr) {
    ++group.not_in_reference;
  } else if (!definite(answer.value)) {
    ++group.unanswered;
  } else if (*answer.value == expected->value || comparison_key(*answer.value) == expected->key) {
    ++group.right;
  } else {
    ++group.wrong;
    if (on_wrong_) on_wrong_({&row, answer.name, expected->value, *answer.value});
  }
}

void campaign_digest::for_each_contested(
    const std::function<void(const examination_answers&, const formula_answers&,
                             const std::vector<std::uint32_t>&)>& visit) const {
  for (const auto& [key, answers] : examinations_) {
    for (const formula_answers& formula : answers.formulas) {
      if (formula.values.size() < 2) continue;
      const std::vector<std::uint32_t> classes = value_classes(formula.values);
      if (*std::max_element(classes.begin(), classes.end()) != 0) visit(answers, formula, classes);
    }
  }
}

void campaign_digest::finish() {
  for_each_contested([this](const examination_answers&, const formula_answers& formula,
                            const std::vector<std::uint32_t>& classes) {
    const std::uint32_t class_count = *std::max_element(classes.begin(), classes.end()) + 1;
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
  });
}

group_counts campaign_digest::total() const {
  group_counts sum;
  for (const auto& [key, counts] : groups_) sum.add(counts);
  return sum;
}

void campaign_digest::for_each_disagreement(
    const std::function<void(const disagreement&)>& visit) const {
  struct contested {
    const examination_answers* answers;
    const formula_answers* formula;
    std::vector<std::uint32_t> classes;
  };
  std::vector<contested> formulas;
  for_each_contested([&formulas](const examination_answers& answers, const formula_answers& formula,
                                 const std::vector<std::uint32_t>& classes) {
    formulas.push_back({&answers, &formula, classes});
  });
  std::sort(formulas.begin(), formulas.end(), [](const contested& a, const contested& b) {
    return std::tie(a.answers->model, a.answers->examination, a.formula->formula) <
           std::tie(b.answers->model, b.answers->examination, b.formula->formula);
  });
  for (const contested& entry : formulas) {
    const std::uint32_t class_count =
        *std::max_element(entry.classes.begin(), entry.classes.end()) + 1;
    std::vector<std::size_t> in_class(class_count, 0);
    for (const auto& [log, value] : entry.formula->by) ++in_class[entry.classes[value]];
    const auto most = std::max_element(in_class.begin(), in_class.end());
    std::optional<std::string_view> majority;
    if (std::count(in_class.begin(), in_class.end(), *most) == 1) {
      const auto majority_class = static_cast<std::uint32_t>(most - in_class.begin());
      const auto first = std::find(entry.classes.begin(), entry.classes.end(), majority_class);
      majority = entry.formula->values[static_cast<std::size_t>(first - entry.classes.begin())];
    }
    for (const auto& [log, value] : entry.formula->by) {
      const log_entry& from = logs_[log];
      visit({entry.answers->model, entry.answers->examination, entry.formula->formula,
             entry.formula->values[value], &from.key->tool,
             std::string_view(paths_).substr(from.path_begin, from.path_size), majority});
    }
  }
}

std::size_t campaign_digest::for_each_agreed_answer(
    const std::function<void(std::string_view model, std::string_view examination,
                             std::string_view formula, std::string_view value)>& visit) const {
  std::size_t left_out = 0;
  for (const auto& [key, answers] : examinations_) {
    for (const formula_answers& formula : answers.formulas) {
      const std::vector<std::uint32_t> classes = value_classes(formula.values);
      if (*std::max_element(classes.begin(), classes.end()) != 0) {
        ++left_out;
      } else {
        visit(answers.model, answers.examination, formula.formula, formula.values.front());
      }
    }
  }
  return left_out;
}

}  // namespace sift_runlog::report
