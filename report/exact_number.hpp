// When two answers are the same value: numbers in decimal notation are compared by their exact
// value (1024, 1.024E+3, +1_024.0 and 10240e-1 agree), never through a binary floating point
// that could merge distinct values; every other answer (TRUE, FALSE, a based literal such as
// 16#400#) is compared byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sift_runlog::report {

// A text that is equal for two answers exactly when they are the same value: for a decimal
// number, its sign, its significant digits and its exponent, normalised; otherwise the answer
// itself. The two kinds never collide.
[[nodiscard]] std::string comparison_key(std::string_view value);

// The same, and the value's nearest double in `number` (as decimal_value gives it).
[[nodiscard]] std::string comparison_key(std::string_view value, std::optional<double>& number);

// The nearest double of a decimal number, for plots and databases only (never compared): nothing
// for a value that is no decimal number or beyond the range of a double.
[[nodiscard]] std::optional<double> decimal_value(std::string_view value);

// The shortest text that reads back as `value`, in JSON's number syntax (1024, 0.1, 1e+22).
[[nodiscard]] std::string figure_text(double value);

}  // namespace sift_runlog::report
