#include <algorithm>
#include <map>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/table_reader.hpp>
#include <sift_campaign/table_set.hpp>
#include <tuple>

namespace sift_runlog::campaign {

struct table_set::source {
  table_reader reader;
  row next;              // the row to hand out next
  std::size_t line = 0;  // where it begins
  bool has_row = false;
  std::optional<shard_record> record;  // the part's, from its first row

  explicit source(const std::string& file) : reader(file) {}
};

namespace {

std::string quoted(const std::string& text) {
  std::string out(1, '\'');
  (out += printable(text)) += '\'';
  return out;
}

using cut_key = std::tuple<std::size_t, std::size_t, std::uint64_t, bool>;
cut_key cut_of(const shard_record& record) {
  return {record.parts, record.logs, record.list_digest, record.long_mode};
}

}  // namespace

void names_from_file(row& r) {
  if (r.tool || r.model || r.examination || r.run) return;
  std::vector<std::string> fields = file_name_fields(r.path);
  if (fields.size() != 4) return;
  r.tool = std::move(fields[0]);
  r.model = std::move(fields[1]);
  r.examination = std::move(fields[2]);
  r.run = std::move(fields[3]);
}

table_set::table_set(const std::vector<std::string>& files) {
  if (std::count(files.begin(), files.end(), "-") > 1) {
    throw failure("standard input ('-') can be read only once");
  }
  for (const std::string& file : files) {
    source& from = *sources_.emplace_back(std::make_unique<source>(file));
    if (from.reader.format() == table_format::raw) {
      throw failure(from.reader.name() +
                    ": a raw table has no path or name fields; write the table with --format csv "
                    "or jsonl");
    }
    advance(from);
    if (from.has_row) from.record = from.next.shard;
  }
  check_parts();
}

table_set::~table_set() = default;

void table_set::advance(source& from) {
  const bool had_row = from.has_row;
  std::string previous;
  if (had_row) previous.swap(from.next.path);
  from.has_row = from.reader.next(from.next);
  if (!from.has_row) return;
  from.line = from.reader.line();
  const std::string& path = from.next.path;
  if (had_row && !(previous < path)) {
    throw failure(from.reader.name() + ": line " + std::to_string(from.line) + ": the path " +
                  quoted(path) + " is not after " + quoted(previous) +
                  ": the rows are not in path order");
  }
  if (had_row && from.next.shard != from.record) {
    throw failure(from.reader.name() + ": line " + std::to_string(from.line) +
                  ": another part record than the table's first row");
  }
}

void table_set::check_parts() const {
  std::vector<named_record> parts;
  for (const auto& from : sources_) {
    if (from->record) parts.push_back({from->reader.name(), *from->record});
  }
  check_whole_cuts(parts, false);
}

// Once every row is read: each cut must have as many rows as its records say it has logs.
void table_set::check_part_rows() const {
  std::map<cut_key, std::size_t> rows;
  for (const auto& from : sources_) {
    if (from->record) rows[cut_of(*from->record)] += from->reader.rows();
  }
  for (const auto& [key, count] : rows) {
    const cut_key cut = key;
    if (count == std::get<1>(cut)) continue;
    const auto first = std::find_if(sources_.begin(), sources_.end(), [&](const auto& from) {
      return from->record && cut_of(*from->record) == cut;
    });
    throw failure("the parts of " + (*first)->reader.name() + " hold " + counted(count, "row") +
                  ", and their records say the campaign has " + counted(std::get<1>(cut), "log") +
                  ": a part is incomplete");
  }
}

bool table_set::next(row& out) {
  source* chosen = nullptr;
  for (const auto& from : sources_) {
    if (from->has_row && (chosen == nullptr || from->next.path < chosen->next.path)) {
      chosen = from.get();
    }
  }
  if (chosen == nullptr) {
    check_part_rows();
    return false;
  }
  if (rows_ != 0 && chosen->next.path == last_path_) {
    throw failure(chosen->reader.name() + ": line " + std::to_string(chosen->line) + ": the path " +
                  quoted(chosen->next.path) + " is also in " + last_source_->reader.name() +
                  ": a log counted twice");
  }
  std::swap(out, chosen->next);
  names_from_file(out);
  last_path_ = out.path;
  last_source_ = chosen;
  ++rows_;
  // The row handed out keeps its place in the order checks.
  chosen->next.path = out.path;
  advance(*chosen);
  return true;
}

}  // namespace sift_runlog::campaign
