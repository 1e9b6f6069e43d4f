// What the report's views are made of, gathered in one pass over the rows: counts per tool and
// examination, and for every formula (model, examination, formula name) the distinct values
// given and which logs gave them. Memory grows with the distinct formulas, 8 bytes per answer
// (the log's number and which value, to name the logs of a disagreement) and the logs' paths,
// never with the rows themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sift_campaign/row.hpp>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sift_runlog::report {

using campaign::verdict_words;

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
  // The distinct runs (the run name field) of the group's logs: repeated runs of one model show
  // as more than one.
  std::unordered_set<std::string> runs;

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
  const campaign::row* row;
  std::string_view formula, expected, value;
};

// The known answers of a reference: from a csv model,examination,formula,value, or from the
// definite answers of a trusted campaign's own table (csv or jsonl), where a formula whose logs
// disagree is left out.
class reference_answers {
 public:
  // Reads `file`; throws campaign::failure naming the file and the line.
  static reference_answers load(const std::string& file);

  struct known {
    std::string formula;
    std::string value;
    std::string key;  // comparison_key(value)
  };
  // The known answers of a model's examination, or null.
  [[nodiscard]] const std::vector<known>* find(std::string_view model,
                                               std::string_view examination) const;
  // Every known answer, in no particular order.
  void for_each(const std::function<void(std::string_view model, std::string_view examination,
                                         const known&)>& visit) const;

 private:
  std::unordered_map<std::string, std::vector<known>> answers_;  // by examination_key
  friend class reference_builder;
};

// The formula named `name` among `list` (anything with a member `formula`), looked for at
// `hint` first (the answers of a model's examination come in the same order in every log).
template <typename List>
auto* find_formula(List& list, std::string_view name, std::size_t hint) {
  if (hint < list.size() && list[hint].formula == name) return &list[hint];
  for (auto& entry : list) {
    if (entry.formula == name) return &entry;
  }
  return static_cast<decltype(&list[0])>(nullptr);
}

class campaign_digest {
 public:
  // With a reference, every answer is also scored; `on_wrong` receives each wrong answer as its
  // row is read (path order, then line order).
  explicit campaign_digest(const reference_answers* reference = nullptr,
                           std::function<void(const wrong_answer&)> on_wrong = {});

  void add(const campaign::row& row);

  // Once every row is added: counts the disputed answers. Call once, before the views below.
  void finish();

  // The groups in the byte order of tool then examination (absent first).
  [[nodiscard]] const std::map<group_key, group_counts>& groups() const { return groups_; }
  [[nodiscard]] group_counts total() const;
  // The rows of the disagreements view, in the order of model, examination, formula, then path.
  void for_each_disagreement(const std::function<void(const disagreement&)>& visit) const;
  // Every formula whose definite answers all agree, with its first value. Returns the number of
  // formulas left out because their answers disagree.
  std::size_t for_each_agreed_answer(
      const std::function<void(std::string_view model, std::string_view examination,
                               std::string_view formula, std::string_view value)>& visit) const;

 private:
  // The answers to one formula: its distinct texts, and which log gave which, in log order.
  struct formula_answers {
    std::string formula;
    std::vector<std::string> values;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> by;  // (log, value)
  };
  // The formulas of one model's examination, first seen first.
  struct examination_answers {
    std::string model;
    std::string examination;
    std::vector<formula_answers> formulas;
  };
  struct log_entry {
    group_counts* group;
    const group_key* key;
    std::size_t path_begin;
    std::size_t path_size;
  };
  void score(const campaign::row& row, const campaign::answer& answer,
             const std::vector<reference_answers::known>* known, std::size_t hint,
             group_counts& group);
  // Calls visit(examination, formula, classes) for each formula with two values or more;
  // classes[v] is the value class of text v (texts of one value share one).
  void for_each_contested(
      const std::function<void(const examination_answers&, const formula_answers&,
                               const std::vector<std::uint32_t>&)>& visit) const;

  const reference_answers* reference_;
  std::function<void(const wrong_answer&)> on_wrong_;
  std::map<group_key, group_counts> groups_;
  std::unordered_map<std::string, examination_answers> examinations_;  // by examination_key
  std::vector<log_entry> logs_;
  std::string paths_;  // every path with answers, one after another
  std::string key_;    // reused for lookups
};

// The key of a model's examination: both names, the first after its length, so that no two
// pairs share one.
void examination_key(std::string& key, std::string_view model, std::string_view examination);

}  // namespace sift_runlog::report
