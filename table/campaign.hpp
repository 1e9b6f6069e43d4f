// The logs of a campaign: the paths given, the directories searched below them, the path lists
// that --failed writes and --from reads, and the parts that --shard cuts the sorted list into.
#pragma once

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
};

struct search_outcome {
  std::vector<found_log> logs;          // in the byte order of the paths, each path once
  std::vector<std::string> unsearched;  // directories that could not be read
};

// Receives a problem met while searching, with the path it concerns.
using search_note = std::function<void(const std::string& path, const std::string& problem)>;

// Finds the logs: a path that is a directory is searched, with its subdirectories and following
// symbolic links, for the regular files whose own names match `pattern` (a shell pattern); any
// other path is a log whatever its name or type. A path that begins with "-" gets "./" in front.
// A name that matches but leads nowhere (a dangling or looping symbolic link) is a log too, so
// that its grade reports it. A directory that cannot be read is noted and listed in
// `unsearched`; a symbolic link back to a directory being searched is noted and not followed.
[[nodiscard]] search_outcome find_logs(std::vector<std::string> paths, const std::string& pattern,
                                       const search_note& note);

// One line of a path list, line feed included: the path as it is, or, when it holds a line feed
// or begins with a double quote, between double quotes with \", \\ and \n for those bytes.
[[nodiscard]] std::string path_list_line(std::string_view path);

// The paths of a list written by path_list_line (or by hand: one path a line, empty lines
// skipped). Throws std::runtime_error naming the line of a malformed quoted path, an empty
// quoted path or a NUL byte.
[[nodiscard]] std::vector<std::string> read_path_list(std::istream& in);

struct shard {
  std::size_t part = 1;  // 1 to parts
  std::size_t parts = 1;
};

// "K/N" with 1 <= K <= N <= 1000000; nothing otherwise.
[[nodiscard]] std::optional<shard> parse_shard(std::string_view text);

// The positions [begin, end) of the logs of one part in a sorted list of `count` logs: the
// parts are consecutive runs whose sizes differ by one at most.
[[nodiscard]] std::pair<std::size_t, std::size_t> shard_range(std::size_t count, shard part);

}  // namespace sift_runlog::table
