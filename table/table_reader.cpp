#include "table_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace sift_runlog::table {

namespace {

constexpr std::string_view hex_digits = "0123456789abcdef";
constexpr std::size_t block_size = 1 << 20;
// Far beyond any row (a million answers make 40 MB); reached at once on /dev/zero.
constexpr std::size_t longest_row = std::size_t{256} << 20;

// The columns of a csv table, in their places; answer_names and shard may follow.
constexpr std::array<std::string_view, 12> csv_columns = {
    "path",      "tool",        "model",   "examination", "run",        "cores",
    "time_flag", "memory_flag", "verdict", "answers",     "techniques", "report"};

constexpr std::array<std::string_view, 8> verdict_words = {
    "answers", "DNC", "CC", "DNF", "BAD_RUN?", "ERROR", "problem_with_file", "failed"};

void append_utf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

// The four hexadecimal digits at text[i], either case; nothing when they are not.
std::optional<unsigned> hex4(std::string_view text, std::size_t i) {
  if (i + 4 > text.size()) return std::nullopt;
  unsigned code = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::size_t digit = hex_digits.find(static_cast<char>(text[i + k] | 0x20));
    if (digit == std::string_view::npos) return std::nullopt;
    code = code * 16 + static_cast<unsigned>(digit);
  }
  return code;
}

bool is_verdict(std::string_view word) {
  return std::find(verdict_words.begin(), verdict_words.end(), word) != verdict_words.end();
}

void skip_blanks(std::string_view text, std::size_t& i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
}

}  // namespace

bool read_json_string(std::string_view text, std::size_t& position, std::string& bytes) {
  bytes.clear();
  if (position >= text.size() || text[position] != '"') return false;
  std::size_t i = position + 1;
  while (i < text.size()) {
    // The plain bytes up to the next quote, backslash or control byte, in one piece.
    std::size_t end = i;
    while (end < text.size() && text[end] != '"' && text[end] != '\\' &&
           static_cast<unsigned char>(text[end]) >= 0x20) {
      ++end;
    }
    bytes.append(text.data() + i, end - i);
    i = end;
    if (i >= text.size() || static_cast<unsigned char>(text[i]) < 0x20) return false;
    if (text[i++] == '"') {
      position = i;
      return true;
    }
    if (i >= text.size()) return false;
    const char escape = text[i++];
    constexpr std::string_view simple = "\"\\/bfnrt";
    constexpr std::string_view meaning = "\"\\/\b\f\n\r\t";
    if (const std::size_t known = simple.find(escape); known != std::string_view::npos) {
      bytes += meaning[known];
      continue;
    }
    const std::optional<unsigned> code = escape == 'u' ? hex4(text, i) : std::nullopt;
    if (!code) return false;
    i += 4;
    if (*code >= 0xdc80 && *code <= 0xdcff) {
      bytes += static_cast<char>(*code & 0xff);  // a byte that was no part of valid UTF-8
    } else if (*code >= 0xd800 && *code <= 0xdbff && i + 6 <= text.size() && text[i] == '\\' &&
               text[i + 1] == 'u') {
      const std::optional<unsigned> low = hex4(text, i + 2);
      if (!low || *low < 0xdc00 || *low > 0xdfff) return false;
      append_utf8(bytes, 0x10000 + ((*code - 0xd800) << 10) + (*low - 0xdc00));
      i += 6;
    } else {
      append_utf8(bytes, *code);
    }
  }
  return false;
}

std::optional<std::string> split_csv_record(std::string_view record,
                                            std::vector<std::string>& fields, std::size_t most) {
  std::size_t count = 0;
  for (std::size_t i = 0;; ++count) {
    if (count >= most) return "more fields than the header's " + std::to_string(most);
    if (fields.size() <= count) fields.emplace_back();
    std::string& field = fields[count];
    field.clear();
    if (i < record.size() && record[i] == '"') {
      for (++i;; ++i) {
        if (i >= record.size()) return "a quoted field without its closing quote";
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
        return "a byte after the closing quote of field " + std::to_string(count + 1);
      }
    } else {
      const std::size_t end = std::min(record.find(',', i), record.size());
      field.assign(record.substr(i, end - i));
      if (field.find('"') != std::string::npos) {
        return "a double quote inside unquoted field " + std::to_string(count + 1);
      }
      i = end;
    }
    if (i >= record.size()) {
      ++count;
      break;
    }
    ++i;  // the comma
  }
  fields.resize(count);
  return std::nullopt;
}

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

table_reader::table_reader(const std::string& file) : name_(file == "-" ? "standard input" : file) {
  if (file == "-") {
    fd_ = STDIN_FILENO;
  } else {
    // Not blocked by a FIFO without a writer: it reads as empty.
    fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) throw table_error("cannot read " + file + ": " + std::strerror(errno));
    owns_fd_ = true;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  }
  data_ = buffer_;
  read_header();
}

