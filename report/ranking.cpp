#include "ranking.hpp"

#include <algorithm>
#include <charconv>
#include <map>

namespace sift_runlog::report {
namespace {

struct standing {
  const std::optional<std::string>* tool;
  std::int64_t points = 0;
  std::uint64_t right = 0, wrong = 0, unanswered = 0;
};

void add(standing& entry, const group_counts& counts, const points& worth) {
  entry.right += counts.right;
  entry.wrong += counts.wrong;
  entry.unanswered += counts.unanswered;
  entry.points = static_cast<std::int64_t>(entry.right) * worth.right +
                 static_cast<std::int64_t>(entry.wrong) * worth.wrong +
                 static_cast<std::int64_t>(entry.unanswered) * worth.unanswered;
}

void rank(const cell& examination, std::vector<standing> entries, const row_visitor& visit) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const standing& a, const standing& b) { return a.points > b.points; });
  std::size_t place = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const standing& entry = entries[i];
    if (i == 0 || entry.points != entries[i - 1].points) place = i + 1;
    visit({examination, cell::of(static_cast<std::uint64_t>(place)), cell::of(*entry.tool),
           cell::figure(std::to_string(entry.points)), cell::of(entry.right), cell::of(entry.wrong),
           cell::of(entry.unanswered)});
  }
}

}  // namespace

std::optional<points> parse_points(std::string_view text) {
  constexpr std::string_view names[3] = {"right", "wrong", "unanswered"};
  points worth;
  std::int64_t* const targets[3] = {&worth.right, &worth.wrong, &worth.unanswered};
  bool seen[3] = {false, false, false};
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        text.substr(start, comma == std::string_view::npos ? comma : comma - start);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view number = item.substr(equals + 1);
    std::int64_t value = 0;
    const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || parsed.ptr != number.data() + number.size() || parsed.ec != std::errc() ||
        value < -1000000 || value > 1000000) {
      return std::nullopt;
    }
    const auto which = static_cast<std::size_t>(
        std::find(std::begin(names), std::end(names), item.substr(0, equals)) - std::begin(names));
    if (which == 3 || seen[which]) return std::nullopt;
    seen[which] = true;
    *targets[which] = value;
    if (comma == std::string_view::npos) return worth;
    start = comma + 1;
  }
}

std::string points_text(const points& worth) {
  return "Points: right " + std::to_string(worth.right) + ", wrong " + std::to_string(worth.wrong) +
         ", unanswered " + std::to_string(worth.unanswered) +
         (worth == points{} ? " (the default)." : " (--points).");
}

void for_each_ranking_row(const campaign_digest& digest, const points& worth,
                          const row_visitor& visit) {
  std::map<std::optional<std::string>, std::vector<standing>> by_examination;
  std::map<std::optional<std::string>, standing> overall;
  for (const auto& [key, counts] : digest.groups()) {
    standing& entry = by_examination[key.examination].emplace_back(standing{&key.tool});
    add(entry, counts, worth);
    standing& sum = overall.try_emplace(key.tool, standing{&key.tool}).first->second;
    add(sum, counts, worth);
  }
  for (const auto& [examination, entries] : by_examination)
    rank(cell::of(examination), entries, visit);
  std::vector<standing> all;
  for (const auto& [tool, entry] : overall) all.push_back(entry);
  rank(cell::of(all_marker), std::move(all), visit);
}

}  // namespace sift_runlog::report
