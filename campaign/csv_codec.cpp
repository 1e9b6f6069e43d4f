#include <algorithm>
#include <charconv>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/messages.hpp>

namespace sift_runlog::campaign {

namespace {

// The columns every table has, before answer_names.
constexpr std::size_t fixed_columns = 12;

void append_optional(std::string& out, const std::optional<std::string>& field) {
  if (!field) return;
  if (field->empty()) {
    out += "\"\"";
  } else {
    append_csv_field(out, *field);
  }
}

// The words of `items` one blank apart.
template <typename Items, typename Word>
std::string joined(const Items& items, Word word_of_item) {
  std::string text;
  for (const auto& item : items) {
    if (&item != &items.front()) text += ' ';
    text += word_of_item(item);
  }
  return text;
}

// Calls `take(k, word)` for each word of `text`, one blank apart, and returns their count.
template <typename Take>
std::size_t for_each_word(std::string_view text, std::string_view column, Take take) {
  if (text.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t at = 0;;) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end == at) throw failure(std::string(column) + " holds an empty word");
    take(count++, text.substr(at, end - at));
    if (end == text.size()) return count;
    at = end + 1;
  }
}

// `text` as the optional text it stands for, its string reused.
void assign(std::optional<std::string>& out, std::string_view text) {
  if (!out) out.emplace();
  out->assign(text);
}

// "COUNT TYPE:VALUE ..." into the row's answers and their type.
void decode_answers(std::string_view text, row& out) {
  const std::string_view digits = text.substr(0, text.find(' '));
  std::size_t count = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  const bool counted = !digits.empty() && error == std::errc() &&
                       end == digits.data() + digits.size() &&
                       !(digits.size() > 1 && digits.front() == '0');
  out.answers.resize(counted ? count : 0);
  out.boolean_answers = text.substr(digits.size()).starts_with(" BOOL:");
  const std::string_view type = out.boolean_answers ? "BOOL:" : "NUM:";
  const std::size_t words =
      for_each_word(text, "answers", [&](std::size_t k, std::string_view word) {
        if (k == 0 || k > out.answers.size()) return;
        if (!word.starts_with(type)) throw failure("the answers mix BOOL: and NUM: values");
        const std::string_view value = word.substr(type.size());
        if (value == "?") {
          out.answers[k - 1].value.reset();
        } else {
          assign(out.answers[k - 1].value, value);
        }
      });
  if (!counted || words != count + 1) {
    throw failure("the answers are not a count then as many TYPE:VALUE words");
  }
}

}  // namespace

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

void split_csv_record(std::string_view record, csv_fields& fields, std::size_t most) {
  std::size_t count = 0;
  for (std::size_t i = 0;; ++count) {
    if (count >= most) throw failure("more fields than the header's " + std::to_string(most));
    if (fields.text.size() <= count) {
      fields.text.emplace_back();
      fields.quoted.push_back(false);
    }
    std::string& field = fields.text[count];
    field.clear();
    fields.quoted[count] = i < record.size() && record[i] == '"';
    if (fields.quoted[count]) {
      for (++i;; ++i) {
        if (i >= record.size()) throw failure("a quoted field without its closing quote");
        if (record[i] != '"') {
          field += record[i];
        } else if (i + 1 < record.size() && record[i + 1] == '"') {
          field += record[++i];
        } else {
          break;
        }
      }
      ++i;
      if (i < record.size() && record[i] != ',') {
        throw failure("a byte after the closing quote of field " + std::to_string(count + 1));
      }
    } else {
      // Fields are short: one loop over the bytes beats a search for each of the two.
      std::size_t end = i;
      while (end < record.size() && record[end] != ',') {
        if (record[end] == '"') {
          throw failure("a double quote inside unquoted field " + std::to_string(count + 1));
        }
        ++end;
      }
      field.assign(record.data() + i, end - i);
      i = end;
    }
    if (i >= record.size()) break;
    ++i;  // the comma
  }
  fields.count = count + 1;
}

std::string csv_header(bool sharded) {
  std::string header;
  for (const std::string_view name : column_names) (header += header.empty() ? "" : ",") += name;
  if (sharded) (header += ',') += shard_column;
  return header + '\n';
}

