// grade_one LOG: a benchmark harness in miniature. It grades one log through the installed
// library, prints exactly what `sift_runlog LOG` prints and ends with its exit status, and tells
// the verdict, the answers and, for a failure, the log's line and the reason, taken from the
// result line as a value, on standard error.
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
  const sift_runlog::result_line& line = graded.line;
  std::cerr << "verdict: " << sift_runlog::verdict_word(line.verdict) << " on "
            << line.cores.value_or("an unknown number of") << " cores\n";
  for (const sift_runlog::answer& a : line.answers) std::cerr << a.key << " = " << a.value << '\n';
  // Why a grade failed: the log's line (0: none, e.g. the file name is at fault) and the rule.
  if (line.failure.line != 0) std::cerr << "line " << line.failure.line << ": ";
  if (!line.failure.reason.empty()) std::cerr << line.failure.reason << '\n';
  return graded.exit_status;
}
