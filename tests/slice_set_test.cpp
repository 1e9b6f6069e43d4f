#include "slice_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "failures.hpp"

namespace sift_runlog {
namespace {

using namespace std::string_view_literals;

struct split_case {
  std::string_view text;
  char separator;
  std::vector<std::string_view> slices;
};

const split_case split_cases[] = {
    {" a  b ", ' ', {"", "a", "b", ""}},
    {"", ' ', {""}},
    {"abc", ' ', {"abc"}},
    {" ", ' ', {"", ""}},
    {"   ", ' ', {"", ""}},
    {"a b", ' ', {"a", "b"}},
    {"a   b", ' ', {"a", "b"}},
    {" a b", ' ', {"", "a", "b"}},
    {"a b ", ' ', {"a", "b", ""}},
    {"a\tb c", ' ', {"a\tb", "c"}},
    {"a\0b c"sv, ' ', {"a\0b"sv, "c"}},
    {"A::B", ':', {"A", "B"}},
    {"A:", ':', {"A", ""}},
    {":?", ':', {"", "?"}},
    {"logs/run7/x_y", '/', {"logs", "run7", "x_y"}},
    {"dir/", '/', {"dir", ""}},
    {"a__b_c_d.log", '_', {"a", "b", "c", "d.log"}},
    {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20",
     ' ',
     {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10",
      "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"}},
};

TEST(slice_set, CutsAtRunsOfSeparators) {
  for (const split_case& row : split_cases) {
    SCOPED_TRACE("text \"" + std::string(row.text) + "\"");
    slice_set slices = slice_set::create(row.text, row.separator);
    ASSERT_EQ(slices.slice_count(), row.slices.size());
    for (std::size_t i = 1; i <= row.slices.size(); ++i)
      EXPECT_EQ(slices.slice(i), row.slices[i - 1]);
    EXPECT_THROW((void)slices.slice(row.slices.size() + 1), Index_Error);
    EXPECT_THROW((void)slices.slice(0), Index_Error);
  }
}

TEST(slice_set, GivesTheSameSlicesInAnyOrderOfAsking) {
  // The walk is lazy and keeps only the first slices: asking backwards past them, or after the
  // count, must still give every slice right.
  for (const split_case& row : split_cases) {
    SCOPED_TRACE("text \"" + std::string(row.text) + "\"");
    slice_set backwards = slice_set::create(row.text, row.separator);
    for (std::size_t i = row.slices.size(); i >= 1; --i) {
      ASSERT_TRUE(backwards.has_slice(i));
      EXPECT_EQ(backwards.slice(i), row.slices[i - 1]);
    }
    EXPECT_FALSE(backwards.has_slice(row.slices.size() + 1));
    EXPECT_EQ(backwards.slice(row.slices.size()), row.slices.back());
    EXPECT_EQ(backwards.slice(1), row.slices.front());
  }
}

TEST(slice_set, HasSliceLooksNoFurtherThanAsked) {
  slice_set words = slice_set::create("a b c", ' ');
  EXPECT_TRUE(words.has_slice(3));
  EXPECT_FALSE(words.has_slice(4));
  EXPECT_FALSE(words.has_slice(0));
  EXPECT_EQ(words.slice_count(), 3u);
}

}  // namespace
}  // namespace sift_runlog
