// The html view: one self-contained page (its style inline, no script, nothing fetched) with the
// summary, a bar chart per examination of each tool's verdicts, the disagreements and, with a
// reference, the scores with their chart and the wrong answers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "campaign_digest.hpp"
#include "output_table.hpp"
#include "page_sections.hpp"
#include "views.hpp"

namespace sift_runlog::report {

// The page; `wrong` (the rows of the wrong view) is null without a reference. `sections` (the
// changes since a campaign before, the ranking) follow the summary.
[[nodiscard]] std::string html_page(const campaign_digest& digest,
                                    const std::vector<std::vector<cell>>* wrong,
                                    const std::vector<page_section>& sections = {});

// `bytes` as html text: &, <, >, " and ' as entities, valid UTF-8 as it is, and control bytes and
// bytes that are no part of valid UTF-8 as a visible \xNN.
void append_html_text(std::string& out, std::string_view bytes);

}  // namespace sift_runlog::report
