// The words of a line: the splitter that cuts them out, the stored answers looked up by their
// formula, and the syntax of numbers.
#include "number_syntax.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "failures.hpp"
#include "slice_set.hpp"
#include "string_tables.hpp"

namespace sift_runlog {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view numbers[] = {
    "0",         "12",      "12.5",    "-3",     "+3",       "1_000",
    "1_0_0",     "2.5E+06", "1e5",     "1E-3",   "1.0e+1_0", "16#FF#",
    "16:FF:",    "16#ff#",  "16#F_F#", "2#1.1#", "2#1010#",  "8#777#",
    "-16#FF#E2", "10:9:",   "016#A#",  "1_6#F#", "3#2.1#e1", "1E99999999999999999999",
};

constexpr std::string_view not_numbers[] = {
    "",        ".",      "12.",   ".5",    "-",     "+",     "INF",
    "inf",     "-inf",   "nan",   "0x1F",  "1,5",   "1__0",  "1_",
    "_1",      "1._5",   "1_.5",  "17#1#", "1#0#",  "0#0#",  "2#2#",
    "16#FF:",  "16:FF#", "16#FF", "16##",  "16#G#", "8#.4#", "8#4.#",
    "16#F#F#", "1E",     "1E+",   "1e_1",  "1E1.5", "12abc", "1 2",
    " 1",      "1 ",     "\t1",   "1\r",   "++1",   "1.2.3", "99999999999999999999#1#",
};

TEST(is_number, AcceptsDecimalAndBasedFormsOnly) {
  for (const std::string_view word : numbers) EXPECT_TRUE(is_number(word)) << '"' << word << '"';
  for (const std::string_view word : not_numbers) {
    EXPECT_FALSE(is_number(word)) << '"' << word << '"';
  }
  EXPECT_FALSE(is_number("1\0"sv));
}

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

// Slices looked for eight bytes at a time: the same as a cut byte by byte, with bytes next to the
// separator's value, bytes that differ from it only in their top bit, separators at every place
// of an eight-byte group, and long runs of separators and long words.
TEST(slice_set, CutsAsAByteByByteCutDoes) {
  const std::string alphabet = std::string("  \x1f!\xa0\x80\xff\x01a\0", 10);
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    std::string text(random() % 200, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    if (round % 4 == 0) {
      // A long run of separators or a long word, anywhere.
      text.insert(random() % (text.size() + 1), 60 + random() % 80, round % 8 == 0 ? ' ' : 'a');
    }
    std::vector<std::string> expected(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != ' ') {
        expected.back() += text[i];
      } else if (i + 1 < text.size() ? text[i + 1] != ' ' : true) {
        expected.emplace_back();
      }
    }
    slice_set words = slice_set::create(text, ' ');
    ASSERT_EQ(words.slice_count(), expected.size()) << text;
    for (std::size_t i = 1; i <= expected.size(); ++i) ASSERT_EQ(words.slice(i), expected[i - 1]);
  }
}

TEST(ordinal, CountsWithTheSuffixOfItsLastDigitsButForTheTeens) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {1, "1st"},     {2, "2nd"},     {3, "3rd"},     {4, "4th"},     {10, "10th"},
      {11, "11th"},   {12, "12th"},   {13, "13th"},   {20, "20th"},   {21, "21st"},
      {22, "22nd"},   {23, "23rd"},   {100, "100th"}, {101, "101st"}, {111, "111th"},
      {112, "112th"}, {113, "113th"}, {123, "123rd"}};
  for (const auto& [number, text] : cases) EXPECT_EQ(ordinal(number), text) << number;
}

// What display_for_key gives, as the slices of each entry cut at its colons define it.
std::string_view value_by_slices(std::string_view key, const tab_a_string& table) {
  for (std::size_t position = 1; position <= table.size(); ++position) {
    const a_string& entry = table.at(position);
    if (!entry.has_value()) continue;
    slice_set parts = slice_set::create(*entry, ':');
    if (parts.slice(1) == key) return parts.slice(2);
  }
  return {};
}

TEST(display_for_key, gives_the_value_the_slices_of_the_first_matching_entry_define) {
  tab_a_string table(9);
  const char* const entries[] = {"A:TRUE", "AB:1", "C::x:y", "D:", "E", ":v", "A:FALSE", "F:::"};
  for (std::size_t i = 0; i < std::size(entries); ++i) table.set(i + 2, entries[i]);
  for (const std::string_view key : {"A", "AB", "C", "D", "", "F", "G", "A:TRUE", "C:", "TRUE"}) {
    EXPECT_EQ(display_for_key(key, table), value_by_slices(key, table)) << key;
  }
  EXPECT_EQ(display_for_key("C", table), "x");
  EXPECT_THROW((void)display_for_key("E", table), Index_Error);
}

}  // namespace
}  // namespace sift_runlog
