#include "formats.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "command_line.hpp"
#include "failures.hpp"
#include "keywords.hpp"
#include "slice_set.hpp"

namespace sift_runlog::table {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void append_hex_byte(std::string& out, unsigned char byte) {
  out += hex_digits[byte >> 4];
  out += hex_digits[byte & 0xf];
}

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

// The columns of a csv or jsonl row, as views into the grade and the path.
struct row_fields {
  std::array<std::string_view, 4> name_parts;  // tool, model, examination, run
  std::string_view cores;
  std::string_view time_flag;
  std::string_view memory_flag;
  std::string answers;  // the formatted result as the result line shows it
  std::vector<std::pair<std::string_view, std::string_view>> answer_list;
  const std::vector<std::string>* techniques = nullptr;
  std::string report;
};

constexpr std::array<std::string_view, 4> state_space_keys = {keyword::states, keyword::transitions,
                                                              keyword::max_token_in_place,
                                                              keyword::max_token_per_marking};

// The formatted result of an answers line, found between the fields before it and the
// techniques after it, whose texts are known from the state: so it is what the line shows,
// whatever bytes the fields hold. Empty if the line is not built as expected.
std::string answers_of(const grade_result& graded, const row_fields& fields, bool long_mode) {
  std::string before;
  if (long_mode) {
    for (const std::string_view part : fields.name_parts) (before += part) += ',';
  }
  (((before += fields.cores) += ',') += fields.time_flag) += ',';
  (before += fields.memory_flag) += ',';
  std::string after = ",";
  for (const std::string& technique : graded.state.techniques) (after += technique) += ' ';
  if (graded.state.techniques.empty()) after += '-';
  after += '\n';
  const std::string_view line = graded.output;
  if (line.size() < before.size() + after.size() || !line.starts_with(before) ||
      !line.ends_with(after)) {
    return {};
  }
  return std::string(line.substr(before.size(), line.size() - before.size() - after.size()));
}

// Each answer's name with the value the line shows for it: the formulas in the order of their
// declaration, or the four state-space figures.
void list_answers(const grade_result& graded, row_fields& fields) {
  std::vector<std::string_view> values;
  slice_set words = slice_set::create(fields.answers, ' ');
  for (std::size_t i = 2; words.has_slice(i); ++i) {
    const std::string_view word = words.slice(i);
    values.push_back(word.substr(word.find(':') + 1));
  }
  const bool formulas = graded.state.verdict == verdict_kind::formula_answers;
  const std::size_t names = formulas ? graded.state.formula_names.size() : state_space_keys.size();
  if (values.size() != names) return;
  for (std::size_t i = 0; i < names; ++i) {
    fields.answer_list.emplace_back(
        formulas ? std::string_view(graded.state.formula_names[i]) : state_space_keys[i],
        values[i]);
  }
}

row_fields fields_of(std::string_view path, const grade_result& graded, bool long_mode) {
  row_fields fields;
  slice_set directories = slice_set::create(path, '/');
  slice_set parts = slice_set::create(directories.slice(directories.slice_count()), '_');
  if (parts.has_slice(4)) {
    for (std::size_t i = 0; i < 4; ++i) fields.name_parts[i] = parts.slice(i + 1);
  }
  fields.report = failure_text(graded);
  if (graded.exit_status != 0) return fields;  // the state says nothing a reader could trust
  const final_state& state = graded.state;
  fields.cores = state.cores ? std::string_view(*state.cores) : "NO_CORE";
  fields.time_flag = state.time_confinement_reached ? "DNF" : "OK";
  fields.memory_flag = state.memory_overflow ? "MOVF" : "OK";
  if (state.verdict == verdict_kind::formula_answers ||
      state.verdict == verdict_kind::state_space) {
    fields.answers = answers_of(graded, fields, long_mode);
    list_answers(graded, fields);
    fields.techniques = &state.techniques;
  }
  return fields;
}

std::string csv_row(std::string_view path, std::string_view verdict, const row_fields& fields) {
  std::string techniques;
  if (fields.techniques != nullptr) {
    for (const std::string& technique : *fields.techniques) {
      if (!techniques.empty()) techniques += ' ';
      techniques += technique;
    }
  }
  std::string row;
  append_csv_field(row, path);
  for (const std::string_view field :
       {fields.name_parts[0], fields.name_parts[1], fields.name_parts[2], fields.name_parts[3],
        fields.cores, fields.time_flag, fields.memory_flag, verdict,
        std::string_view(fields.answers), std::string_view(techniques),
        std::string_view(fields.report)}) {
    row += ',';
    append_csv_field(row, field);
  }
  row += '\n';
  return row;
}

std::string jsonl_row(std::string_view path, std::string_view verdict, const row_fields& fields) {
  std::string row = "{";
  const auto member = [&row](std::string_view name, std::string_view value) {
    ((row += '"') += name) += "\":";
    append_json_string(row, value);
    row += ',';
  };
  member("path", path);
  member("tool", fields.name_parts[0]);
  member("model", fields.name_parts[1]);
  member("examination", fields.name_parts[2]);
  member("run", fields.name_parts[3]);
  member("cores", fields.cores);
  member("time_flag", fields.time_flag);
  member("memory_flag", fields.memory_flag);
  member("verdict", verdict);
  row += "\"answers\":[";
  for (const auto& [name, value] : fields.answer_list) {
    if (row.back() != '[') row += ',';
    row += "{\"name\":";
    append_json_string(row, name);
    row += ",\"value\":";
    append_json_string(row, value);
    row += '}';
  }
  row += "],\"techniques\":[";
  if (fields.techniques != nullptr) {
    for (const std::string& technique : *fields.techniques) {
      if (row.back() != '[') row += ',';
      append_json_string(row, technique);
    }
  }
  row += "],\"report\":";
  append_json_string(row, fields.report);
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
             "techniques,report\n";
    case table_format::jsonl:
      break;
  }
  return {};
}

