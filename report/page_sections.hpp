// Sections of the html page beyond the digest's views: the changes since an earlier campaign
// (html --before) and the ranking (html --reference). Each is a plain table with a title and a
// note; the page shows them with append_page_sections.
#pragma once

#include <string>
#include <vector>

#include "diff.hpp"
#include "output_table.hpp"
#include "ranking.hpp"

namespace sift_runlog::report {

struct page_section {
  std::string id;     // the heading's id, for links
  std::string title;  // the heading
  std::string note;   // a sentence under the heading
  std::vector<std::string> columns;
  std::vector<std::vector<cell>> rows;
  bool last_is_total = false;
};

// The changes per tool since the campaign before (the summary of the diff view).
[[nodiscard]] page_section change_section(const campaign_diff& diff);

// The ranking, with the points it gives.
[[nodiscard]] page_section ranking_section(const campaign_digest& digest, const points& worth);

// Appends each section: an h2 heading, the note, and its table (numbers right-aligned, the total
// row marked), with the page's own classes ("n", "total", "note", "wide").
void append_page_sections(std::string& page, const std::vector<page_section>& sections);

}  // namespace sift_runlog::report
