#include "slice_set.hpp"

#include <string>

#include "failures.hpp"

namespace sift_runlog {

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
  // Words are short: a plain loop beats a library search here.
  std::size_t end = begin;
  while (end < text_.size() && text_[end] != separator_) ++end;
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

std::string_view slice_set::slice(std::size_t i) {
  if (!reach(i)) {
    throw Index_Error("slice " + std::to_string(i) + " asked for beyond the last one");
  }
  const bounds b = bounds_of(i);
  return text_.substr(b.begin, b.end - b.begin);
}

}  // namespace sift_runlog
