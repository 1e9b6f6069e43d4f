// The flaky view: the formulas whose definite answers differ between the runs of one tool, model
// and examination (repeated runs of the same task), as tool,model,examination,formula,values,runs.
#pragma once

#include <cstdint>
#include <sift_campaign/row.hpp>
#include <sift_campaign/table_set.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "output_table.hpp"
#include "views.hpp"

namespace sift_runlog::report {

class flaky_finder {
 public:
  void add(const campaign::row& row);

  // The flaky formulas in the byte order of tool, model, examination and formula: values are the
  // distinct values (the first notation met of each, in the order met) one blank apart, runs
  // the number of logs that gave a definite answer.
  void for_each(const row_visitor& visit) const;

 private:
  struct formula_values {
    std::string formula;
    std::vector<std::string> texts;  // distinct texts, in the order met
    std::uint64_t runs = 0;
  };
  struct task {
    std::string tool, model, examination;
    std::vector<formula_values> formulas;
  };
  std::unordered_map<std::string, task> tasks_;  // by the three names
  std::string key_;
};

// Reads every row and writes the flaky view.
void write_flaky(campaign::table_set& rows, output_format format, const byte_sink& sink);

}  // namespace sift_runlog::report
