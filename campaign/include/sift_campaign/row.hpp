// The row of a campaign table as a value: one graded log, field by field, the same whatever the
// format that carries it. The table's vocabulary (verdict words, column names) is written here
// once; the codecs (csv_codec.hpp, jsonl_codec.hpp, raw_codec.hpp) turn rows into bytes and back.
// Errors follow failure.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sift_runlog/grade.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "shard.hpp"

namespace sift_runlog::campaign {

// The verdict column: what the log's line says, or how its grade failed.
enum class verdict : std::uint8_t {
  answers,  // formula answers or a state space
  DNC,
  CC,
  DNF,
  bad_run,            // "BAD_RUN?"
  error,              // "ERROR": something in the log cannot be graded
  problem_with_file,  // a line or the file name lacks a part
  failed,             // the grade ended with exit status 1
};
inline constexpr std::size_t verdict_count = 8;

// The verdicts' words, in the order of the enumeration.
inline constexpr std::array<std::string_view, verdict_count> verdict_words = {
    "answers", "DNC", "CC", "DNF", "BAD_RUN?", "ERROR", "problem_with_file", "failed"};

[[nodiscard]] constexpr std::string_view word_of(verdict v) {
  return verdict_words[static_cast<std::size_t>(v)];
}
// The verdict of a word of verdict_words; nothing for any other text.
[[nodiscard]] std::optional<verdict> verdict_named(std::string_view word);
// The table's verdict for the grade's.
[[nodiscard]] verdict verdict_of(verdict_kind kind);

// The columns of a csv table and the members of a jsonl row, in their order. A table written
// with --shard has one more, `shard`, last; a csv table of an older version may lack
// `answer_names`.
inline constexpr std::array<std::string_view, 13> column_names = {
    "path",        "tool",    "model",   "examination", "run",    "cores",       "time_flag",
    "memory_flag", "verdict", "answers", "techniques",  "report", "answer_names"};
inline constexpr std::string_view shard_column = "shard";

// One answer as the line shows it: the formula's name (a state space's figure: STATES, ...) and
// its value, absent where the line shows "?". A name is one word of the log: never a blank; it
// is empty only in tables of older versions, which did not name the answers.
struct answer {
  std::string name;
  std::optional<std::string> value;  // never empty, never "?"
  bool operator==(const answer&) const = default;
};

// Why a grade failed. `line` is the log's line at fault, counted from 1, or 0 when no line is
// (the file name, the end of the log, a log that cannot be read). `reason` is one line: the rule
// broken, and for a failed grade the program's report and its PROBLEM line after "; ". A failed
// grade without a line has a reason that does not begin as a line's place ("line N: ").
struct row_failure {
  std::uint64_t line = 0;
  std::string reason;
  bool operator==(const row_failure&) const = default;
};

// One row. The name fields describe the log's file: taken from its name wherever it has four
// "_" parts, whatever the verdict or mode; otherwise what the line shows (fewer parts in the
// long mode, none in the short one). An absent field is one the row does not have; a present
// one may be empty (a cores line without its number).
struct row {
  std::string path;  // never empty
  std::optional<std::string> tool, model, examination, run;
  std::optional<std::string> cores, time_flag, memory_flag;  // absent where the line stopped
  campaign::verdict verdict = verdict::bad_run;
  // The verdict `answers` only: the answers in line order ("BOOL:" rather than "NUM:" when
  // boolean_answers, never with no answer) and the techniques (words, in line order).
  bool boolean_answers = false;
  std::vector<answer> answers;
  std::vector<std::string> techniques;
  std::optional<row_failure> failure;  // ERROR, problem_with_file and failed only
  std::optional<shard_record> shard;   // in a part written with --shard
  // The program's own bytes for the log, line feed included, as a raw table holds them; empty
  // for a failed grade, which has no line. Only rows of raw tables carry it.
  std::string line;

  bool operator==(const row&) const = default;
};

// Whether a row of this verdict may have a failure: ERROR, problem_with_file and failed.
[[nodiscard]] constexpr bool can_fail(verdict v) {
  return v == verdict::error || v == verdict::problem_with_file || v == verdict::failed;
}

// The row of a log graded as `path`, its texts taken out of `graded`. `line` is left empty unless
// `with_line`.
[[nodiscard]] row row_of(std::string_view path, grade_result&& graded, bool with_line);

// The row of a log whose grade failed before the analysis began (a FIFO, a log that cannot be
// opened): `reason` says why.
[[nodiscard]] row failed_row(std::string_view path, std::string_view reason);

// The report column: the failure's place ("line N: ", or for ERROR and problem_with_file "no
// log line: ") and reason; empty without a failure.
[[nodiscard]] std::string report_text(const row& r);

// The failure a report column's text gives for a row of verdict `v` (the inverse of
// report_text). Throws failure when an ERROR or problem_with_file report has no place.
[[nodiscard]] row_failure failure_of_report(verdict v, std::string_view text);

// The answers column: "<count>" then " BOOL:<value>" or " NUM:<value>" per answer, "?" for an
// absent value; empty unless the verdict is `answers`.
[[nodiscard]] std::string answers_text(const row& r);

}  // namespace sift_runlog::campaign
