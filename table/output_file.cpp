#include "output_file.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <sift_runlog/grade.hpp>
#include <stdexcept>

namespace sift_runlog::table {

namespace {

// The temporary files not yet committed, for the signal handler to remove. A handler may run at
// any instant, on any thread: each place holds a path in static storage, never freed nor reused
// (a run makes at most a few), and is taken by an atomic flag.
struct temporary_place {
  std::atomic<bool> taken{false};  // reserved by a table_output
  std::atomic<bool> live{false};   // the path names a file to remove
  char path[PATH_MAX]{};
};
std::array<temporary_place, 8> temporaries;

// The action each handled signal had before, which the handler restores before it raises the
// signal again: the default action, or a sanitizer's handler of a fault.
std::array<struct sigaction, 65> previous_actions{};

unsigned closed_at_start = 0;  // bit N: descriptor N was closed when the program started

std::runtime_error failure(const std::string& what, int error_number) {
  return std::runtime_error(what + ": " + std::strerror(error_number));
}

// The asynchronous signals that end a process by default, and the faults, which a program can
// catch; SIGKILL and SIGSTOP cannot be. SIGTRAP is left to debuggers.
sigset_t terminating_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGABRT, SIGBUS,  SIGFPE,
                                  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT,
                                  SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS}) {
    sigaddset(&set, signal_number);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&set, signal_number);
  }
  return set;
}

const char* signal_name(int signal_number) {
  switch (signal_number) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGTERM:
      return "SIGTERM";
    case SIGUSR1:
      return "SIGUSR1";
    case SIGUSR2:
      return "SIGUSR2";
    case SIGALRM:
      return "SIGALRM";
    case SIGXCPU:
      return "SIGXCPU";
    case SIGABRT:
      return "SIGABRT";
    case SIGSEGV:
      return "SIGSEGV";
    default:
      return nullptr;
  }
}

// The name in front of every message; set before any signal handler is installed.
const char* program_name = "sift_runlog_table";

// Only async-signal-safe calls: unlink, write, sigaction, raise.
extern "C" void on_terminating_signal(int signal_number) {
  const int saved_errno = errno;
  bool removed = false;
  for (temporary_place& place : temporaries) {
    if (place.live.exchange(false)) {
      ::unlink(place.path);
      removed = true;
    }
  }
  // A reader that went away (SIGPIPE) is told nothing, as other programs in a pipe do.
  if (signal_number != SIGPIPE) {
    char text[96];
    std::size_t length = 0;
    const auto append = [&](const char* part) {
      for (; *part != '\0' && length < sizeof text - 1; ++part) text[length++] = *part;
    };
    append(program_name);
    append(": stopped by ");
    if (const char* name = signal_name(signal_number)) {
      append(name);
    } else {
      append("signal ");
      char digits[4] = {static_cast<char>('0' + signal_number / 10 % 10),
                        static_cast<char>('0' + signal_number % 10), '\0', '\0'};
      append(signal_number >= 10 ? digits : digits + 1);
    }
    if (removed) append("; no table written");
    append("\n");
    (void)!::write(STDERR_FILENO, text, length);
  }
  ::sigaction(signal_number, &previous_actions[static_cast<std::size_t>(signal_number)], nullptr);
  errno = saved_errno;
  // Not blocked here (SA_NODEFER): the signal takes its former action at once; a fault that was
  // real comes back when the handler returns, to the former handler.
  ::raise(signal_number);
}

// Keeps a copy of `path` where the handler finds it; returns its place.
int remember_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) throw failure(path, ENAMETOOLONG);
  for (std::size_t slot = 0; slot < temporaries.size(); ++slot) {
    temporary_place& place = temporaries[slot];
    if (place.taken.exchange(true)) continue;
    std::memcpy(place.path, path.c_str(), path.size() + 1);
    place.live.store(true);
    return static_cast<int>(slot);
  }
  throw std::runtime_error("too many temporary files at once");
}

// Forgets the temporary file of `slot`: it was renamed or removed.
void forget_temporary(int slot) {
  if (slot >= 0) temporaries[static_cast<std::size_t>(slot)].live.store(false);
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The descriptor that names like /dev/stdout and /proc/self/fd/1 stand for, or -1.
int descriptor_named(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.starts_with(prefix) && path.size() == prefix.size() + 1 &&
        (path.back() == '1' || path.back() == '2')) {
      return path.back() - '0';
    }
  }
  return -1;
}

