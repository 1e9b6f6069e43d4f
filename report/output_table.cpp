#include "output_table.hpp"

#include <algorithm>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_runlog/grade.hpp>

#include "natural_order.hpp"

namespace sift_runlog::report {
namespace {

// Columns a terminal gives the text: one per character, so UTF-8 continuation bytes add none.
std::size_t display_width(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  }));
}

std::string shown_cell(const cell& value, output_format format) {
  switch (value.type) {
    case cell::kind::absent:
      if (!value.text.empty()) return value.text;
      return format == output_format::latex ? "--" : "-";
    case cell::kind::count:
      return std::to_string(value.number);
    case cell::kind::text:
      break;
  }
  if (format == output_format::latex) return latex_text(value.text);
  return shown_text(value.text, format == output_format::markdown);
}

bool is_number(const cell& value) {
  return value.type == cell::kind::count || (value.type == cell::kind::text && value.numeric);
}

// As printable() shows it, with "|" and "\\" escaped, so that it stays in its column.
std::string markdown_text(std::string_view value) {
  std::string shown;
  shown.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      append_hex_byte(shown, byte);
    } else if (c == '|' || c == '\\') {
      (shown += '\\') += c;
    } else {
      shown += c;
    }
  }
  return shown;
}

constexpr std::size_t flush_size = 1 << 16;

// Absent first, then names, then the marker of total rows.
int name_rank(const cell& name) {
  if (name.type == cell::kind::absent) return 0;
  return name.type == cell::kind::text && name.text == all_marker ? 2 : 1;
}

bool naturally_before(const std::vector<cell>& a, const std::vector<cell>& b,
                      const std::vector<std::size_t>& keys) {
  for (const std::size_t key : keys) {
    const int rank_a = name_rank(a[key]);
    const int rank_b = name_rank(b[key]);
    if (rank_a != rank_b) return rank_a < rank_b;
    if (rank_a != 1) continue;
    if (const int order = natural_compare(a[key].text, b[key].text); order != 0) return order < 0;
  }
  return false;
}

}  // namespace

std::optional<output_format> parse_output_format(std::string_view name) {
  if (name == "text") return output_format::text;
  if (name == "csv") return output_format::csv;
  if (name == "jsonl") return output_format::jsonl;
  if (name == "markdown") return output_format::markdown;
  if (name == "latex") return output_format::latex;
  return std::nullopt;
}

std::string shown_text(std::string_view value, bool markdown) {
  return markdown ? markdown_text(value) : printable(value);
}

std::string latex_text(std::string_view value) {
  std::string shown;
  shown.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        shown += "\\textbackslash{}";
        break;
      case '&':
      case '%':
      case '$':
      case '#':
      case '_':
      case '{':
      case '}':
        (shown += '\\') += c;
        break;
      case '~':
        shown += "\\textasciitilde{}";
        break;
      case '^':
        shown += "\\textasciicircum{}";
        break;
      case '<':
        shown += "\\textless{}";
        break;
      case '>':
        shown += "\\textgreater{}";
        break;
      case '|':
        shown += "\\textbar{}";
        break;
      case '"':
        shown += "\\texttt{\\char34}";
        break;
      case '-':
        shown += i + 1 < value.size() && value[i + 1] == '-' ? "-{}" : "-";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7f) {
          shown += "\\textbackslash{}x";
          append_hex_byte(shown, byte);
        } else {
          shown += c;
        }
    }
  }
  return shown;
}

table_writer::table_writer(output_format format, std::vector<std::string> columns, byte_sink sink,
                           bool totals)
    : format_(format), columns_(std::move(columns)), sink_(std::move(sink)), totals_(totals) {
  switch (format_) {
    case output_format::text:
      held_.push_back(columns_);
      right_aligned_.assign(columns_.size(), false);
      break;
    case output_format::latex:
      held_.emplace_back();
      for (const std::string& column : columns_) held_.back().push_back(latex_text(column));
      right_aligned_.assign(columns_.size(), false);
      break;
    case output_format::csv:
      for (const std::string& column : columns_) {
        if (&column != &columns_.front()) buffer_ += ',';
        campaign::append_csv_field(buffer_, column);
      }
      buffer_ += '\n';
      break;
    case output_format::jsonl:
      break;
    case output_format::markdown:
      buffer_ += '|';
      for (const std::string& column : columns_)
        ((buffer_ += ' ') += shown_text(column, true)) += " |";
      buffer_ += "\n|";
      for (std::size_t i = 0; i < columns_.size(); ++i) buffer_ += "---|";
      buffer_ += '\n';
      break;
  }
}

