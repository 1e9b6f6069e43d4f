// What the report's views are made of, gathered in one pass over the rows: counts per tool and
// examination, and for every formula (model, examination, formula name) the distinct values
// given and which logs gave them. Memory grows with the distinct formulas, their answers' log
// numbers (4 bytes each, to name the logs of a disagreement) and the logs' paths, never with the
// rows themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "table_reader.hpp"

namespace sift_runlog::report {

// The words of the verdict column, in the order of the summary's columns.
inline constexpr std::array<std::string_view, 8> verdict_words = {
    "answers", "DNC", "CC", "DNF", "BAD_RUN?", "ERROR", "problem_with_file", "failed"};

// The counts of one tool and examination.
struct group_counts {
  std::uint64_t logs = 0;
  std::uint64_t formulas = 0;  // answer entries, "?" included
  std::uint64_t answered = 0;  // definite answers (not "?")
  std::uint64_t disputed = 0;  // definite answers another log contradicts
  std::array<std::uint64_t, verdict_words.size()> verdicts{};
  std::uint64_t time_flag_dnf = 0;
  std::uint64_t memory_flag_movf = 0;
  // Against a reference.
  std::uint64_t right = 0;
  std::uint64_t wrong = 0;
  std::uint64_t unanswered = 0;  // "?" where the reference knows the value
  std::uint64_t not_in_reference = 0;

  void add(const group_counts& other);
};

struct group_key {
  std::optional<std::string> tool;
  std::optional<std::string> examination;
  auto operator<=>(const group_key&) const = default;
};

// One row of the disagreements view.
struct disagreement {
  std::string_view model, examination, formula, value;
  const std::optional<std::string>* tool;
  std::string_view path;
  std::optional<std::string_view> majority;
};

// One row of the wrong view.
struct wrong_answer {
  const table::table_row* row;
  std::string_view formula, expected, value;
};

// The known answers of a reference: from a csv model,examination,formula,value, or from the
// definite answers of a trusted campaign's own table (csv or jsonl), where a formula whose logs
// disagree is left out.
class reference_answers {
 public:
  // Reads `file`; throws table::table_error or input_error naming the file and the line.
  static reference_answers load(const std::string& file);

  struct known {
    std::string value;
    std::string key;  // comparison_key(value)
  };
  [[nodiscard]] const known* find(std::string_view model, std::string_view examination,
                                  std::string_view formula) const;
  [[nodiscard]] std::size_t size() const { return answers_.size(); }

 private:
  std::unordered_map<std::string, known> answers_;
  friend class reference_builder;
};

class campaign_digest {
 public:
  // With a reference, every answer is also scored; `on_wrong` receives each wrong answer as its
  // row is read (path order, then line order).
  explicit campaign_digest(const reference_answers* reference = nullptr,
                           std::function<void(const wrong_answer&)> on_wrong = {});

  void add(const table::table_row& row);

  // Once every row is added: counts the disputed answers. Call once, before the views below.
  void finish();

  // The groups in the byte order of tool then examination (absent first).
  [[nodiscard]] const std::map<group_key, group_counts>& groups() const { return groups_; }
  [[nodiscard]] group_counts total() const;
  // The rows of the disagreements view, in the order of model, examination, formula, then path.
  void for_each_disagreement(const std::function<void(const disagreement&)>& visit) const;
  // Every formula whose definite answers all agree, by its formula_key, with its first value.
  // Returns the number of formulas left out because their answers disagree.
  std::size_t for_each_agreed_answer(
      const std::function<void(std::string_view key, std::string_view value)>& visit) const;

 private:
  struct formula_answers {
    std::vector<std::string> values;                          // distinct texts, first seen first
    std::vector<std::pair<std::uint32_t, std::uint32_t>> by;  // (log, value), in log order
  };
  struct log_entry {
    group_counts* group;
    const group_key* key;
    std::size_t path_begin;
    std::size_t path_size;
  };
  void score(const table::table_row& row, const table::named_value& answer, group_counts& group);

  const reference_answers* reference_;
  std::function<void(const wrong_answer&)> on_wrong_;
  std::map<group_key, group_counts> groups_;
  std::unordered_map<std::string, formula_answers> formulas_;
  std::vector<log_entry> logs_;
  std::string paths_;  // every path with answers, one after another
  std::string key_;    // reused for lookups
};

// The key of a formula: its three names, each after its length, so that no two triples share one.
void formula_key(std::string& key, std::string_view model, std::string_view examination,
                 std::string_view formula);

}  // namespace sift_runlog::report