// Follows the symbolic links from `path` to the file they end at (which may not exist yet), so
// that it, and not a link, is what gets replaced. Stops at a name that stands for a descriptor.
std::string end_of_links(std::string path, const std::string& option, const std::string& value) {
  for (int hops = 0;; ++hops) {
    struct stat status {};
    if (descriptor_named(path) >= 0 || ::lstat(path.c_str(), &status) != 0 ||
        !S_ISLNK(status.st_mode)) {
      return path;
    }
    if (hops == 40) throw failure(option + " " + value, ELOOP);
    std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) throw failure(option + " " + value, errno);
    target.resize(static_cast<std::size_t>(length));
    path = target.starts_with('/') ? target : folder_of(path) + "/" + target;
  }
}

file_identity identity_of(const struct stat& status) { return {status.st_dev, status.st_ino, {}}; }

}  // namespace

void set_program_name(const char* name) { program_name = name; }

void say(std::string_view line) {
  std::string text = program_name;
  text += ": ";
  (text += line) += '\n';
  try {
    write_all(STDERR_FILENO, text, "standard error");
  } catch (const std::runtime_error&) {
    // Nowhere left to say it; the exit status still tells.
  }
}

void write_all(int fd, std::string_view bytes, const std::string& name) {
  const int error = sift_runlog::write_all(fd, bytes);
  if (error != 0) throw failure("cannot write " + name, error);
}

void fd_writer::write(std::string_view bytes) {
  buffer_ += bytes;
  if (buffer_.size() >= 64 * 1024) {
    flush();
  } else if (prompt_) {
    flush_if_stale();
  }
}

void fd_writer::flush() {
  write_all(fd_, buffer_, name_);
  buffer_.clear();
  flushed_ = std::chrono::steady_clock::now();
}

void fd_writer::flush_if_stale() {
  if (!buffer_.empty() && std::chrono::steady_clock::now() - flushed_ >= std::chrono::seconds(1)) {
    flush();
  }
}

unsigned open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed_at_start |= 1u << fd;
    // The lowest free descriptor is this one, as the lower ones are open by now.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  return closed_at_start;
}

void handle_terminating_signals() {
  std::signal(SIGXFSZ, SIG_IGN);
  const sigset_t set = terminating_signals();
  for (int signal_number = 1; signal_number < static_cast<int>(previous_actions.size());
       ++signal_number) {
    if (sigismember(&set, signal_number) != 1) continue;
    struct sigaction& previous = previous_actions[static_cast<std::size_t>(signal_number)];
    if (::sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = on_terminating_signal;
    action.sa_flags = SA_NODEFER;
    sigfillset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

table_output::table_output(std::string option, const std::string& value)
    : option_(std::move(option)), name_(value) {
  const std::string target = value == "-" ? "/dev/stdout" : end_of_links(value, option_, value);
  const std::string where = option_ + " " + value;
  if (const int descriptor = descriptor_named(target); descriptor >= 0) {
    if ((closed_at_start & (1u << descriptor)) != 0) {
      throw std::runtime_error(std::string("standard ") + (descriptor == 1 ? "output" : "error") +
                               " is closed" + (value == "-" ? "" : " (" + where + ")"));
    }
    fd_ = descriptor;
    if (value == "-") name_ = "standard output";
  } else {
    struct stat status {};
    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) throw failure(where, errno);
    if (exists && S_ISDIR(status.st_mode)) throw std::runtime_error(where + ": is a folder");
    if (exists && !S_ISREG(status.st_mode)) {
      // A device, a FIFO or a socket is written through. A FIFO nobody reads would block the
      // open until someone does: that is refused at once instead.
      fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fd_ < 0 && errno == ENXIO) throw std::runtime_error(where + ": no one reads the FIFO");
      if (fd_ < 0) throw failure(where, errno);
      owned_fd_ = true;
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    } else {
      target_ = target;
    }
  }
  struct stat opened {};
  if (!target_.empty()) {
    const std::string folder = folder_of(target_);
    const std::string name = name_of(target_);
    struct stat folder_status {};
    if (::stat(folder.c_str(), &folder_status) != 0) throw failure(where, errno);
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest > 0 && name.size() > static_cast<std::size_t>(longest)) {
      throw failure(where, ENAMETOOLONG);
    }
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0) {
      // In a folder with the sticky bit only the file's or the folder's owner may replace it
      // (or root): known now, not after the whole campaign is graded.
      const uid_t me = ::geteuid();
      if ((folder_status.st_mode & S_ISVTX) != 0 && me != 0 && old.st_uid != me &&
          folder_status.st_uid != me) {
        throw std::runtime_error(where +
                                 ": a file of another user, in a folder where only its owner "
                                 "may replace it (the sticky bit)");
      }
      identity_ = identity_of(old);
    } else {
      identity_ = file_identity{folder_status.st_dev, folder_status.st_ino, name};
    }
    // A short name of its own, so that it fits wherever the target's name does.
    temporary_ = (folder == "." && target_.find('/') == std::string::npos ? "" : folder + "/") +
                 ".sift_runlog_table-XXXXXX";
    // Held back from the file's creation to its registration, so that no signal leaves it.
    const sigset_t signals = terminating_signals();
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &signals, &before);
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    const int error_number = errno;
    try {
      if (fd_ >= 0) slot_ = remember_temporary(temporary_);
    } catch (...) {
      ::unlink(temporary_.c_str());
      ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
      throw;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (fd_ < 0) {
      temporary_.clear();
      throw failure(where + ": cannot write in " + folder, error_number);
    }
    owned_fd_ = true;
    if (::fstat(fd_, &opened) == 0) temporary_identity_ = identity_of(opened);
    return;
  }
  if (::fstat(fd_, &opened) == 0) {
    stream_ = S_ISFIFO(opened.st_mode) || S_ISSOCK(opened.st_mode) || S_ISCHR(opened.st_mode);
    // A pipe or a terminal cannot be found by a search; a written-through file can.
    if (S_ISREG(opened.st_mode) || S_ISFIFO(opened.st_mode)) identity_ = identity_of(opened);
  }
}

