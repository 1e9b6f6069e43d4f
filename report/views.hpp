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

enum class view { answers, summary, disagreements, scores, wrong, html };

// The view named "answers", "summary", "disagreements", "scores", "wrong" or "html".
[[nodiscard]] std::optional<view> parse_view(std::string_view name);

// The columns of a view (html: those of the summary).
[[nodiscard]] std::vector<std::string> view_columns(view chosen);

// The answers view's rows of one table row: one per answer, "?" included.
void for_each_answer_row(const campaign::row& row,
                         const std::function<void(const std::vector<cell>&)>& visit);

[[nodiscard]] std::vector<cell> wrong_row(const wrong_answer& wrong);

// The rows of the summary or of the scores (each with a total row last, with no tool and no
// examination), or of the disagreements.
void for_each_digest_row(view chosen, const campaign_digest& digest,
                         const std::function<void(const std::vector<cell>&)>& visit);

}  // namespace sift_runlog::report
