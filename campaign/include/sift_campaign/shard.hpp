// Sharded campaigns: the parts that --shard K/N cuts the sorted list of logs into, and the record
// every part's table carries so that its parts can be joined (--merge) or read together (the
// report) only when they make one whole campaign. Errors follow failure.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sift_runlog::campaign {

struct shard {
  std::size_t part = 1;  // 1 to parts
  std::size_t parts = 1;
};

// "K/N" with 1 <= K <= N <= 1000000; nothing otherwise.
[[nodiscard]] std::optional<shard> parse_shard(std::string_view text);

// The positions [begin, end) of the logs of one part in a sorted list of `count` logs: the
// parts are consecutive runs whose sizes differ by one at most.
[[nodiscard]] std::pair<std::size_t, std::size_t> shard_range(std::size_t count, shard part);

// 64-bit FNV-1a of `bytes`, continuing from `hash` (the offset basis to begin a digest).
inline constexpr std::uint64_t fnv1a_basis = 0xcbf29ce484222325ULL;
[[nodiscard]] std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = fnv1a_basis);

// Which part of how many a table is, of which cut (the number of logs of the whole sorted list
// and a digest of it), in which mode.
struct shard_record {
  std::size_t part = 1;  // 1 to parts
  std::size_t parts = 1;
  std::size_t logs = 0;           // the logs of the whole sorted list, at least `parts`
  std::uint64_t list_digest = 0;  // FNV-1a of the sorted paths, each followed by a NUL byte
  bool long_mode = true;

  bool operator==(const shard_record&) const = default;
  // Whether `other` is a part of the same cut.
  [[nodiscard]] bool same_cut(const shard_record& other) const {
    return parts == other.parts && logs == other.logs && list_digest == other.list_digest &&
           long_mode == other.long_mode;
  }
};

// "part=K/N logs=C list=HEX16 mode=long|short": no comma, quote or backslash, so that it is the
// same text in a csv cell, a JSON string and a raw trailer.
[[nodiscard]] std::string format_shard_record(const shard_record& record);
// The record of that text, written as format_shard_record writes it; nothing otherwise.
[[nodiscard]] std::optional<shard_record> parse_shard_record(std::string_view text);

// The digest of a whole sorted list of paths, as a part's record names it.
[[nodiscard]] std::uint64_t list_digest(std::span<const std::string_view> paths);

// "16 parts of 5210 logs, list=0123456789abcdef": the cut a record belongs to, for messages.
[[nodiscard]] std::string cut_text(const shard_record& record);

// A table read as a part: its name (for messages) and its record.
struct named_record {
  std::string_view name;
  shard_record record;
};

// Checks that `parts` make whole cuts: every part of a cut once, none missing, and with
// `one_cut`, all of one cut and one mode. Throws failure naming the tables and the parts:
// "part 4 of 16 is missing", "parts 4, 9 of 16 are missing", "A and B are both part 3 of 16",
// "B is part 2 of another cut (...) than A (...)", "B has --short rows, A long ones".
void check_whole_cuts(std::span<const named_record> parts, bool one_cut);

}  // namespace sift_runlog::campaign
