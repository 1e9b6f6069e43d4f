#include "table_rows.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sift_runlog/grade.hpp>
#include <tuple>

#include "shard_record.hpp"

namespace sift_runlog::report {

struct table_rows::source {
  table::table_reader reader;
  table::table_row row;  // the row to hand out next
  std::size_t line = 0;  // where it begins
  bool has_row = false;
  std::optional<std::string> shard;  // the record of the first row, in a shard part
  std::optional<table::shard_record> record;

  explicit source(const std::string& file) : reader(file) {}
};

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The cut a shard record belongs to: all but the part's number.
using cut_key = std::tuple<std::size_t, std::size_t, std::uint64_t, bool>;
cut_key cut_of(const table::shard_record& record) {
  return {record.parts, record.logs, record.list_digest, record.long_mode};
}

}  // namespace

table_rows::table_rows(const std::vector<std::string>& files) {
  if (std::count(files.begin(), files.end(), "-") > 1) {
    throw input_error("standard input ('-') can be read only once");
  }
  for (const std::string& file : files) {
    auto& from = *sources_.emplace_back(std::make_unique<source>(file));
    if (from.reader.format() == table::table_format::raw) {
      throw input_error(file +
                        ": a raw table has no path or name fields; write the table with "
                        "--format csv or jsonl");
    }
    advance(from);
    from.shard = from.has_row ? from.row.shard : std::nullopt;
    if (from.shard) {
      from.record = table::parse_shard_record(*from.shard);
      if (!from.record) {
        throw input_error(file + ": line " + std::to_string(from.line) +
                          ": the shard column holds no part record: " + quoted(*from.shard));
      }
    }
  }
  check_shard_parts();
}

table_rows::~table_rows() = default;

void table_rows::advance(source& from) {
  const std::string previous = from.has_row ? from.row.path : std::string();
  const bool had_row = from.has_row;
  from.has_row = from.reader.next(from.row);
  if (!from.has_row) return;
  from.line = from.reader.line();
  if (had_row && !(previous < from.row.path)) {
    throw input_error(from.reader.name() + ": line " + std::to_string(from.line) + ": the path " +
                      quoted(from.row.path) + " is not after " + quoted(previous) +
                      ": the rows are not in path order");
  }
  if (from.row.shard != from.shard && had_row) {
    throw input_error(from.reader.name() + ": line " + std::to_string(from.line) +
                      ": another part record than the table's first row");
  }
}

void table_rows::check_shard_parts() const {
  // An empty part (a cut into more parts than logs) carries no record: then only the count of
  // rows at the end can tell a complete set.
  for (const auto& from : sources_) {
    if (!from->has_row) return;
  }
  std::map<cut_key, std::map<std::size_t, const source*>> cuts;
  for (const auto& from : sources_) {
    if (!from->record) continue;
    auto& parts = cuts[cut_of(*from->record)];
    const auto [place, added] = parts.emplace(from->record->part, from.get());
    if (!added) {
      throw input_error(from->reader.name() + " and " + place->second->reader.name() +
                        " are the same part " + *from->shard);
    }
  }
  for (const auto& [cut, parts] : cuts) {
    std::string missing;
    for (std::size_t part = 1; part <= std::get<0>(cut); ++part) {
      if (!parts.contains(part)) (missing += missing.empty() ? "" : ", ") += std::to_string(part);
    }
    if (!missing.empty()) {
      throw input_error(parts.begin()->second->reader.name() + " is part " +
                        std::to_string(parts.begin()->first) + " of " +
                        std::to_string(std::get<0>(cut)) + ", and the tables of part(s) " +
                        missing + " are not given: the report would miss their logs");
    }
  }
}

// Once every row is read: each cut must have as many rows as its record says it has logs.
void table_rows::check_shard_rows() const {
  std::map<cut_key, std::size_t> rows;
  for (const auto& from : sources_) {
    if (from->record) rows[cut_of(*from->record)] += from->reader.rows();
  }
  for (const auto& [cut, count] : rows) {
    if (count != std::get<1>(cut)) {
      const auto first = std::find_if(sources_.begin(), sources_.end(), [&](const auto& from) {
        return from->record && cut_of(*from->record) == cut;
      });
      throw input_error("the parts of " + (*first)->reader.name() + " hold " +
                        std::to_string(count) + " rows, and their records say the campaign has " +
                        std::to_string(std::get<1>(cut)) + " logs: a part is incomplete");
    }
  }
}

bool table_rows::next(table::table_row& row) {
  source* chosen = nullptr;
  for (const auto& from : sources_) {
    if (from->has_row && (chosen == nullptr || from->row.path < chosen->row.path)) {
      chosen = from.get();
    }
  }
  if (chosen == nullptr) {
    check_shard_rows();
    return false;
  }
  if (rows_ != 0 && chosen->row.path == last_path_) {
    throw input_error(chosen->reader.name() + ": line " + std::to_string(chosen->line) +
                      ": the path " + quoted(chosen->row.path) + " is also in " +
                      last_source_->reader.name() + ": a log counted twice");
  }
  std::swap(row, chosen->row);
  // A row whose line shows no name (a failed log, a data error in the scan, a --short table) is
  // counted under the fields its file's name gives, as the long mode would show them.
  if (!row.tool && !row.model && !row.examination && !row.run) {
    std::vector<std::string> fields = file_name_fields(row.path);
    if (fields.size() == 4) {
      row.tool = std::move(fields[0]);
      row.model = std::move(fields[1]);
      row.examination = std::move(fields[2]);
      row.run = std::move(fields[3]);
    }
  }
  last_path_ = row.path;
  last_source_ = chosen;
  ++rows_;
  // The row handed out keeps its place in the order check.
  chosen->row.path = last_path_;
  advance(*chosen);
  return true;
}

}  // namespace sift_runlog::report
