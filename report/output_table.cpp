#include "output_table.hpp"

#include <algorithm>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_runlog/grade.hpp>

namespace sift_runlog::report {
namespace {

// Columns a terminal gives the text: one per character, so UTF-8 continuation bytes add none.
std::size_t display_width(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  }));
}

std::string shown_cell(const cell& value, bool markdown) {
  switch (value.type) {
    case cell::kind::absent:
      return "-";
    case cell::kind::count:
      return std::to_string(value.number);
    case cell::kind::text:
      break;
  }
  return shown_text(value.text, markdown);
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

}  // namespace

std::optional<output_format> parse_output_format(std::string_view name) {
  if (name == "text") return output_format::text;
  if (name == "csv") return output_format::csv;
  if (name == "jsonl") return output_format::jsonl;
  if (name == "markdown") return output_format::markdown;
  return std::nullopt;
}

std::string shown_text(std::string_view value, bool markdown) {
  return markdown ? markdown_text(value) : printable(value);
}

table_writer::table_writer(output_format format, std::vector<std::string> columns, byte_sink sink)
    : format_(format), columns_(std::move(columns)), sink_(std::move(sink)) {
  switch (format_) {
    case output_format::text:
      held_.push_back(columns_);
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

void table_writer::add_row(const std::vector<cell>& row) {
  switch (format_) {
    case output_format::text: {
      std::vector<std::string> shown;
      shown.reserve(row.size());
      for (std::size_t i = 0; i < row.size(); ++i) {
        shown.push_back(shown_cell(row[i], false));
        if (row[i].type == cell::kind::count) right_aligned_[i] = true;
      }
      held_.push_back(std::move(shown));
      return;
    }
    case output_format::csv:
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i != 0) buffer_ += ',';
        if (row[i].type == cell::kind::count) {
          buffer_ += std::to_string(row[i].number);
        } else {
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
        switch (row[i].type) {
          case cell::kind::absent:
            buffer_ += "null";
            break;
          case cell::kind::count:
            buffer_ += std::to_string(row[i].number);
            break;
          case cell::kind::text:
            campaign::append_json_string(buffer_, row[i].text);
            break;
        }
      }
      buffer_ += "}\n";
      break;
    case output_format::markdown:
      buffer_ += '|';
      for (const cell& value : row) ((buffer_ += ' ') += shown_cell(value, true)) += " |";
      buffer_ += '\n';
      break;
  }
  if (buffer_.size() >= flush_size) {
    sink_(buffer_);
    buffer_.clear();
  }
}

void table_writer::finish() {
  if (format_ == output_format::text) {
    std::vector<std::size_t> widths(columns_.size(), 0);
    for (const auto& row : held_) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        widths[i] = std::max(widths[i], display_width(row[i]));
      }
    }
    for (const auto& row : held_) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::string padding(widths[i] - display_width(row[i]), ' ');
        if (i != 0) line += "  ";
        if (right_aligned_[i]) line += padding;
        line += row[i];
        if (!right_aligned_[i] && i + 1 < row.size()) line += padding;
      }
      (buffer_ += line) += '\n';
      if (buffer_.size() >= flush_size) {
        sink_(buffer_);
        buffer_.clear();
      }
    }
    held_.clear();
  }
  if (!buffer_.empty()) sink_(buffer_);
  buffer_.clear();
}

}  // namespace sift_runlog::report
