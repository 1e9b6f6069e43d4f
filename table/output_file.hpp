// What sift_runlog_table writes: one-line messages on standard error, buffered output to a
// descriptor, and its outputs (the table, the failed list), each either written through (standard
// output, a device, a FIFO) or written beside its target and renamed over it only once complete.
// Temporary files are removed on every way out, a terminating signal included, which then ends
// the process by that same signal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sift_runlog::table {

// Writes `line` and a line feed to standard error in one write, the program's name and ": " in
// front: "sift_runlog_table" unless the program names itself with set_program_name (first thing
// in main, with a text that lasts as long as the process).
void say(std::string_view line);
void set_program_name(const char* name);

// Writes all of `bytes` to `fd`, retrying after EINTR and short writes; throws
// std::runtime_error "cannot write NAME: REASON" when a write fails or writes nothing.
void write_all(int fd, std::string_view bytes, const std::string& name);

// Collects output in large blocks for one descriptor. With `prompt`, what waits is also written
// once a second has passed since the last write, so that a reader at the other end of a pipe
// sees rows as they come. The calls throw as write_all does.
class fd_writer {
 public:
  fd_writer(int fd, std::string name, bool prompt = false)
      : fd_(fd), name_(std::move(name)), prompt_(prompt) {}
  void write(std::string_view bytes);
  void flush();
  // Writes what waits if a second has passed since the last write (for a timer to call).
  void flush_if_stale();

 private:
  int fd_;
  std::string name_;
  bool prompt_;
  std::string buffer_;
  std::chrono::steady_clock::time_point flushed_ = std::chrono::steady_clock::now();
};

// A file by identity, whatever the spelling of its path: device and inode of an existing file,
// or the folder's device and inode and the name for one not made yet.
struct file_identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // only for a file that does not exist yet
  bool operator==(const file_identity&) const = default;
};

// Opens descriptors 0, 1 and 2 on /dev/null where they are closed, so that no file the program
// opens takes their place (a table written into "standard error"). Returns which were closed,
// bit N for descriptor N. Call first thing in main.
unsigned open_standard_descriptors();

// Installs the handler of every terminating signal the process may catch (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGUSR1, SIGALRM, ..., and the faults): it removes the
// temporary files not yet committed, says so, and ends the process by the signal itself, so
// that a shell or scheduler sees it. A signal ignored when the program starts stays ignored (a
// job started in the background of a script ignores SIGINT and SIGQUIT). SIGXFSZ is ignored: a
// table that cannot grow is a write error like any other. Call before any thread starts.
void handle_terminating_signals();

// One output of the command, `-o FILE` or `--failed FILE`, resolved and opened before anything
// is graded:
// - "-" (or /dev/stdout, /dev/fd/1, /proc/self/fd/1): standard output, written through;
// - a device, a FIFO or a socket (or a link to one): opened and written through, never replaced;
// - a regular file or a name not taken yet: written to a temporary file in the same folder and
//   renamed over the target by commit_outputs(); the target is then the old file or the whole new
//   one. A symbolic link keeps pointing to its target, which is what gets replaced; the new file
//   keeps the owner, group and mode of the file it replaces.
// What can be checked before the work is: the folder exists and is writable, the rename will be
// permitted (a sticky folder), the name fits the file system, the target is no folder.
class table_output {
 public:
  // `option` is the option as typed, for messages; `value` is never empty. Throws
  // std::runtime_error naming the option, the file and the reason.
  table_output(std::string option, const std::string& value);
  ~table_output();  // removes the temporary file unless committed
  table_output(const table_output&) = delete;
  table_output& operator=(const table_output&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  // The name to give in messages: the value as given, or "standard output".
  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] bool written_through() const { return temporary_.empty(); }
  // Standard output, or a pipe, a terminal, a socket: a reader may be waiting for the rows.
  [[nodiscard]] bool is_stream() const { return stream_; }
  // The file that the output ends up in (for a written-through regular file, the file itself);
  // nothing for a pipe, a terminal or a device, which no search can find.
  [[nodiscard]] const std::optional<file_identity>& identity() const { return identity_; }
  // The temporary file, which no search may take for a log.
  [[nodiscard]] const std::optional<file_identity>& temporary_identity() const {
    return temporary_identity_;
  }

 private:
  friend void commit_outputs(table_output* first, table_output* second);
  void prepare_commit();

  std::string option_;
  std::string name_;
  std::string target_;     // the file replaced: the end of the symbolic links from the value
  std::string temporary_;  // beside the target; empty when written through
  int fd_ = -1;
  bool owned_fd_ = false;
  bool stream_ = false;
  bool committed_ = false;
  int slot_ = -1;  // the temporary file's place in the list the signal handler removes
  std::optional<file_identity> identity_;
  std::optional<file_identity> temporary_identity_;
};

// The identity of standard output when it is a regular file, so that no log is read from the
// file being written; nothing otherwise.
[[nodiscard]] std::optional<file_identity> standard_output_identity();

// Commits the outputs that are replaced (either may be null or written through): syncs both,
// then renames `second` (the failed list) and `first` (the table) over their targets with the
// terminating signals held back, so that the run ends either before the first rename (nothing
// changed) or after the last (both new), never between. When the table's rename fails, the
// failed list is put back as it was. Throws std::runtime_error with the reason; nothing is then
// changed. From here to the end of the process the terminating signals stay held back: the run
// has succeeded, and ends with its own exit status.
void commit_outputs(table_output* first, table_output* second);

}  // namespace sift_runlog::table
