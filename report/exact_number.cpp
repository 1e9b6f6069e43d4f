// Decimal numbers as the logs write them: [sign] digits ["." digits] [("E"|"e") [sign] digits],
// with single underscores allowed between two digits. The value is kept as text: significant
// digits without leading or trailing zeros, and the power of ten of the last one.
#include "exact_number.hpp"

#include <cstdint>
#include <optional>

namespace sift_runlog::report {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Appends the digits at text[position...] to `digits`, skipping single underscores between two
// digits; false when there is no digit or an underscore is misplaced.
bool take_digits(std::string_view text, std::size_t& position, std::string& digits) {
  const std::size_t begin = position;
  while (position < text.size()) {
    if (is_digit(text[position])) {
      digits += text[position++];
    } else if (text[position] == '_' && position > begin && position + 1 < text.size() &&
               is_digit(text[position + 1])) {
      ++position;
    } else {
      break;
    }
  }
  return position > begin;
}

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

std::optional<std::string> decimal_key(std::string_view text) {
  std::size_t position = 0;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position++] == '-';
  }
  std::string digits;
  if (!take_digits(text, position, digits)) return std::nullopt;
  std::int64_t scale = 0;  // the power of ten of the last digit
  if (position < text.size() && text[position] == '.') {
    ++position;
    const std::size_t before = digits.size();
    if (!take_digits(text, position, digits)) return std::nullopt;
    scale = -static_cast<std::int64_t>(digits.size() - before);
  }
  if (position < text.size() && (text[position] == 'E' || text[position] == 'e')) {
    ++position;
    bool negative_exponent = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
      negative_exponent = text[position++] == '-';
    }
    std::string exponent_digits;
    if (!take_digits(text, position, exponent_digits)) return std::nullopt;
    const auto exponent = exponent_value(exponent_digits, negative_exponent);
    if (!exponent) return std::nullopt;
    scale += *exponent;
  }
  if (position != text.size()) return std::nullopt;

  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return std::string("#0");  // -0 and 0.000E5 are 0
  std::size_t last = digits.find_last_not_of('0');
  scale += static_cast<std::int64_t>(digits.size() - 1 - last);
  std::string key = negative ? "#-" : "#";
  key.append(digits, first, last - first + 1);
  (key += 'e') += std::to_string(scale);
  return key;
}

}  // namespace

std::string comparison_key(std::string_view value) {
  if (auto key = decimal_key(value)) return std::move(*key);
  std::string key = "=";
  key += value;
  return key;
}

}  // namespace sift_runlog::report
