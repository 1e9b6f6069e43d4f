#include "program_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace sift_runlog::testing_support {

scratch_directory::scratch_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sift_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

scratch_directory::~scratch_directory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void scratch_directory::write_file(std::string_view name, std::string_view bytes) const {
  const std::filesystem::path file = path_ / std::filesystem::path(std::string(name));
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

namespace {

std::string read_whole_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads up to `count` bytes from `fd` (less at its end or when the deadline passes), then
// closes it: the reader of `program | head -c count`.
std::string read_then_close(int fd, std::size_t count,
                            std::chrono::steady_clock::time_point deadline) {
  std::string taken;
  while (taken.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, count - taken.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    taken.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return taken;
}

// Waits for `child`, killing it once the deadline has passed.
void wait_for(pid_t child, std::chrono::steady_clock::time_point deadline, program_result& result) {
  int status = 0;
  rusage usage{};
  auto pause = std::chrono::microseconds(100);
  for (;;) {
    const pid_t done = ::wait4(child, &status, WNOHANG, &usage);
    if (done == child) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    if (!result.timed_out && std::chrono::steady_clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      result.timed_out = true;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_rss_kib = usage.ru_maxrss;
}

// Linux charges a process, in ru_maxrss, with the pages it had before exec. A child forked
// from this test process would carry this process's size into its figure, so the program is
// started from a small shell instead. The shell starts a background subshell, says its process
// id on descriptor 3 and ends; the subshell, orphaned, becomes this process's child (this
// process is a subreaper). It waits for a line on descriptor 4, sent once the shell is reaped
// (so that the shell can never reap the program), and then becomes the program. Its ru_maxrss
// is then the program's own, or the small subshell's.
constexpr const char* launch_script = "{ read go <&4; exec \"$@\" 4<&-; } 3>&- & echo $! >&3";

// A pipe whose ends are closed with the object, unless released first.
struct pipe_ends {
  int read = -1;
  int write = -1;
  pipe_ends() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    read = fds[0];
    write = fds[1];
  }
  ~pipe_ends() {
    close_read();
    close_write();
  }
  pipe_ends(const pipe_ends&) = delete;
  pipe_ends& operator=(const pipe_ends&) = delete;
  void close_read() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void close_write() {
    if (write >= 0) ::close(write);
    write = -1;
  }
};

// In the child before exec: makes `fd` the descriptor `target`, open across exec. `fd` was
// first copied above every target, so that no target overwrites a descriptor still needed.
void place(int fd, int target) { ::dup2(::fcntl(fd, F_DUPFD_CLOEXEC, 10), target); }

}  // namespace

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& directory, const run_settings& settings) {
  // The captured streams go to files beside the directory, so that they never show up in it.
  const std::filesystem::path out_path = directory.string() + ".stdout";
  const std::filesystem::path err_path = directory.string() + ".stderr";
  std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                             const_cast<char*>(launch_script), const_cast<char*>("sh"),
                             const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) throw std::runtime_error("prctl failed");
  const stdout_target target = settings.target;
  pipe_ends process_id;
  pipe_ends go;
  pipe_ends output;  // used with stdout_target::pipe_closed only

  const pid_t launcher = ::fork();
  if (launcher < 0) throw std::runtime_error("fork failed");
  if (launcher == 0) {
    // Only async-signal-safe calls from here to exec: the test may run other threads.
    struct sigaction action {};
    action.sa_handler = settings.ignore_sigpipe ? SIG_IGN : SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
    sigset_t unblocked;
    ::sigemptyset(&unblocked);
    ::sigaddset(&unblocked, SIGPIPE);
    ::sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);

    // Every other descriptor made here is close-on-exec.
    place(process_id.write, 3);
    place(go.read, 4);
    place(::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), STDERR_FILENO);
    switch (target) {
      case stdout_target::closed:
        ::close(STDOUT_FILENO);
        break;
      case stdout_target::pipe_closed:
        place(output.write, STDOUT_FILENO);
        break;
      case stdout_target::dev_full:
        place(::open("/dev/full", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
        break;
      case stdout_target::captured:
        place(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
              STDOUT_FILENO);
        break;
    }
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execv("/bin/sh", argv.data());
    ::_exit(127);
  }

  process_id.close_write();
  go.close_read();
  output.close_write();
  std::string pid_text;
  for (char c; ::read(process_id.read, &c, 1) == 1;) pid_text += c;
  int launcher_status = 0;
  while (::waitpid(launcher, &launcher_status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(launcher_status) || WEXITSTATUS(launcher_status) != 0 || pid_text.empty()) {
    throw std::runtime_error("the launcher shell failed");
  }
  const auto child = static_cast<pid_t>(std::stol(pid_text));
  // The shell is gone, so the program is this process's child: let it start.
  if (::write(go.write, "\n", 1) != 1) throw std::runtime_error("cannot start the program");
  go.close_write();

  const auto deadline = std::chrono::steady_clock::now() + settings.time_limit;
  program_result result;
  if (target == stdout_target::pipe_closed) {
    result.output = read_then_close(output.read, settings.pipe_bytes, deadline);
    output.read = -1;
  }
  wait_for(child, deadline, result);
  if (target == stdout_target::captured) result.output = read_whole_file(out_path);
  result.report = read_whole_file(err_path);
  std::error_code ignored;
  std::filesystem::remove(out_path, ignored);
  std::filesystem::remove(err_path, ignored);
  return result;
}

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& directory, stdout_target target) {
  run_settings settings;
  settings.target = target;
  return run_program(program, arguments, directory, settings);
}

const std::string& sift_runlog_program() {
  static const std::string path = SIFT_RUNLOG_PROGRAM;
  return path;
}

std::vector<std::string> split_arguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::istringstream words{std::string(text)};
  for (std::string word; words >> word;) arguments.push_back(word);
  return arguments;
}

}  // namespace sift_runlog::testing_support