table_output::~table_output() {
  if (!temporary_.empty() && !committed_) {
    forget_temporary(slot_);
    ::unlink(temporary_.c_str());
  }
  if (owned_fd_) ::close(fd_);
}

void table_output::prepare_commit() {
  if (written_through()) return;
  // The owner, group and mode of the file replaced; else those a new file gets.
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0) {
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
      // Only root may give a file away; keep at least the group where that is allowed.
      (void)!::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    }
    if (::fchmod(fd_, old.st_mode & 07777) != 0) throw failure("cannot write " + name_, errno);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0) throw failure("cannot write " + name_, errno);
  }
  if (::fsync(fd_) != 0) throw failure("cannot write " + name_, errno);
}

std::optional<file_identity> standard_output_identity() {
  struct stat status {};
  if (::fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return identity_of(status);
}

void commit_outputs(table_output* first, table_output* second) {
  if (first != nullptr && first->written_through()) first = nullptr;
  if (second != nullptr && second->written_through()) second = nullptr;
  if (first != nullptr) first->prepare_commit();
  if (second != nullptr) second->prepare_commit();
  // Held back for good: the run ends before the first rename or after the last.
  const sigset_t signals = terminating_signals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // The old failed list is kept under a name of its own until the table is in place, so that it
  // can be put back if the table cannot be.
  std::string kept;
  if (second != nullptr && first != nullptr) {
    struct stat old {};
    if (::stat(second->target_.c_str(), &old) == 0) {
      kept = second->temporary_ + ".old";
      if (::link(second->target_.c_str(), kept.c_str()) != 0) {
        throw failure("cannot keep the old " + second->name_ + " aside", errno);
      }
    }
  }
  const auto rename_over = [](table_output& output) {
    if (::rename(output.temporary_.c_str(), output.target_.c_str()) != 0) {
      throw failure("cannot rename " + output.temporary_ + " to " + output.target_, errno);
    }
    output.committed_ = true;
    forget_temporary(output.slot_);
  };
  try {
    if (second != nullptr) rename_over(*second);
  } catch (...) {
    if (!kept.empty()) ::unlink(kept.c_str());
    throw;
  }
  if (first != nullptr) {
    try {
      rename_over(*first);
    } catch (const std::runtime_error& e) {
      if (second != nullptr) {
        if (kept.empty()) {
          ::unlink(second->target_.c_str());
        } else {
          ::rename(kept.c_str(), second->target_.c_str());
        }
      }
      throw std::runtime_error(
          std::string(e.what()) +
          (second != nullptr ? "; " + second->name_ + " is left as it was" : ""));
    }
  }
  if (!kept.empty()) ::unlink(kept.c_str());
}

}  // namespace sift_runlog::table
