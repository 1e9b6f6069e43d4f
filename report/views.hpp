// The report's views as tables of cells: their columns, and their rows from a table's row (the
// streamed views answers and wrong) or from a campaign's digest (summary, disagreements, scores).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "campaign_digest.hpp"
#include "output_table.hpp"

namespace sift_runlog::report {

enum class view {
  answers,
  summary,
  disagreements,
  scores,
  wrong,
  html,
  diff,
  sqlite,
  ranking,
  flaky
};

// The view named "answers", "summary", "disagreements", "scores", "wrong", "html", "diff",
// "sqlite", "ranking" or "flaky".
[[nodiscard]] std::optional<view> parse_view(std::string_view name);

// The columns of a view (html and sqlite: those of the summary; diff: without a reference).
[[nodiscard]] std::vector<std::string> view_columns(view chosen);

// The columns of a view's rows whose natural order text, markdown and latex show them in
// (table_writer::order_naturally): the names of tools, models and examinations, and the path
// where rows follow the logs.
[[nodiscard]] std::vector<std::size_t> natural_order_columns(view chosen);

using row_visitor = std::function<void(const std::vector<cell>&)>;

// The answers view's rows of one table row: one per answer, "?" included (a missing answer, no
// value), and the value's number where it is a decimal number.
void for_each_answer_row(const campaign::row& row, const row_visitor& visit);

[[nodiscard]] std::vector<cell> wrong_row(const wrong_answer& wrong);

// The rows of the summary or of the scores (each with a total row last, with no tool and no
// examination, given to `visit_total`), or of the disagreements.
void for_each_digest_row(view chosen, const campaign_digest& digest, const row_visitor& visit,
                         const row_visitor& visit_total);
// The same, the total row given to `visit` as the last row.
void for_each_digest_row(view chosen, const campaign_digest& digest, const row_visitor& visit);

}  // namespace sift_runlog::report
