// Natural order for names a person reads: runs of digits compare as numbers, so that Exam2 comes
// before Exam10 and Model-9 before Model-10; everything else compares byte by byte. Names equal
// that way (Exam2, Exam02) fall back to byte order, so that the order is total.
#pragma once

#include <string_view>

namespace sift_runlog::report {

// Negative when `a` comes first, positive when `b` does, 0 when they are the same bytes.
[[nodiscard]] int natural_compare(std::string_view a, std::string_view b);

[[nodiscard]] inline bool natural_less(std::string_view a, std::string_view b) {
  return natural_compare(a, b) < 0;
}

}  // namespace sift_runlog::report
