#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sift_campaign/descriptors.hpp>
#include <sift_campaign/output_file.hpp>

namespace sift_runlog::campaign {

namespace {

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The target of the symbolic link at `path`, whole whatever size the link announces (the links
// of /proc announce 64 bytes).
std::string link_target(const std::string& path, const std::string& where) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) throw system_failure(where, errno);
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

// The descriptor that `path` stands for (/dev/stdout, /dev/fd/N, /proc/self/fd/N, N in any
// spelling of this process's folder of descriptors), or -1.
int descriptor_named(const std::string& path) {
  if (path == "/dev/stdin") return STDIN_FILENO;
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  const std::string name(own_name(path));
  if (name.empty() || name.size() > 9 ||
      name.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  const std::string folder = folder_of(path);
  const std::optional<file_identity> own = path_identity("/proc/self/fd");
  if (folder == "/dev/fd" || folder == "/proc/self/fd" || (own && path_identity(folder) == own)) {
    return std::stoi(name);
  }
  return -1;
}

// Follows the symbolic links from `path` to the file they end at (which may not exist yet), so
// that it, and not a link, is what gets replaced. Stops at a name that stands for a descriptor.
std::string end_of_links(std::string path, const std::string& where) {
  for (int hops = 0;; ++hops) {
    struct stat status {};
    if (descriptor_named(path) >= 0 || ::lstat(path.c_str(), &status) != 0 ||
        !S_ISLNK(status.st_mode)) {
      return path;
    }
    if (hops == 40) throw system_failure(where, ELOOP);
    const std::string target = link_target(path, where);
    path = target.starts_with('/') ? target : folder_of(path) + "/" + target;
  }
}

// A connection to the socket at `path`, written through like a pipe.
int connect_to_socket(const std::string& path, const std::string& where) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) throw system_failure(where, ENAMETOOLONG);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw system_failure(where, errno);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error_number = errno;
    ::close(fd);
    throw system_failure(where, error_number);
  }
  return fd;
}

// Refuses a file or a folder whose attributes forbid replacing a file there: immutable, or
// append-only (no name in it may be removed). What cannot be looked at is left to the rename.
void check_attributes(const std::string& path, const std::string& what, const std::string& where) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  int attributes = 0;
  const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &attributes) == 0;
  ::close(fd);
  if (known && (attributes & FS_IMMUTABLE_FL) != 0) {
    throw failure(where + ": " + what + " is immutable (chattr +i)");
  }
  if (known && (attributes & FS_APPEND_FL) != 0) {
    throw failure(where + ": " + what + " is append-only (chattr +a)");
  }
}

}  // namespace

output_file::output_file(std::string option, const std::string& value)
    : option_(std::move(option)), value_(value), name_(value == "-" ? "standard output" : value) {
  if (value == "-") {
    open_descriptor(STDOUT_FILENO);
    return;
  }
  const std::string target = end_of_links(value, where());
  if (const int fd = descriptor_named(target); fd >= 0) {
    open_descriptor(fd);
    return;
  }
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) {
    if (errno != ENOENT) throw system_failure(where(), errno);
    prepare_replacement(target);
  } else if (S_ISDIR(status.st_mode)) {
    throw failure(where() + ": is a folder");
  } else if (S_ISREG(status.st_mode)) {
    prepare_replacement(target);
  } else {
    open_through(target, status);
  }
}

output_file::~output_file() {
  if (owned_fd_) ::close(fd_);
}

std::string output_file::description() const { return value_ == "-" ? "standard output" : where(); }

std::optional<file_identity> output_file::temporary_identity() const {
  if (!temporary_) return std::nullopt;
  return descriptor_identity(temporary_->fd());
}

void output_file::open_descriptor(int fd) {
  if (fd <= 2 && closed_at_start(fd)) {
    throw failure(std::string(standard_name(fd)) + " is closed" +
                  (value_ == "-" ? "" : " (" + where() + ")"));
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) throw system_failure(where(), errno);
  if ((flags & O_ACCMODE) == O_RDONLY) {
    throw failure(where() + ": descriptor " + std::to_string(fd) + " is open for reading only");
  }
  fd_ = fd;
  struct stat opened {};
  stream_ = ::fstat(fd_, &opened) == 0 && !S_ISREG(opened.st_mode);
  identity_ = descriptor_identity(fd_);
}

