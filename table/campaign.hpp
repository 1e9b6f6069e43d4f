// The logs of a campaign: the paths given, the directories searched below them, the path lists
// that --failed writes and --from reads, and the parts that --shard cuts the sorted list into.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sift_runlog::table {

struct found_log {
  std::string path;  // as found: the path given, or a searched directory's path, "/", the name
  std::uint64_t size = 0;
  // The file's identity; both 0 when it could not be reached (a dangling symbolic link), which
  // its grade then reports.
  dev_t device = 0;
  ino_t inode = 0;
  // The type of a file that is not read at all (a FIFO or a device named as a log, see
  // file_kind); 0 for a regular file, to grade.
  mode_t unread_type = 0;
};

struct search_outcome {
  std::vector<found_log> logs;          // in the byte order of the paths, each log once
  std::vector<std::string> unsearched;  // directories and entries that could not be looked at
  std::vector<std::string> missing;     // named paths that lead nowhere, with the reason
};

// Receives a problem met while searching, with the path it concerns.
using search_note = std::function<void(const std::string& path, const std::string& problem)>;

// Finds the logs: a path that is a directory is searched, with its subdirectories and following
// symbolic links, for the regular files whose own names match `pattern` (a shell pattern: a
// leading dot is matched only by a leading dot); any other path is a log whatever its name. A
// path that begins with "-" gets "./" in front. Every directory is searched once and every log
// taken once, by device and inode, whatever the spelling of their paths: of the paths of one
// file that end in the same name, the first in byte order is kept (hard links of other names
// are other logs). A named path that does not exist, or cannot be reached, is listed in
// `missing`; a named FIFO, device or socket is a log with an `unread_type`, never opened. A name
// that matches but cannot be looked at (a dangling or looping symbolic link, a folder without
// search permission) is a log too, so that its grade reports it. A directory that cannot be
// read, and an entry that does not match and cannot be looked at (it may be a folder), but for
// a dangling symbolic link, are noted and listed in `unsearched`; a
// symbolic link back to a directory being searched is noted and not followed; the kernel's own
// file systems (/proc, /sys, ...) are noted and not searched. Files whose device and inode are
// in `skipped` (the command's own temporary files) are left out. The entries of large folders
// and lists are looked at on up to `lookers` threads; what is found does not depend on it.
[[nodiscard]] search_outcome find_logs(std::vector<std::string> paths, const std::string& pattern,
                                       const search_note& note,
                                       const std::vector<std::pair<dev_t, ino_t>>& skipped = {},
                                       unsigned lookers = 1);

// What a file of this mode is, for messages: "a FIFO", "a character device", ...
[[nodiscard]] std::string_view file_kind(mode_t mode);

// One line of a path list, line feed included: the path as it is, or, when it holds a line feed
// or begins with a double quote, between double quotes with \", \\ and \n for those bytes.
[[nodiscard]] std::string path_list_line(std::string_view path);

// The paths of a list written by path_list_line (or by hand: one path a line, empty lines
// skipped). Throws campaign::failure naming the line of a malformed quoted path, an empty
// quoted path or a NUL byte.
[[nodiscard]] std::vector<std::string> read_path_list(std::istream& in);

}  // namespace sift_runlog::table
