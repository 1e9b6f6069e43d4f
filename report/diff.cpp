#include "diff.hpp"

#include <algorithm>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/table_set.hpp>

#include "exact_number.hpp"
#include "report.hpp"

namespace sift_runlog::report {
namespace {

// The changes, in the order of the summary's columns.
constexpr std::array<std::string_view, 7> change_words = {
    "new_answer", "lost_answer", "changed_answer", "verdict",
    "new_log",    "missing_log", "newly_wrong"};
enum change : std::size_t {
  new_answer,
  lost_answer,
  changed_answer,
  verdict_change,
  new_log,
  missing_log,
  newly_wrong
};

int compare_texts(const std::optional<std::string_view>& a,
                  const std::optional<std::string_view>& b) {
  if (!a || !b) return static_cast<int>(a.has_value()) - static_cast<int>(b.has_value());
  const int order = a->compare(*b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool same_value(std::string_view a, std::string_view b) {
  return a == b || comparison_key(a) == comparison_key(b);
}

void read_campaign(const std::vector<std::string>& tables, campaign_store& store) {
  campaign::table_set rows(tables);
  campaign::row row;
  while (rows.next(row)) store.add(row);
}

}  // namespace

campaign_store::text campaign_store::keep(std::string_view value) {
  const text kept{bytes_.size(), static_cast<std::uint32_t>(value.size()), true};
  bytes_ += value;
  return kept;
}

void campaign_store::add(const campaign::row& row) {
  stored_log entry{{keep(row.tool), keep(row.model), keep(row.examination), keep(row.run)},
                   keep(std::string_view(row.path)),
                   row.verdict,
                   answers_.size(),
                   row.answers.size()};
  for (const campaign::answer& answer : row.answers) {
    answers_.push_back({keep(std::string_view(answer.name)), keep(answer.value)});
  }
  logs_.push_back(entry);
}

int campaign_store::compare(std::size_t log, const campaign_store& other,
                            std::size_t other_log) const {
  const stored_log& a = logs_[log];
  const stored_log& b = other.logs_[other_log];
  for (std::size_t i = 0; i < a.names.size(); ++i) {
    if (const int order = compare_texts(view(a.names[i]), other.view(b.names[i]))) return order;
  }
  const auto named = [](const stored_log& entry) {
    return std::all_of(entry.names.begin(), entry.names.end(),
                       [](const text& name) { return name.present; });
  };
  // A log without all four names is matched by its path.
  const std::optional<std::string_view> path =
      named(a) ? std::nullopt : std::optional(*view(a.path));
  const std::optional<std::string_view> other_path =
      named(b) ? std::nullopt : std::optional(*other.view(b.path));
  return compare_texts(path, other_path);
}

std::vector<std::size_t> campaign_store::sorted() const {
  std::vector<std::size_t> order(logs_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [this](std::size_t a, std::size_t b) { return compare(a, *this, b) < 0; });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (compare(order[i - 1], *this, order[i]) == 0) {
      throw campaign::failure(
          "the " + side_ + " campaign has two logs of the same names (tool, " +
          "model, examination, run): " + std::string(*view(logs_[order[i - 1]].path)) + " and " +
          std::string(*view(logs_[order[i]].path)) + "; diff matches logs by their names");
    }
  }
  return order;
}

std::vector<std::string> diff_columns(bool with_reference) {
  std::vector<std::string> columns = view_columns(view::diff);
  if (with_reference) columns.insert(columns.end(), {"before_is", "after_is"});
  return columns;
}

campaign_diff::campaign_diff(const campaign_store& before, const campaign_store& after,
                             const reference_answers* reference)
    : before_(before), after_(after), reference_(reference) {}

cell campaign_diff::judged(const campaign_store& side, std::size_t log, std::string_view formula,
                           const cell& value) const {
  const campaign_store::stored_log& entry = side.logs_[log];
  const auto model = side.view(entry.names[1]);
  const auto examination = side.view(entry.names[2]);
  if (value.type != cell::kind::text || formula.empty() || !model || !examination) return {};
  const auto* known = reference_->find(*model, *examination);
  if (known == nullptr) return {};
  const auto* expected = find_formula(*known, formula, 0);
  if (expected == nullptr) return {};
  return cell::of(std::string_view(same_value(value.text, expected->value) ? "right" : "wrong"));
}

void campaign_diff::emit(const campaign_store& side, std::size_t log, std::string_view formula,
                         cell before, cell after, std::size_t change, const row_visitor& visit) {
  const campaign_store::stored_log& entry = side.logs_[log];
  std::vector<cell> row;
  for (const campaign_store::text& name : entry.names) {
    const auto shown = side.view(name);
    row.push_back(shown ? cell::of(*shown) : cell{});
  }
  row.push_back(formula.empty() ? cell{} : cell::of(formula));
  const auto tool = side.view(entry.names[0]);
  auto& counts = per_tool_[tool ? std::optional<std::string>(*tool) : std::nullopt];
  ++counts[change];
  ++changes_;
  if (reference_ != nullptr) {
    // Matched logs have the same names: either side's model and examination will do.
    cell before_is = judged(side, log, formula, before);
    cell after_is = judged(side, log, formula, after);
    if (after_is.text == "wrong" && before_is.text != "wrong") ++counts[newly_wrong];
    row.insert(row.end(), {std::move(before), std::move(after), cell::of(change_words[change]),
                           std::move(before_is), std::move(after_is)});
  } else {
    row.insert(row.end(), {std::move(before), std::move(after), cell::of(change_words[change])});
  }
  visit(row);
}

void campaign_diff::compare_logs(std::size_t before, std::size_t after, const row_visitor& visit) {
  const campaign_store::stored_log& old_log = before_.logs_[before];
  const campaign_store::stored_log& new_log = after_.logs_[after];
  if (old_log.verdict != new_log.verdict) {
    emit(after_, after, {}, cell::of(campaign::word_of(old_log.verdict)),
         cell::of(campaign::word_of(new_log.verdict)), verdict_change, visit);
  }
  const auto value_cell = [](const std::optional<std::string_view>& value) {
    return value ? cell::of(*value) : cell::no_answer();
  };
  std::vector<bool> matched(old_log.answer_count, false);
  for (std::size_t i = 0; i < new_log.answer_count; ++i) {
    const auto& answer = after_.answers_[new_log.first_answer + i];
    const std::string_view name = *after_.view(answer.name);
    // The same formula before: by its name, or by its place for answers without names.
    std::optional<std::size_t> found;
    for (std::size_t k = 0; k < old_log.answer_count && !found; ++k) {
      const std::size_t j = (i + k) % old_log.answer_count;
      const auto& old = before_.answers_[old_log.first_answer + j];
      if (!matched[j] && *before_.view(old.name) == name && (!name.empty() || j == i)) found = j;
    }
    const auto value = after_.view(answer.value);
    std::optional<std::string_view> old_value;
    if (found) {
      matched[*found] = true;
      old_value = before_.view(before_.answers_[old_log.first_answer + *found].value);
    }
    std::optional<std::size_t> change;
    if (value && !old_value) change = new_answer;
    if (!value && old_value) change = lost_answer;
    if (value && old_value && !same_value(*value, *old_value)) change = changed_answer;
    if (change) {
      emit(after_, after, name, found ? value_cell(old_value) : cell{}, value_cell(value), *change,
           visit);
    }
  }
  for (std::size_t j = 0; j < old_log.answer_count; ++j) {
    const auto& old = before_.answers_[old_log.first_answer + j];
    if (!matched[j] && old.value.present) {
      emit(after_, after, *before_.view(old.name), value_cell(before_.view(old.value)), cell{},
           lost_answer, visit);
    }
  }
}

void campaign_diff::for_each_change(const row_visitor& visit) {
  const std::vector<std::size_t> old_logs = before_.sorted();
  const std::vector<std::size_t> new_logs = after_.sorted();
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < old_logs.size() || j < new_logs.size()) {
    const int order = i == old_logs.size()   ? 1
                      : j == new_logs.size() ? -1
                                             : before_.compare(old_logs[i], after_, new_logs[j]);
    if (order < 0) {
      const auto verdict = campaign::word_of(before_.logs_[old_logs[i]].verdict);
      emit(before_, old_logs[i++], {}, cell::of(verdict), cell{}, missing_log, visit);
    } else if (order > 0) {
      const auto verdict = campaign::word_of(after_.logs_[new_logs[j]].verdict);
      emit(after_, new_logs[j++], {}, cell{}, cell::of(verdict), new_log, visit);
    } else {
      compare_logs(old_logs[i++], new_logs[j++], visit);
    }
  }
}

std::vector<std::string> campaign_diff::summary_columns() const {
  std::vector<std::string> columns = {"tool"};
  const std::size_t shown = reference_ != nullptr ? change_words.size() : newly_wrong;
  for (std::size_t i = 0; i < shown; ++i) columns.emplace_back(change_words[i]);
  return columns;
}

void campaign_diff::for_each_summary_row(const row_visitor& visit,
                                         const row_visitor& visit_total) const {
  const std::size_t shown = reference_ != nullptr ? change_words.size() : newly_wrong;
  std::array<std::uint64_t, change_words.size()> total{};
  const auto row_of = [shown](cell tool, const std::array<std::uint64_t, 7>& counts) {
    std::vector<cell> row = {std::move(tool)};
    for (std::size_t i = 0; i < shown; ++i) row.push_back(cell::of(counts[i]));
    return row;
  };
  for (const auto& [tool, counts] : per_tool_) {
    visit(row_of(cell::of(tool), counts));
    for (std::size_t i = 0; i < total.size(); ++i) total[i] += counts[i];
  }
  visit_total(row_of(cell{}, total));
}

int write_diff(const report_settings& settings, const reference_answers* reference,
               output_format format, const byte_sink& sink) {
  campaign_store before("before");
  campaign_store after("after");
  read_campaign(settings.before, before);
  read_campaign(settings.tables, after);
  campaign_diff diff(before, after, reference);
  table_writer out(format, diff_columns(reference != nullptr), sink, settings.totals);
  out.order_naturally(natural_order_columns(view::diff));
  diff.for_each_change([&out](const std::vector<cell>& row) { out.add_row(row); });
  out.finish();
  if (format == output_format::text) {
    sink("\nChanges per tool:\n");
    table_writer summary(format, diff.summary_columns(), sink);
    summary.order_naturally({0});  // tool
    diff.for_each_summary_row(
        [&summary](const std::vector<cell>& row) { summary.add_row(row); },
        [&summary](const std::vector<cell>& row) { summary.add_total_row(row); });
    summary.finish();
  }
  return diff.changed() ? 1 : 0;
}

}  // namespace sift_runlog::report
