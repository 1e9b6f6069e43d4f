#include <algorithm>
#include <charconv>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/row.hpp>

namespace sift_runlog::campaign {

namespace {

std::optional<std::string> name_field(std::vector<std::string>& fields, std::size_t i) {
  return i < fields.size() ? std::optional<std::string>(std::move(fields[i])) : std::nullopt;
}

void set_names(row& r, std::vector<std::string>&& fields) {
  r.tool = name_field(fields, 0);
  r.model = name_field(fields, 1);
  r.examination = name_field(fields, 2);
  r.run = name_field(fields, 3);
}

// The name fields of a log: its file's, when its name has the four parts; else the line's. A
// line of the long mode that names the same file shows the file's already.
void set_names(row& r, std::string_view path, const std::string& file,
               std::vector<std::string>&& shown) {
  if (shown.size() == 4 && file == path) return set_names(r, std::move(shown));
  std::vector<std::string> of_file = file_name_fields(path);
  set_names(r, of_file.size() == 4 ? std::move(of_file) : std::move(shown));
}

// "line N: " for a log's line; for a failure of the log that no line shows, "no log line: ".
std::string place_of(verdict v, std::uint64_t line) {
  if (line != 0) return "line " + std::to_string(line) + ": ";
  return v == verdict::failed ? std::string() : std::string("no log line: ");
}

}  // namespace

std::optional<verdict> verdict_named(std::string_view word) {
  const auto* found = std::find(verdict_words.begin(), verdict_words.end(), word);
  if (found == verdict_words.end()) return std::nullopt;
  return static_cast<verdict>(found - verdict_words.begin());
}

verdict verdict_of(verdict_kind kind) {
  switch (kind) {
    case verdict_kind::formula_answers:
    case verdict_kind::state_space:
      return verdict::answers;
    case verdict_kind::do_not_compete:
      return verdict::DNC;
    case verdict_kind::cannot_compute:
    case verdict_kind::stopped_without_answer:
      return verdict::CC;
    case verdict_kind::did_not_finish:
      return verdict::DNF;
    case verdict_kind::bad_run:
      return verdict::bad_run;
    case verdict_kind::data_error:
      return verdict::error;
    case verdict_kind::problem_with_file:
      return verdict::problem_with_file;
    case verdict_kind::failed:
      break;
  }
  return verdict::failed;
}

row row_of(std::string_view path, grade_result&& graded, bool with_line) {
  result_line& line = graded.line;
  row r;
  r.path = path;
  set_names(r, path, line.file, std::move(line.name_fields));
  r.verdict = verdict_of(line.verdict);
  if (r.verdict == verdict::failed) {
    // A failure of the log has its line; one of the system (a log that cannot be read) has its
    // reason in the program's report already.
    std::string reason = line.failure.line != 0 ? printable(line.failure.reason) + "; " : "";
    reason += printable(graded.report);
    if (!line.failure.problem_line.empty())
      (reason += "; ") += printable(line.failure.problem_line);
    r.failure = row_failure{line.failure.line, std::move(reason)};
    return r;
  }
  r.cores = line.cores;
  r.time_flag = line.time_flag;
  r.memory_flag = line.memory_flag;
  if (r.verdict == verdict::error || r.verdict == verdict::problem_with_file) {
    r.failure = row_failure{line.failure.line, printable(line.failure.reason)};
  }
  if (r.verdict == verdict::answers) {
    r.boolean_answers = line.boolean_answers && !line.answers.empty();
    r.answers.reserve(line.answers.size());
    for (sift_runlog::answer& shown : line.answers) {
      r.answers.push_back(
          {std::move(shown.key),
           shown.value == "?" ? std::nullopt : std::optional<std::string>(std::move(shown.value))});
    }
    r.techniques = std::move(line.techniques);
  }
  if (with_line) r.line = std::move(graded.output);
  return r;
}

row failed_row(std::string_view path, std::string_view reason) {
  row r;
  r.path = path;
  set_names(r, path, {}, {});
  r.verdict = verdict::failed;
  r.failure = row_failure{0, printable(reason)};
  return r;
}

std::string report_text(const row& r) {
  if (!r.failure) return {};
  return place_of(r.verdict, r.failure->line) + r.failure->reason;
}

std::string answers_text(const row& r) {
  if (r.verdict != verdict::answers) return {};
  std::string text = std::to_string(r.answers.size());
  const std::string_view type = r.boolean_answers ? " BOOL:" : " NUM:";
  for (const answer& a : r.answers) (text += type) += a.value ? std::string_view(*a.value) : "?";
  return text;
}

row_failure failure_of_report(verdict v, std::string_view text) {
  std::uint64_t line = 0;
  if (text.starts_with("line ")) {
    const char* const digits = text.data() + 5;
    const char* const end = text.data() + text.size();
    const auto [last, error] = std::from_chars(digits, end, line);
    // Written one way only: a place with another spelling is part of the reason.
    const bool place = error == std::errc() && line != 0 && *digits != '0' && end - last >= 2 &&
                       last[0] == ':' && last[1] == ' ';
    if (place)
      return {line, std::string(text.substr(static_cast<std::size_t>(last + 2 - text.data())))};
  }
  if (v == verdict::failed) return {0, std::string(text)};
  if (text.starts_with("no log line: ")) return {0, std::string(text.substr(13))};
  throw failure("the report of an " + std::string(word_of(v)) +
                " row begins with neither 'line N: ' nor 'no log line: '");
}

}  // namespace sift_runlog::campaign
