// Feeds arbitrary bytes to what sift_runlog_table and sift_runlog_report read or write that is not
// a log, and checks what must hold whatever the bytes. The first byte chooses:
//   0  a --from list: the paths read hold no NUL and are not empty, and the list that
//      path_list_line writes for them reads back as the same paths;
//   1  --merge parts (the rest cut at each "\x1e\x1e" into one to three parts): either refused
//      with a failure, or joined into a table whose every row is the next row of one part,
//      without its shard record: nothing made up, nothing reordered within a part, nothing lost;
//   2  a row made from the bytes: each codec reads back what it wrote (jsonl does not keep
//      whether answers were BOOL or NUM);
//   3  a campaign of such rows, cut into shard parts in one format: the parts merge back into
//      the table of the whole campaign, byte for byte.
// A property that fails aborts, so that the fuzzer keeps the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/formats.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_campaign/raw_codec.hpp>
#include <sift_campaign/table_reader.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "campaign.hpp"
#include "merge.hpp"

namespace {

using namespace sift_runlog::table;
using namespace sift_runlog::campaign;

void check(bool holds, const char* property) {
  if (!holds) {
    std::fprintf(stderr, "property failed: %s\n", property);
    std::abort();
  }
}

void fuzz_path_list(std::string_view bytes) {
  std::istringstream in{std::string(bytes)};
  std::vector<std::string> paths;
  try {
    paths = read_path_list(in);
  } catch (const std::runtime_error&) {
    return;
  }
  std::string list;
  for (const std::string& path : paths) {
    check(!path.empty() && path.find('\0') == std::string::npos, "a path read is a path");
    list += path_list_line(path);
  }
  std::istringstream again(list);
  check(read_path_list(again) == paths, "a written list reads back as the same paths");
}

std::vector<table_part> parts_of(std::string_view bytes) {
  std::vector<table_part> parts;
  for (std::size_t begin = 0; parts.size() < 3;) {
    const std::size_t end = parts.size() < 2 ? bytes.find("\x1e\x1e", begin) : bytes.npos;
    parts.push_back({"part" + std::to_string(parts.size() + 1),
                     bytes.substr(begin, end == bytes.npos ? bytes.npos : end - begin)});
    if (end == bytes.npos) break;
    begin = end + 2;
  }
  return parts;
}

// The rows of a table, read back as values.
std::vector<row> rows_of(const std::string& name, std::string_view bytes) {
  std::vector<row> rows;
  table_reader reader(name, bytes);
  for (row r; reader.next(r);) rows.push_back(r);
  return rows;
}

void fuzz_merge(std::string_view bytes) {
  const std::vector<table_part> parts = parts_of(bytes);
  std::string merged;
  std::size_t rows = 0;
  try {
    rows = merge_parts(parts, [&merged](std::string_view out) { merged += out; });
  } catch (const failure&) {
    return;
  }
  std::vector<std::vector<row>> expected;
  std::size_t total = 0;
  for (const table_part& part : parts) {
    expected.push_back(rows_of(part.name, *part.bytes));
    for (row& r : expected.back()) r.shard.reset();
    total += expected.back().size();
  }
  check(rows == total, "every row of every part is in the merged table");
  std::vector<std::size_t> taken(parts.size());
  const std::vector<row> joined = rows_of("merged", merged);
  for (const row& r : joined) {
    bool found = false;
    for (std::size_t k = 0; k < parts.size() && !found; ++k) {
      found = taken[k] < expected[k].size() && expected[k][taken[k]] == r;
      if (found) ++taken[k];
    }
    check(found, "each merged row is the next row of one part, shard record removed");
  }
  check(joined.size() == total, "the merged table reads back with all its rows");
}

// Hands out the input's bytes as the parts of rows.
class source {
 public:
  explicit source(std::string_view bytes) : bytes_(bytes) {}
  [[nodiscard]] bool empty() const { return bytes_.empty(); }
  unsigned char byte() {
    if (bytes_.empty()) return 0;
    const auto b = static_cast<unsigned char>(bytes_.front());
    bytes_.remove_prefix(1);
    return b;
  }
  // Up to 15 bytes of any value, without the bytes of `excluded`.
  std::string text(std::string_view excluded = {}) {
    std::string out;
    for (unsigned length = byte() % 16; length > 0 && !bytes_.empty(); --length) {
      const char c = static_cast<char>(byte());
      if (excluded.find(c) == std::string_view::npos) out += c;
    }
    return out;
  }
  std::optional<std::string> optional_text() {
    if (byte() % 3 == 0) return std::nullopt;
    return text();
  }

