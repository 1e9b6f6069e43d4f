// UTF-8 as the tables and the report's pages meet it: the bytes of logs are any bytes, and only
// valid sequences are shown as characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

// The length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when the byte there begins
// none: overlong forms, surrogates and code points beyond U+10FFFF are not valid.
[[nodiscard]] std::size_t valid_utf8_length(std::string_view text, std::size_t i);

// Appends the UTF-8 form of the code point `code` (at most U+10FFFF).
void append_utf8(std::string& out, unsigned code);

}  // namespace sift_runlog::campaign
