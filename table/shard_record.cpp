#include "shard_record.hpp"

#include <algorithm>
#include <charconv>

#include "table_reader.hpp"

namespace sift_runlog::table {

namespace {

std::string hex16(std::uint64_t value) {
  std::string text(16, '0');
  for (std::size_t i = 16; i-- > 0; value >>= 4) text[i] = "0123456789abcdef"[value & 0xf];
  return text;
}

// Reads "KEY=" then a number (base 10 or 16) ending at `stop` from `text`; false when absent.
template <typename Number>
bool take_number(std::string_view& text, std::string_view key, char stop, Number& value,
                 int base = 10) {
  if (!text.starts_with(key)) return false;
  text.remove_prefix(key.size());
  const std::size_t end = std::min(text.find(stop), text.size());
  // Digits only: from_chars would take a sign, and the record is written in one way only.
  if (end == 0 || text.substr(0, end).find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  const auto [last, error] = std::from_chars(text.data(), text.data() + end, value, base);
  if (error != std::errc() || last != text.data() + end) return false;
  text.remove_prefix(end);
  return true;
}

}  // namespace

std::string format_shard_record(const shard_record& record) {
  return "part=" + std::to_string(record.part) + '/' + std::to_string(record.parts) +
         " logs=" + std::to_string(record.logs) + " list=" + hex16(record.list_digest) +
         " mode=" + (record.long_mode ? "long" : "short");
}

std::optional<shard_record> parse_shard_record(std::string_view text) {
  const std::string_view whole = text;
  shard_record record;
  if (!take_number(text, "part=", '/', record.part) || !take_number(text, "/", ' ', record.parts) ||
      !take_number(text, " logs=", ' ', record.logs) ||
      !take_number(text, " list=", ' ', record.list_digest, 16)) {
    return std::nullopt;
  }
  if (text == " mode=long") {
    record.long_mode = true;
  } else if (text == " mode=short") {
    record.long_mode = false;
  } else {
    return std::nullopt;
  }
  // A record that --shard could have written: a part of a cut with a log for every part.
  if (record.part < 1 || record.part > record.parts || record.logs < record.parts) {
    return std::nullopt;
  }
  // Written one way only (no leading zeros): equal records are equal texts.
  if (format_shard_record(record) != whole) return std::nullopt;
  return record;
}

std::uint64_t list_digest(std::span<const found_log> logs) {
  std::uint64_t hash = fnv1a_basis;
  for (const found_log& log : logs) {
    hash = fnv1a(log.path, hash);
    hash = fnv1a(std::string_view("\0", 1), hash);
  }
  return hash;
}

shard_writer::shard_writer(table_format format, const shard_record& record)
    : format_(format), record_(format_shard_record(record)), digest_(fnv1a_basis) {}

std::string shard_writer::header() const {
  std::string header(table_header(format_));
  if (format_ == table_format::csv) header.insert(header.size() - 1, ",shard");
  return header;
}

std::string shard_writer::row(std::string_view row) {
  if (row.empty()) return {};  // a failed log in a raw table
  switch (format_) {
    case table_format::raw:
      lines_ += static_cast<std::size_t>(std::count(row.begin(), row.end(), '\n'));
      digest_ = fnv1a(row, digest_);
      return std::string(row);
    case table_format::csv:
      // The record needs no quotes: it holds no comma, quote or line end.
      return std::string(row.substr(0, row.size() - 1)) + ',' + record_ + '\n';
    case table_format::jsonl:
      break;
  }
  // Before the closing brace: the record is a plain JSON string, no escape needed.
  return std::string(row.substr(0, row.size() - 2)) + ",\"shard\":\"" + record_ + "\"}\n";
}

std::string shard_writer::trailer() const {
  if (format_ != table_format::raw) return {};
  return "#shard " + record_ + " lines=" + std::to_string(lines_) + " digest=" + hex16(digest_) +
         '\n';
}

}  // namespace sift_runlog::table
