#include "natural_order.hpp"

namespace sift_runlog::report {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The end of the run of digits that starts at `i`.
std::size_t digits_end(std::string_view text, std::size_t i) {
  while (i < text.size() && is_digit(text[i])) ++i;
  return i;
}

// A run of digits without its leading zeros.
std::string_view significant(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int natural_compare(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      const std::size_t a_end = digits_end(a, i);
      const std::size_t b_end = digits_end(b, j);
      const std::string_view x = significant(a.substr(i, a_end - i));
      const std::string_view y = significant(b.substr(j, b_end - j));
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (const int order = x.compare(y); order != 0) return sign(order);
      i = a_end;
      j = b_end;
    } else if (a[i] != b[j]) {
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
    } else {
      ++i;
      ++j;
    }
  }
  const std::size_t a_rest = a.size() - i;
  const std::size_t b_rest = b.size() - j;
  if (a_rest != b_rest) return a_rest < b_rest ? -1 : 1;
  return sign(a.compare(b));
}

}  // namespace sift_runlog::report
