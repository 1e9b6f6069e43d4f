#include <sift_campaign/writer.hpp>
#include <sift_runlog/grade.hpp>

namespace sift_runlog::campaign {

void write_all(int fd, std::string_view bytes, const std::string& name) {
  const int error = sift_runlog::write_all(fd, bytes);
  if (error != 0) throw system_failure("cannot write " + name, error);
}

fd_writer::fd_writer(int fd, std::string name, bool prompt, std::function<void()> before_output)
    : fd_(fd), name_(std::move(name)), prompt_(prompt), before_output_(std::move(before_output)) {}

void fd_writer::write(std::string_view bytes) {
  buffer_ += bytes;
  if (buffer_.size() >= 64 * 1024) {
    flush();
  } else if (prompt_) {
    flush_if_stale();
  }
}

void fd_writer::flush() {
  if (!buffer_.empty() && before_output_) before_output_();
  write_all(fd_, buffer_, name_);
  buffer_.clear();
  flushed_ = std::chrono::steady_clock::now();
}

void fd_writer::flush_if_stale() {
  if (!buffer_.empty() && std::chrono::steady_clock::now() - flushed_ >= std::chrono::seconds(1)) {
    flush();
  }
}

}  // namespace sift_runlog::campaign
