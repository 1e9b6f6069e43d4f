// The html view: one self-contained page (its style and a short script inline, nothing fetched)
// that leads with each tool's totals, then the summary per examination with a chart of each
// tool's verdicts, with a reference the scores with their charts and the wrong answers, and the
// disagreements. Every table sorts by a click on a column header, the lists filter by a typed
// word, and with scripting off every table is still there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "campaign_digest.hpp"
#include "output_table.hpp"
#include "page_sections.hpp"
#include "views.hpp"

namespace sift_runlog::report {

// What the page says it was made from, and by what.
struct page_facts {
  std::string version;              // the program's
  std::string date;                 // YYYY-MM-DD
  std::vector<std::string> tables;  // as given, "-" for standard input
  std::string reference;            // empty: none
};

// The date of the page, in UTC: that of SOURCE_DATE_EPOCH when it is set (so that the same
// tables make the same page byte for byte), today's otherwise. Throws std::invalid_argument when
// SOURCE_DATE_EPOCH is not a count of seconds.
[[nodiscard]] std::string page_date();

// The page; `wrong` (the rows of the wrong view, in its order) is null without a reference.
// `sections` (the changes since a campaign before, the ranking) follow the tools' table.
[[nodiscard]] std::string html_page(const campaign_digest& digest,
                                    const std::vector<std::vector<cell>>* wrong,
                                    const page_facts& facts,
                                    const std::vector<page_section>& sections = {});

// `bytes` as html text: &, <, >, " and ' as entities, valid UTF-8 as it is, and control bytes and
// bytes that are no part of valid UTF-8 as a visible \xNN.
void append_html_text(std::string& out, std::string_view bytes);

}  // namespace sift_runlog::report
