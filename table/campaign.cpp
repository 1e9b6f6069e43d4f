#include "campaign.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <numeric>
#include <set>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/file_identity.hpp>
#include <sift_campaign/temporary_files.hpp>
#include <system_error>
#include <thread>
#include <tuple>

namespace sift_runlog::table {

namespace {

std::string joined(const std::string& directory, const char* name) {
  return directory.ends_with('/') ? directory + name : directory + '/' + name;
}

// The kernel's own file systems: no logs there, and files that never end or block a reader.
bool kernel_file_system(const char* path) {
  struct statfs system {};
  if (::statfs(path, &system) != 0) return false;
  switch (static_cast<unsigned long>(system.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case SELINUX_MAGIC:
    case BINFMTFS_MAGIC:
    case EFIVARFS_MAGIC:
      return true;
    default:
      return false;
  }
}

// Entries are looked at in batches of this many: the memory a search holds stays bounded
// however large a folder or a list.
constexpr std::size_t look_batch = 1024;

// Calls look(i) for every i below `count`, on up to `lookers` threads when there are enough
// calls to share. Each is a stat, which waits on the kernel alone: on a campaign of small logs
// the search, done before any grading starts, would otherwise be a quarter of the run. What no
// thread could be started for is done on this one.
template <typename Look>
void look_side_by_side(std::size_t count, unsigned lookers, const Look& look) {
  constexpr std::size_t worth_a_thread = 256;
  constexpr std::size_t step = 32;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t first = next.fetch_add(step); first < count; first = next.fetch_add(step)) {
      for (std::size_t i = first; i < std::min(first + step, count); ++i) look(i);
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t wanted = std::min<std::size_t>(lookers, count / worth_a_thread);
  if (wanted > 1) {
    // As the graders do, the helpers leave the signals sent from outside to the main thread.
    const campaign::signals_held held(campaign::held_signals::sent_from_outside);
    for (std::size_t h = 1; h < wanted; ++h) {
      try {
        helpers.emplace_back(work);
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

// What the search keeps of a stat, or why it failed: a batch of them stays small.
struct looked {
  mode_t mode = 0;
  std::uint64_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
  int error_number = 0;
};

// Looks at `name` in the folder open on `folder` (or AT_FDCWD), following symbolic links.
looked look_at(int folder, const char* name) {
  struct stat status {};
  if (::fstatat(folder, name, &status, 0) != 0) return {.error_number = errno};
  return {status.st_mode, static_cast<std::uint64_t>(status.st_size), status.st_dev, status.st_ino,
          0};
}

class searcher {
 public:
  searcher(const std::string& pattern, const search_note& note, search_outcome& found,
           unsigned lookers)
      : pattern_(pattern), note_(note), found_(found), lookers_(lookers) {}

  // Searches `directory`, whose status is `status`, and every directory below it not searched
  // yet. Subdirectories go in name order, so that the paths kept do not hang on the order in
  // which a file system lists its entries.
  void search(const std::string& directory, const looked& status) {
    if (!searched_.insert({status.device, status.inode}).second) return;
    if (kernel_file_system(directory.c_str())) {
      note_(directory, "a file system of the kernel's, not searched");
      return;
    }
    ancestors_.push_back({status.device, status.inode, directory});
    std::vector<std::pair<std::string, looked>> subdirectories;
    if (!read(directory, subdirectories)) found_.unsearched.push_back(directory);
    std::sort(subdirectories.begin(), subdirectories.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [path, child] : subdirectories) {
      const auto loop =
          std::find_if(ancestors_.begin(), ancestors_.end(), [&child = child](const auto& a) {
            return a.device == child.device && a.inode == child.inode;
          });
      if (loop != ancestors_.end()) {
        note_(path, "a symbolic link loop back to " + loop->path + ", not followed");
      } else {
        search(path, child);
      }
    }
    ancestors_.pop_back();
  }

 private:
  struct ancestor {
    dev_t device;
    ino_t inode;
    std::string path;
  };

  // Adds the logs of `directory` and lists its subdirectories, which are searched after it is
  // closed: however deep the tree, one directory is open at a time. False if it cannot be read.
  bool read(const std::string& directory,
            std::vector<std::pair<std::string, looked>>& subdirectories) {
    DIR* const stream = ::opendir(directory.c_str());
    if (stream == nullptr && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) {
      // The process ran out, not the folder: no table rather than one with a folder missing.
      throw campaign::system_failure("cannot search " + directory, errno);
    }
    if (stream == nullptr) {
      note_(directory, std::string("cannot search: ") + std::strerror(errno));
      return false;
    }
    // Entries are named in the order the folder lists them, looked at side by side, and taken
    // in that order.
    std::vector<std::pair<std::string, bool>> batch;  // name, and whether it matches
    std::vector<looked> looks;
    int read_error = 0;
    for (bool more = true; more;) {
      errno = 0;
      const dirent* const entry = ::readdir(stream);
      more = entry != nullptr;
      if (more) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        // As the shell matches: a leading dot only by a leading dot.
        const bool matches = ::fnmatch(pattern_.c_str(), name, FNM_PERIOD) == 0;
        // Most entries are plain files: those that do not match need no stat at all.
        if (!matches && entry->d_type == DT_REG) continue;
        batch.emplace_back(name, matches);
        if (batch.size() < look_batch) continue;
      } else {
        read_error = errno;
      }
      looks.assign(batch.size(), looked{});
      const int folder = ::dirfd(stream);
      look_side_by_side(batch.size(), lookers_,
                        [&](std::size_t i) { looks[i] = look_at(folder, batch[i].first.c_str()); });
      for (std::size_t i = 0; i < batch.size(); ++i) {
        take(joined(directory, batch[i].first.c_str()), batch[i].second, looks[i], subdirectories);
      }
      batch.clear();
    }
    ::closedir(stream);
    if (read_error != 0) {
      note_(directory, std::string("cannot search: ") + std::strerror(read_error));
      return false;
    }
    return true;
  }

  // An entry of a folder, as its stat found it.
  void take(std::string path, bool matches, const looked& look,
            std::vector<std::pair<std::string, looked>>& subdirectories) {
    if (look.error_number != 0) {
      look_failed(std::move(path), matches, look.error_number);
    } else if (S_ISDIR(look.mode)) {
      subdirectories.emplace_back(std::move(path), look);
    } else if (S_ISREG(look.mode) && matches) {
      found_.logs.push_back({std::move(path), look.size, look.device, look.inode, 0});
    }
  }

  // An entry that cannot be looked at. One that matches is a log, whose grade says why it cannot
  // be read; any other may be a folder: it is noted and listed as not searched, unless it leads
  // nowhere (a dangling symbolic link).
  void look_failed(std::string path, bool matches, int error_number) {
    if (matches) {
      found_.logs.push_back({std::move(path), 0, 0, 0, 0});
    } else if (error_number != ENOENT && error_number != ENOTDIR) {
      note_(path, std::string("cannot search: ") + std::strerror(error_number));
      found_.unsearched.push_back(std::move(path));
    }
  }

  const std::string& pattern_;
  const search_note& note_;
  search_outcome& found_;
  unsigned lookers_;
  std::vector<ancestor> ancestors_;
  std::set<std::pair<dev_t, ino_t>> searched_;
};

// Sorts the logs by path, and keeps one of those that are one file reached by several spellings
// (camp and ./camp, camp//x.log): the first in path order.
void drop_repeated(std::vector<found_log>& logs) {
  const auto by_path = [](const found_log& a, const found_log& b) { return a.path < b.path; };
  std::sort(logs.begin(), logs.end(), by_path);
  // Sorted positions rather than a set of copies, to add no memory for each log beyond a number.
  std::vector<std::size_t> order(logs.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto identity = [&](std::size_t i) { return std::tuple(logs[i].device, logs[i].inode, i); };
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return identity(a) < identity(b); });
  std::vector<bool> repeated(logs.size());
  // Files reached more than once are few: each is checked against the earlier paths of its file.
  for (std::size_t first = 0, last = 0; first < order.size(); first = last) {
    const found_log& log = logs[order[first]];
    for (last = first + 1; last < order.size() && logs[order[last]].device == log.device &&
                           logs[order[last]].inode == log.inode;
         ++last) {
    }
    if (log.inode == 0) continue;
    for (std::size_t k = first + 1; k < last; ++k) {
      const std::string_view name = campaign::own_name(logs[order[k]].path);
      for (std::size_t j = first; j < k && !repeated[order[k]]; ++j) {
        repeated[order[k]] = !repeated[order[j]] && campaign::own_name(logs[order[j]].path) == name;
      }
    }
  }
  for (std::size_t k = 1; k < logs.size(); ++k) {
    // The same dangling path given twice.
    if (logs[k].inode == 0 && logs[k].path == logs[k - 1].path) repeated[k] = true;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    if (repeated[i]) continue;
    if (kept != i) logs[kept] = std::move(logs[i]);
    ++kept;
  }
  logs.resize(kept);
}

// A path named on the command line or in a list, as its stat found it.
void take(std::string path, const looked& look, searcher& search, search_outcome& found) {
  if (look.error_number != 0) {
    found.missing.push_back(path + ": " + std::strerror(look.error_number));
  } else if (S_ISDIR(look.mode)) {
    search.search(path, look);
  } else {
    found_log log{std::move(path), look.size, look.device, look.inode, 0};
    if (!S_ISREG(look.mode)) {
      log.size = 0;
      log.unread_type = look.mode & S_IFMT;
    }
    found.logs.push_back(std::move(log));
  }
}

}  // namespace

std::string_view file_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

search_outcome find_logs(std::vector<std::string> paths, const std::string& pattern,
                         const search_note& note,
                         const std::vector<std::pair<dev_t, ino_t>>& skipped, unsigned lookers) {
  search_outcome found;
  found.logs.reserve(paths.size());  // exact for a list of logs, as --from gives
  searcher search(pattern, note, found, lookers);
  // Never taken for an option, by this program or by a user who runs sift_runlog on it.
  for (std::string& path : paths) {
    if (path.starts_with('-')) path.insert(0, "./");
  }
  std::vector<looked> looks;
  for (std::size_t first = 0; first < paths.size(); first += look_batch) {
    const std::size_t count = std::min(look_batch, paths.size() - first);
    looks.assign(count, looked{});
    look_side_by_side(count, lookers, [&](std::size_t i) {
      looks[i] = look_at(AT_FDCWD, paths[first + i].c_str());
    });
    for (std::size_t i = 0; i < count; ++i)
      take(std::move(paths[first + i]), looks[i], search, found);
  }
  std::erase_if(found.logs, [&](const found_log& log) {
    return log.inode != 0 && std::find(skipped.begin(), skipped.end(),
                                       std::pair{log.device, log.inode}) != skipped.end();
  });
  drop_repeated(found.logs);
  return found;
}

std::string path_list_line(std::string_view path) {
  if (path.find('\n') == std::string_view::npos && !path.starts_with('"')) {
    return std::string(path) + '\n';
  }
  std::string line = "\"";
  for (const char c : path) {
    if (c == '\n') {
      line += "\\n";
    } else {
      if (c == '"' || c == '\\') line += '\\';
      line += c;
    }
  }
  return line + "\"\n";
}

std::vector<std::string> read_path_list(std::istream& in) {
  std::vector<std::string> paths;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    // A path cannot hold a NUL: cut there, it would name another file.
    if (line.find('\0') != std::string::npos) {
      throw campaign::failure("line " + std::to_string(number) + ": a NUL byte in the path");
    }
    if (!line.starts_with('"')) {
      paths.push_back(line);
      continue;
    }
    std::string path;
    bool closed = false;
    for (std::size_t i = 1; i < line.size() && !closed; ++i) {
      if (line[i] == '"') {
        closed = i + 1 == line.size();
        if (!closed) break;
      } else if (line[i] != '\\') {
        path += line[i];
      } else if (i + 1 < line.size() &&
                 std::string_view("\"\\n").find(line[i + 1]) != std::string_view::npos) {
        path += line[++i] == 'n' ? '\n' : line[i];
      } else {
        break;
      }
    }
    if (!closed) {
      throw campaign::failure("line " + std::to_string(number) +
                              ": a quoted path must end in \" and use only \\\", \\\\ and \\n");
    }
    if (path.empty()) throw campaign::failure("line " + std::to_string(number) + ": an empty path");
    paths.push_back(path);
  }
  return paths;
}

}  // namespace sift_runlog::table
