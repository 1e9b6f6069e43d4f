// Decimal numbers as the logs write them, in the analysis's own syntax. The value is kept as
// text: significant digits without leading or trailing zeros, and the power of ten of the last
// one.
#include "exact_number.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sift_runlog/grade.hpp>

namespace sift_runlog::report {
namespace {

// The exponent's value; nothing when it is beyond what 18 digits hold (such a value is then
// compared as text, which can only keep apart what might have been equal).
std::optional<std::int64_t> exponent_value(std::string_view digits, bool negative) {
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string_view::npos) return 0;
  if (digits.size() - first > 18) return std::nullopt;
  std::int64_t value = 0;
  for (; first < digits.size(); ++first) value = value * 10 + (digits[first] - '0');
  return negative ? -value : value;
}

std::optional<std::string> decimal_key(const std::optional<decimal_number>& number) {
  if (!number) return std::nullopt;
  const auto exponent = exponent_value(number->exponent_digits, number->negative_exponent);
  if (!exponent) return std::nullopt;
  const std::string digits = number->integer_digits + number->fraction_digits;
  // The power of ten of the last digit.
  std::int64_t scale = *exponent - static_cast<std::int64_t>(number->fraction_digits.size());
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return std::string("#0");  // -0 and 0.000E5 are 0
  const std::size_t last = digits.find_last_not_of('0');
  scale += static_cast<std::int64_t>(digits.size() - 1 - last);
  std::string key = number->negative ? "#-" : "#";
  key.append(digits, first, last - first + 1);
  (key += 'e') += std::to_string(scale);
  return key;
}

std::optional<double> nearest_double(const std::optional<decimal_number>& number) {
  if (!number) return std::nullopt;
  // The digits without their underscores, in the syntax of strtod (the program keeps the "C"
  // locale, whose decimal point is '.').
  std::string text = number->negative ? "-" : "";
  text += number->integer_digits.empty() ? "0" : number->integer_digits;
  (text += '.') += number->fraction_digits;
  if (!number->exponent_digits.empty()) {
    ((text += 'e') += number->negative_exponent ? '-' : '+') += number->exponent_digits;
  }
  const double result = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(result)) return std::nullopt;
  return result;
}

std::string key_of(std::string_view value, const std::optional<decimal_number>& number) {
  if (auto key = decimal_key(number)) return std::move(*key);
  std::string key = "=";
  key += value;
  return key;
}

}  // namespace

std::string comparison_key(std::string_view value) {
  return key_of(value, decimal_number_of(value));
}

std::string comparison_key(std::string_view value, std::optional<double>& number) {
  const std::optional<decimal_number> parts = decimal_number_of(value);
  number = nearest_double(parts);
  return key_of(value, parts);
}

std::optional<double> decimal_value(std::string_view value) {
  return nearest_double(decimal_number_of(value));
}

std::string figure_text(double value) {
  char digits[32];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, written.ptr);
}

}  // namespace sift_runlog::report