std::string_view verdict_word(verdict_kind verdict) noexcept {
  switch (verdict) {
    case verdict_kind::do_not_compete:
      return "DNC";
    case verdict_kind::formula_answers:
    case verdict_kind::state_space:
      return "answers";
    case verdict_kind::cannot_compute:
    case verdict_kind::stopped_without_answer:
      return "CC";
    case verdict_kind::did_not_finish:
      return "DNF";
    case verdict_kind::bad_run:
      return "BAD_RUN?";
    case verdict_kind::data_error:
      return "ERROR";
    case verdict_kind::problem_with_file:
      return "problem_with_file";
    case verdict_kind::failed:
      break;
  }
  return "failed";
}

std::string failure_text(const grade_result& graded) {
  if (graded.exit_status == 0) return {};
  std::string text = printable(graded.report);
  // The analysis writes its PROBLEM line before it stops: that line is the reason.
  const std::string_view output = graded.output;
  std::size_t begin = 0;
  std::string_view reason;
  while (begin < output.size()) {
    const std::size_t end = std::min(output.find('\n', begin), output.size());
    const std::string_view line = output.substr(begin, end - begin);
    if (line.starts_with("PROBLEM")) reason = line;
    begin = end + 1;
  }
  if (!reason.empty()) (text += "; ") += printable(reason);
  return text;
}

std::string format_row(table_format format, std::string_view path, const grade_result& graded,
                       bool long_mode) {
  if (format == table_format::raw) return graded.exit_status == 0 ? graded.output : std::string();
  const std::string_view verdict =
      verdict_word(graded.exit_status != 0 ? verdict_kind::failed : graded.state.verdict);
  const row_fields fields = fields_of(path, graded, long_mode);
  return format == table_format::csv ? csv_row(path, verdict, fields)
                                     : jsonl_row(path, verdict, fields);
}

std::size_t valid_utf8_length(std::string_view text, std::size_t i) { return utf8_length(text, i); }

}  // namespace sift_runlog::table
