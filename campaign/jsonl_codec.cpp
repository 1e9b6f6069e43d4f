#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_campaign/utf8.hpp>

namespace sift_runlog::campaign {

namespace {

// The four hexadecimal digits at text[i], either case; nothing when they are not.
std::optional<unsigned> hex4(std::string_view text, std::size_t i) {
  constexpr std::string_view digits = "0123456789abcdef";
  if (i + 4 > text.size()) return std::nullopt;
  unsigned code = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::size_t digit = digits.find(static_cast<char>(text[i + k] | 0x20));
    if (digit == std::string_view::npos) return std::nullopt;
    code = code * 16 + static_cast<unsigned>(digit);
  }
  return code;
}

bool is_high_surrogate(unsigned code) { return code >= 0xd800 && code <= 0xdbff; }
bool is_low_surrogate(unsigned code) { return code >= 0xdc00 && code <= 0xdfff; }

// The code of the \u escape whose "u" is at text[i - 1], and of its low half when it begins a
// surrogate pair: the bytes it stands for are appended, `i` is left after it.
void read_unicode_escape(std::string_view text, std::size_t& i, std::string& bytes) {
  const std::optional<unsigned> code = hex4(text, i);
  if (!code) throw failure("a \\u escape without four hexadecimal digits");
  i += 4;
  if (*code >= 0xdc80 && *code <= 0xdcff) {
    bytes += static_cast<char>(*code & 0xff);  // a byte that was no part of valid UTF-8
    return;
  }
  if (is_high_surrogate(*code) && text.substr(i, 2) == "\\u") {
    const std::optional<unsigned> low = hex4(text, i + 2);
    if (low && is_low_surrogate(*low)) {
      append_utf8(bytes, 0x10000 + ((*code - 0xd800) << 10) + (*low - 0xdc00));
      i += 6;
      return;
    }
  }
  if (is_high_surrogate(*code) || is_low_surrogate(*code)) {
    throw failure("a lone surrogate \\u" + std::string(text.substr(i - 4, 4)) +
                  ", which is no character and no byte of a table");
  }
  append_utf8(bytes, *code);
}

// Reads a row's tokens, throwing failure with the byte where the row went wrong.
class json_cursor {
 public:
  explicit json_cursor(std::string_view text) : text_(text) {}

  [[noreturn]] void malformed(std::string_view what) const {
    throw failure("not a JSON object of a table row: " + std::string(what) + " at byte " +
                  std::to_string(i_ + 1));
  }
  bool take(char c) {
    while (i_ < text_.size() && (text_[i_] == ' ' || text_[i_] == '\t' || text_[i_] == '\r')) ++i_;
    if (i_ >= text_.size() || text_[i_] != c) return false;
    ++i_;
    return true;
  }
  void expect(char c) {
    if (!take(c)) malformed(std::string("'") + c + "' expected");
  }
  bool take_null() {
    take(' ');  // the blanks before it
    if (text_.substr(i_, 4) != "null") return false;
    i_ += 4;
    return true;
  }
  void string(std::string& out) {
    take(' ');
    if (i_ >= text_.size() || text_[i_] != '"') malformed("a string expected");
    try {
      read_json_string(text_, i_, out);
    } catch (const failure& e) {
      malformed(e.what());
    }
  }
  // null, or a string read into `out`, whose storage is reused.
  void optional_string(std::optional<std::string>& out) {
    if (take_null()) {
      out.reset();
      return;
    }
    if (!out) out.emplace();
    string(*out);
  }
  // Reads an array, each element by `element(k)`; false for null.
  template <typename Element>
  bool array(Element element) {
    if (take_null()) return false;
    expect('[');
    if (take(']')) return true;
    for (std::size_t k = 0;; ++k) {
      element(k);
      if (take(']')) return true;
      expect(',');
    }
  }
  [[nodiscard]] bool at_end() {
    take(' ');
    return i_ == text_.size();
  }

