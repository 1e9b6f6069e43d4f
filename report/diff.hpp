// The diff view: two campaigns compared log by log and answer by answer. Logs are matched by
// their name fields (tool, model, examination, run), answers by formula within them; values
// compare exactly as everywhere in the report (exact_number.hpp). One row per change:
// tool,model,examination,run,formula,before,after,change, and with a reference before_is and
// after_is (right, wrong, or empty).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <sift_campaign/row.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "campaign_digest.hpp"
#include "output_table.hpp"
#include "views.hpp"

namespace sift_runlog::report {

// One campaign's logs as diff needs them, packed: names, verdict and answers, no other field.
class campaign_store {
 public:
  // `side` names the campaign in messages ("before", "after").
  explicit campaign_store(std::string side) : side_(std::move(side)) {}

  // Throws campaign::failure when another log has the same names: a diff could not tell them
  // apart.
  void add(const campaign::row& row);

 private:
  friend class campaign_diff;
  struct text {
    std::size_t begin = 0;
    std::uint32_t size = 0;
    bool present = false;
  };
  struct stored_answer {
    text name, value;
  };
  struct stored_log {
    std::array<text, 4> names;  // tool, model, examination, run
    text path;                  // matched by path too, when a name is absent
    campaign::verdict verdict;
    std::size_t first_answer, answer_count;
  };
  [[nodiscard]] std::optional<std::string_view> view(const text& t) const {
    if (!t.present) return std::nullopt;
    return std::string_view(bytes_).substr(t.begin, t.size);
  }
  text keep(std::string_view value);
  text keep(const std::optional<std::string>& value) {
    return value ? keep(std::string_view(*value)) : text{};
  }
  // The logs in the byte order of their names (absent first; the path last, for a log with an
  // absent name). Throws campaign::failure for two logs of the same names.
  [[nodiscard]] std::vector<std::size_t> sorted() const;
  // <0, 0 or >0 as log `log` comes before, with or after log `other_log` of `other`.
  [[nodiscard]] int compare(std::size_t log, const campaign_store& other,
                            std::size_t other_log) const;

  std::string side_;
  std::string bytes_;
  std::vector<stored_log> logs_;
  std::vector<stored_answer> answers_;
};

// The columns of the diff view, with before_is and after_is when there is a reference.
[[nodiscard]] std::vector<std::string> diff_columns(bool with_reference);

class campaign_diff {
 public:
  campaign_diff(const campaign_store& before, const campaign_store& after,
                const reference_answers* reference);

  // Gives every change, in the byte order of tool, model, examination and run; within a log the
  // verdict first, then the answers in the order of the log after, then those only before.
  // Counts them per tool for the summary; call once.
  void for_each_change(const row_visitor& visit);
  [[nodiscard]] bool changed() const { return changes_ != 0; }

  // The summary: per tool (byte order) the count of each change, and with a reference
  // newly_wrong (wrong after, not before); then a total row, given to `visit_total`.
  [[nodiscard]] std::vector<std::string> summary_columns() const;
  void for_each_summary_row(const row_visitor& visit, const row_visitor& visit_total) const;

 private:
  void compare_logs(std::size_t before, std::size_t after, const row_visitor& visit);
  void emit(const campaign_store& side, std::size_t log, std::string_view formula, cell before,
            cell after, std::size_t change, const row_visitor& visit);
  // "right" or "wrong" for a value of a log's formula, or absent where the reference has none.
  [[nodiscard]] cell judged(const campaign_store& side, std::size_t log, std::string_view formula,
                            const cell& value) const;

  const campaign_store& before_;
  const campaign_store& after_;
  const reference_answers* reference_;
  std::map<std::optional<std::string>, std::array<std::uint64_t, 7>> per_tool_;
  std::uint64_t changes_ = 0;
};

struct report_settings;

// Writes the diff view of the settings' --before tables against their tables (text: the changes,
// then the summary per tool) and returns the exit status: 0 without a change, 1 with one.
[[nodiscard]] int write_diff(const report_settings& settings, const reference_answers* reference,
                             output_format format, const byte_sink& sink);

}  // namespace sift_runlog::report