table_reader::table_reader(std::string name, std::string_view bytes)
    : name_(std::move(name)), data_(bytes), input_done_(true) {
  read_header();
}

table_reader::~table_reader() {
  if (owns_fd_) ::close(fd_);
}

void table_reader::fail(std::size_t line, std::string_view reason) const {
  throw table_error(name_ + ": line " + std::to_string(line) + ": " + std::string(reason));
}

bool table_reader::fill() {
  if (input_done_) return false;
  // What is left moves to the front; the rows read before are no longer needed.
  buffer_.erase(0, buffer_.size() - data_.size());
  const std::size_t kept = buffer_.size();
  buffer_.resize(kept + block_size);
  ssize_t got = 0;
  do {
    got = ::read(fd_, buffer_.data() + kept, block_size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    const int error = errno;
    buffer_.resize(kept);
    throw table_error("cannot read " + name_ + ": " + std::strerror(error));
  }
  buffer_.resize(kept + static_cast<std::size_t>(got));
  data_ = buffer_;
  if (got == 0) input_done_ = true;
  return got > 0;
}

// The next line, line feed included, or for csv the next record (a quoted field may hold line
// feeds); the rest of the input when no line feed ends it; nothing at the end.
std::optional<std::string_view> table_reader::take_line(bool csv_record) {
  std::size_t from = 0;
  bool open_quote = false;
  for (;;) {
    const char* const begin = data_.data();
    const void* found =
        from < data_.size() ? std::memchr(begin + from, '\n', data_.size() - from) : nullptr;
    if (found != nullptr) {
      const auto end = static_cast<std::size_t>(static_cast<const char*>(found) - begin);
      if (csv_record) {
        open_quote ^= std::count(begin + from, begin + end, '"') % 2 != 0;
      }
      from = end + 1;
      if (!open_quote) break;
      continue;
    }
    const std::size_t scanned = from;
    if (data_.size() > longest_row) {
      fail(next_line_,
           "a row longer than " + std::to_string(longest_row >> 20) + " MiB (not a table?)");
    }
    if (!fill()) {
      if (data_.empty()) return std::nullopt;
      from = data_.size();
      break;
    }
    from = scanned;  // fill() keeps the unread bytes in front
  }
  const std::string_view line = data_.substr(0, from);
  data_.remove_prefix(from);
  row_line_ = next_line_;
  next_line_ += static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n'));
  return line;
}

void table_reader::read_header() {
  while (data_.empty() && fill()) {
  }
  if (data_.empty()) return;  // an empty jsonl table
  if (data_.front() == '{') return;
  const std::optional<std::string_view> first = take_line(true);
  header_ = *first;
  if (!header_.ends_with('\n')) fail(1, "the header does not end in a line feed (a cut table?)");
  if (header_ == table_header(table_format::raw)) {
    format_ = table_format::raw;
    return;
  }
  format_ = table_format::csv;
  std::string_view names(header_);
  names.remove_suffix(1);
  std::size_t column = 0;
  bool known = true;
  for (std::size_t begin = 0; begin <= names.size() && known;) {
    const std::size_t end = std::min(names.find(',', begin), names.size());
    const std::string_view field = names.substr(begin, end - begin);
    if (column < csv_columns.size()) {
      known = field == csv_columns[column];
    } else if (field == "answer_names" && column == csv_columns.size()) {
      has_answer_names_ = true;
    } else if (field == "shard" && !sharded_) {
      sharded_ = true;
    } else {
      known = false;
    }
    ++column;
    begin = end + 1;
  }
  if (!known || column < csv_columns.size()) {
    fail(1, "not a table of sift_runlog_table (neither a raw nor a csv header, nor a JSON line)");
  }
  columns_ = column;
}

bool table_reader::next(table_row& row) {
  for (;;) {
    const std::optional<std::string_view> line = take_line(format_ == table_format::csv);
    if (!line) {
      if (format_ == table_format::raw) end_of_raw();
      return false;
    }
    row_ = *line;
    if (!row_.ends_with('\n'))
      fail(row_line_, "the row does not end in a line feed (a cut table?)");
    if (row_.find('\0') != std::string_view::npos) fail(row_line_, "a NUL byte in the row");
    if (format_ == table_format::raw) {
      if (trailer_) fail(row_line_, "a line after the shard trailer (glued tables?)");
      if (row_.starts_with("#shard ")) {
        end_of_raw();
        continue;
      }
      if (row_ == header_) fail(row_line_, "a second header (glued tables?)");
      raw_digest_ = fnv1a(row_, raw_digest_);
    } else if (format_ == table_format::csv) {
      read_csv(row);
    } else {
      read_jsonl(row);
    }
    ++rows_;
    return true;
  }
}

// At the trailer (row_ holds it) or at the end: the trailer, when there is one, counts the rows
// above it and their digest, so that a cut or glued part is found.
void table_reader::end_of_raw() {
  if (trailer_ || !row_.starts_with("#shard ")) return;
  std::string_view text = row_.substr(7, row_.size() - 8);
  const std::size_t lines_at = text.rfind(" lines=");
  const std::size_t digest_at = text.rfind(" digest=");
  std::size_t lines = 0;
  std::uint64_t digest = 0;
  bool ok = lines_at != std::string_view::npos && digest_at != std::string_view::npos &&
            lines_at < digest_at && text.size() - digest_at == 8 + 16;
  if (ok) {
    const std::string_view count = text.substr(lines_at + 7, digest_at - lines_at - 7);
    ok = !count.empty() && count.size() < 19 &&
         count.find_first_not_of("0123456789") == std::string_view::npos;
    for (const char c : count) lines = lines * 10 + static_cast<std::size_t>(c - '0');
    for (const char c : text.substr(digest_at + 8)) {
      const std::size_t digit = hex_digits.find(c);
      ok = ok && digit != std::string_view::npos;
      digest = digest * 16 + (ok ? digit : 0);
    }
  }
  if (!ok) fail(row_line_, "a malformed shard trailer");
  if (lines != rows_) {
    fail(row_line_, "the shard trailer counts " + std::to_string(lines) + " rows, the table has " +
                        std::to_string(rows_) + " (a cut or glued table?)");
  }
  if (digest != raw_digest_) {
    fail(row_line_, "the rows are not those the shard trailer was written for (a changed table?)");
  }
  trailer_ = std::string(text.substr(0, lines_at));
  sharded_ = true;
}

void table_reader::read_csv(table_row& row) {
  const std::string_view record = row_.substr(0, row_.size() - 1);
  if (const auto error = split_csv_record(record, fields_, columns_)) fail(row_line_, *error);
  if (fields_.size() != columns_) {
    fail(row_line_,
         std::to_string(fields_.size()) + " fields, the header has " + std::to_string(columns_));
  }
  const auto optional = [&](std::optional<std::string>& out, std::size_t column) {
    if (fields_[column].empty()) {
      out.reset();
    } else {
      out = fields_[column];
    }
  };
  if (fields_[0].empty()) fail(row_line_, "an empty path");
  row.path = fields_[0];
  optional(row.tool, 1);
  optional(row.model, 2);
  optional(row.examination, 3);
  optional(row.run, 4);
  optional(row.cores, 5);
  optional(row.time_flag, 6);
  optional(row.memory_flag, 7);
  row.verdict = fields_[8];
  if (!is_verdict(row.verdict)) fail(row_line_, "'" + row.verdict + "' is not a verdict");
  // answers: "COUNT TYPE:VALUE ...", the names (when the table has them) one blank apart.
  std::size_t answers = 0;
  const std::string_view result = fields_[9];
  const std::string_view names = has_answer_names_ ? std::string_view(fields_[12]) : "";
  std::size_t name_at = 0;
  std::size_t names_given = 0;
  if (!result.empty()) {
    std::size_t at = result.find(' ');
    while (at != std::string_view::npos) {
      const std::size_t end = std::min(result.find(' ', at + 1), result.size());
      const std::string_view word = result.substr(at + 1, end - at - 1);
      if (row.answers.size() <= answers) row.answers.emplace_back();
      named_value& answer = row.answers[answers++];
      answer.value.assign(word.substr(std::min(word.find(':') + 1, word.size())));
      answer.name.clear();
      if (name_at <= names.size() && !names.empty()) {
        const std::size_t name_end = std::min(names.find(' ', name_at), names.size());
        answer.name.assign(names.substr(name_at, name_end - name_at));
        name_at = name_end + 1;
        ++names_given;
      }
      at = end < result.size() ? end : std::string_view::npos;
    }
  }
  row.answers.resize(answers);
  if (!names.empty() && (names_given != answers || name_at <= names.size())) {
    fail(row_line_, "answer_names does not name each answer once");
  }
  std::size_t techniques = 0;
  for (std::size_t at = 0; at < fields_[10].size();) {
    const std::size_t end = std::min(fields_[10].find(' ', at), fields_[10].size());
    if (row.techniques.size() <= techniques) row.techniques.emplace_back();
    row.techniques[techniques++].assign(fields_[10], at, end - at);
    at = end + 1;
  }
  row.techniques.resize(techniques);
  optional(row.report, 11);
  if (sharded_) {
    optional(row.shard, columns_ - 1);
    if (!row.shard) fail(row_line_, "an empty shard cell");
  } else {
    row.shard.reset();
  }
}

void table_reader::read_jsonl(table_row& row) {
  const std::string_view text = row_.substr(0, row_.size() - 1);
  std::size_t i = 0;
  const auto malformed = [&](std::string_view what) {
    fail(row_line_, "not a JSON object of a table row: " + std::string(what) + " at byte " +
                        std::to_string(i + 1));
  };
  const auto expect = [&](char c) {
    skip_blanks(text, i);
    if (i >= text.size() || text[i] != c) malformed(std::string("'") + c + "' expected");
    ++i;
  };
  const auto string_into = [&](std::string& out) {
    skip_blanks(text, i);
    if (!read_json_string(text, i, out)) malformed("a string expected");
  };
  // null, or a string ("" counts as nothing, as an empty csv cell does).
  const auto optional_into = [&](std::optional<std::string>& out) {
    skip_blanks(text, i);
    if (text.substr(i).starts_with("null")) {
      i += 4;
      out.reset();
      return;
    }
    if (!out) out.emplace();
    string_into(*out);
    if (out->empty()) out.reset();
  };
  // null, or an array whose elements `element` reads; `element(k)` reads element k.
  const auto array_of = [&](const auto& element) {
    skip_blanks(text, i);
    std::size_t count = 0;
    if (text.substr(i).starts_with("null")) {
      i += 4;
      return count;
    }
    expect('[');
    skip_blanks(text, i);
    if (i < text.size() && text[i] == ']') {
      ++i;
      return count;
    }
    for (;;) {
      element(count++);
      skip_blanks(text, i);
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      expect(']');
      return count;
    }
  };

  static constexpr std::array<std::string_view, 13> members = {
      "path",        "tool",    "model",   "examination", "run",    "cores", "time_flag",
      "memory_flag", "verdict", "answers", "techniques",  "report", "shard"};
  std::array<bool, members.size()> seen{};
  std::string key;
  std::string scratch;
  expect('{');
  for (bool first = true;; first = false) {
    skip_blanks(text, i);
    if (i < text.size() && text[i] == '}') {
      if (first) malformed("an empty object");
      ++i;
      break;
    }
    if (!first) expect(',');
    string_into(key);
    expect(':');
    const auto known = std::find(members.begin(), members.end(), key);
    if (known == members.end()) fail(row_line_, "an unknown member \"" + key + "\"");
    const auto member = static_cast<std::size_t>(known - members.begin());
    if (seen[member]) fail(row_line_, "the member \"" + key + "\" twice");
    seen[member] = true;
    switch (member) {
      case 0:
        string_into(row.path);
        break;
      case 1:
        optional_into(row.tool);
        break;
      case 2:
        optional_into(row.model);
        break;
      case 3:
        optional_into(row.examination);
        break;
      case 4:
        optional_into(row.run);
        break;
      case 5:
        optional_into(row.cores);
        break;
      case 6:
        optional_into(row.time_flag);
        break;
      case 7:
        optional_into(row.memory_flag);
        break;
      case 8:
        string_into(row.verdict);
        break;
      case 9:
        row.answers.resize(array_of([&](std::size_t k) {
          if (row.answers.size() <= k) row.answers.emplace_back();
          named_value& answer = row.answers[k];
          bool name = false;
          bool value = false;
          expect('{');
          for (int n = 0; n < 2; ++n) {
            if (n == 1) expect(',');
            string_into(scratch);
            expect(':');
            if (scratch == "name" && !name) {
              string_into(answer.name);
              name = true;
            } else if (scratch == "value" && !value) {
              string_into(answer.value);
              value = true;
            } else {
              malformed("an answer is {\"name\": ..., \"value\": ...}");
            }
          }
          expect('}');
        }));
        break;
      case 10:
        row.techniques.resize(array_of([&](std::size_t k) {
          if (row.techniques.size() <= k) row.techniques.emplace_back();
          string_into(row.techniques[k]);
        }));
        break;
      case 11:
        optional_into(row.report);
        break;
      default:
        optional_into(row.shard);
        if (!row.shard) fail(row_line_, "an empty shard member");
        break;
    }
  }
  skip_blanks(text, i);
  if (i != text.size()) malformed("the end of the line expected");
  for (std::size_t member = 0; member + 1 < members.size(); ++member) {
    if (!seen[member]) fail(row_line_, "no member \"" + std::string(members[member]) + "\"");
  }
  if (!seen.back()) row.shard.reset();
  sharded_ = seen.back();
  if (row.path.empty()) fail(row_line_, "an empty path");
  if (!is_verdict(row.verdict)) fail(row_line_, "'" + row.verdict + "' is not a verdict");
}

}  // namespace sift_runlog::table
