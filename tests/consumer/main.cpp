// grade_one LOG: grades one log through the installed library, prints exactly what sift_runlog
// would print and ends with its exit status; the verdict and the number of answers go to
// standard error.
#include <iostream>
#include <sift_runlog/grade.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: grade_one LOG\n";
    return 2;
  }
  const sift_runlog::grade_result graded = sift_runlog::grade_file(argv[1]);
  std::cout << graded.output << std::flush;
  if (graded.exit_status != 0) std::cerr << graded.report << '\n';
  std::cerr << "verdict: " << sift_runlog::verdict_name(graded.state.verdict) << ", "
            << graded.state.answers.size() << " answers\n";
  return graded.exit_status;
}
