// The record a table written with --shard K/N carries, so that --merge can tell a complete set
// of parts from an incomplete or mixed one: which part of how many, of which cut (the number of
// logs of the whole sorted list and a digest of it), in which mode. Csv rows end with it in a
// last column, jsonl rows in a last member; a raw table ends with a trailer line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "campaign.hpp"
#include "formats.hpp"

namespace sift_runlog::table {

struct shard_record {
  std::size_t part = 1;  // 1 to parts
  std::size_t parts = 1;
  std::size_t logs = 0;           // the logs of the whole sorted list
  std::uint64_t list_digest = 0;  // FNV-1a of the sorted paths, each followed by a NUL byte
  bool long_mode = true;

  bool operator==(const shard_record&) const = default;
};

// "part=K/N logs=C list=HEX16 mode=long|short": no comma, quote or backslash, so that it is the
// same text in a csv cell, a JSON string and a raw trailer.
[[nodiscard]] std::string format_shard_record(const shard_record& record);
// The record of that text; nothing when it is not one.
[[nodiscard]] std::optional<shard_record> parse_shard_record(std::string_view text);

// The digest of the whole sorted list of logs that a part's record names.
[[nodiscard]] std::uint64_t list_digest(std::span<const found_log> logs);

// Writes a shard part: the header with the shard column (csv), each row with the record in it
// (csv, jsonl), and the trailer at the end (raw). `write` receives the bytes.
class shard_writer {
 public:
  shard_writer(table_format format, const shard_record& record);
  [[nodiscard]] std::string header() const;
  // The row as the part holds it.
  [[nodiscard]] std::string row(std::string_view row);
  // raw: "#shard RECORD lines=N digest=HEX16\n" over the rows given to row(); empty otherwise.
  [[nodiscard]] std::string trailer() const;

 private:
  table_format format_;
  std::string record_;
  std::size_t lines_ = 0;
  std::uint64_t digest_;
};

}  // namespace sift_runlog::table
