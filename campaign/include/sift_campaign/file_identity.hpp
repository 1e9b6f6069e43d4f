// Files by identity, whatever the spelling of their paths or the descriptor they are reached
// by: the checks that no output is an input and that no two outputs are one file.
//
// Errors follow failure.hpp; nothing here fails: a file that cannot be looked at has no
// identity, and then matches nothing.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

// Device and inode of an existing file, or the folder's device and inode and the name for one
// not made yet (only ever an output, so it matches no input).
struct file_identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // only for a file that does not exist yet
  bool operator==(const file_identity&) const = default;
};

[[nodiscard]] file_identity identity_of(const struct stat& status);

// The file's own name in `path`: what follows its last "/".
[[nodiscard]] std::string_view own_name(std::string_view path);

// The identity of the file at `path` (symbolic links followed); nothing when it cannot be
// reached.
[[nodiscard]] std::optional<file_identity> path_identity(const std::string& path);

// The identity of what `fd` is open on: a file, a pipe or a socket; nothing for a device (a
// terminal, /dev/null: many may write there) or a closed descriptor.
[[nodiscard]] std::optional<file_identity> descriptor_identity(int fd);

// A file the command reads or writes, with the name its messages give it.
struct named_file {
  std::string name;
  std::optional<file_identity> identity;
};

// A file the command reads: the file at `path`, or standard input for "-". `option` names the
// option that gives it, if any. Throws failure "standard input is closed, and '[OPTION ]-'
// would read it" for "-" when standard input was closed as the program started.
[[nodiscard]] named_file input_file(const std::string& path, const std::string& option = "");

// The first of `files` that is `file`; nothing when `file` has no identity.
[[nodiscard]] const named_file* same_file_among(const std::optional<file_identity>& file,
                                                std::span<const named_file> files);

}  // namespace sift_runlog::campaign