void output_file::open_through(const std::string& target, const struct stat& status) {
  if (S_ISSOCK(status.st_mode)) {
    fd_ = connect_to_socket(target, where());
  } else {
    // A FIFO nobody reads would block the open until someone does: refused at once instead.
    fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 && errno == ENXIO && S_ISFIFO(status.st_mode)) {
      throw failure(where() + ": no one reads the FIFO");
    }
    if (fd_ < 0) throw system_failure(where(), errno);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  }
  owned_fd_ = true;
  stream_ = true;
  identity_ = descriptor_identity(fd_);
}

void output_file::prepare_replacement(const std::string& target) {
  target_ = target;
  const std::string folder = folder_of(target);
  const std::string name(own_name(target));
  struct stat folder_status {};
  if (::stat(folder.c_str(), &folder_status) != 0) throw system_failure(where(), errno);
  const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (longest > 0 && name.size() > static_cast<std::size_t>(longest)) {
    throw system_failure(where(), ENAMETOOLONG);
  }
  check_attributes(folder, "the folder " + folder, where());
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    // In a folder with the sticky bit only the file's or the folder's owner may replace it
    // (or root): known now, not after the whole work is done.
    const uid_t me = ::geteuid();
    if ((folder_status.st_mode & S_ISVTX) != 0 && me != 0 && old.st_uid != me &&
        folder_status.st_uid != me) {
      throw failure(where() +
                    ": a file of another user, in a folder where only its owner may replace it "
                    "(the sticky bit)");
    }
    check_attributes(target, "the file", where());
    identity_ = identity_of(old);
  } else {
    identity_ = file_identity{folder_status.st_dev, folder_status.st_ino, name};
  }
  // A short name of its own beside the target, so that it fits wherever the target's name does.
  temporary_.emplace(target.find('/') == std::string::npos ? "" : folder, where());
}

void output_file::prepare_commit() {
  const int fd = temporary_->fd();
  // The owner, group and mode of the file replaced; else those a new file gets.
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only root may give a file away; keep at least the group where that is allowed.
      (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
      throw system_failure("cannot write " + name_, errno);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) throw system_failure("cannot write " + name_, errno);
  }
  if (::fsync(fd) != 0) throw system_failure("cannot write " + name_, errno);
}

bool same_file(const output_file& a, const output_file& b) {
  if (a.written_through() && b.written_through() && a.fd() == b.fd()) return true;
  return a.identity() && a.identity() == b.identity();
}

void commit_outputs(output_file* first, output_file* second) {
  if (first != nullptr && first->written_through()) first = nullptr;
  if (second != nullptr && second->written_through()) second = nullptr;
  if (first != nullptr) first->prepare_commit();
  if (second != nullptr) second->prepare_commit();
  // Held back for good: the run ends before the first rename or after the last.
  hold_terminating_signals_for_good();

  // The old failed list is kept under a name of its own until the table is in place, so that it
  // can be put back if the table cannot be. The name is gone whichever way this ends.
  struct kept_aside {
    std::string path;
    ~kept_aside() {
      if (!path.empty()) ::unlink(path.c_str());
    }
  } kept;
  struct stat old {};
  if (second != nullptr && first != nullptr && ::stat(second->target_.c_str(), &old) == 0) {
    const std::string path = second->temporary_->path() + ".old";
    if (::link(second->target_.c_str(), path.c_str()) != 0) {
      throw system_failure("cannot keep the old " + second->name_ + " aside", errno);
    }
    kept.path = path;
  }
  if (second != nullptr) second->temporary_->rename_over(second->target_);
  if (first != nullptr) {
    try {
      first->temporary_->rename_over(first->target_);
    } catch (const failure& e) {
      if (second != nullptr) {
        if (kept.path.empty()) {
          ::unlink(second->target_.c_str());
        } else {
          // Put back; should that fail too, the old list stays under the name kept aside.
          ::rename(kept.path.c_str(), second->target_.c_str());
          kept.path.clear();
        }
      }
      throw failure(std::string(e.what()) +
                    (second != nullptr ? "; " + second->name_ + " is left as it was" : ""));
    }
  }
}

}  // namespace sift_runlog::campaign
