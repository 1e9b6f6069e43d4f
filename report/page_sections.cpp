#include "page_sections.hpp"

#include "html_page.hpp"

namespace sift_runlog::report {

page_section change_section(const campaign_diff& diff) {
  page_section section{"changes",
                       "Changes since the campaign before",
                       "Changes per tool against the --before tables: answers new, lost or "
                       "changed, verdicts changed, logs new or missing. The diff view lists them.",
                       diff.summary_columns(),
                       {},
                       true};
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

void append_page_sections(std::string& page, const std::vector<page_section>& sections) {
  for (const page_section& section : sections) {
    page += "<h2 id=\"" + section.id + "\">";
    append_html_text(page, section.title);
    page += "</h2>\n<p class=\"note\">";
    append_html_text(page, section.note);
    page += "</p>\n<div class=\"wide\"><table>\n<tr>";
    for (const std::string& column : section.columns) {
      page += "<th>";
      append_html_text(page, column);
      page += "</th>";
    }
    page += "</tr>\n";
    for (std::size_t i = 0; i < section.rows.size(); ++i) {
      const bool total = section.last_is_total && i + 1 == section.rows.size();
      page += total ? "<tr class=\"total\">" : "<tr>";
      for (const cell& value : section.rows[i]) {
        const bool number = value.type == cell::kind::count || value.numeric;
        page += number ? "<td class=\"n\">" : "<td>";
        if (value.type == cell::kind::count) {
          page += std::to_string(value.number);
        } else {
          append_html_text(page, value.text);
        }
        page += "</td>";
      }
      page += "</tr>\n";
    }
    page += "</table></div>\n";
  }
}

}  // namespace sift_runlog::report
