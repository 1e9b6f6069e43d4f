// Raw tables: the program's own header and lines, byte for byte, a failed log left out. A raw
// row has no path or name fields: it is the line `sift_runlog -long LOG` (or `sift_runlog LOG`)
// prints, and a row value read from a raw table carries that line alone. A part written with
// --shard ends with a trailer line that records the part, the count of lines above it and a
// digest of them, so that a cut or glued part is found. Errors follow failure.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "row.hpp"

namespace sift_runlog::campaign {

// The trailer of a raw part: "#shard RECORD lines=N digest=HEX16".
struct raw_trailer {
  shard_record record;
  std::size_t lines = 0;               // the lines of rows above it
  std::uint64_t digest = fnv1a_basis;  // FNV-1a of those lines, line feeds included

  // Counts a row's line(s) into the trailer.
  void count(std::string_view row_line);
  bool operator==(const raw_trailer&) const = default;
};

// Whether `line` is a trailer line rather than a row.
[[nodiscard]] inline bool is_raw_trailer(std::string_view line) {
  return line.starts_with("#shard ");
}

// The trailer line, line feed included.
[[nodiscard]] std::string raw_trailer_line(const raw_trailer& trailer);

// The trailer of a trailer line (without its line feed). Throws failure when it is malformed.
[[nodiscard]] raw_trailer parse_raw_trailer(std::string_view line);

// Appends the row: its line as the program printed it.
inline void append_raw_row(std::string& out, const row& r) { out += r.line; }

}  // namespace sift_runlog::campaign
