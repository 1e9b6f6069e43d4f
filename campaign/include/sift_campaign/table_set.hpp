// The rows of several csv or jsonl tables read as one campaign, in path order: the tables of
// several campaigns, or the parts of a sharded one, merged by path as they are read (each table
// is in path order). A path in two tables, a table out of path order and a set of shard parts
// that is not whole are errors: a report over them would count logs twice or miss some. Errors
// follow failure.hpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "row.hpp"

namespace sift_runlog::campaign {

// Gives a row whose line showed no name fields (a failed log or a --short row in a table of an
// older version) those of its file's name, as the tables of this version hold them.
void names_from_file(row& r);

class table_set {
 public:
  // Opens every table ("-": standard input, at most once) and reads its first row. Throws
  // failure, also for a raw table, which has no paths.
  explicit table_set(const std::vector<std::string>& files);
  ~table_set();
  table_set(const table_set&) = delete;
  table_set& operator=(const table_set&) = delete;

  // The next row in path order, its names from its file where it has none (names_from_file);
  // false after the last one, once the shard parts are known to be whole. Throws failure.
  bool next(row& out);

 private:
  struct source;
  void advance(source& from);
  void check_parts() const;
  void check_part_rows() const;

  std::vector<std::unique_ptr<source>> sources_;
  std::string last_path_;
  const source* last_source_ = nullptr;
  std::size_t rows_ = 0;
};

}  // namespace sift_runlog::campaign
