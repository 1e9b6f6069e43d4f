#include "output_file.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace sift_runlog::table {

namespace {

// The temporary files not yet committed, for the signal thread to remove. Whoever holds the
// lock may create, rename or remove them; the signal thread holds it to the end of the process.
struct temporaries {
  std::mutex lock;
  std::vector<std::string> paths;
  bool any_committed = false;
};

temporaries& pending() {
  static temporaries files;
  return files;
}

std::runtime_error failure(const std::string& what, int error_number) {
  return std::runtime_error(what + ": " + std::strerror(error_number));
}

void write_all(int fd, std::string_view bytes, const std::string& name) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw failure("cannot write " + name, errno);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string_view signal_name(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

[[noreturn]] void wait_for_interruption(sigset_t signals) {
  int signal_number = 0;
  while (::sigwait(&signals, &signal_number) != 0) {
  }
  temporaries& files = pending();
  files.lock.lock();  // never unlocked: no table is committed after this
  for (const std::string& path : files.paths) ::unlink(path.c_str());
  std::string message = "interrupted by ";
  message += signal_name(signal_number);
  if (!files.any_committed) message += "; no table written";
  say(message);
  // Ends by the signal itself, so that a calling shell or scheduler sees it.
  std::signal(signal_number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);
}

}  // namespace

namespace {
std::string_view program_name = "sift_runlog_table";
}  // namespace

void set_program_name(std::string_view name) { program_name = name; }

void say(std::string_view line) {
  std::string text(program_name);
  text += ": ";
  (text += line) += '\n';
  try {
    write_all(STDERR_FILENO, text, "standard error");
  } catch (const std::runtime_error&) {
    // Nowhere left to say it; the exit status still tells.
  }
}

void fd_writer::write(std::string_view bytes) {
  buffer_ += bytes;
  if (buffer_.size() >= 64 * 1024) flush();
}

void fd_writer::flush() {
  write_all(fd_, buffer_, name_);
  buffer_.clear();
}

replacement_file::replacement_file(std::string target) : target_(std::move(target)) {
  struct stat status {};
  if (::stat(target_.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw std::runtime_error(target_ + " is a folder");
  }
  const std::size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  temporary_ = (slash == std::string::npos ? "" : folder) + "." + name + ".XXXXXX";
  std::lock_guard<std::mutex> hold(pending().lock);
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) throw failure("cannot write a table in " + folder, errno);
  pending().paths.push_back(temporary_);
}

replacement_file::~replacement_file() {
  std::lock_guard<std::mutex> hold(pending().lock);
  if (!committed_) {
    ::unlink(temporary_.c_str());
    std::erase(pending().paths, temporary_);
  }
  if (fd_ >= 0) ::close(fd_);
}

void replacement_file::commit() {
  // The mode of the file replaced, else that of a new file (mkostemp gives 0600).
  struct stat status {};
  mode_t mode = 0;
  if (::stat(target_.c_str(), &status) == 0) {
    mode = status.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd_, mode) != 0) throw failure("cannot set the mode of " + temporary_, errno);
  if (::fsync(fd_) != 0) throw failure("cannot write " + target_, errno);
  std::lock_guard<std::mutex> hold(pending().lock);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw failure("cannot rename " + temporary_ + " to " + target_, errno);
  }
  committed_ = true;
  pending().any_committed = true;
  std::erase(pending().paths, temporary_);
}

void watch_interruptions() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start stays ignored, as for a job started in the background.
    struct sigaction action {};
    if (::sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal_number);
  }
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(wait_for_interruption, signals).detach();
}

}  // namespace sift_runlog::table
