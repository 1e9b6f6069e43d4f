// Feeds arbitrary bytes to what sift_runlog_table reads that is not a log, and checks what must
// hold whatever the bytes:
//   - a --from list (first byte even): the paths read hold no NUL and are not empty, and the list
//     that path_list_line writes for them reads back as the same paths;
//   - --merge parts (first byte odd): the rest, cut at each "\x1e\x1e" into one to three parts,
//     either is refused with a table_error, or joins into a table that reads back without error
//     and whose every row is the next not yet taken row of one part, without its shard record:
//     nothing made up, nothing reordered within a part, nothing dropped.
// A property that fails aborts, so that the fuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "campaign.hpp"
#include "merge.hpp"
#include "table_reader.hpp"

namespace {

using namespace sift_runlog::table;

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

// The rows of a part as the merge must give them: without the shard record.
std::vector<std::string> rows_without_record(const table_part& part) {
  std::vector<std::string> rows;
  table_reader reader(part.name, part.bytes);
  for (table_row row; reader.next(row);) {
    std::string text(reader.row());
    if (reader.format() == table_format::csv) {
      text.erase(text.size() - 1 - row.shard->size() - 1, row.shard->size() + 1);
    } else if (reader.format() == table_format::jsonl) {
      const std::string member = ",\"shard\":\"" + *row.shard + "\"";
      text.erase(text.size() - 2 - member.size(), member.size());
    }
    rows.push_back(std::move(text));
  }
  return rows;
}

void fuzz_merge(std::string_view bytes) {
  std::vector<table_part> parts;
  for (std::size_t begin = 0; parts.size() < 3;) {
    const std::size_t end = parts.size() < 2 ? bytes.find("\x1e\x1e", begin) : bytes.npos;
    parts.push_back({"part" + std::to_string(parts.size() + 1),
                     bytes.substr(begin, end == bytes.npos ? bytes.npos : end - begin)});
    if (end == bytes.npos) break;
    begin = end + 2;
  }
  std::string merged;
  std::size_t rows = 0;
  try {
    rows = merge_parts(parts, [&merged](std::string_view out) { merged += out; });
  } catch (const table_error&) {
    return;
  }
  // Accepted: every part read whole without error.
  std::vector<std::vector<std::string>> expected;
  std::size_t total = 0;
  for (const table_part& part : parts) {
    expected.push_back(rows_without_record(part));
    total += expected.back().size();
  }
  check(rows == total, "every row of every part is in the merged table");
  table_reader reader("merged", merged);
  std::vector<std::size_t> taken(parts.size());
  std::size_t seen = 0;
  for (table_row row; reader.next(row);) {
    check(!reader.sharded() && !row.shard, "the merged table has no shard record");
    bool found = false;
    for (std::size_t k = 0; k < parts.size() && !found; ++k) {
      found = taken[k] < expected[k].size() && expected[k][taken[k]] == reader.row();
      if (found) ++taken[k];
    }
    check(found, "each merged row is the next row of one part, shard record removed");
    ++seen;
  }
  check(seen == total, "the merged table reads back with all its rows");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) {
    fuzz_path_list(bytes);
  } else {
    fuzz_merge(bytes);
  }
  return 0;
}
