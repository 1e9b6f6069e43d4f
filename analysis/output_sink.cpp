#include "output_sink.hpp"

#include "failures.hpp"

namespace sift_runlog {

output_sink::output_sink(std::size_t capacity)
    // Not zero-filled: a large buffer costs only the pages that are really written.
    // The slack after the capacity takes the overshoot of write_line_overread().
    : buffer_(std::make_unique_for_overwrite<char[]>(capacity + overread)), capacity_(capacity) {}

void output_sink::flush() {
  if (used_ == 0) return;
  const std::string_view pending(buffer_.get(), used_);
  used_ = 0;
  drain(pending);
}

void output_sink::write_through(std::string_view text) {
  flush();
  if (text.size() >= capacity_) {
    drain(text);
  } else {
    text.copy(buffer_.get(), text.size());
    used_ = text.size();
  }
}

void fd_output_sink::drain(std::string_view bytes) {
  if (const int error = write_all(fd_, bytes); error != 0)
    throw output_error("cannot write " + name_, error);
}

}  // namespace sift_runlog
