#include "number_syntax.hpp"

#include <cstddef>
#include <string>

#include "sift_runlog/grade.hpp"

namespace sift_runlog {

namespace {

// The value of `c` as a digit, or 16 when it is none.
unsigned digit_value(char c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 16;
}

class number_parser {
 public:
  // With `parts`, a decimal number's digits are kept there.
  explicit number_parser(std::string_view word, decimal_number* parts = nullptr) noexcept
      : word_(word), parts_(parts) {}

  bool parse() {
    if (accept_sign() && parts_ != nullptr) parts_->negative = word_.front() == '-';
    if (!mantissa()) return false;
    if (at_end()) return true;
    if (!accept('E') && !accept('e')) return false;
    if (accept_sign() && parts_ != nullptr) parts_->negative_exponent = word_[position_ - 1] == '-';
    return digits(10, nullptr, parts_ != nullptr ? &parts_->exponent_digits : nullptr) && at_end();
  }

 private:
  bool at_end() const noexcept { return position_ == word_.size(); }

  bool accept(char c) noexcept {
    if (!at_end() && word_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }

  bool accept_sign() noexcept { return accept('+') || accept('-'); }

  // One or more digits below `base`, with single underscores between two digits. Adds their
  // decimal value to `value` when asked (saturating, so a huge base is just out of range), and
  // the digits themselves to `kept`.
  bool digits(unsigned base, unsigned long* value = nullptr, std::string* kept = nullptr) {
    bool any = false;
    for (;;) {
      if (at_end() || digit_value(word_[position_]) >= base) return any;
      if (value != nullptr && *value <= 1000)
        *value = *value * base + digit_value(word_[position_]);
      if (kept != nullptr) *kept += word_[position_];
      ++position_;
      any = true;
      if (!at_end() && word_[position_] == '_') {
        ++position_;
        if (at_end() || digit_value(word_[position_]) >= base) return false;
      }
    }
  }

  // digits ["." digits] in the given base.
  bool digits_with_point(unsigned base) {
    if (!digits(base)) return false;
    if (accept('.')) return digits(base);
    return true;
  }

  bool mantissa() {
    const std::size_t start = position_;
    unsigned long base = 0;
    if (!digits(10, &base)) return false;
    if (!at_end() && (word_[position_] == '#' || word_[position_] == ':')) {
      const char mark = word_[position_++];
      if (base < 2 || base > 16) return false;
      return digits_with_point(static_cast<unsigned>(base)) && accept(mark);
    }
    position_ = start;
    if (!digits(10, nullptr, parts_ != nullptr ? &parts_->integer_digits : nullptr)) return false;
    return !accept('.') ||
           digits(10, nullptr, parts_ != nullptr ? &parts_->fraction_digits : nullptr);
  }

  std::string_view word_;
  decimal_number* parts_;
  std::size_t position_ = 0;
};

}  // namespace

bool is_number(std::string_view word) noexcept { return number_parser(word).parse(); }

std::optional<decimal_number> decimal_number_of(std::string_view word) {
  decimal_number parts;
  // A based number keeps no integer digits: it is no decimal one.
  if (!number_parser(word, &parts).parse() || parts.integer_digits.empty()) return std::nullopt;
  return parts;
}

}  // namespace sift_runlog
