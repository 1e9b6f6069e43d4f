#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/temporary_files.hpp>

namespace sift_runlog::campaign {

namespace {

// The temporary files not yet renamed, for the signal handler to remove. Each place holds a
// path in static storage, never freed nor reused (a run makes at most a few), and is taken by
// an atomic flag.
struct temporary_place {
  std::atomic<bool> taken{false};  // reserved by a temporary_file
  std::atomic<bool> live{false};   // the path names a file to remove
  char path[PATH_MAX]{};
};
std::array<temporary_place, 8> temporaries;

// The action each handled signal had before, which the handler restores before it raises the
// signal again: the default action, or a sanitizer's handler of a fault.
std::array<struct sigaction, 65> previous_actions{};

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

// "NAME: stopped by SIGNAL[; no PRODUCT written]\n" into `text`, without allocating.
std::size_t stop_message(char (&text)[128], int signal_number, bool removed) {
  std::size_t length = 0;
  const auto append = [&](const char* part) {
    for (; *part != '\0' && length < sizeof text - 1; ++part) text[length++] = *part;
  };
  append(program_name());
  append(": stopped by ");
  if (const char* name = signal_name(signal_number)) {
    append(name);
  } else {
    append("signal ");
    char digits[4] = {static_cast<char>('0' + signal_number / 10 % 10),
                      static_cast<char>('0' + signal_number % 10), '\0', '\0'};
    append(signal_number >= 10 ? digits : digits + 1);
  }
  if (removed) {
    append("; no ");
    append(program_product());
    append(" written");
  }
  append("\n");
  return length;
}

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
  if (signal_number != SIGPIPE) {
    char text[128];
    (void)!::write(STDERR_FILENO, text, stop_message(text, signal_number, removed));
  }
  ::sigaction(signal_number, &previous_actions[static_cast<std::size_t>(signal_number)], nullptr);
  errno = saved_errno;
  // Every signal is held while the handler runs (its mask): the signal raised again waits until
  // the handler returns, then takes its former action.
  ::raise(signal_number);
}

// Keeps a copy of `path` where the handler finds it; returns its place.
int remember_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) throw system_failure(path, ENAMETOOLONG);
  for (std::size_t slot = 0; slot < temporaries.size(); ++slot) {
    temporary_place& place = temporaries[slot];
    if (place.taken.exchange(true)) continue;
    std::memcpy(place.path, path.c_str(), path.size() + 1);
    place.live.store(true);
    return static_cast<int>(slot);
  }
  throw failure("too many temporary files at once");
}

}  // namespace

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

signals_held::signals_held(held_signals which) {
  sigset_t signals = terminating_signals();
  if (which == held_signals::sent_from_outside) {
    for (const int fault : {SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGPIPE, SIGSYS}) {
      sigdelset(&signals, fault);
    }
  }
  ::pthread_sigmask(SIG_BLOCK, &signals, &before_);
}

signals_held::~signals_held() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

void hold_terminating_signals_for_good() {
  const sigset_t signals = terminating_signals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

temporary_file::temporary_file(const std::string& folder, const std::string& what)
    : path_((folder.empty() ? "" : folder + "/") + "." + program_name() + "-XXXXXX") {
  // Held back from the file's creation to its registration, so that no signal leaves it.
  const signals_held held;
  fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  if (fd_ < 0)
    throw system_failure(what + ": cannot write in " + (folder.empty() ? "." : folder), errno);
  try {
    slot_ = remember_temporary(path_);
  } catch (...) {
    ::unlink(path_.c_str());
    ::close(fd_);
    throw;
  }
}

temporary_file::~temporary_file() {
  if (!renamed_) {
    temporaries[static_cast<std::size_t>(slot_)].live.store(false);
    ::unlink(path_.c_str());
  }
  ::close(fd_);
}

void temporary_file::rename_over(const std::string& target) {
  if (::rename(path_.c_str(), target.c_str()) != 0) {
    throw system_failure("cannot rename " + path_ + " to " + target, errno);
  }
  renamed_ = true;
  temporaries[static_cast<std::size_t>(slot_)].live.store(false);
}

}  // namespace sift_runlog::campaign