 private:
  std::string_view bytes_;
};

// A row as the table writes them: every field from the input, within what a row may hold.
row make_row(source& in, std::string path) {
  row r;
  r.path = std::move(path);
  for (auto* field :
       {&r.tool, &r.model, &r.examination, &r.run, &r.cores, &r.time_flag, &r.memory_flag}) {
    *field = in.optional_text();
  }
  r.verdict = static_cast<verdict>(in.byte() % verdict_count);
  if (r.verdict == verdict::answers) {
    for (unsigned count = in.byte() % 5; count > 0; --count) {
      answer& a = r.answers.emplace_back();
      a.name = in.text(" ");
      if (a.name.empty()) a.name = "n";
      if (std::optional<std::string> value = in.optional_text(); value && !value->empty()) {
        value->erase(std::remove(value->begin(), value->end(), ' '), value->end());
        if (!value->empty() && *value != "?") a.value = std::move(value);
      }
    }
    r.boolean_answers = !r.answers.empty() && in.byte() % 2 == 0;
    for (unsigned count = in.byte() % 4; count > 0; --count) {
      std::string technique = in.text(" ");
      if (!technique.empty()) r.techniques.push_back(std::move(technique));
    }
  }
  if (r.verdict == verdict::error || r.verdict == verdict::problem_with_file ||
      r.verdict == verdict::failed) {
    if (in.byte() % 4 != 0) r.failure = row_failure{in.byte(), in.text()};
    // A failed grade without a line has a reason that does not read as one's place.
    if (r.failure && r.failure->line == 0 && r.failure->reason.starts_with("line ")) {
      r.failure->reason.insert(0, "x");
    }
  }
  return r;
}

void fuzz_row(std::string_view bytes) {
  source in(bytes);
  std::string path = in.text();
  if (path.empty()) path = "p";
  const row r = make_row(in, path);
  std::string csv;
  append_csv_row(csv, r);
  std::string jsonl;
  append_jsonl_row(jsonl, r);
  row read;
  const std::string csv_table_text = csv_header(false) + csv;
  table_reader csv_table("csv", csv_table_text);
  check(csv_table.next(read) && read == r, "a csv row reads back as itself");
  table_reader jsonl_table("jsonl", jsonl);
  row untyped = r;
  untyped.boolean_answers = false;
  check(jsonl_table.next(read) && read == untyped, "a jsonl row reads back as itself");
}

void fuzz_campaign(std::string_view bytes) {
  source in(bytes);
  const auto format = static_cast<table_format>(in.byte() % 3);
  const std::size_t parts = 1 + in.byte() % 4;
  std::vector<row> rows;
  for (std::size_t i = 0; !in.empty() || rows.size() < parts; ++i) {
    row r = make_row(in, "c/" + std::to_string(1000 + i));
    // A raw row is one line of the program's, which is no header and no trailer.
    std::string line = r.path + in.text("\n") + "\n";
    if (!line.starts_with("#shard ") && line != sift_runlog::header_line) r.line = line;
    rows.push_back(std::move(r));
  }
  std::string whole = table_header(format, false);
  std::vector<std::string_view> paths;
  for (const row& r : rows) {
    append_row(format, whole, r);
    paths.push_back(r.path);
  }
  std::vector<std::string> texts;
  for (std::size_t part = 1; part <= parts; ++part) {
    const shard_record record{part, parts, rows.size(), list_digest(paths), true};
    std::string& text = texts.emplace_back(table_header(format, true));
    raw_trailer trailer{record};
    const auto [begin, end] = shard_range(rows.size(), {part, parts});
    for (std::size_t i = begin; i < end; ++i) {
      row r = rows[i];
      r.shard = record;
      append_row(format, text, r);
      trailer.count(r.line);
    }
    if (format == table_format::raw) text += raw_trailer_line(trailer);
  }
  std::vector<table_part> given;
  for (std::size_t part = parts; part >= 1; --part) {
    given.push_back({"part" + std::to_string(part), texts[part - 1]});
  }
  std::string merged;
  merge_parts(given, [&merged](std::string_view out) { merged += out; });
  check(merged == whole, "the parts of a campaign merge into its whole table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      fuzz_path_list(bytes);
      break;
    case 1:
      fuzz_merge(bytes);
      break;
    case 2:
      fuzz_row(bytes);
      break;
    default:
      fuzz_campaign(bytes);
      break;
  }
  return 0;
}
