// The splitter: slices asked for in any order, forward and back, beyond those whose bounds it
// keeps.
#include "slice_set.hpp"

#include <gtest/gtest.h>

#include <string>

#include "failures.hpp"

namespace sift_runlog {
namespace {

TEST(slice_set, GivesEachSliceInAnyOrderBeyondTheKeptBounds) {
  // " 2 3  4 ... 20 ": an empty slice 1, slice i holding i, an empty slice 21.
  std::string text = " ";
  for (int i = 2; i <= 20; ++i) text += std::to_string(i) + (i % 3 == 0 ? "  " : " ");
  slice_set words = slice_set::create(text, ' ');
  EXPECT_EQ(words.slice_count(), 21U);
  for (const std::size_t i : {18U, 17U, 20U, 1U, 21U, 19U, 2U, 16U}) {
    EXPECT_EQ(words.slice(i), i == 1 || i == 21 ? "" : std::to_string(i)) << i;
  }
  EXPECT_FALSE(words.has_slice(22));
  EXPECT_THROW((void)words.slice(0), Index_Error);
}

}  // namespace
}  // namespace sift_runlog
