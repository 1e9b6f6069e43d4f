// The rows of the tables a report is made of, in path order, read once: one csv or jsonl table,
// the tables of several campaigns, or the parts of a sharded campaign, merged by path as they are
// read. A path in two tables, a table out of path order and an incomplete set of shard parts are
// errors: a report over them would count logs twice or silently miss some.
#pragma once

#include <cstddef>
#include <memory>
#include <sift_campaign/failure.hpp>
#include <string>
#include <vector>

#include "table_reader.hpp"

namespace sift_runlog::report {

// An input that cannot make a report; what() names the file and, when there is one, the line.
class input_error : public campaign::failure {
 public:
  using campaign::failure::failure;
};

class table_rows {
 public:
  // Opens every table ("-": standard input, at most once) and reads its first row. Throws
  // table::table_error or input_error.
  explicit table_rows(const std::vector<std::string>& files);
  ~table_rows();
  table_rows(const table_rows&) = delete;
  table_rows& operator=(const table_rows&) = delete;

  // The next row in path order; false after the last one, once the shard parts are known to be
  // whole. Throws table::table_error or input_error.
  bool next(table::table_row& row);

 private:
  struct source;
  void advance(source& from);
  void check_shard_parts() const;
  void check_shard_rows() const;

  std::vector<std::unique_ptr<source>> sources_;
  std::string last_path_;
  const source* last_source_ = nullptr;
  std::size_t rows_ = 0;
};

}  // namespace sift_runlog::report
