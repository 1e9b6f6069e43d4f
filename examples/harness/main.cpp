// grade_one LOG: a benchmark harness in miniature. It grades one log through the installed
// library, prints exactly what `sift_runlog LOG` prints and ends with its exit status, and tells
// the verdict and the answers, taken from the analysis as fields, on standard error.
#include <iostream>
#include <sift_runlog/grade.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: grade_one LOG\n";
    return 2;
  }
  sift_runlog::grade_options options;  // options.long_mode = true: as `sift_runlog -long LOG`
  const sift_runlog::grade_result graded = sift_runlog::grade_file(argv[1], options);
  std::cout << graded.output << std::flush;
  // A PROBLEM line, an unreadable log, ...: the program's report on standard error.
  if (graded.exit_status != 0) std::cerr << graded.report << '\n';
  const sift_runlog::final_state& state = graded.state;
  std::cerr << "verdict: " << sift_runlog::verdict_name(state.verdict) << " on "
            << state.cores.value_or("an unknown number of") << " cores\n";
  for (const sift_runlog::answer& a : state.answers) std::cerr << a.key << " = " << a.value << '\n';
  return graded.exit_status;
}
