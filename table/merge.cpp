#include "merge.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/output_file.hpp>
#include <sift_campaign/writer.hpp>

#include "campaign.hpp"
#include "shard_record.hpp"
#include "table_reader.hpp"

namespace sift_runlog::table {

namespace {

std::string_view format_name(table_format format) {
  return format == table_format::raw ? "raw" : format == table_format::csv ? "csv" : "jsonl";
}

// "16 parts of 5210 logs, list=0123456789abcdef"
std::string cut_text(const shard_record& record) {
  const std::string text = format_shard_record(record);
  const std::size_t list = text.find("list=");
  return std::to_string(record.parts) + " parts of " + std::to_string(record.logs) + " logs, " +
         text.substr(list, text.find(' ', list) - list);
}

// A part read and checked on its own: its record, its header and its rows without the record.
struct checked_part {
  const table_part* source = nullptr;
  table_format format = table_format::raw;
  shard_record record;
  std::string header;                  // the whole table's header: csv without the shard column
  std::vector<std::string_view> rows;  // each without its record and its line end
  std::string first_path;
  std::string last_path;
};

// The row without the shard record that ends it; refused when it is not written as --shard
// writes it.
std::string_view without_record(const table_reader& reader, std::string_view record_text) {
  std::string_view row = reader.row();
  row.remove_suffix(1);  // the line feed
  const bool csv = reader.format() == table_format::csv;
  std::string ending(csv ? "," : ",\"shard\":\"");
  ending += record_text;
  if (!csv) ending += "\"}";
  if (!row.ends_with(ending)) {
    throw table_error(reader.name() + ": line " + std::to_string(reader.line()) +
                      ": the shard record is not the row's last field");
  }
  row.remove_suffix(ending.size());
  return row;
}

checked_part check_part(const table_part& part) {
  if (part.bytes.empty()) {
    throw table_error(part.name + " is empty, not a part of a sharded run");
  }
  table_reader reader(part.name, part.bytes);
  checked_part checked;
  checked.source = &part;
  checked.format = reader.format();
  const std::string unsharded =
      part.name + " is not a part of a sharded run (written without --shard)";
  if (checked.format == table_format::csv) {
    if (!reader.sharded()) throw table_error(unsharded);
    checked.header = reader.header();
    checked.header.erase(checked.header.size() - 7, 6);  // ",shard"
  } else {
    checked.header = reader.header();
  }
  std::optional<std::string> record_text;
  table_row row;
  while (reader.next(row)) {
    if (checked.format == table_format::raw) {
      checked.rows.push_back(reader.row().substr(0, reader.row().size() - 1));
      continue;
    }
    if (!row.shard) throw table_error(unsharded);
    const std::string where = part.name + ": line " + std::to_string(reader.line()) + ": ";
    if (!record_text) {
      record_text = row.shard;
    } else if (*row.shard != *record_text) {
      throw table_error(where + "the shard record is not the one of the first row");
    }
    if (checked.rows.empty()) {
      checked.first_path = row.path;
    } else if (row.path <= checked.last_path) {
      throw table_error(where + "the row is not in path order");
    }
    checked.last_path = row.path;
    checked.rows.push_back(without_record(reader, *record_text));
  }
  if (checked.format == table_format::raw) {
    record_text = reader.trailer_record();
    if (!record_text) {
      throw table_error(part.name +
                        " ends without a shard trailer (a cut table, or one written without "
                        "--shard)");
    }
  }
  if (!record_text && reader.sharded()) {
    throw table_error(part.name + " holds no row (a cut table?)");  // a csv header alone
  }
  if (!record_text) throw table_error(unsharded);
  const std::optional<shard_record> record = parse_shard_record(*record_text);
  if (!record) throw table_error(part.name + ": '" + *record_text + "' is not a shard record");
  checked.record = *record;
  if (checked.format != table_format::raw) {
    const auto [begin, end] = shard_range(record->logs, {record->part, record->parts});
    if (checked.rows.size() != end - begin) {
      throw table_error(part.name + " holds " + std::to_string(checked.rows.size()) +
                        " rows, part " + std::to_string(record->part) + " of " +
                        std::to_string(record->parts) + " holds " + std::to_string(end - begin) +
                        " (a cut table?)");
    }
  }
  return checked;
}

// The parts as one set: one format, one mode, one cut, each part of it once; sorted by part.
void check_set(std::vector<checked_part>& parts) {
  const checked_part& first = parts.front();
  const std::string& first_name = first.source->name;
  for (const checked_part& part : parts) {
    const std::string& name = part.source->name;
    if (part.format != first.format) {
      throw table_error(name + " is a " + std::string(format_name(part.format)) + " table, " +
                        first_name + " a " + std::string(format_name(first.format)) + " one");
    }
    if (part.header != first.header) {
      throw table_error(name + " has another header than " + first_name);
    }
    if (part.record.long_mode != first.record.long_mode) {
      throw table_error(name + " has " + (part.record.long_mode ? "long" : "--short") + " rows, " +
                        first_name + " " + (first.record.long_mode ? "long" : "--short") + " ones");
    }
    if (part.record.parts != first.record.parts || part.record.logs != first.record.logs ||
        part.record.list_digest != first.record.list_digest) {
      throw table_error(name + " is part " + std::to_string(part.record.part) +
                        " of another cut (" + cut_text(part.record) + ") than " + first_name +
                        " (" + cut_text(first.record) + ")");
    }
  }
  std::sort(parts.begin(), parts.end(), [](const checked_part& a, const checked_part& b) {
    return a.record.part < b.record.part;
  });
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].record.part == parts[i - 1].record.part) {
      throw table_error(parts[i - 1].source->name + " and " + parts[i].source->name +
                        " are both part " + std::to_string(parts[i].record.part) + " of " +
                        std::to_string(parts[i].record.parts));
    }
  }
  std::string missing;
  std::size_t missing_count = 0;
  for (std::size_t part = 1, i = 0; part <= first.record.parts; ++part) {
    if (i < parts.size() && parts[i].record.part == part) {
      ++i;
      continue;
    }
    if (++missing_count <= 20) {
      if (!missing.empty()) missing += ", ";
      missing += std::to_string(part);
    }
  }
  if (missing_count > 20) missing += ", ...";
  if (missing_count != 0) {
    throw table_error(
        (missing_count == 1 ? "part " + missing + " of " : "parts " + missing + " of ") +
        std::to_string(first.record.parts) + (missing_count == 1 ? " is" : " are") + " missing");
  }
  // One cut: consecutive runs of the sorted paths, which a path in two parts would break.
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (first.format != table_format::raw && parts[i].first_path <= parts[i - 1].last_path) {
      throw table_error(parts[i].source->name + " and " + parts[i - 1].source->name +
                        " overlap: they are not parts of one cut");
    }
  }
}

