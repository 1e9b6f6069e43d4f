// sift_runlog: grades the log of one benchmark run and prints one result line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "failures.hpp"
#include "output_sink.hpp"

namespace {

// A closed standard descriptor would be taken by the log when it is opened. Hold the slot with
// /dev/null opened read-only instead, so that writing there still fails and is reported.
void hold_closed_standard_descriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) == -1) (void)::open("/dev/null", O_RDONLY);
  }
}

void write_report(const std::string& report) {
  // Nowhere left to say it when this fails; the exit status still tells.
  (void)sift_runlog::write_all(STDERR_FILENO, report + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  hold_closed_standard_descriptors();
  std::vector<std::string_view> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  sift_runlog::fd_output_sink out(STDOUT_FILENO);
  sift_runlog::grade_outcome outcome =
      sift_runlog::run_command(sift_runlog::parse_command_line(arguments), out);
  // A failed close can be the first sign that written output was lost.
  if (::close(STDOUT_FILENO) != 0 && errno != EINTR && outcome.exit_status == 0) {
    outcome.exit_status = 1;
    outcome.report = sift_runlog::failure_report(
        std::make_exception_ptr(sift_runlog::output_error("cannot close standard output", errno)));
  }
  if (outcome.exit_status != 0) write_report(outcome.report);
  return outcome.exit_status;
}
