#include "line_filter.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "keywords.hpp"

namespace sift_runlog {

namespace {

// Four bytes as one number, in memory order, so that a prefix compares in one step.
std::uint32_t load_four(const char* bytes) noexcept {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

constexpr std::uint32_t four_bytes(std::string_view text) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]));
    value |= std::endian::native == std::endian::little ? byte << (8 * i) : byte << (24 - 8 * i);
  }
  return value;
}

bool is_keyword_start(std::uint32_t first) noexcept {
  constexpr std::uint32_t starts[] = {
      four_bytes(keyword::start),          four_bytes(keyword::time_confinement_reached),
      four_bytes(keyword::cannot_compute), four_bytes(keyword::do_not_compete),
      four_bytes(keyword::state_space),    four_bytes(keyword::formula),
      four_bytes(keyword::num_vector),     four_bytes(keyword::bool_vector),
  };
  for (const std::uint32_t start : starts) {
    if (first == start) return true;
  }
  return false;
}

}  // namespace

tested_word tested_word_after(std::string_view line, std::size_t position) noexcept {
  // Every tested word, with the blank before it and the word or blanks that must follow it,
  // takes at least six bytes.
  if (position + 6 > line.size() || line[position] != ' ') return {};
  const std::string_view rest = line.substr(position + 1);
  const auto followed_by_word = [&rest](std::string_view word) {
    return rest.size() > word.size() && rest[word.size()] == ' ' && rest.starts_with(word);
  };
  const auto found = [](std::size_t index, int test) {
    return tested_word{candidate_word_places[index], test_set{1} << test};
  };
  switch (rest.front()) {
    case 'O':
      return followed_by_word(keyword::out) ? found(0, 2) : tested_word{};
    case 'I':
      return followed_by_word(keyword::insufficient) ? found(1, 4) : tested_word{};
    case 'E':
      return followed_by_word(keyword::executing) ? found(2, 7) : tested_word{};
    case 'N':
      return followed_by_word(keyword::number) ? found(3, 8) : tested_word{};
    case '\'':
      return rest.starts_with(keyword::bad_alloc) && (rest.size() == keyword::bad_alloc.size() ||
                                                      rest[keyword::bad_alloc.size()] == ' ')
                 ? found(4, 5)
                 : tested_word{};
    default:
      return {};
  }
}

bool tested_word_at(std::string_view line, std::size_t position) noexcept {
  return tested_word_after(line, position).place != 0;
}

bool may_pass_by_start(std::string_view line) noexcept {
  return (line.size() >= 4 && is_keyword_start(load_four(line.data()))) ||
         line == keyword::cannot_allocate_memory || line == keyword::locale_warning;
}

bool may_pass_a_test(std::string_view line) noexcept {
  if (may_pass_by_start(line)) return true;
  for (std::size_t position = 0; position < line.size(); ++position) {
    if (tested_word_at(line, position)) return true;
  }
  return false;
}

}  // namespace sift_runlog
