// One output of a command (a table, a failed list, a report), resolved and opened before any
// work, and either written through or replaced whole: written to a temporary file beside its
// target (temporary_files.hpp) and renamed over it only once complete, so that the target is
// the old file or the whole new one.
//
// Errors follow failure.hpp: every function here throws `failure` naming the option, the file
// and the reason.
#pragma once

#include <optional>
#include <sift_campaign/file_identity.hpp>
#include <sift_campaign/temporary_files.hpp>
#include <string>

namespace sift_runlog::campaign {

// The value of an option such as `-o FILE`:
// - "-": standard output, written through;
// - a name of a descriptor ("/dev/stdout", "/dev/fd/N", "/proc/self/fd/N", or a symbolic link
//   to one, as bash's >(command) gives): that descriptor, written through as it is;
// - a device or a FIFO (opened at once: one that no one reads is refused rather than waited
//   for), a socket (connected to): written through, never replaced;
// - a regular file or a name not taken yet: replaced by commit_outputs(). A symbolic link keeps
//   pointing to its target, which is what gets replaced; the new file keeps the owner, group
//   and mode of the file it replaces.
// What can be checked before the work is: the folder exists and is writable, the rename will be
// permitted (a sticky folder; an immutable or append-only file or folder), the name fits the
// file system, the target is no folder.
class output_file {
 public:
  // `option` is the option as typed, for messages; `value` is never empty.
  output_file(std::string option, const std::string& value);
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();

  [[nodiscard]] int fd() const { return temporary_ ? temporary_->fd() : fd_; }
  // The name to give in messages: the value as given, or "standard output" for "-".
  [[nodiscard]] const std::string& name() const { return name_; }
  // "standard output" for "-", else the option and the value: "-o t.csv".
  [[nodiscard]] std::string description() const;
  [[nodiscard]] bool written_through() const { return !temporary_; }
  // A pipe, a terminal, a socket: a reader may be waiting for the rows.
  [[nodiscard]] bool is_stream() const { return stream_; }
  // The file the output ends up in, when it is one that a path may name.
  [[nodiscard]] const std::optional<file_identity>& identity() const { return identity_; }
  // The temporary file, which the command must not read; nothing when written through.
  [[nodiscard]] std::optional<file_identity> temporary_identity() const;

 private:
  friend void commit_outputs(output_file* first, output_file* second);
  void open_descriptor(int fd);
  void open_through(const std::string& target, const struct stat& status);
  void prepare_replacement(const std::string& target);
  void prepare_commit();
  [[nodiscard]] std::string where() const { return option_ + " " + value_; }

  std::string option_;
  std::string value_;
  std::string name_;
  std::string target_;  // the file replaced: the end of the symbolic links from the value
  std::optional<temporary_file> temporary_;
  int fd_ = -1;
  bool owned_fd_ = false;
  bool stream_ = false;
  std::optional<file_identity> identity_;
};

// Whether two outputs end in one file, by any spelling: they would overwrite each other.
[[nodiscard]] bool same_file(const output_file& a, const output_file& b);

// Commits the outputs that are replaced (either may be null or written through): syncs both,
// then renames `second` (the failed list) and `first` (the table) over their targets with the
// terminating signals held back, so that the run ends either before the first rename (nothing
// changed) or after the last (both new), never between. When the table's rename fails, the
// failed list is put back as it was, and nothing is changed. From here to the end of the
// process the terminating signals stay held back.
void commit_outputs(output_file* first, output_file* second);

}  // namespace sift_runlog::campaign
