#include "program_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace sift_runlog::testing_support {

namespace fs = std::filesystem;

scratch_directory::scratch_directory() {
  std::string pattern = (fs::temp_directory_path() / "sift_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
  fs::permissions(path,
                  fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                      fs::perms::others_exec,
                  fs::perm_options::add);
}

// Gives the owner every right on the folder `path` and the folders below it.
static void unlock(const fs::path& path) {
  std::error_code ignored;
  if (!fs::is_directory(fs::symlink_status(path, ignored))) return;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (const auto& entry : fs::directory_iterator(path, ignored)) unlock(entry.path());
}

scratch_directory::~scratch_directory() {
  unlock(path);
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

static std::string read_back(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& directory, const run_options& options) {
  const stdout_target target = options.target;
  const auto deadline = std::chrono::steady_clock::now() + options.time_limit;
  const bool to_pipe = target >= stdout_target::broken_pipe;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int pipe_ends[2] = {-1, -1};
  if (out == nullptr || err == nullptr || (to_pipe && ::pipe(pipe_ends) != 0)) {
    throw std::runtime_error("cannot make the program's output files");
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {  // only async-signal-safe calls from here to exec
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    if (target == stdout_target::captured) ::dup2(::fileno(out), 1);
    if (target == stdout_target::dev_full) ::dup2(::open("/dev/full", O_WRONLY), 1);
    if (target == stdout_target::closed) ::close(1);
    if (to_pipe) {
      ::dup2(pipe_ends[1], 1);
      ::close(pipe_ends[0]);
    }
    ::dup2(::fileno(err), 2);
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    const rlimit limit{options.file_size_limit, options.file_size_limit};
    if (options.file_size_limit != 0) ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGPIPE, target == stdout_target::broken_pipe_ignored ? SIG_IGN : SIG_DFL);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (child < 0) throw std::runtime_error("fork failed");
  program_result result;
  if (to_pipe) {  // the reader waits for the first byte, takes it and leaves
    ::close(pipe_ends[1]);
    pollfd ready{pipe_ends[0], POLLIN, 0};
    char byte = 0;
    if (::poll(&ready, 1, static_cast<int>(options.time_limit.count()) * 1000) > 0 &&
        ::read(pipe_ends[0], &byte, 1) == 1) {
      result.output.assign(1, byte);
    }
    ::close(pipe_ends[0]);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, WNOHANG, &usage) != child) {
    if (!result.timed_out && std::chrono::steady_clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      result.timed_out = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_rss_kib = usage.ru_maxrss;
  const std::string captured = read_back(out);
  if (!to_pipe) result.output = captured;
  result.report = read_back(err);
  return result;
}

}  // namespace sift_runlog::testing_support
