// The small value types in which the analysis keeps what a log declares: texts that may be
// absent, fixed-size tables of them numbered from 1, and the vector of the tool's answers.
// Texts are bytes: NUL bytes, tabs, carriage returns and any other byte are ordinary
// characters, and every comparison is exact (same length, same bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog {

// A text, or null (absent). A handle to an empty text is not null.
using a_string = std::optional<std::string>;

// A new non-null a_string holding its own copy of `text`.
[[nodiscard]] inline a_string new_a_string(std::string_view text) {
  return a_string(std::in_place, text);
}

// A table of a_string with positions 1 to a size fixed when it is made, all null at first.
class tab_a_string {
 public:
  explicit tab_a_string(std::size_t size) : slots_(size) {}

  [[nodiscard]] std::size_t size() const noexcept { return slots_.size(); }

  // The entry at `position`; a position outside 1..size() is a data_error.
  [[nodiscard]] const a_string& at(std::size_t position) const;
  // Stores `text` at `position`, in its own copy made by the caller (or moved in).
  void set(std::size_t position, std::string text);
  // Moves the text at `position` out, for a table that is not needed any more; the entry stays
  // non-null, its text empty. A null entry gives the empty text.
  [[nodiscard]] std::string take(std::size_t position);

  // The number of entries from position 1 up to the first null one.
  [[nodiscard]] std::size_t filled_count() const noexcept;
  // The texts of the entries that are not null, in position order: copied, or moved out of a
  // table that is not needed any more.
  [[nodiscard]] std::vector<std::string> texts() const&;
  [[nodiscard]] std::vector<std::string> texts() &&;

  bool operator==(const tab_a_string&) const = default;

 private:
  // The index in slots_ of `position`; a data_error outside 1..size().
  [[nodiscard]] std::size_t index_of(std::size_t position) const;

  std::vector<a_string> slots_;
};

// The tool's answers: entries "key:value" stored by position.
struct vector_result {
  vector_result(std::int32_t size_, bool is_boolean_)
      : size(size_), is_boolean(is_boolean_), entries(static_cast<std::size_t>(size_)) {}

  std::int32_t size;
  bool is_boolean;
  tab_a_string entries;

  bool operator==(const vector_result&) const = default;
};

// Adds a copy of `value` at the first null position of `table` unless an equal text is already
// there. When every position holds a different text, throws ANALYSIS_PROBLEM_ERROR
// "sift_runlog:99" with the line "PROBLEM, too many referenced techniques" and the reason
// "a <size + 1>th <what>"; the table is then unchanged.
void add_a_value_if_new(std::string_view value, tab_a_string& table, std::string_view what);

// "1st", "2nd", "3rd", "4th", ... "11th", "21st": the reasons count with them.
[[nodiscard]] std::string ordinal(std::uint64_t number);

// An entry "key:value" as the result line reads it: the text before the first colon, and the
// text between the first run of colons and the next colon or the end (empty without a colon).
struct key_and_value {
  std::string_view key;
  std::string_view value;
};
[[nodiscard]] key_and_value key_and_value_of(std::string_view entry) noexcept;

// The value stored under `key` in a table of "key:value" entries: the text between the first
// run of colons and the next colon or the end of the first entry, in position order, whose text
// before its first colon is `key`; the empty text when none matches. Null entries are holes,
// not the end. A matching entry without any colon throws Index_Error.
[[nodiscard]] std::string_view display_for_key(std::string_view key, const tab_a_string& table);

}  // namespace sift_runlog
