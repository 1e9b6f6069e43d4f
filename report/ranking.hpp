// The ranking view: points and rank of each tool per examination and over all examinations,
// from its right, wrong and unanswered answers against a reference.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "campaign_digest.hpp"
#include "output_table.hpp"
#include "views.hpp"

namespace sift_runlog::report {

// What an answer is worth. A wrong answer costs more than a right one gains, so that guessing
// does not pay.
struct points {
  std::int64_t right = 1;
  std::int64_t wrong = -4;
  std::int64_t unanswered = 0;
  bool operator==(const points&) const = default;
};

// The points of "right=A,wrong=B,unanswered=C" (any of them, in any order; the others keep their
// default), each a whole number from -1000000 to 1000000; nothing for any other text.
[[nodiscard]] std::optional<points> parse_points(std::string_view text);

// "Points: right 1, wrong -4, unanswered 0 (the default)." or "(--points)".
[[nodiscard]] std::string points_text(const points& worth);

// The rows of the ranking: per examination in byte order, then over all examinations (the
// examination all_marker), each by rank, ties sharing theirs (1, 1, 3), then by tool.
void for_each_ranking_row(const campaign_digest& digest, const points& worth,
                          const row_visitor& visit);

}  // namespace sift_runlog::report
