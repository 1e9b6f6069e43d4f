// Temporary files that no way out of the process leaves behind: removed when their owner goes,
// and by the handler of every terminating signal, which says so and then ends the process by
// that same signal. The handler finds them in a registry of static storage that it may read at
// any instant, on any thread.
//
// Errors follow failure.hpp: a file that cannot be made or renamed throws `failure`.
#pragma once

#include <csignal>
#include <sift_campaign/failure.hpp>
#include <string>

namespace sift_runlog::campaign {

// Installs the handler of every terminating signal the process may catch (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGUSR1, SIGALRM, ..., and the faults): it removes the
// temporary files not yet renamed, says "stopped by SIGNAL" ("; no PRODUCT written" when it
// removed one; nothing for SIGPIPE, as other programs in a pipe do) and ends the process by the
// signal. A signal ignored when the program starts stays ignored (a job started in the
// background of a script ignores SIGINT and SIGQUIT). SIGXFSZ is ignored: a file that cannot
// grow is a write error like any other. Call before any thread starts.
void handle_terminating_signals();

// Which signals a `signals_held` holds back: every terminating one, or only those sent from
// outside (by kill, a terminal, a scheduler) and not the faults nor SIGPIPE, which a thread
// brings upon itself and must take at once.
enum class held_signals { terminating, sent_from_outside };

// Signals held back on this thread for the object's life. A thread started meanwhile keeps them
// held for good: holding the signals sent from outside while starting helper threads leaves
// them all to this thread, which stays alive to the end.
class signals_held {
 public:
  explicit signals_held(held_signals which = held_signals::terminating);
  ~signals_held();
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t before_;
};

// The terminating signals held back from now to the end of the process: the run has succeeded,
// and ends with its own exit status.
void hold_terminating_signals_for_good();

// A new empty file, open for writing, named after the program (".sift_runlog_table-XXXXXX") in
// a folder, removed with its owner unless it was renamed.
class temporary_file {
 public:
  // Makes it in `folder` ("" for the current folder). Throws "WHAT: cannot write in FOLDER:
  // REASON".
  temporary_file(const std::string& folder, const std::string& what);
  ~temporary_file();
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  // Renames it over `target`; from then on it is no longer removed. Throws "cannot rename PATH
  // to TARGET: REASON".
  void rename_over(const std::string& target);

 private:
  std::string path_;
  int fd_ = -1;
  int slot_ = -1;  // its place in the registry
  bool renamed_ = false;
};

}  // namespace sift_runlog::campaign
