#include <sift_campaign/failure.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/table_reader.hpp>

namespace sift_runlog::campaign {

table_reader::table_reader(const std::string& file)
    : table_reader(std::make_unique<record_reader>(file)) {}

table_reader::table_reader(std::string name, std::string_view bytes)
    : table_reader(std::make_unique<record_reader>(std::move(name), bytes)) {}

table_reader::table_reader(std::unique_ptr<record_reader> in) : in_(std::move(in)) {
  read_header();
}

table_reader::~table_reader() = default;

void table_reader::read_header() {
  if (in_->at_end()) {
    throw failure(in_->name() +
                  " is empty: not a table (sift_runlog_table never writes an empty one)");
  }
  if (in_->peek() == '{') return;
  const std::string_view first = *in_->next(true);
  if (first.size() + 1 == header_line.size() && header_line.starts_with(first)) {
    format_ = table_format::raw;
    return;
  }
  format_ = table_format::csv;
  try {
    csv_ = std::make_unique<csv_decoder>(first);
  } catch (const failure& e) {
    in_->fail(1, e.what());
  }
}

bool table_reader::next(row& out) {
  const std::optional<std::string_view> record = in_->next(format_ == table_format::csv);
  if (!record) return false;
  if (format_ == table_format::raw) {
    if (trailer_) in_->fail(in_->line(), "a line after the shard trailer (glued tables?)");
    if (is_raw_trailer(*record)) {
      end_of_raw(*record);
      return next(out);
    }
    if (record->size() + 1 == header_line.size() && header_line.starts_with(*record)) {
      in_->fail(in_->line(), "a second header (glued tables?)");
    }
    out = row{};
    out.line.assign(*record) += '\n';
    counted_.count(out.line);
  } else {
    try {
      if (csv_) {
        csv_->decode(*record, out);
      } else {
        decode_jsonl_row(*record, out);
      }
    } catch (const failure& e) {
      in_->fail(in_->line(), e.what());
    }
  }
  ++rows_;
  return true;
}

// The trailer counts the rows above it and their digest, so that a cut or glued part is found.
void table_reader::end_of_raw(std::string_view trailer_line) {
  raw_trailer trailer;
  try {
    trailer = parse_raw_trailer(trailer_line);
  } catch (const failure& e) {
    in_->fail(in_->line(), e.what());
  }
  if (trailer.lines != counted_.lines) {
    in_->fail(in_->line(), "the shard trailer counts " + counted(trailer.lines, "row") +
                               ", the table has " + std::to_string(counted_.lines) +
                               " (a cut or glued table?)");
  }
  if (trailer.digest != counted_.digest) {
    in_->fail(in_->line(),
              "the rows are not those the shard trailer was written for (a changed table?)");
  }
  trailer_ = trailer;
}

}  // namespace sift_runlog::campaign
