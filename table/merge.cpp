#include "merge.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/file_identity.hpp>
#include <sift_campaign/formats.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/output_file.hpp>
#include <sift_campaign/raw_codec.hpp>
#include <sift_campaign/table_reader.hpp>
#include <sift_campaign/writer.hpp>

namespace sift_runlog::table {

namespace {

using campaign::failure;
using campaign::row;
using campaign::table_format;
using campaign::table_reader;

// What the check of a part found: its record and the paths its rows span.
struct checked_part {
  const table_part* source = nullptr;
  table_format format = table_format::raw;
  bool names_answers = true;
  campaign::shard_record record;
  std::size_t rows = 0;
  std::string first_path;
  std::string last_path;
};

std::unique_ptr<table_reader> open_part(const table_part& part) {
  if (part.bytes) return std::make_unique<table_reader>(part.name, *part.bytes);
  return std::make_unique<table_reader>(part.name);
}

std::string unsharded(const table_part& part) {
  return part.name + " is not a part of a sharded run (written without --shard)";
}

// The rows of a csv or jsonl part: each with the record of the first, in path order.
void check_rows(table_reader& reader, checked_part& checked) {
  row r;
  std::optional<campaign::shard_record> record;
  while (reader.next(r)) {
    const std::string where = reader.name() + ": line " + std::to_string(reader.line()) + ": ";
    if (!r.shard) throw failure(unsharded(*checked.source));
    if (!record) {
      record = r.shard;
      checked.first_path = r.path;
    } else if (*r.shard != *record) {
      throw failure(where + "the shard record is not the one of the first row");
    } else if (r.path <= checked.last_path) {
      throw failure(where + "the row is not in path order");
    }
    checked.last_path = std::move(r.path);
    ++checked.rows;
  }
  if (!record && reader.sharded_header()) {
    throw failure(checked.source->name + " holds no row (a cut table?)");  // a csv header alone
  }
  if (!record) throw failure(unsharded(*checked.source));
  checked.record = *record;
  const auto [begin, end] = campaign::shard_range(record->logs, {record->part, record->parts});
  if (checked.rows != end - begin) {
    throw failure(checked.source->name + " holds " + campaign::counted(checked.rows, "row") +
                  ", part " + std::to_string(record->part) + " of " +
                  std::to_string(record->parts) + " holds " + std::to_string(end - begin) +
                  " (a cut table?)");
  }
}

checked_part check_part(const table_part& part) {
  const std::unique_ptr<table_reader> reader = open_part(part);
  checked_part checked;
  checked.source = &part;
  checked.format = reader->format();
  checked.names_answers = reader->names_answers();
  if (checked.format == table_format::csv && !reader->sharded_header()) {
    throw failure(unsharded(part));
  }
  if (checked.format != table_format::raw) {
    check_rows(*reader, checked);
    return checked;
  }
  row r;
  while (reader->next(r)) ++checked.rows;
  if (!reader->trailer()) {
    throw failure(part.name +
                  " ends without a shard trailer (a cut table, or one written without --shard)");
  }
  checked.record = reader->trailer()->record;
  return checked;
}

// The parts as one set: one format, one header, one mode, one cut, each part of it once; sorted
// by part, their paths one after the other.
void check_set(std::vector<checked_part>& parts) {
  const checked_part& first = parts.front();
  std::vector<campaign::named_record> records;
  for (const checked_part& part : parts) {
    const std::string& name = part.source->name;
    if (part.format != first.format) {
      throw failure(name + " is a " + std::string(campaign::format_name(part.format)) + " table, " +
                    first.source->name + " a " + std::string(campaign::format_name(first.format)) +
                    " one");
    }
    if (part.names_answers != first.names_answers) {
      throw failure(name + " has another header than " + first.source->name);
    }
    records.push_back({name, part.record});
  }
  campaign::check_whole_cuts(records, true);
  std::sort(parts.begin(), parts.end(), [](const checked_part& a, const checked_part& b) {
    return a.record.part < b.record.part;
  });
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (first.format != table_format::raw && parts[i].first_path <= parts[i - 1].last_path) {
      throw failure(parts[i].source->name + " and " + parts[i - 1].source->name +
                    " overlap: they are not parts of one cut");
    }
  }
}

// Writes the rows of a checked part, without their records.
void write_part(const checked_part& part, std::string& out,
                const std::function<void(std::string_view)>& write) {
  const std::unique_ptr<table_reader> reader = open_part(*part.source);
  row r;
  std::size_t rows = 0;
  while (reader->next(r)) {
    r.shard.reset();
    campaign::append_row(part.format, out, r);
    if (out.size() >= 1 << 16) {
      write(out);
      out.clear();
    }
    ++rows;
  }
  if (rows != part.rows) throw failure(part.source->name + " changed while it was merged");
}

// Refuses a part named twice, or one that is the output, by identity.
void check_part_files(const std::vector<std::string>& tables, const campaign::output_file& file) {
  std::vector<campaign::named_file> checked;
  for (const std::string& table : tables) {
    struct stat status {};
    if (::stat(table.c_str(), &status) != 0) {
      throw campaign::system_failure("cannot read " + table, errno);
    }
    if (S_ISDIR(status.st_mode)) throw campaign::system_failure("cannot read " + table, EISDIR);
    if (!S_ISREG(status.st_mode)) throw failure(table + " is not a regular file, not a table");
    const campaign::named_file part{table, campaign::identity_of(status)};
    if (const campaign::named_file* same = campaign::same_file_among(part.identity, checked)) {
      throw failure(same->name + " and " + table + " are the same file");
    }
    if (file.identity() == part.identity) {
      throw failure(file.description() + " is " + table + ", a table to merge");
    }
    checked.push_back(part);
  }
}

}  // namespace

std::size_t merge_parts(std::span<const table_part> parts,
                        const std::function<void(std::string_view)>& write) {
  std::vector<checked_part> checked;
  checked.reserve(parts.size());
  for (const table_part& part : parts) checked.push_back(check_part(part));
  if (checked.empty()) return 0;
  check_set(checked);
  std::string out = campaign::table_header(checked.front().format, false);
  std::size_t rows = 0;
  for (const checked_part& part : checked) {
    write_part(part, out, write);
    rows += part.rows;
  }
  write(out);
  return rows;
}

int merge_tables(const std::vector<std::string>& tables, const std::string& output, bool quiet) {
  // Made first: an output that cannot be written is known before a part is read.
  campaign::output_file file("-o", output.empty() ? "-" : output);
  check_part_files(tables, file);
  std::vector<table_part> parts;
  for (const std::string& table : tables) parts.push_back({table, std::nullopt});
  campaign::fd_writer out(file.fd(), file.name(), file.is_stream());
  const std::size_t rows = merge_parts(parts, [&out](std::string_view bytes) { out.write(bytes); });
  out.flush();
  campaign::commit_outputs(&file, nullptr);
  if (!quiet) {
    campaign::say(campaign::counted(tables.size(), "table") + " merged, " +
                  campaign::counted(rows, "row"));
  }
  return 0;
}

}  // namespace sift_runlog::table
