// sift_runlog: grades the log of one benchmark run and prints one result line.
#include <unistd.h>

#include <cerrno>
#include <sift_campaign/descriptors.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "sift_runlog/grade.hpp"

namespace {

void write_report(const std::string& report) {
  // Nowhere left to say it when this fails; the exit status still tells.
  (void)sift_runlog::write_all(STDERR_FILENO, report + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard descriptor would be taken by the log when it is opened.
  sift_runlog::campaign::hold_closed_standard_descriptors();
  std::vector<std::string_view> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  sift_runlog::grade_outcome outcome =
      sift_runlog::run_command(sift_runlog::parse_command_line(arguments), STDOUT_FILENO);
  // A failed close can be the first sign that written output was lost.
  if (::close(STDOUT_FILENO) != 0 && errno != EINTR && outcome.exit_status == 0) {
    outcome = sift_runlog::output_lost("cannot close standard output", errno);
  }
  if (outcome.exit_status != 0) write_report(outcome.report);
  return outcome.exit_status;
}
