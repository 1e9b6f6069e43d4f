// When two answers are the same value: numbers in decimal notation are compared by their exact
// value (1024, 1.024E+3, +1_024.0 and 10240e-1 agree), never through a binary floating point
// that could merge distinct values; every other answer (TRUE, FALSE, a based literal such as
// 16#400#) is compared byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace sift_runlog::report {

// A text that is equal for two answers exactly when they are the same value: for a decimal
// number, its sign, its significant digits and its exponent, normalised; otherwise the answer
// itself. The two kinds never collide.
[[nodiscard]] std::string comparison_key(std::string_view value);

}  // namespace sift_runlog::report
