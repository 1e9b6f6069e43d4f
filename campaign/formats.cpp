#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/formats.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_campaign/raw_codec.hpp>

namespace sift_runlog::campaign {

std::optional<table_format> parse_format(std::string_view name) {
  if (name == "raw") return table_format::raw;
  if (name == "csv") return table_format::csv;
  if (name == "jsonl") return table_format::jsonl;
  return std::nullopt;
}

std::string_view format_name(table_format format) {
  switch (format) {
    case table_format::raw:
      return "raw";
    case table_format::csv:
      return "csv";
    case table_format::jsonl:
      break;
  }
  return "jsonl";
}

std::string table_header(table_format format, bool sharded) {
  switch (format) {
    case table_format::raw:
      return std::string(header_line);
    case table_format::csv:
      return csv_header(sharded);
    case table_format::jsonl:
      break;
  }
  return {};
}

void append_row(table_format format, std::string& out, const row& r) {
  switch (format) {
    case table_format::raw:
      append_raw_row(out, r);
      return;
    case table_format::csv:
      append_csv_row(out, r);
      return;
    case table_format::jsonl:
      append_jsonl_row(out, r);
      return;
  }
}

}  // namespace sift_runlog::campaign
