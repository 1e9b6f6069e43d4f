// Sections of the html page beyond the digest's views: the changes since an earlier campaign
// (html --before) and the ranking (html --reference). Each is a table with a title and a note,
// which html_page shows after the tools' table.
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

// The changes per tool since the campaign of the tables `before` (the diff view's summary), once
// the diff has gone through its changes.
[[nodiscard]] page_section change_section(const campaign_diff& diff,
                                          const std::vector<std::string>& before);

// The ranking, with the points it gives.
[[nodiscard]] page_section ranking_section(const campaign_digest& digest, const points& worth);

}  // namespace sift_runlog::report
