#include "merge.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "formats.hpp"
#include "output_file.hpp"

namespace sift_runlog::table {

namespace {

std::string_view format_name(table_format format) {
  return format == table_format::raw ? "raw" : format == table_format::csv ? "csv" : "jsonl";
}

// One of the tables being joined, with its next row and that row's path.
struct part {
  std::string name;
  std::ifstream in;
  std::string record;
  std::string path;
  std::size_t rows = 0;
  bool live = false;  // `record` holds a row not yet written
};

// Takes the path of the row in `record`, checking that it comes after the part's last one.
void take_row(part& table, table_format format) {
  ++table.rows;
  std::optional<std::string> path;
  if (format == table_format::csv) {
    path = first_csv_field(table.record);
  } else if (std::size_t position = 8; table.record.starts_with("{\"path\":")) {
    path = read_json_string(table.record, position);
  }
  const std::string where = table.name + ": row " + std::to_string(table.rows);
  if (!path)
    throw std::runtime_error(where + " is not a row of a " + std::string(format_name(format)) +
                             " table");
  if (table.live && *path <= table.path) throw std::runtime_error(where + " is not in path order");
  table.path = std::move(*path);
  table.live = true;
}

void next_row(part& table, table_format format) {
  const bool read = format == table_format::csv
                        ? read_csv_record(table.in, table.record)
                        : static_cast<bool>(std::getline(table.in, table.record));
  if (table.in.bad()) throw std::runtime_error("cannot read " + table.name);
  if (read) {
    take_row(table, format);
  } else {
    table.live = false;
  }
}

// Opens the table and reads its first line; returns its format, nothing when it is empty.
std::optional<table_format> open_table(part& table) {
  table.in.open(table.name, std::ios::binary);
  if (!table.in)
    throw std::runtime_error("cannot read " + table.name + ": " + std::strerror(errno));
  std::string first;
  if (!std::getline(table.in, first)) return std::nullopt;
  first += '\n';
  for (const table_format format : {table_format::raw, table_format::csv}) {
    if (first == table_header(format)) return format;
  }
  if (!first.starts_with('{')) {
    throw std::runtime_error(table.name + " is not a table of sift_runlog_table");
  }
  first.pop_back();
  table.record = std::move(first);
  take_row(table, table_format::jsonl);
  return table_format::jsonl;
}

std::size_t join(std::vector<part>& tables, table_format format, fd_writer& out) {
  std::size_t rows = 0;
  if (format == table_format::raw) {
    char block[64 * 1024];
    for (part& table : tables) {
      while (table.in.read(block, sizeof block) || table.in.gcount() > 0) {
        const std::string_view bytes(block, static_cast<std::size_t>(table.in.gcount()));
        out.write(bytes);
        rows += static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
      }
      if (table.in.bad()) throw std::runtime_error("cannot read " + table.name);
    }
    return rows;
  }
  std::optional<std::string> last;
  for (;;) {
    part* first = nullptr;
    for (part& table : tables) {
      if (table.live && (first == nullptr || table.path < first->path)) first = &table;
    }
    if (first == nullptr) return rows;
    if (last == first->path) {
      throw std::runtime_error(first->name + ": row " + std::to_string(first->rows) +
                               " has a path that another table has too");
    }
    last = first->path;
    out.write(first->record);
    out.write("\n");
    ++rows;
    next_row(*first, format);
  }
}

}  // namespace

int merge_tables(const std::vector<std::string>& tables, const std::string& output, bool quiet) {
  try {
    table_output file("-o", output.empty() ? "-" : output);
    std::vector<part> parts(tables.size());
    std::optional<table_format> format;
    std::string empty;  // a table with no line at all: only a jsonl table can be that
    for (std::size_t i = 0; i < tables.size(); ++i) {
      parts[i].name = tables[i];
      const std::optional<table_format> found = open_table(parts[i]);
      if (!found) {
        empty = tables[i];
      } else if (format && *format != *found) {
        throw std::runtime_error(tables[i] + " is a " + std::string(format_name(*found)) +
                                 " table, " + tables[0] + " a " +
                                 std::string(format_name(*format)) + " one");
      } else {
        format = found;
      }
    }
    if (format && *format != table_format::jsonl && !empty.empty()) {
      throw std::runtime_error(empty + " is empty, not a " + std::string(format_name(*format)) +
                               " table");
    }
    for (part& table : parts) {
      if (format && *format != table_format::raw && !table.live) next_row(table, *format);
    }
    fd_writer out(file.fd(), file.name());
    out.write(table_header(format.value_or(table_format::jsonl)));
    const std::size_t rows = join(parts, format.value_or(table_format::jsonl), out);
    out.flush();
    commit_outputs(&file, nullptr);
    if (!quiet)
      say(std::to_string(tables.size()) + " tables merged, " + std::to_string(rows) + " rows");
    return 0;
  } catch (const std::runtime_error& e) {
    say(e.what());
    return 2;
  }
}

}  // namespace sift_runlog::table