// Reads the whole file: a part is checked whole before anything is written.
std::string read_part(const std::string& name, struct stat& status) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw table_error("cannot read " + name + ": " + std::strerror(errno));
  std::string bytes;
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    throw table_error(name + " is not a regular file, not a table");
  } else {
    bytes.reserve(static_cast<std::size_t>(status.st_size));
    char block[1 << 16];
    for (;;) {
      const ssize_t got = ::read(fd, block, sizeof block);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        error = got < 0 ? errno : 0;
        break;
      }
      bytes.append(block, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (error != 0) throw table_error("cannot read " + name + ": " + std::strerror(error));
  return bytes;
}

}  // namespace

std::size_t merge_parts(std::span<const table_part> parts,
                        const std::function<void(std::string_view)>& write) {
  std::vector<checked_part> checked;
  checked.reserve(parts.size());
  for (const table_part& part : parts) checked.push_back(check_part(part));
  if (checked.empty()) return 0;
  check_set(checked);
  write(checked.front().header);
  std::size_t rows = 0;
  const std::string_view end = checked.front().format == table_format::jsonl ? "}\n" : "\n";
  for (const checked_part& part : checked) {
    for (const std::string_view row : part.rows) {
      write(row);
      write(end);
    }
    rows += part.rows.size();
  }
  return rows;
}

int merge_tables(const std::vector<std::string>& tables, const std::string& output, bool quiet) {
  // Made first: an output that cannot be written is known before a part is read.
  campaign::output_file file("-o", output.empty() ? "-" : output);
  std::vector<std::string> contents;
  std::vector<campaign::named_file> read;
  for (const std::string& table : tables) {
    struct stat status {};
    contents.push_back(read_part(table, status));
    const campaign::named_file part{table, campaign::identity_of(status)};
    if (const campaign::named_file* same = campaign::same_file_among(part.identity, read)) {
      throw table_error(same->name + " and " + table + " are the same file");
    }
    if (file.identity() == part.identity) {
      throw table_error(file.description() + " is " + table + ", a table to merge");
    }
    read.push_back(part);
  }
  std::vector<table_part> parts;
  for (std::size_t i = 0; i < tables.size(); ++i) parts.push_back({tables[i], contents[i]});

  campaign::fd_writer out(file.fd(), file.name(), file.is_stream());
  const std::size_t rows = merge_parts(parts, [&out](std::string_view bytes) { out.write(bytes); });
  out.flush();
  campaign::commit_outputs(&file, nullptr);
  if (!quiet) {
    campaign::say(std::to_string(tables.size()) + " tables merged, " + std::to_string(rows) +
                  " rows");
  }
  return 0;
}

}  // namespace sift_runlog::table
