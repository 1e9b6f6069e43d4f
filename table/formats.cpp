#include "formats.hpp"

#include <algorithm>
#include <vector>

namespace sift_runlog::table {

namespace {

// The length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when the byte there begins
// none: overlong forms, surrogates and code points beyond U+10FFFF are not valid.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
  }
  return length;
}

// A field of the line, or nothing where the line does not show it.
using shown_field = std::optional<std::string_view>;

shown_field field_of(const std::optional<std::string>& field) {
  return field ? shown_field(*field) : std::nullopt;
}

shown_field name_field(const result_line& line, std::size_t i) {
  return i < line.name_fields.size() ? shown_field(line.name_fields[i]) : std::nullopt;
}

bool shows_answers(const result_line& line) {
  return line.verdict == verdict_kind::formula_answers || line.verdict == verdict_kind::state_space;
}

// The words separated by one blank.
std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += ' ';
    text += words[i];
  }
  return text;
}

std::string answer_names(const result_line& line) {
  std::vector<std::string> names;
  for (const answer& shown : line.answers) names.push_back(shown.key);
  return joined(names);
}

std::string csv_row(std::string_view path, const result_line& line, std::string_view report) {
  const bool answers = shows_answers(line);
  const std::string formatted = line.formatted_answers();
  const std::string techniques = answers ? joined(line.techniques) : std::string();
  const std::string names = answers ? answer_names(line) : std::string();
  std::string row;
  append_csv_field(row, path);
  for (const shown_field field :
       {name_field(line, 0), name_field(line, 1), name_field(line, 2), name_field(line, 3),
        field_of(line.cores), field_of(line.time_flag), field_of(line.memory_flag),
        shown_field(verdict_word(line.verdict)), shown_field(formatted), shown_field(techniques),
        shown_field(report), shown_field(names)}) {
    row += ',';
    append_csv_field(row, field.value_or(""));
  }
  row += '\n';
  return row;
}

void append_json_value(std::string& row, shown_field value) {
  if (value) {
    append_json_string(row, *value);
  } else {
    row += "null";
  }
}

std::string jsonl_row(std::string_view path, const result_line& line, std::string_view report) {
  std::string row = "{";
  const auto member = [&row](std::string_view name, shown_field value) {
    ((row += '"') += name) += "\":";
    append_json_value(row, value);
    row += ',';
  };
  member("path", path);
  member("tool", name_field(line, 0));
  member("model", name_field(line, 1));
  member("examination", name_field(line, 2));
  member("run", name_field(line, 3));
  member("cores", field_of(line.cores));
  member("time_flag", field_of(line.time_flag));
  member("memory_flag", field_of(line.memory_flag));
  member("verdict", verdict_word(line.verdict));
  if (shows_answers(line)) {
    row += "\"answers\":[";
    for (const answer& shown : line.answers) {
      if (row.back() != '[') row += ',';
      row += "{\"name\":";
      append_json_string(row, shown.key);
      row += ",\"value\":";
      append_json_string(row, shown.value);
      row += '}';
    }
    row += "],\"techniques\":[";
    for (const std::string& technique : line.techniques) {
      if (row.back() != '[') row += ',';
      append_json_string(row, technique);
    }
    row += "],";
  } else {
    row += "\"answers\":null,\"techniques\":null,";
  }
  row += "\"report\":";
  append_json_value(row, report.empty() ? std::nullopt : shown_field(report));
  row += "}\n";
  return row;
}

}  // namespace

std::optional<table_format> parse_format(std::string_view name) {
  if (name == "raw") return table_format::raw;
  if (name == "csv") return table_format::csv;
  if (name == "jsonl") return table_format::jsonl;
  return std::nullopt;
}

void append_csv_field(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_json_string(std::string& out, std::string_view bytes) {
  out += '"';
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '"' || byte == '\\') {
      (out += '\\') += bytes[i++];
    } else if (byte < 0x20) {
      // \b \t \n \f \r where JSON has a short escape (not for 11, vertical tab).
      if (byte >= 8 && byte <= 13 && byte != 11) {
        (out += '\\') += "btn-fr"[byte - 8];
      } else {
        out += "\\u00";
        append_hex_byte(out, byte);
      }
      ++i;
    } else if (const std::size_t length = utf8_length(bytes, i); length != 0) {
      out += bytes.substr(i, length);
      i += length;
    } else {
      out += "\\udc";
      append_hex_byte(out, byte);
      ++i;
    }
  }
  out += '"';
}

std::string_view table_header(table_format format) {
  switch (format) {
    case table_format::raw:
      return header_line;
    case table_format::csv:
      return "path,tool,model,examination,run,cores,time_flag,memory_flag,verdict,answers,"
             "techniques,report,answer_names\n";
    case table_format::jsonl:
      break;
  }
  return {};
}

std::string failure_text(const grade_outcome& graded) {
  const result_line& line = graded.line;
  const grade_failure& failure = line.failure;
  const std::string place =
      failure.line != 0 ? "line " + std::to_string(failure.line) + ": " : "no log line: ";
  if (line.verdict == verdict_kind::data_error || line.verdict == verdict_kind::problem_with_file) {
    return place + printable(failure.reason);
  }
  if (graded.exit_status == 0) return {};
  // A failure of the log has its line; one of the system (a log that cannot be read) has its
  // reason in the program's report already.
  std::string text = failure.line != 0 ? place + printable(failure.reason) + "; " : std::string();
  text += printable(graded.report);
  if (!failure.problem_line.empty()) (text += "; ") += printable(failure.problem_line);
  return text;
}

std::string format_row(table_format format, std::string_view path, const grade_result& graded) {
  if (format == table_format::raw) return graded.exit_status == 0 ? graded.output : std::string();
  const std::string report = failure_text(graded);
  return format == table_format::csv ? csv_row(path, graded.line, report)
                                     : jsonl_row(path, graded.line, report);
}

std::size_t valid_utf8_length(std::string_view text, std::size_t i) { return utf8_length(text, i); }

}  // namespace sift_runlog::table
