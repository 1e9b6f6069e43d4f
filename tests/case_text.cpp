#include "case_text.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <stdexcept>

namespace sift_runlog::testing_support {

namespace {

std::string expand(std::string_view& in, bool nested);

// The number at the front of `in`, taken off; false when there is none.
bool take_number(std::string_view& in, std::size_t& value) {
  const auto [end, error] = std::from_chars(in.data(), in.data() + in.size(), value);
  if (error != std::errc()) return false;
  in.remove_prefix(static_cast<std::size_t>(end - in.data()));
  return true;
}

// {N*text} or {A..B:text}, after the opening brace, added to `out`; false, with `in` as it was,
// for any other brace.
bool expand_braces(std::string_view& in, std::string& out) {
  std::string_view rest = in;
  std::size_t first = 0;
  std::size_t last = 0;
  if (!take_number(rest, first)) return false;
  if (rest.starts_with('*')) {
    rest.remove_prefix(1);
    std::string block = expand(rest, true);
    const std::size_t size = block.size() * first;
    while (block.size() < size) block.append(block, 0, std::min(block.size(), size - block.size()));
    out.append(block, 0, size);
  } else if (rest.starts_with("..")) {
    rest.remove_prefix(2);
    if (!take_number(rest, last) || !rest.starts_with(':')) return false;
    rest.remove_prefix(1);
    const std::string text = expand(rest, true);
    for (std::size_t number = first; number <= last; ++number) {
      for (const char c : text) out += c == '%' ? std::to_string(number) : std::string(1, c);
    }
  } else {
    return false;
  }
  in = rest;
  return true;
}

// The bytes `in` stands for, up to its end or, when nested, the closing brace.
std::string expand(std::string_view& in, bool nested) {
  std::string out;
  while (!in.empty()) {
    const char c = in.front();
    in.remove_prefix(1);
    if (c == '}' && nested) return out;
    if (c == '{' && expand_braces(in, out)) continue;
    if (c != '\\' || in.empty()) {
      out += c;
    } else if (in.front() == 'x') {
      out += static_cast<char>(std::stoi(std::string(in.substr(1, 2)), nullptr, 16));
      in.remove_prefix(3);
    } else {
      const std::size_t at = std::string_view("nrtf0s").find(in.front());
      out += at == std::string_view::npos ? in.front() : "\n\r\t\f\0 "[at];
      in.remove_prefix(1);
    }
  }
  if (nested) throw std::invalid_argument("a { without its }");
  return out;
}

}  // namespace

std::string expanded(std::string_view field) { return expand(field, false); }

std::vector<std::string_view> case_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t i = 0, begin = 0; i <= line.size(); ++i) {
    if (i < line.size() && line[i] == '\\') {
      ++i;
    } else if (i == line.size() || line[i] == '|') {
      std::string_view field = line.substr(begin, i - begin);
      field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
      field.remove_suffix(field.size() - std::min(field.find_last_not_of(' ') + 1, field.size()));
      fields.push_back(field);
      begin = i + 1;
    }
  }
  return fields;
}

std::vector<case_line> read_case_lines(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file);
  std::vector<case_line> lines;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && !line.starts_with('#')) lines.push_back({number, line});
  }
  if (lines.empty()) throw std::runtime_error("no cases in " + file);
  return lines;
}

std::string case_test_name(int line, std::string_view name) {
  std::string test = "line_" + std::to_string(line) + "_";
  for (const char c : name) test += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  return test;
}

}  // namespace sift_runlog::testing_support
