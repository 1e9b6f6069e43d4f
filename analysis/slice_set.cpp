#include "slice_set.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "failures.hpp"

namespace sift_runlog {

// Words are short, too short for a library search to pay for its call; lines are long enough
// that looking at eight bytes at once does.
std::size_t slice_set::end_of_slice(std::size_t from) const noexcept {
  const char* const text = text_.data();
  const std::size_t size = text_.size();
  std::size_t end = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    const std::uint64_t separators = ones * static_cast<unsigned char>(separator_);
    while (size - end >= 8) {
      std::uint64_t eight = 0;
      std::memcpy(&eight, text + end, 8);
      const std::uint64_t differences = eight ^ separators;
      // The lowest flag marks the first byte that equals the separator; a borrow can only
      // raise flags above it.
      const std::uint64_t flags = (differences - ones) & ~differences & (ones << 7);
      if (flags != 0) return end + static_cast<std::size_t>(std::countr_zero(flags) / 8);
      end += 8;
    }
  }
  while (end < size && text[end] != separator_) ++end;
  return end;
}

// Moves the walk to the next slice; false when the current slice is the last one.
bool slice_set::step() {
  std::size_t begin = 0;
  if (walked_ > 0) {
    // A slice that ends at the end of the text is the last; one that ends at a separator is
    // followed by another, possibly empty, after the run of separators.
    begin = current_.end;
    if (begin == text_.size()) return false;
    while (begin < text_.size() && text_[begin] == separator_) ++begin;
  }
  const std::size_t end = end_of_slice(begin);
  ++walked_;
  current_ = {begin, end};
  if (walked_ <= cached_slices) cache_[walked_ - 1] = current_;
  return true;
}

bool slice_set::reach(std::size_t i) {
  if (i == 0) return false;
  if (i <= walked_ && i <= cached_slices) return true;
  if (i < walked_) {
    // Behind the walk and beyond the cache: walk again from the last cached slice.
    walked_ = cached_slices;
    current_ = cache_[cached_slices - 1];
  }
  while (walked_ < i) {
    if (!step()) return false;
  }
  return true;
}

slice_set::bounds slice_set::bounds_of(std::size_t i) const {
  return i <= cached_slices ? cache_[i - 1] : current_;
}

std::size_t slice_set::slice_count() {
  while (step()) {
  }
  return walked_;
}

std::string_view slice_set::slice_beyond_kept(std::size_t i) {
  if (!reach(i)) {
    throw Index_Error("slice " + std::to_string(i) + " asked for beyond the last one");
  }
  const bounds b = bounds_of(i);
  return text_.substr(b.begin, b.end - b.begin);
}

}  // namespace sift_runlog
