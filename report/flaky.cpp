#include "flaky.hpp"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "campaign_digest.hpp"
#include "exact_number.hpp"

namespace sift_runlog::report {
namespace {

void append_sized(std::string& key, std::string_view name) {
  const auto size = static_cast<std::uint32_t>(name.size());
  char bytes[sizeof size];
  std::memcpy(bytes, &size, sizeof size);
  key.append(bytes, sizeof size);
  key += name;
}

}  // namespace

void flaky_finder::add(const campaign::row& row) {
  if (!row.tool || !row.model || !row.examination || row.answers.empty()) return;
  task* entry = nullptr;
  for (std::size_t i = 0; i < row.answers.size(); ++i) {
    const campaign::answer& answer = row.answers[i];
    if (!answer.value || answer.name.empty()) continue;
    if (entry == nullptr) {
      key_.clear();
      append_sized(key_, *row.tool);
      append_sized(key_, *row.model);
      key_ += *row.examination;
      entry = &tasks_[key_];
      if (entry->tool.empty() && entry->formulas.empty()) {
        entry->tool = *row.tool;
        entry->model = *row.model;
        entry->examination = *row.examination;
      }
    }
    formula_values* formula = find_formula(entry->formulas, answer.name, i);
    if (formula == nullptr) {
      formula = &entry->formulas.emplace_back();
      formula->formula = answer.name;
    }
    if (std::find(formula->texts.begin(), formula->texts.end(), *answer.value) ==
        formula->texts.end()) {
      formula->texts.push_back(*answer.value);
    }
    ++formula->runs;
  }
}

void flaky_finder::for_each(const row_visitor& visit) const {
  struct found {
    const task* from;
    const formula_values* formula;
    std::string values;
  };
  std::vector<found> rows;
  for (const auto& [key, entry] : tasks_) {
    for (const formula_values& formula : entry.formulas) {
      if (formula.texts.size() < 2) continue;
      // The texts of distinct values: one notation of each, the first met.
      std::vector<std::string> keys;
      std::string values;
      for (const std::string& text : formula.texts) {
        std::string value_key = comparison_key(text);
        if (std::find(keys.begin(), keys.end(), value_key) != keys.end()) continue;
        keys.push_back(std::move(value_key));
        (values += values.empty() ? "" : " ") += text;
      }
      if (keys.size() > 1) rows.push_back({&entry, &formula, std::move(values)});
    }
  }
  std::sort(rows.begin(), rows.end(), [](const found& a, const found& b) {
    return std::tie(a.from->tool, a.from->model, a.from->examination, a.formula->formula) <
           std::tie(b.from->tool, b.from->model, b.from->examination, b.formula->formula);
  });
  for (const found& row : rows) {
    visit({cell::of(row.from->tool), cell::of(row.from->model), cell::of(row.from->examination),
           cell::of(row.formula->formula), cell::of(row.values), cell::of(row.formula->runs)});
  }
}

void write_flaky(campaign::table_set& rows, output_format format, const byte_sink& sink) {
  flaky_finder finder;
  campaign::row row;
  while (rows.next(row)) finder.add(row);
  table_writer out(format, view_columns(view::flaky), sink);
  out.order_naturally(natural_order_columns(view::flaky));
  finder.for_each([&out](const std::vector<cell>& cells) { out.add_row(cells); });
  out.finish();
}

}  // namespace sift_runlog::report
