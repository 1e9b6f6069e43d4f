// sift_runlog/grade.hpp: grade the log of one benchmark run from a C++ program.
//
// This is the call the sift_runlog program itself makes for a log, so a harness that links the
// library gets what the program would give: the result line as a value, field by field, and,
// written from that value, the text the program prints, its exit status and its report.
//
//   #include <sift_runlog/grade.hpp>
//
//   const sift_runlog::grade_result graded = sift_runlog::grade_file("logs/run7.log");
//   std::cout << graded.output;  // e.g. "4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:10,PARALLEL \n"
//   const sift_runlog::result_line& line = graded.line;
//   if (line.verdict == sift_runlog::verdict_kind::state_space) {
//     for (const sift_runlog::answer& a : line.answers) std::cout << a.key << '=' << a.value;
//   }
//   if (line.failure.line != 0) std::cerr << "line " << line.failure.line << ": "
//                                         << line.failure.reason << '\n';
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
  // The outcome's final state, field by field. A caller that reads only the line and the output
  // (a campaign of thousands of logs) leaves it out and spares its copies: the state then holds
  // the verdict alone.
  bool keep_final_state = true;
};

// The header of the table that result lines form ("-header"), line feed included.
inline constexpr std::string_view header_line =
    "#time flag,memory flag,formatted result,techniques\n";

// What the result line says, or how the grade ended without a whole one.
enum class verdict_kind {
  do_not_compete,          // "DNC,-": the tool declared DO_NOT_COMPETE
  formula_answers,         // the formula answers, e.g. "3 BOOL:TRUE BOOL:FALSE BOOL:?"
  cannot_compute,          // "CC,-": the tool declared that it cannot compute
  state_space,             // the state space, e.g. "4 NUM:1024 NUM:5000 NUM:1 NUM:10"
  stopped_without_answer,  // "CC,-": the run started and stopped without an answer
  did_not_finish,          // "DNF,-": the run started and never stopped
  bad_run,                 // "BAD_RUN?,-": the run never started
  data_error,              // the fields reached, then "ERROR,-": something cannot be graded
  problem_with_file,       // the fields reached, then "Problem with file <file>,-": a part lacked
  failed,                  // exit status 1: a PROBLEM line, an unreadable log, or output lost
};

// The library's version, "MAJOR.MINOR.PATCH", e.g. "1.0.0": the version of the project it was
// built from, which is also the version of the sift_runlog and sift_runlog_table programs.
[[nodiscard]] std::string_view version() noexcept;

// The enumerator's name, e.g. "did_not_finish".
[[nodiscard]] std::string_view verdict_name(verdict_kind verdict) noexcept;

// The verdict in one word, as tables show it: the text the result line gives for it where it
// has one ("DNC", "CC", "DNF", "BAD_RUN?", "ERROR"), "answers" for formula answers and a state
// space, "problem_with_file" and "failed".
[[nodiscard]] std::string_view verdict_word(verdict_kind verdict) noexcept;

// The fields that the long mode takes from a file name: the first four "_" parts of its last "/"
// part, a run of "_" making one cut ("logs/a__b_c_d_e.log" gives "a", "b", "c", "d"); fewer
// when the name has fewer parts.
[[nodiscard]] std::vector<std::string> file_name_fields(std::string_view file_name);

// One answer: a state-space figure (key "STATES", "TRANSITIONS", ...) or a formula's answer
// (key: the formula's name), with its value.
struct answer {
  std::string key;
  std::string value;
};

// What ended a grade with exit status 1 (verdict `failed`), as the program's report names it:
// a PROBLEM line, a log that cannot be opened or read, output that cannot be written, memory
// run out, or a fault of the program itself. `none` for every other verdict.
enum class failure_cause {
  none,
  analysis_problem,  // SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR
  input_error,       // SIFT_RUNLOG.INPUT_ERROR
  output_error,      // SIFT_RUNLOG.OUTPUT_ERROR
  memory_exhausted,  // SIFT_RUNLOG.MEMORY_EXHAUSTED
  internal_error,    // any other failure
};

// Where and why a grade failed. `line` is the log's line at fault, counted from 1 (the pieces
// of a long line share its number); 0 when no line of the log is (the file name, the end of the
// log, a log that cannot be read). `reason` names the rule, e.g. "a 17th answer" or "word 3
// missing from a STATE_SPACE line". `problem_line` is the PROBLEM line the program printed,
// without its line end, if any. `cause` tells a failed grade's kind without reading its text.
struct grade_failure {
  std::uint64_t line = 0;
  std::string reason;
  std::string problem_line;
  failure_cause cause = failure_cause::none;
};

// The program's result line as a value: what it shows, field by field, and how far it got.
// The program's output is written from it; a field the line did not reach is absent.
//
// A whole line (verdict other than the last three) has every field: the name fields in the long
// mode, cores, time_flag and memory_flag, then the verdict's text or, for formula answers and a
// state space, "<count> " and each answer "BOOL:<value>" or "NUM:<value>" followed by " " (the
// last by ","), then the techniques each followed by " " (none: "-"). A data error or a missing
// part ends the line where it stopped: in the scan, before any field; in the long mode's name,
// after the parts there are (fewer than four); in a state space without "STATES" and without a
// tool line, after the memory flag. A failed grade has no line, only its PROBLEM line if any.
struct result_line {
  verdict_kind verdict = verdict_kind::bad_run;
  std::string file;                        // the file argument, as "Problem with file" names it
  std::vector<std::string> name_fields;    // long mode: tool, model, examination, run
  std::optional<std::string> cores;        // as shown: the cores line's word, or "NO_CORE"
  std::optional<std::string> time_flag;    // "OK", or "DNF" after RH_TIME_CONFINEMENT_REACHED
  std::optional<std::string> memory_flag;  // "OK", or "MOVF" when memory ran out
  bool boolean_answers = false;            // "BOOL:" rather than "NUM:"
  std::vector<answer> answers;             // as shown, in line order; "?" for no value
  std::vector<std::string> techniques;     // as shown, in line order
  grade_failure failure;                   // for data_error, problem_with_file and failed

