// JSON Lines tables: one object per row, its members named as row.hpp's columns (the answers as
// an array of {"name", "value"} objects and the techniques as an array, both null on a row
// without answers; `shard` last in a part). Every byte of a text is carried: valid UTF-8 as it
// is, control bytes escaped, and a byte that is no part of valid UTF-8 as \udcXX (XX the byte,
// 80 to ff), a lone surrogate that Python reads back into the byte with
// errors="surrogateescape". A row does not say whether its answers were BOOL or NUM values.
// Errors follow failure.hpp: the decoder throws failure with the reason alone, and the table
// reader adds the file and the line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "row.hpp"

namespace sift_runlog::campaign {

// Appends `bytes` as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view bytes);

// Decodes into `bytes` the JSON string that begins at text[position] (its opening quote), \udcXX
// turned back into byte XX; `position` is left after the closing quote. Throws failure when it
// is malformed, or holds a lone surrogate that stands for no byte.
void read_json_string(std::string_view text, std::size_t& position, std::string& bytes);

// Appends the row, line feed included.
void append_jsonl_row(std::string& out, const row& r);

// Decodes one line (without its line feed) into `out`. Members may come in any order, with
// blanks between the tokens; each must be there once, and no other. Throws failure.
void decode_jsonl_row(std::string_view text, row& out);

}  // namespace sift_runlog::campaign
