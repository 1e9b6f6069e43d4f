// Writing to a descriptor: every byte or a failure, and the one buffered writer of the programs.
//
// Errors follow failure.hpp: a write that fails throws `failure` "cannot write NAME: REASON".
#pragma once

#include <chrono>
#include <functional>
#include <sift_campaign/failure.hpp>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

// Writes all of `bytes` to `fd`, again after an interruption or a short write.
void write_all(int fd, std::string_view bytes, const std::string& name);

// Collects output in large blocks for one descriptor. With `prompt`, what waits is also written
// once a second has passed since the last write, so that a reader at the other end of a pipe
// sees rows as they come. `before_output`, if given, is called just before bytes go out (to
// erase a progress line from the terminal they go to).
class fd_writer {
 public:
  fd_writer(int fd, std::string name, bool prompt = false,
            std::function<void()> before_output = {});
  void write(std::string_view bytes);
  void flush();
  // Writes what waits if a second has passed since the last write (for a timer to call).
  void flush_if_stale();

 private:
  int fd_;
  std::string name_;
  bool prompt_;
  std::function<void()> before_output_;
  std::string buffer_;
  std::chrono::steady_clock::time_point flushed_ = std::chrono::steady_clock::now();
};

}  // namespace sift_runlog::campaign