void append_csv_row(std::string& out, const row& r) {
  append_csv_field(out, r.path);
  for (const auto* field :
       {&r.tool, &r.model, &r.examination, &r.run, &r.cores, &r.time_flag, &r.memory_flag}) {
    out += ',';
    append_optional(out, *field);
  }
  (out += ',') += word_of(r.verdict);
  out += ',';
  append_csv_field(out, answers_text(r));
  out += ',';
  append_csv_field(out, joined(r.techniques, [](const std::string& t) { return t; }));
  out += ',';
  if (r.failure) append_optional(out, report_text(r));
  out += ',';
  append_csv_field(out, joined(r.answers, [](const answer& a) { return a.name; }));
  if (r.shard) (out += ',') += format_shard_record(*r.shard);
  out += '\n';
}

csv_decoder::csv_decoder(std::string_view header) {
  split_csv_record(header, fields_, column_names.size() + 1);
  const std::size_t count = fields_.count;
  bool known = count >= fixed_columns;
  for (std::size_t i = 0; i < count && known; ++i) {
    const std::string& name = fields_.text[i];
    if (i < fixed_columns) {
      known = name == column_names[i] && !fields_.quoted[i];
    } else if (i == fixed_columns && name == column_names[fixed_columns]) {
      names_answers_ = true;
    } else {
      known = i + 1 == count && name == shard_column;
      sharded_ = known;
    }
  }
  if (!known) {
    throw failure(
        "not a table of sift_runlog_table (neither a raw nor a csv header, nor a JSON line)");
  }
  columns_ = count;
}

void csv_decoder::decode(std::string_view record, row& out) {
  split_csv_record(record, fields_, columns_);
  if (fields_.count != columns_) {
    throw failure(counted(fields_.count, "field") + ", the header has " + std::to_string(columns_));
  }
  const auto text = [this](std::size_t i) -> const std::string& { return fields_.text[i]; };
  const auto optional = [this](std::size_t i, std::optional<std::string>& field) {
    if (fields_.text[i].empty() && !fields_.quoted[i]) {
      field.reset();
    } else {
      assign(field, fields_.text[i]);
    }
  };
  if (text(0).empty()) throw failure("an empty path");
  out.path = text(0);
  std::size_t column = 1;
  for (auto* field : {&out.tool, &out.model, &out.examination, &out.run, &out.cores, &out.time_flag,
                      &out.memory_flag}) {
    optional(column++, *field);
  }
  const std::optional<verdict> v = verdict_named(text(8));
  if (!v) throw failure("'" + text(8) + "' is not a verdict");
  out.verdict = *v;
  out.answers.clear();
  out.boolean_answers = false;
  out.techniques.clear();
  const bool answers = out.verdict == verdict::answers;
  if (!answers &&
      !(text(9).empty() && text(10).empty() && (!names_answers_ || text(fixed_columns).empty()))) {
    throw failure("answers or techniques on a row whose verdict is " + text(8));
  }
  if (answers) {
    decode_answers(text(9), out);
    const std::size_t techniques =
        for_each_word(text(10), "techniques", [&](std::size_t k, std::string_view word) {
          if (out.techniques.size() <= k) out.techniques.emplace_back();
          out.techniques[k].assign(word);
        });
    out.techniques.resize(techniques);
  }
  if (names_answers_ && answers) {
    const std::string_view names = text(fixed_columns);
    const auto blanks = static_cast<std::size_t>(std::count(names.begin(), names.end(), ' '));
    if ((names.empty() ? 0 : blanks + 1) != out.answers.size()) {
      throw failure("answer_names does not name each answer once");
    }
    for_each_word(names, "answer_names",
                  [&](std::size_t k, std::string_view word) { out.answers[k].name.assign(word); });
  } else {
    for (answer& a : out.answers) a.name.clear();
  }
  std::optional<std::string> report;
  optional(11, report);
  if (report && !can_fail(out.verdict))
    throw failure("a report on a row whose verdict is " + text(8));
  out.failure =
      report ? std::optional<row_failure>(failure_of_report(out.verdict, *report)) : std::nullopt;
  out.shard.reset();
  if (sharded_) {
    // Every row of a part holds the same record: it is read once.
    if (text(columns_ - 1) != shard_text_) {
      shard_ = parse_shard_record(text(columns_ - 1));
      if (!shard_) {
        throw failure("the shard column holds no part record: '" + text(columns_ - 1) + "'");
      }
      shard_text_ = text(columns_ - 1);
    }
    out.shard = shard_;
  }
  out.line.clear();
}

}  // namespace sift_runlog::campaign