void table_writer::order_naturally(std::vector<std::size_t> key_columns) {
  if (format_ == output_format::csv || format_ == output_format::jsonl) return;
  natural_keys_ = std::move(key_columns);
}

void table_writer::add_row(const std::vector<cell>& row) {
  if (natural_keys_.empty()) {
    write_row(row);
  } else {
    unordered_.push_back(row);
  }
}

void table_writer::write_held_rows() {
  std::stable_sort(unordered_.begin(), unordered_.end(),
                   [this](const std::vector<cell>& a, const std::vector<cell>& b) {
                     return naturally_before(a, b, natural_keys_);
                   });
  for (const std::vector<cell>& row : unordered_) write_row(row);
  unordered_.clear();
}

void table_writer::write_row(const std::vector<cell>& row) {
  switch (format_) {
    case output_format::text:
    case output_format::latex: {
      std::vector<std::string> shown;
      shown.reserve(row.size());
      for (std::size_t i = 0; i < row.size(); ++i) {
        shown.push_back(shown_cell(row[i], format_));
        if (is_number(row[i])) right_aligned_[i] = true;
      }
      held_.push_back(std::move(shown));
      return;
    }
    case output_format::csv:
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i != 0) buffer_ += ',';
        if (row[i].type == cell::kind::count) {
          buffer_ += std::to_string(row[i].number);
        } else if (row[i].type == cell::kind::text) {
          campaign::append_csv_field(buffer_, row[i].text);
        }
      }
      buffer_ += '\n';
      break;
    case output_format::jsonl:
      buffer_ += '{';
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i != 0) buffer_ += ',';
        campaign::append_json_string(buffer_, columns_[i]);
        buffer_ += ':';
        if (row[i].type == cell::kind::absent) {
          buffer_ += "null";
        } else if (row[i].type == cell::kind::count) {
          buffer_ += std::to_string(row[i].number);
        } else if (row[i].numeric) {
          buffer_ += row[i].text;
        } else {
          campaign::append_json_string(buffer_, row[i].text);
        }
      }
      buffer_ += "}\n";
      break;
    case output_format::markdown:
      buffer_ += '|';
      for (const cell& value : row) ((buffer_ += ' ') += shown_cell(value, format_)) += " |";
      buffer_ += '\n';
      break;
  }
  if (buffer_.size() >= flush_size) {
    sink_(buffer_);
    buffer_.clear();
  }
}

void table_writer::add_total_row(const std::vector<cell>& row) {
  if (format_ == output_format::csv || format_ == output_format::jsonl) {
    if (!totals_) return;
    std::vector<cell> marked = row;
    for (cell& value : marked) {
      if (value.type == cell::kind::absent) value = cell::of(all_marker);
    }
    write_row(marked);
    return;
  }
  write_held_rows();
  if (format_ == output_format::latex) ruled_.push_back(held_.size());
  write_row(row);
}

void table_writer::finish() {
  write_held_rows();
  const bool latex = format_ == output_format::latex;
  if (latex) {
    buffer_ += "\\begin{tabular}{";
    for (const bool right : right_aligned_) buffer_ += right ? 'r' : 'l';
    buffer_ += "}\n\\toprule\n";
  }
  if (format_ == output_format::text || latex) {
    std::vector<std::size_t> widths(columns_.size(), 0);
    for (const auto& row : held_) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        widths[i] = std::max(widths[i], display_width(row[i]));
      }
    }
    const std::string_view gap = latex ? " & " : "  ";
    for (std::size_t r = 0; r < held_.size(); ++r) {
      const auto& row = held_[r];
      if (latex && std::find(ruled_.begin(), ruled_.end(), r) != ruled_.end()) {
        buffer_ += "\\midrule\n";
      }
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::string padding(widths[i] - display_width(row[i]), ' ');
        if (i != 0) line += gap;
        if (right_aligned_[i]) line += padding;
        line += row[i];
        if (!right_aligned_[i] && (i + 1 < row.size() || latex)) line += padding;
      }
      (buffer_ += line) += latex ? " \\\\\n" : "\n";
      if (latex && r == 0) buffer_ += "\\midrule\n";
      if (buffer_.size() >= flush_size) {
        sink_(buffer_);
        buffer_.clear();
      }
    }
    held_.clear();
  }
  if (latex) buffer_ += "\\bottomrule\n\\end{tabular}\n";
  if (!buffer_.empty()) sink_(buffer_);
}

}  // namespace sift_runlog::report