  // The formatted result as the line shows it, without the comma after it: "<count>" then
  // " BOOL:<value>" or " NUM:<value>" per answer (formula answers and a state space only).
  [[nodiscard]] std::string formatted_answers() const;
  // The bytes the program writes for this line after its debug traces, line feed included.
  [[nodiscard]] std::string text(bool debug_mode = false) const;
};

// The analysis state as the grade left it: at the end of the log, or where a failure stopped it.
struct final_state {
  verdict_kind verdict = verdict_kind::bad_run;  // the same as the result line's
  std::optional<std::string> cores;              // the word of "# Number of cores : N"
  std::optional<std::string> tool_name;          // the word of "# Executing tool NAME"
  bool start_found = false;                      // RH_START
  bool stop_found = false;                       // RH_STOP
  bool time_confinement_reached = false;         // RH_TIME_CONFINEMENT_REACHED: time flag "DNF"
  bool memory_overflow = false;                  // memory ran out: memory flag "MOVF"
  bool cannot_compute = false;
  bool do_not_compete = false;
  bool state_space_found = false;
  bool formula_found = false;
  bool bool_vector_found = false;
  bool num_vector_found = false;
  // As stored, in the order they were stored; an empty value or "?" means no usable value.
  std::vector<answer> answers;
  std::vector<std::string> formula_names;  // distinct names, in the order of declaration
  std::int32_t formula_name_count = 0;     // FORMULA_NAME lines read, repeats included
  std::vector<std::string> techniques;     // distinct, in the order of first declaration
};

// How a grade ends.
struct grade_outcome {
  int exit_status = 0;  // 0, or 1 when the program would end with status 1
  std::string report;   // the program's standard error line, without its line end; "" at 0
  result_line line;
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

// Grades the log file at `path` as the sift_runlog program does, writing the program's standard
// output to the descriptor `output_fd` as the grade goes: a -debug trace of a large log is never
// held whole. A write that fails ends the grade with exit status 1 and the report of an output
// error, "cannot write standard output: <the system's reason>".
[[nodiscard]] grade_outcome grade_file_to_descriptor(int output_fd, const std::string& path,
                                                     const grade_options& options);

// Writes `text` whole to the descriptor `output_fd`, as the program writes its usage text and
// header line; a failed write gives the outcome the program then ends with (as above).
[[nodiscard]] grade_outcome write_to_descriptor(int output_fd, std::string_view text);

// The outcome a program ends with when output it wrote is lost afterwards, for instance when
// standard output cannot be closed: exit status 1 and the report of an output error,
// "<context>: <the system's reason for error_number>".
[[nodiscard]] grade_outcome output_lost(std::string_view context, int error_number);

// Grades the log open on descriptor `fd` (read from its current offset to its end, and not
// closed here), as if it were the file named `path`: for a caller that opened the file itself,
// to check what it is before a byte is read, and grades it without opening it a second time.
[[nodiscard]] grade_result grade_descriptor(int fd, const std::string& path,
                                            const grade_options& options = {});
// The same, for a caller that found a regular file of `size` bytes at `path` before it opened
// it on `fd`: the analysis then asks the system nothing more than the reads (a campaign of small
// logs pays for every call). Only reads that disagree with that size make it check that the file
// is still a regular one; one that no longer is ends the grade in an input error.
[[nodiscard]] grade_result grade_descriptor(int fd, const std::string& path,
                                            const grade_options& options, std::uint64_t size);

// Grades a log held in memory, as if it were the file named `file_name`.
[[nodiscard]] grade_result grade_buffer(std::string_view log, std::string_view file_name,
                                        const grade_options& options = {});
[[nodiscard]] grade_outcome grade_buffer(std::string_view log, std::string_view file_name,
                                         const grade_options& options,
                                         const output_function& write);

// A number as a log writes it in decimal notation, [sign] digits ["." digits] [("E" | "e")
// [sign] digits], each run of digits with single underscores between two digits allowed: the
// very syntax by which the analysis takes a word for a number. Its parts are kept as digits
// (underscores dropped), never as a binary value, so that two numbers can be compared exactly.
struct decimal_number {
  bool negative = false;
  std::string integer_digits;   // before the point: "1024" for "1_024.50E-3"
  std::string fraction_digits;  // after it, empty when there is none: "50"
  bool negative_exponent = false;
  std::string exponent_digits;  // empty when there is no exponent: "3"
};

// The parts of `word` when it is a decimal number; nothing otherwise (based numbers such as
// 16#FF#, TRUE, any other word).
[[nodiscard]] std::optional<decimal_number> decimal_number_of(std::string_view word);

// Small helpers the library's programs share.

// Writes every byte of `bytes` to the descriptor `fd`, again after an interruption or a partial
// write. Returns 0, or the errno of the failure (EIO for a write that takes nothing, which
// would loop for ever).
[[nodiscard]] int write_all(int fd, std::string_view bytes) noexcept;

// `text` with its control bytes written \xNN, so that it stays on one line whatever it holds.
[[nodiscard]] std::string printable(std::string_view text);

// Appends the two lower-case hex digits of `byte`.
void append_hex_byte(std::string& out, unsigned char byte);

}  // namespace sift_runlog