 private:
  std::string_view text_;
  std::size_t i_ = 0;
};

// The members of a row, in the order they are written.
enum member : std::size_t {
  path,
  tool,
  model,
  examination,
  run,
  cores,
  time_flag,
  memory_flag,
  verdict_member,
  answers,
  techniques,
  report,
  shard_member,
  member_count
};
constexpr std::array<std::string_view, member_count> member_names = {
    "path",        "tool",    "model",   "examination", "run",    "cores", "time_flag",
    "memory_flag", "verdict", "answers", "techniques",  "report", "shard"};

void append_member(std::string& out, member m) {
  if (m != path) out += ',';
  ((out += '"') += member_names[m]) += "\":";
}

void append_optional(std::string& out, member m, const std::optional<std::string>& text) {
  append_member(out, m);
  if (text) {
    append_json_string(out, *text);
  } else {
    out += "null";
  }
}

void read_answer(json_cursor& in, answer& out) {
  bool name = false;
  bool value = false;
  std::string key;
  in.expect('{');
  for (int n = 0; n < 2; ++n) {
    if (n == 1) in.expect(',');
    in.string(key);
    in.expect(':');
    if (key == "name" && !name) {
      in.string(out.name);
      name = true;
    } else if (key == "value" && !value) {
      std::string text;
      in.string(text);
      out.value = text == "?" ? std::nullopt : std::optional<std::string>(std::move(text));
      value = true;
    } else {
      in.malformed("an answer is {\"name\": ..., \"value\": ...}");
    }
  }
  in.expect('}');
}

// What a row's members say beyond its fields, checked once all are read.
struct read_state {
  std::optional<std::string> verdict;
  std::optional<std::string> report;
  bool answers_listed = false;
  bool techniques_listed = false;
};

void read_member(json_cursor& in, member m, row& out, read_state& state) {
  std::optional<std::string>* const optionals[] = {nullptr,          &out.tool,       &out.model,
                                                   &out.examination, &out.run,        &out.cores,
                                                   &out.time_flag,   &out.memory_flag};
  switch (m) {
    case path:
      in.string(out.path);
      return;
    case verdict_member:
      state.verdict.emplace();
      in.string(*state.verdict);
      return;
    case answers: {
      std::size_t count = 0;
      state.answers_listed = in.array([&](std::size_t k) {
        if (out.answers.size() <= k) out.answers.emplace_back();
        read_answer(in, out.answers[k]);
        count = k + 1;
      });
      out.answers.resize(count);
      return;
    }
    case techniques: {
      std::size_t count = 0;
      state.techniques_listed = in.array([&](std::size_t k) {
        if (out.techniques.size() <= k) out.techniques.emplace_back();
        in.string(out.techniques[k]);
        count = k + 1;
      });
      out.techniques.resize(count);
      return;
    }
    case report:
      in.optional_string(state.report);
      return;
    case shard_member: {
      std::optional<std::string> text;
      in.optional_string(text);
      out.shard = text ? parse_shard_record(*text) : std::nullopt;
      if (!out.shard) throw failure("the shard member holds no part record");
      return;
    }
    default:
      in.optional_string(*optionals[m]);
      return;
  }
}

// Where the plain bytes of a string that start at `from` end: at the first quote, backslash or
// control byte, or at the end of `text`. Eight bytes are looked at a time, most strings being
// long runs of plain bytes.
std::size_t plain_run_end(std::string_view text, std::size_t from) {
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    // The high bit of each byte below `limit`; exact from the lowest byte up to the first one
    // found, which is all that is used.
    const auto below = [](std::uint64_t word, std::uint64_t limit) {
      return (word - ones * limit) & ~word & highs;
    };
    for (; i + 8 <= text.size(); i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + i, 8);
      const std::uint64_t found =
          below(word ^ (ones * '"'), 1) | below(word ^ (ones * '\\'), 1) | below(word, 0x20);
      if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    }
  }
  while (i < text.size() && text[i] != '"' && text[i] != '\\' &&
         static_cast<unsigned char>(text[i]) >= 0x20) {
    ++i;
  }
  return i;
}

}  // namespace

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
    } else if (const std::size_t length = valid_utf8_length(bytes, i); length != 0) {
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

void read_json_string(std::string_view text, std::size_t& position, std::string& bytes) {
  bytes.clear();
  std::size_t i = position + 1;  // after the opening quote
  for (;;) {
    // The plain bytes up to the next quote, backslash or control byte, in one piece.
    const std::size_t end = plain_run_end(text, i);
    if (end == text.size() || static_cast<unsigned char>(text[end]) < 0x20) {
      throw failure("a string cut short or holding a raw control byte");
    }
    bytes.append(text.substr(i, end - i));
    i = end + 1;
    if (text[end] == '"') break;
    constexpr std::string_view simple = "\"\\/bfnrt";
    constexpr std::string_view meaning = "\"\\/\b\f\n\r\t";
    const char escape = i < text.size() ? text[i++] : '\0';
    if (const std::size_t known = simple.find(escape); known != std::string_view::npos) {
      bytes += meaning[known];
    } else if (escape == 'u') {
      read_unicode_escape(text, i, bytes);
    } else {
      throw failure("an unknown escape in a string");
    }
  }
  position = i;
}

void append_jsonl_row(std::string& out, const row& r) {
  out += '{';
  append_member(out, path);
  append_json_string(out, r.path);
  append_optional(out, tool, r.tool);
  append_optional(out, model, r.model);
  append_optional(out, examination, r.examination);
  append_optional(out, run, r.run);
  append_optional(out, cores, r.cores);
  append_optional(out, time_flag, r.time_flag);
  append_optional(out, memory_flag, r.memory_flag);
  append_member(out, verdict_member);
  ((out += '"') += word_of(r.verdict)) += '"';
  const bool listed = r.verdict == verdict::answers;
  append_member(out, answers);
  if (listed) {
    out += '[';
    for (const answer& a : r.answers) {
      out += &a == &r.answers.front() ? "{\"name\":" : ",{\"name\":";
      append_json_string(out, a.name);
      out += ",\"value\":";
      append_json_string(out, a.value ? std::string_view(*a.value) : "?");
      out += '}';
    }
    out += ']';
  } else {
    out += "null";
  }
  append_member(out, techniques);
  if (listed) {
    out += '[';
    for (const std::string& technique : r.techniques) {
      if (&technique != &r.techniques.front()) out += ',';
      append_json_string(out, technique);
    }
    out += ']';
  } else {
    out += "null";
  }
  append_optional(out, report,
                  r.failure ? std::optional<std::string>(report_text(r)) : std::nullopt);
  if (r.shard) {
    append_member(out, shard_member);
    ((out += '"') += format_shard_record(*r.shard)) += '"';
  }
  out += "}\n";
}

void decode_jsonl_row(std::string_view text, row& out) {
  json_cursor in(text);
  std::array<bool, member_count> seen{};
  read_state state;
  std::string key;
  std::size_t expected = 0;
  out.shard.reset();
  in.expect('{');
  if (in.take('}')) in.malformed("an empty object");
  do {
    in.string(key);
    in.expect(':');
    // Rows written by the table have their members in order: the next one is tried first.
    const auto next =
        static_cast<std::ptrdiff_t>(std::min<std::size_t>(expected++, member_count - 1));
    const auto* known = key == member_names[static_cast<std::size_t>(next)]
                            ? member_names.begin() + next
                            : std::find(member_names.begin(), member_names.end(), key);
    if (known == member_names.end()) throw failure("an unknown member \"" + key + "\"");
    const auto m = static_cast<member>(known - member_names.begin());
    if (seen[m]) throw failure("the member \"" + key + "\" twice");
    seen[m] = true;
    read_member(in, m, out, state);
  } while (in.take(','));
  in.expect('}');
  if (!in.at_end()) in.malformed("the end of the line expected");
  for (std::size_t m = 0; m < shard_member; ++m) {
    if (!seen[m]) throw failure("no member \"" + std::string(member_names[m]) + "\"");
  }
  if (out.path.empty()) throw failure("an empty path");
  const std::optional<verdict> v = verdict_named(*state.verdict);
  if (!v) throw failure("'" + *state.verdict + "' is not a verdict");
  out.verdict = *v;
  // Tables of the first version list no answers and no techniques as [] on every verdict.
  const bool answers_verdict = out.verdict == verdict::answers;
  if (answers_verdict && !(state.answers_listed && state.techniques_listed)) {
    throw failure("answers or techniques null on a row whose verdict is answers");
  }
  if (!answers_verdict && !(out.answers.empty() && out.techniques.empty())) {
    throw failure("answers or techniques on a row whose verdict is " + *state.verdict);
  }
  out.boolean_answers = false;

  if (state.report && !can_fail(out.verdict)) {
    throw failure("a report on a row whose verdict is " + *state.verdict);
  }
  out.failure = state.report
                    ? std::optional<row_failure>(failure_of_report(out.verdict, *state.report))
                    : std::nullopt;
  out.line.clear();
}

}  // namespace sift_runlog::campaign
