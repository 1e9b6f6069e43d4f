// What sift_runlog_table writes: buffered output to a descriptor, one-line messages on standard
// error, tables that replace their target only once complete, and the handling of SIGINT,
// SIGTERM and SIGHUP, which removes every table not yet complete before the process ends.
#pragma once

#include <string>
#include <string_view>

namespace sift_runlog::table {

// Writes `line` and a line feed to standard error in one write, the program's name and ": " in
// front: "sift_runlog_table" unless the program names itself with set_program_name.
void say(std::string_view line);
void set_program_name(std::string_view name);

// Collects output in large blocks for one descriptor. The calls throw std::runtime_error naming
// `name` and the system's reason when a write fails.
class fd_writer {
 public:
  fd_writer(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  void write(std::string_view bytes);
  void flush();

 private:
  int fd_;
  std::string name_;
  std::string buffer_;
};

// A file written beside `target` under a temporary name and renamed over it by commit(): the
// target is the old file or the complete new one, never a part. The new file gets the mode of
// the old one, or the mode a new file gets under the umask.
class replacement_file {
 public:
  // Creates the temporary file; throws std::runtime_error with the reason when it cannot be
  // made (no such folder, no permission, the target a folder).
  explicit replacement_file(std::string target);
  // Removes the temporary file unless it was committed.
  ~replacement_file();
  replacement_file(const replacement_file&) = delete;
  replacement_file& operator=(const replacement_file&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const std::string& target() const { return target_; }

  // Sets the mode, syncs the file to disk and renames it over the target. Throws
  // std::runtime_error with the reason; the target is then left as it was.
  void commit();

 private:
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it starts
// later, and starts a thread that waits for them. On one it removes the temporary files of the
// replacement files not yet committed, says so, and ends the process by the signal (a shell
// shows 128 + its number), at once, whatever the graders are doing. Call before any other
// thread starts.
void watch_interruptions();

}  // namespace sift_runlog::table
