// time_command: runs a program several times, one run after the other, and prints two numbers:
// the mean wall time of one run in nanoseconds and the largest peak resident memory of a run in
// KiB.
//
//   time_command [-n RUNS] [-o FILE] -- PROGRAM [ARGUMENT...]
//
// The program's standard output goes to FILE (default /dev/null), its standard input comes from
// /dev/null. A run that does not exit with status 0 makes time_command fail (status 1).
//
// The clock is read once before the first run and once after the last, so a sample of many
// short runs is not dominated by the cost of reading it. Runs are started with fork, not vfork
// or posix_spawn: the peak memory the kernel reports for a child that shared our address space
// would include ours.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

int fail(const char* message) {
  std::fprintf(stderr, "time_command: %s\n", message);
  std::fprintf(stderr, "usage: time_command [-n RUNS] [-o FILE] -- PROGRAM [ARGUMENT...]\n");
  return 2;
}

std::int64_t now_ns() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 1;
  const char* output = "/dev/null";
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return fail("missing value");
    const std::string_view value = argv[++i];
    if (option == "-n") {
      const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), runs);
      if (error != std::errc() || rest != value.data() + value.size() || runs < 1) {
        return fail("-n wants a positive count");
      }
    } else if (option == "-o") {
      output = argv[i];
    } else {
      return fail("unknown option");
    }
  }
  if (i >= argc) return fail("no program to run");
  char** const command = argv + i;

  const int out = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || in < 0) return fail("cannot open the output file or /dev/null");

  long max_rss_kib = 0;
  const std::int64_t start = now_ns();
  for (long run = 0; run < runs; ++run) {
    const pid_t child = ::fork();
    if (child < 0) return fail("cannot fork");
    if (child == 0) {
      if (::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(126);
      ::execvp(command[0], command);
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
      if (errno != EINTR) return fail("cannot wait for the program");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "time_command: %s did not exit with status 0 (wait status %d)\n",
                   command[0], status);
      return 1;
    }
    if (usage.ru_maxrss > max_rss_kib) max_rss_kib = usage.ru_maxrss;
  }
  const std::int64_t elapsed = now_ns() - start;
  std::printf("%lld %ld\n", static_cast<long long>(elapsed / runs), max_rss_kib);
  return 0;
}
