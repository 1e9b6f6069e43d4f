// Whether a word is a number, by syntax alone (the value is never computed or kept):
//
//   [sign] mantissa [exponent]
//   sign      "+" | "-"
//   mantissa  digits ["." digits]
//           | base "#" based ["." based] "#"      base: decimal digits worth 2 to 16
//           | base ":" based ["." based] ":"      based: digits of that base, 0-9 A-F a-f
//   exponent  ("E" | "e") [sign] digits
//
// Every run of digits may hold single underscores between two digits (1_000, 16#FF_FF#).
// Nothing may stand before or after: no blanks or tabs, and no locale is consulted.
// Refused, for example: "", ".", "12.", ".5", "INF", "inf", "nan", "0x1F", "1,5", "1__0", "1_",
// "17#1#", "2#2#", "16#FF:", "1E", "1E+".
// An exponent of any size is accepted: only the form is checked.
#pragma once

#include <string_view>

namespace sift_runlog {

[[nodiscard]] bool is_number(std::string_view word) noexcept;

}  // namespace sift_runlog
