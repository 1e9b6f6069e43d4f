#include "string_tables.hpp"

#include <gtest/gtest.h>

#include "failures.hpp"
#include "output_sink.hpp"

namespace sift_runlog {
namespace {

TEST(new_a_string, OfTheEmptyTextIsNotNull) {
  const a_string empty = new_a_string("");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, "");
}

TEST(tab_a_string, PositionsOutsideTheTableAreDataErrors) {
  tab_a_string table(2);
  EXPECT_FALSE(table.at(1).has_value());
  EXPECT_THROW((void)table.at(0), data_error);
  EXPECT_THROW((void)table.at(3), data_error);
  EXPECT_THROW(table.set(3, "x"), data_error);
}

TEST(add_a_value_if_new, AddsDistinctValuesInOrderAndReportsAFullTable) {
  tab_a_string table(3);
  string_output_sink out;
  add_a_value_if_new("a", table, out);
  add_a_value_if_new("A", table, out);  // case matters
  add_a_value_if_new("a", table, out);
  add_a_value_if_new(std::string_view("a\0", 2), table, out);  // so does a NUL byte
  EXPECT_EQ(table.filled_count(), 3u);
  EXPECT_EQ(*table.at(2), "A");
  // A repeat changes nothing and says nothing, also when the table is full.
  add_a_value_if_new("A", table, out);
  EXPECT_EQ(out.text(), "");
  try {
    add_a_value_if_new("b", table, out);
    FAIL() << "a full table must be reported";
  } catch (const ANALYSIS_PROBLEM_ERROR& problem) {
    EXPECT_STREQ(problem.what(), "sift_runlog:99");
  }
  EXPECT_EQ(out.text(), "PROBLEM, too many referenced techniques\n");
  EXPECT_EQ(table.filled_count(), 3u);
}

TEST(display_for_key, FindsTheFirstWholeKeyAcrossHoles) {
  tab_a_string table(5);
  EXPECT_EQ(display_for_key("A", table), "");
  table.set(2, "A:1");
  table.set(3, "A:2");
  table.set(4, "AB:3");
  table.set(5, ":4");
  EXPECT_EQ(display_for_key("A", table), "1");
  EXPECT_EQ(display_for_key("B", table), "");
  EXPECT_EQ(display_for_key("AB", table), "3");
  EXPECT_EQ(display_for_key("", table), "4");
  EXPECT_EQ(display_for_key("a", table), "");
}

TEST(display_for_key, TakesTheTextBetweenTheFirstColonsAndTheNext) {
  tab_a_string table(3);
  table.set(1, "A:B:C");
  table.set(2, "D::E");
  table.set(3, "F:");
  EXPECT_EQ(display_for_key("A", table), "B");
  EXPECT_EQ(display_for_key("D", table), "E");
  EXPECT_EQ(display_for_key("F", table), "");
}

TEST(display_for_key, AMatchingEntryWithoutColonIsAnIndexError) {
  tab_a_string table(1);
  table.set(1, "A");
  EXPECT_THROW((void)display_for_key("A", table), Index_Error);
}

}  // namespace
}  // namespace sift_runlog
