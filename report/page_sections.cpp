#include "page_sections.hpp"

namespace sift_runlog::report {

page_section change_section(const campaign_diff& diff, const std::vector<std::string>& before) {
  std::string note = "Changes per tool since the campaign of ";
  for (std::size_t i = 0; i < before.size(); ++i) {
    note += (i == 0 ? "" : ", ") + (before[i] == "-" ? std::string("standard input") : before[i]);
  }
  note +=
      ": answers new, lost or changed, verdicts changed, logs new or missing. The diff view "
      "lists them.";
  page_section section{"changes", "Changes", note, diff.summary_columns(), {}, true};
  const auto add = [&section](const std::vector<cell>& row) { section.rows.push_back(row); };
  diff.for_each_summary_row(add, add);
  section.rows.back()[0] = cell::of(std::string_view("total"));
  return section;
}

page_section ranking_section(const campaign_digest& digest, const points& worth) {
  page_section section{"ranking", "Ranking", points_text(worth), view_columns(view::ranking),
                       {},        false};
  for_each_ranking_row(digest, worth,
                       [&section](const std::vector<cell>& row) { section.rows.push_back(row); });
  return section;
}

}  // namespace sift_runlog::report
