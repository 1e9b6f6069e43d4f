// The splitter: a text cut at one separator character, a run of adjacent separators making one
// single cut. Slices are numbered from 1. A text that begins with the separator has an empty
// slice 1, one that ends with it an empty last slice; the empty text has one empty slice.
//
//   " a  b " cut at ' '  ->  "", "a", "b", ""
//
// Slices are found lazily, from the front, only as far as they are asked for: the line scan
// looks at the first few words of every line and must not pay for the rest. Nothing is
// allocated. The views handed out point into the text, which must outlive the slice_set.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace sift_runlog {

class slice_set {
 public:
  // Cuts `text` at `separator`. Cheap: no slice is looked for yet.
  [[nodiscard]] static slice_set create(std::string_view text, char separator) noexcept {
    return slice_set(text, separator);
  }

  // The number of slices, at least 1. Walks to the end of the text.
  [[nodiscard]] std::size_t slice_count();

  // Slice `i`, for i from 1 to slice_count(). Throws Index_Error for any other i.
  [[nodiscard]] std::string_view slice(std::size_t i) {
    // The line tests ask for the same first words again and again: those cost a look-up here.
    if (kept(i)) return text_.substr(cache_[i - 1].begin, cache_[i - 1].end - cache_[i - 1].begin);
    return slice_beyond_kept(i);
  }

  // Whether slice `i` exists (1 <= i <= slice_count()), looking no further than slice i.
  [[nodiscard]] bool has_slice(std::size_t i) { return kept(i) || reach(i); }

 private:
  struct bounds {
    std::size_t begin = 0;
    std::size_t end = 0;
  };
  // Slices up to this number keep their bounds, so that asking again costs nothing.
  static constexpr std::size_t cached_slices = 16;

  slice_set(std::string_view text, char separator) noexcept : text_(text), separator_(separator) {}

  // Whether slice `i` is walked past and its bounds kept.
  [[nodiscard]] bool kept(std::size_t i) const noexcept {
    return i - 1 < walked_ && i <= cached_slices;
  }
  bool reach(std::size_t i);
  [[nodiscard]] std::string_view slice_beyond_kept(std::size_t i);
  bool step();
  [[nodiscard]] std::size_t end_of_slice(std::size_t from) const noexcept;
  [[nodiscard]] bounds bounds_of(std::size_t i) const;

  std::string_view text_;
  char separator_;
  std::array<bounds, cached_slices> cache_{};
  std::size_t walked_ = 0;  // number of the slice the walk stands on; 0 before the first
  bounds current_{};        // bounds of slice `walked_`
};

}  // namespace sift_runlog
