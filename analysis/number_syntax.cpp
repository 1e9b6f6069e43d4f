#include "number_syntax.hpp"

#include <cstddef>

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
  explicit number_parser(std::string_view word) noexcept : word_(word) {}

  bool parse() noexcept {
    accept_sign();
    if (!mantissa()) return false;
    if (at_end()) return true;
    if (!accept('E') && !accept('e')) return false;
    accept_sign();
    return digits(10) && at_end();
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

  void accept_sign() noexcept {
    if (!accept('+')) accept('-');
  }

  // One or more digits below `base`, with single underscores between two digits. Adds their
  // decimal value to `value` when asked (saturating, so a huge base is just out of range).
  bool digits(unsigned base, unsigned long* value = nullptr) noexcept {
    bool any = false;
    for (;;) {
      if (at_end() || digit_value(word_[position_]) >= base) return any;
      if (value != nullptr && *value <= 1000)
        *value = *value * base + digit_value(word_[position_]);
      ++position_;
      any = true;
      if (!at_end() && word_[position_] == '_') {
        ++position_;
        if (at_end() || digit_value(word_[position_]) >= base) return false;
      }
    }
  }

  // digits ["." digits] in the given base.
  bool digits_with_point(unsigned base) noexcept {
    if (!digits(base)) return false;
    if (accept('.')) return digits(base);
    return true;
  }

  bool mantissa() noexcept {
    const std::size_t start = position_;
    unsigned long base = 0;
    if (!digits(10, &base)) return false;
    if (at_end()) return true;
    const char mark = word_[position_];
    if (mark != '#' && mark != ':') {
      position_ = start;
      return digits_with_point(10);
    }
    ++position_;
    if (base < 2 || base > 16) return false;
    return digits_with_point(static_cast<unsigned>(base)) && accept(mark);
  }

  std::string_view word_;
  std::size_t position_ = 0;
};

}  // namespace

bool is_number(std::string_view word) noexcept { return number_parser(word).parse(); }

}  // namespace sift_runlog
