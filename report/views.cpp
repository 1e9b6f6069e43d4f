#include "views.hpp"

#include <array>
#include <utility>

#include "exact_number.hpp"

namespace sift_runlog::report {
namespace {

std::vector<cell> summary_row(const group_key& key, const group_counts& counts) {
  std::vector<cell> row = {cell::of(key.tool),        cell::of(key.examination),
                           cell::of(counts.logs),     cell::of(counts.formulas),
                           cell::of(counts.answered), cell::of(counts.disputed)};
  for (const std::uint64_t count : counts.verdicts) row.push_back(cell::of(count));
  row.push_back(cell::of(counts.time_flag_dnf));
  row.push_back(cell::of(counts.memory_flag_movf));
  row.push_back(cell::of(static_cast<std::uint64_t>(counts.runs.size())));
  return row;
}

std::vector<cell> score_row(const group_key& key, const group_counts& counts) {
  return {cell::of(key.tool),     cell::of(key.examination),   cell::of(counts.right),
          cell::of(counts.wrong), cell::of(counts.unanswered), cell::of(counts.not_in_reference)};
}

}  // namespace

std::optional<view> parse_view(std::string_view name) {
  constexpr std::array<std::pair<std::string_view, view>, 10> names = {
      {{"answers", view::answers},
       {"summary", view::summary},
       {"disagreements", view::disagreements},
       {"scores", view::scores},
       {"wrong", view::wrong},
       {"html", view::html},
       {"diff", view::diff},
       {"sqlite", view::sqlite},
       {"ranking", view::ranking},
       {"flaky", view::flaky}}};
  for (const auto& [known, chosen] : names) {
    if (name == known) return chosen;
  }
  return std::nullopt;
}

std::vector<std::string> view_columns(view chosen) {
  switch (chosen) {
    case view::answers:
      return {"path", "tool", "model", "examination", "run", "formula", "value", "number"};
    case view::summary:
    case view::html:
    case view::sqlite:
      break;
    case view::diff:
      return {"tool", "model", "examination", "run", "formula", "before", "after", "change"};
    case view::ranking:
      return {"examination", "rank", "tool", "points", "right", "wrong", "unanswered"};
    case view::flaky:
      return {"tool", "model", "examination", "formula", "values", "runs"};
    case view::disagreements:
      return {"model", "examination", "formula", "value", "tool", "path", "majority"};
    case view::scores:
      return {"tool", "examination", "right", "wrong", "unanswered", "not_in_reference"};
    case view::wrong:
      return {"model", "examination", "formula", "expected", "value", "tool", "path"};
  }
  std::vector<std::string> columns = {"tool",     "examination", "logs",
                                      "formulas", "answered",    "disputed"};
  for (const std::string_view verdict : verdict_words) columns.emplace_back(verdict);
  columns.emplace_back("time_flag_DNF");
  columns.emplace_back("memory_flag_MOVF");
  columns.emplace_back("runs");
  return columns;
}

std::vector<std::size_t> natural_order_columns(view chosen) {
  switch (chosen) {
    case view::answers:
      return {0};  // path
    case view::summary:
    case view::scores:
      return {0, 1};  // tool, examination
    case view::html:
    case view::sqlite:
      return {};  // the page orders its tables itself; a database has no order
    case view::disagreements:
      return {0, 1};  // model, examination
    case view::wrong:
      return {6};  // path
    case view::ranking:
      return {0};  // examination; the tools stay in the order of their rank
    case view::flaky:
    case view::diff:
      return {0, 1, 2};  // tool, model, examination
  }
  return {};
}

void for_each_answer_row(const campaign::row& row, const row_visitor& visit) {
  for (const campaign::answer& answer : row.answers) {
    std::optional<double> number;
    if (answer.value) number = decimal_value(*answer.value);
    visit({cell::of(row.path), cell::of(row.tool), cell::of(row.model), cell::of(row.examination),
           cell::of(row.run), answer.name.empty() ? cell{} : cell::of(answer.name),
           answer.value ? cell::of(*answer.value) : cell::no_answer(),
           number ? cell::figure(figure_text(*number)) : cell{}});
  }
}

std::vector<cell> wrong_row(const wrong_answer& wrong) {
  const campaign::row& row = *wrong.row;
  return {cell::of(row.model),      cell::of(row.examination), cell::of(wrong.formula),
          cell::of(wrong.expected), cell::of(wrong.value),     cell::of(row.tool),
          cell::of(row.path)};
}

void for_each_digest_row(view chosen, const campaign_digest& digest, const row_visitor& visit) {
  for_each_digest_row(chosen, digest, visit, visit);
}

void for_each_digest_row(view chosen, const campaign_digest& digest, const row_visitor& visit,
                         const row_visitor& visit_total) {
  switch (chosen) {
    case view::summary:
      for (const auto& [key, counts] : digest.groups()) visit(summary_row(key, counts));
      visit_total(summary_row(group_key{}, digest.total()));
      return;
    case view::disagreements:
      digest.for_each_disagreement([&visit](const disagreement& row) {
        visit({cell::of(row.model), cell::of(row.examination), cell::of(row.formula),
               cell::of(row.value), cell::of(*row.tool), cell::of(row.path),
               row.majority ? cell::of(*row.majority) : cell{}});
      });
      return;
    case view::scores:
      for (const auto& [key, counts] : digest.groups()) visit(score_row(key, counts));
      visit_total(score_row(group_key{}, digest.total()));
      return;
    default:
      return;
  }
}

}  // namespace sift_runlog::report
