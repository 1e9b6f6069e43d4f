// sift_runlog/grade.hpp: grade the log of one benchmark run from a C++ program.
//
// This is the call the sift_runlog program itself makes for a log, so a harness that links the
// library gets what the program would give, byte for byte: the text it would print on standard
// output, the exit status it would end with and the report it would write on standard error.
// For programs that want fields rather than text, the analysis state that produced the line
// comes with it as a plain struct.
//
//   #include <sift_runlog/grade.hpp>
//
//   const sift_runlog::grade_result graded = sift_runlog::grade_file("logs/run7.log");
//   std::cout << graded.output;  // e.g. "4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:10,PARALLEL \n"
//   if (graded.exit_status != 0) std::cerr << graded.report << '\n';
//   if (graded.state.verdict == sift_runlog::verdict_kind::state_space) { ... }
//
// Every call is independent: nothing is shared between calls, so calls may run at the same time
// on different threads. The header needs only the standard library; link the target
// sift_runlog::sift_analysis (find_package(sift_runlog)).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog {

// The program's options -long and -debug.
struct grade_options {
  // Four fields from the log file's name in front of the line.
  bool long_mode = false;
  // "lu <line>" for every line read, and "printing line" before the result line.
  bool debug_mode = false;
};

// What the result line says, or how the grade ended without one. The three failure kinds are
// told apart by how the output ends, against the line the final state gives; only a file name
// made to look like a result line could blur them. Output, status and report are always exact.
enum class verdict_kind {
  do_not_compete,          // "DNC,-": the tool declared DO_NOT_COMPETE
  formula_answers,         // the formula answers, e.g. "3 BOOL:TRUE BOOL:FALSE BOOL:?"
  cannot_compute,          // "CC,-": the tool declared that it cannot compute
  state_space,             // the state space, e.g. "4 NUM:1024 NUM:5000 NUM:1 NUM:10"
  stopped_without_answer,  // "CC,-": the run started and stopped without an answer
  did_not_finish,          // "DNF,-": the run started and never stopped
  bad_run,                 // "BAD_RUN?,-": the run never started
  data_error,              // the line ends in "ERROR,-": something in the log cannot be graded
  problem_with_file,       // the line ends in "Problem with file <file>,-": a word or part lacked
  failed,                  // exit status 1: a PROBLEM line, an unreadable log, or output lost
};

// The library's version, "MAJOR.MINOR.PATCH", e.g. "1.0.0": the version of the project it was
// built from, which is also the version of the sift_runlog and sift_runlog_table programs.
[[nodiscard]] std::string_view version() noexcept;

// The enumerator's name, e.g. "did_not_finish".
[[nodiscard]] std::string_view verdict_name(verdict_kind verdict) noexcept;

// One stored answer: a state-space figure (key "STATES", "TRANSITIONS", ...) or a formula's
// answer (key: the formula's name). `value` is the text the result line shows for the key; an
// empty value or "?" means the tool gave no usable value (the line shows "?").
struct answer {
  std::string key;
  std::string value;
};

// The analysis state as the grade left it: at the end of the log, or where a failure stopped it.
struct final_state {
  verdict_kind verdict = verdict_kind::bad_run;
  std::optional<std::string> cores;       // the word of "# Number of cores : N"; none: "NO_CORE"
  std::optional<std::string> tool_name;   // the word of "# Executing tool NAME"
  bool start_found = false;               // RH_START
  bool stop_found = false;                // RH_STOP
  bool time_confinement_reached = false;  // RH_TIME_CONFINEMENT_REACHED: time flag "DNF"
  bool memory_overflow = false;           // memory ran out: memory flag "MOVF"
  bool cannot_compute = false;
  bool do_not_compete = false;
  bool state_space_found = false;
  bool formula_found = false;
  bool bool_vector_found = false;
  bool num_vector_found = false;
  std::vector<answer> answers;             // in the order they were stored
  std::vector<std::string> formula_names;  // distinct names, in the order of declaration
  std::int32_t formula_name_count = 0;     // FORMULA_NAME lines read, repeats included
  std::vector<std::string> techniques;     // distinct, in the order of first declaration
};

// How a grade ends.
struct grade_outcome {
  int exit_status = 0;  // 0, or 1 when the program would end with status 1
  std::string report;   // the program's standard error line, without its line end; "" at 0
  final_state state;
};

// The same with the program's standard output.
struct grade_result : grade_outcome {
  std::string output;
};

// Receives the output in order, in blocks, as the grade writes it. It may throw to stop the
// grade; the grade then ends with exit status 1 and a report that gives the exception's what().
using output_function = std::function<void(std::string_view bytes)>;

// Grades the log file at `path`; `path` plays the part of the program's file argument (the
// long mode cuts its last "/" part into fields, and failure lines and reports name it).
// Every failure of the grade, memory running out included, ends in the outcome as it ends the
// program; the calls throw only std::bad_alloc, when memory runs out before the grade starts or
// while its output is handed over.
[[nodiscard]] grade_result grade_file(const std::string& path, const grade_options& options = {});
[[nodiscard]] grade_outcome grade_file(const std::string& path, const grade_options& options,
                                       const output_function& write);

// Grades the log open on descriptor `fd` (read from its current offset to its end, and not
// closed here), as if it were the file named `path`: for a caller that opened the file itself,
// to check what it is before a byte is read, and grades it without opening it a second time.
[[nodiscard]] grade_result grade_descriptor(int fd, const std::string& path,
                                            const grade_options& options = {});

// Grades a log held in memory, as if it were the file named `file_name`.
[[nodiscard]] grade_result grade_buffer(std::string_view log, std::string_view file_name,
                                        const grade_options& options = {});
[[nodiscard]] grade_outcome grade_buffer(std::string_view log, std::string_view file_name,
                                         const grade_options& options,
                                         const output_function& write);

}  // namespace sift_runlog
