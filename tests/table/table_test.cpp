// sift_runlog_table: the encoders and path lists through the library; the built command on a
// generated campaign (rows against sift_runlog's, -j1 against -j8, shards merged, --failed fed to
// --from), interrupted mid-run, on a full file system, and on logs that cannot be graded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/jsonl_codec.hpp>
#include <sift_campaign/output_file.hpp>
#include <sift_campaign/table_reader.hpp>
#include <thread>

#include "campaign.hpp"
#include "grading.hpp"
#include "log_generator.hpp"
#include "program_runner.hpp"

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace sift_runlog::table;
using namespace sift_runlog::campaign;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

using sift_runlog::testing_support::program_result;
using sift_runlog::testing_support::run_program;
using scratch = sift_runlog::testing_support::scratch_directory;

program_result table(const std::vector<std::string>& arguments, const fs::path& dir) {
  return run_program(SIFT_RUNLOG_TABLE, arguments, dir);
}

// 36 generated logs, a few KB each, of every kind and answer type, in three folders, and logs
// for the other verdicts and failures, names with a comma, a quote and a line feed included.
// Returns the paths, sorted.
std::vector<std::string> make_campaign(const fs::path& dir) {
  using namespace sift_runlog::bench;
  const log_kind kinds[] = {log_kind::realistic, log_kind::state_space, log_kind::early_stop,
                            log_kind::dense};
  std::vector<std::string> paths;
  for (std::uint64_t i = 0; i < 36; ++i) {
    const log_shape shape{kinds[i % 4],
                          2048 + 512 * i,
                          i,
                          i % 2 ? answer_kind::numeric : answer_kind::boolean,
                          static_cast<int>(1 + i % 16),
                          0};
    paths.push_back("camp/d" + std::to_string(i % 3) + "/tool_Model-" + std::to_string(i) +
                    "_Exam_1.log");
    write_file(dir / paths.back(), make_log(shape));
  }
  const std::pair<const char*, const char*> others[] = {
      {"camp/tool_M_DNC_1.log", "# Number of cores : 8\nDO_NOT_COMPETE\n"},
      {"camp/tool_M_DNF_1.log", "RH_START\n"},
      {"camp/tool_M_CC_1.log", "RH_START\nRH_STOP\n"},
      {"camp/tool_M_Error_1.log", "# Number of cores : 4\nSTATE_SPACE TRANSITIONS 5000\n"},
      {"camp/short_name.log", "RH_START\nRH_STOP\n"},
      {"camp/tool_M_Problem_1.log", "RH_START\nFORMULA_NAME A\n"},
      {"camp/new\nline_M_\"E,x\"_1.log", "RH_START\nFORMULA_NAME A\n"},
      {"camp/a,b\"c_M_E_1.log", "FORMULA_NAME A\nFORMULA_NAME A\nBOOL_VECTOR\nFORMULA A TRUE\n"}};
  for (const auto& [path, log] : others) {
    paths.emplace_back(path);
    write_file(dir / path, log);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The rows of a csv table, each as its bytes.
std::vector<std::string> table_rows(const std::string& table_text) {
  table_reader reader("table", table_text);
  std::vector<std::string> rows;
  for (sift_runlog::campaign::row r; reader.next(r);) append_csv_row(rows.emplace_back(), r);
  return rows;
}

TEST(table_encoding, csv_fields_and_json_strings_keep_every_byte) {
  const struct {
    std::string bytes, csv, json;
  } cases[] = {
      {"plain-0.log", "plain-0.log", "\"plain-0.log\""},
      {"a,b", "\"a,b\"", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\"", "\"say \\\"hi\\\"\""},
      {"line\nfeed\r", "\"line\nfeed\r\"", "\"line\\nfeed\\r\""},
      {"tab\t\x01\x1f\x7f\\", "tab\t\x01\x1f\x7f\\", "\"tab\\t\\u0001\\u001f\x7f\\\\\""},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
       "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
      // A lone byte, an overlong slash, a surrogate, beyond U+10FFFF, a cut sequence.
      {"\xff\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82",
       "\xff\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82",
       "\"\\udcff\\udcc0\\udcaf\\udced\\udca0\\udc80\\udcf4\\udc90\\udc80\\udc80\\udce2\\udc82\""},
  };
  for (const auto& c : cases) {
    std::string csv, json;
    append_csv_field(csv, c.bytes);
    append_json_string(json, c.bytes);
    EXPECT_EQ(csv, c.csv);
    EXPECT_EQ(json, c.json);
    std::size_t position = 0;
    std::string decoded;
    read_json_string(json, position, decoded);
    EXPECT_EQ(decoded, c.bytes);
    EXPECT_EQ(position, json.size());
    std::istringstream list(path_list_line(c.bytes) + path_list_line("\"" + c.bytes));
    EXPECT_EQ(read_path_list(list), (std::vector<std::string>{c.bytes, "\"" + c.bytes}));
  }
  for (const auto& [list, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {"good\n\"no end\n",
            "line 2: a quoted path must end in \" and use only \\\", \\\\ and \\n"},
           {std::string("a\n\nb\0c\n", 7), "line 3: a NUL byte in the path"},
           {"a\n\"\"\n", "line 2: an empty path"}}) {
    std::istringstream in(list);
    try {
      (void)read_path_list(in);
      ADD_FAILURE() << list;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), error);
    }
  }
}

// The fields a row reads as (answers as name=value, then techniques, report and shard), or
// the error it stops at.
std::string row_fields(std::string_view table_text) {
  try {
    table_reader reader("t", table_text);
    std::string text;
    for (sift_runlog::campaign::row r; reader.next(r);) {
      const auto shown = [](const std::optional<std::string>& field) {
        return field ? *field : std::string("-");
      };
      text += r.path + r.line + '|';
      for (const auto* field :
           {&r.tool, &r.model, &r.examination, &r.run, &r.cores, &r.time_flag, &r.memory_flag}) {
        text += shown(*field) + (field == &r.memory_flag ? '|' : ',');
      }
      text += std::string(word_of(r.verdict)) + '|';
      for (const answer& a : r.answers) text += a.name + '=' + a.value.value_or("?") + ' ';
      for (const std::string& technique : r.techniques) text += technique + ' ';
      text += '|' + (r.failure ? report_text(r) : "-") + '|' +
              (r.shard ? format_shard_record(*r.shard) : "-") + '\n';
    }
    return text;
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

// Strings of every length to 24 with one byte that ends a plain run at each place, among
// plain bytes that are close to it in value: each comes back whole, and the reader stops
// right after the closing quote; a raw control byte is refused.
TEST(table_encoding, json_strings_come_back_whatever_the_place_of_their_special_bytes) {
  for (const char filler : {'a', '\x80', '\xff', '\x21', '\x5d'}) {
    for (const char special : {'"', '\\', '\n', '\x1f', '\0', '\x01', '\x7f', '\x20'}) {
      for (std::size_t length = 1; length <= 24; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
          std::string bytes(length, filler);
          bytes[at] = special;
          std::string text;
          append_json_string(text, bytes);
          text += ",next";
          std::size_t position = 0;
          std::string back;
          read_json_string(text, position, back);
          ASSERT_EQ(back, bytes) << text;
          ASSERT_EQ(text.substr(position), ",next") << text;
          // Written raw, a control byte is refused wherever it stands.
          if (static_cast<unsigned char>(special) < 0x20) {
            position = 0;
            EXPECT_THROW(read_json_string('"' + bytes + '"', position, back), failure) << at;
          }
        }
      }
    }
  }
}

TEST(table_encoding, the_reader_gives_each_rows_fields_or_names_the_line_and_the_fault) {
  const std::string csv =
      "path,tool,model,examination,run,cores,time_flag,memory_flag,verdict,"
      "answers,techniques,report";
  const std::string row = "a.log,t,m,e,1,4,OK,OK,answers,2 BOOL:TRUE BOOL:?,X Y,";
  const std::string record = "part=1/1 logs=1 list=0000000000000001 mode=long";
  const struct {
    std::string table, fields;
  } cases[] = {
      {csv + ",answer_names\n" + row + ",\"A B,\"\"\"\n",
       "a.log|t,m,e,1,4,OK,OK|answers|A=TRUE B,\"=? X Y |-|-\n"},
      {csv + "\n" + row + "\n\"b\nc\",,,,,\"\",,,failed,,,line 3: x\n",
       "a.log|t,m,e,1,4,OK,OK|answers|=TRUE =? X Y |-|-\nb\nc|-,-,-,-,,-,-|failed||line 3: "
       "x|-\n"},
      {csv + ",shard\n" + row + "," + record + "\r\n",
       "a.log|t,m,e,1,4,OK,OK|answers|=TRUE =? X Y |-|" + record + "\n"},
      {csv + ",shard\n" + row + ",s\n", "t: line 2: the shard column holds no part record: 's'"},
      {csv + ",colour\n",
       "t: line 1: not a table of sift_runlog_table (neither a raw nor a csv header, nor a JSON "
       "line)"},
      {"{\"path\":\"a\",\"answers\":[{\"name\":\"n\",\"colour\":\"b\"}]}\n",
       "t: line 1: not a JSON object of a table row: an answer is {\"name\": ..., \"value\": ...} "
       "at byte 45"},
      {"{\"path\":\"a\\udcff\\u00e9\\u0080\\u0800\\udbff\\udfff\\u0000\\ud800\\udc00\",\"tool\":"
       "null,\"model\":"
       "null,"
       "\"examination\":null,\"run\":\"\",\"cores\":\"NO_CORE\",\"time_flag\":\"DNF\","
       "\"memory_flag\":null,\"verdict\":\"answers\",\"answers\":[{\"value\":\"1\",\"name\":\"n\"}]"
       ","
       "\"techniques\":[],\"report\":null}\n",
       "a\xff\xc3\xa9\xc2\x80\xe0\xa0\x80\xf4\x8f\xbf\xbf\0\xf0\x90\x80\x80|-,-,-,,NO_CORE,DNF,-|"
       "answers|n=1 "
       "|-|-\n"s},
      {"{\"path\":\"\\ud800\"}\n",
       "t: line 1: not a JSON object of a table row: a lone surrogate \\ud800, which is no "
       "character and no byte of a table at byte 9"},
      {"", "t is empty: not a table (sift_runlog_table never writes an empty one)"},
      {csv + ",answer_names\n" + row + ",A\n",
       "t: line 2: answer_names does not name each answer once"},
      {csv + "\n" + row + ",extra\n", "t: line 2: more fields than the header's 12"},
      {csv + "\na,b\n", "t: line 2: 2 fields, the header has 12"},
      {csv + "\n" + row.substr(0, 10) + "\"x\"y" + row.substr(10) + "\n",
       "t: line 2: a byte after the closing quote of field 4"},
      {csv + "\nb.log,,,,,,,,maybe,,,\n", "t: line 2: 'maybe' is not a verdict"},
      // A failure of the system names no line: its report is its reason, as it is.
      {csv + "\nb.log,,,,,,,,failed,,,sift_runlog: x\n",
       "b.log|-,-,-,-,-,-,-|failed||sift_runlog: x|-\n"},
      {csv + "\nb.log,,,,,,,,ERROR,,,oops\n",
       "t: line 2: the report of an ERROR row begins with neither 'line N: ' nor 'no log line: '"},
      {csv + "\nb.log,,,,,,,,CC,1 NUM:2,,\n",
       "t: line 2: answers or techniques on a row whose verdict is CC"},
      {csv + "\nb.log,,,,,,,,answers,2 NUM:1,,\n",
       "t: line 2: the answers are not a count then as many TYPE:VALUE words"},
      {"path,tool\n",
       "t: line 1: not a table of sift_runlog_table (neither a raw nor a csv "
       "header, nor a JSON line)"},
      {"{\"path\":\"a\",\"tool\":null}\n", "t: line 1: no member \"model\""},
      {"{\"path\":\"a\",\"colour\":null}\n", "t: line 1: an unknown member \"colour\""},
      {"{\"path\":\"a\",\"path\":\"b\"}\n", "t: line 1: the member \"path\" twice"},
      // Blanks between the tokens, as other JSON writers put them; an answer's value twice.
      {"{ \"path\" : \"a\" , \"answers\" : [ { \"name\" : \"n\" , \"value\" : \"1\" } ] }\n",
       "t: line 1: no member \"tool\""},
      {"{\"path\":\"a\",\"answers\":[{\"value\":\"1\",\"value\":\"2\"}]}\n",
       "t: line 1: not a JSON object of a table row: an answer is {\"name\": ..., \"value\": ...} "
       "at byte 45"},
      {"{\"path\":\"a\"} x\n",
       "t: line 1: not a JSON object of a table row: the end of the line "
       "expected at byte 14"},
      {std::string(sift_runlog::header_line) + "a,b\n#shard r lines=1 digest=0\n",
       "t: line 3: a malformed shard trailer"},
      // A NUL byte is a byte like any other: rows carry it.
      {std::string(sift_runlog::header_line) + "a\0b\n"s, "a\0b\n|-,-,-,-,-,-,-|BAD_RUN?||-|-\n"s},
  };
  for (const auto& c : cases) EXPECT_EQ(row_fields(c.table), c.fields) << c.table;

  // From a file, in blocks that end inside rows (quoted line feeds included): as in memory.
  scratch dir;
  std::string big = csv + "\n";
  for (int i = 0; i < 100'000; ++i) big += "\"p\n" + std::to_string(i) + "\",,,,,,,,CC,,,\n";
  write_file(dir.path / "big.csv", big);
  table_reader from_file((dir.path / "big.csv").string());
  table_reader in_memory("big.csv", big);
  sift_runlog::campaign::row file_row, memory_row;
  while (in_memory.next(memory_row)) {
    ASSERT_TRUE(from_file.next(file_row));
    ASSERT_EQ(file_row, memory_row);
    ASSERT_EQ(from_file.line(), in_memory.line());
  }
  EXPECT_FALSE(from_file.next(file_row));
  EXPECT_EQ(from_file.rows(), 100'000u);
}

TEST(table_encoding, shards_cover_every_log_once_in_balanced_runs) {
  for (std::size_t count = 0; count < 30; ++count) {
    for (std::size_t parts = 1; parts < 8; ++parts) {
      std::size_t next = 0;
      for (std::size_t part = 1; part <= parts; ++part) {
        const auto [begin, end] = shard_range(count, {part, parts});
        EXPECT_EQ(begin, next);
        EXPECT_LE(end - begin, count / parts + 1);
        EXPECT_GE(end - begin, count / parts);
        next = end;
      }
      EXPECT_EQ(next, count);
    }
  }
  EXPECT_FALSE(parse_shard("0/3") || parse_shard("4/3") || parse_shard("1/") ||
               parse_shard("1/2x") || parse_shard("1/1000001"));
  EXPECT_TRUE(parse_shard("1000000/1000000"));
}

TEST(table_command, rows_are_the_programs_at_one_and_eight_jobs) {
  scratch dir;
  const std::vector<std::string> paths = make_campaign(dir.path);
  for (const bool long_mode : {true, false}) {
    std::vector<std::string> arguments{"-j1", "camp"};
    if (!long_mode) arguments.emplace_back("--short");
    const program_result one = table(arguments, dir.path);
    arguments[0] = "-j8";
    const program_result eight = table(arguments, dir.path);
    EXPECT_EQ(one.exit_status, 1);
    EXPECT_EQ(eight.output, one.output);
    EXPECT_EQ(eight.report, one.report);
    std::string rows = "#time flag,memory flag,formatted result,techniques\n";
    std::size_t failed = 0;
    for (const std::string& path : paths) {
      std::vector<std::string> single_arguments{path};
      if (long_mode) single_arguments.insert(single_arguments.begin(), "-long");
      const program_result single = run_program(SIFT_RUNLOG, single_arguments, dir.path);
      if (single.exit_status == 0) rows += single.output;
      failed += single.exit_status == 0 ? 0 : 1;
    }
    EXPECT_EQ(one.output, rows) << long_mode;
    EXPECT_EQ(failed, 2u);
    EXPECT_NE(
        one.report.find("camp/new\\x0aline_M_\"E,x\"_1.log: line 2: a FORMULA_NAME line "
                        "after RH_START; sift_runlog: "
                        "SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:242; PROBLEM with the "
                        "location of directives FORMULA_NAME (after RH_START)\n"),
        std::string::npos);
    // short_name.log has too few name parts for -long.
    EXPECT_NE(
        one.report.find("44 logs graded, 2 failed; rows: 37 answers, 1 DNC, " +
                        std::string(long_mode ? "1 CC, 1 DNF, 0 BAD_RUN?, 1 ERROR, 1 Problem"
                                              : "2 CC, 1 DNF, 0 BAD_RUN?, 1 ERROR, 0 Problem")),
        std::string::npos);
  }
}

TEST(table_command, shard_parts_merged_are_the_whole_table) {
  scratch dir;
  make_campaign(dir.path);
  for (const std::string format : {"raw", "csv", "jsonl"}) {
    ASSERT_EQ(table({"--format", format, "-o", "whole", "camp"}, dir.path).exit_status, 1);
    std::vector<std::string> merge{"--merge", "-o", "merged"};
    for (int part = 1; part <= 3; ++part) {
      const std::string name = "part" + std::to_string(part);
      const std::string part_k = std::to_string(part) + "/3";
      EXPECT_NE(
          table({"--format", format, "--shard", part_k, "-o", name, "camp"}, dir.path).exit_status,
          2);
      // Raw parts in their order; csv and jsonl ones in any order, here backwards.
      merge.insert(format == "raw" ? merge.end() : merge.begin() + 3, name);
    }
    EXPECT_EQ(table(merge, dir.path).exit_status, 0) << format;
    EXPECT_EQ(read_file(dir.path / "merged"), read_file(dir.path / "whole")) << format;
  }
}

// Every refusal names the part and the reason, and leaves the old table; a complete set in any
// order is accepted.
TEST(table_command, merge_checks_every_part_whole_before_writing) {
  scratch dir;
  make_campaign(dir.path);
  std::map<std::string, std::string> parts;  // name: bytes
  // Writes the table `name` and keeps its bytes.
  const auto run = [&](const std::string& name, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-q", "-o", name});
    EXPECT_NE(table(arguments, dir.path).exit_status, 2) << name;
    parts[name] = read_file(dir.path / name);
  };
  for (const std::string format : {"raw", "csv", "jsonl"}) {
    for (int k = 1; k <= 3; ++k) {
      const std::string name = "p" + std::to_string(k) + "." + format;
      run(name, {"--format", format, "--shard", std::to_string(k) + "/3", "camp"});
    }
  }
  for (int k = 1; k <= 16; ++k) {
    const std::string name = "q" + std::to_string(k) + ".csv";
    run(name, {"--format", "csv", "--shard", std::to_string(k) + "/16", "camp"});
  }
  run("short2.raw", {"--short", "--shard", "2/3", "camp"});
  run("other2.csv", {"--format", "csv", "--shard", "2/3", "camp/d0", "camp/d1"});
  run("whole.jsonl", {"--format", "jsonl", "camp"});
  const std::string p2raw = parts["p2.raw"];
  const std::string p2csv = parts["p2.csv"];
  const std::string p2jsonl = parts["p2.jsonl"];
  parts["cut.raw"] = p2raw.substr(0, p2raw.size() - 20);
  parts["cut.csv"] = p2csv.substr(0, p2csv.size() - 20);
  parts["short.csv"] = p2csv.substr(0, p2csv.rfind('\n', p2csv.size() - 2) + 1);  // a row less
  parts["cut.jsonl"] = p2jsonl.substr(0, p2jsonl.size() - 20) + "\n";
  // A cut row, then the rows of another part: the rows glued across the cut.
  parts["glued.raw"] =
      parts["p1.raw"].substr(0, parts["p1.raw"].size() / 2) + p2raw.substr(p2raw.find('\n') + 1);
  parts["copy1.raw"] = parts["p1.raw"];
  parts["empty.csv"] = "";
  parts["noise.raw"] = std::string(sift_runlog::header_line) + "\x01\xff,\"\n\x7f";
  parts["noise.csv"] = p2csv.substr(0, p2csv.find('\n') + 1) + "a,\"b\n";
  for (const auto& [name, bytes] : parts) write_file(dir.path / name, bytes);
  fs::create_directory(dir.path / "folder");

  std::vector<std::string> missing{"--merge"};
  for (int k = 16; k >= 1; --k) {
    if (k != 4 && k != 9) missing.push_back("q" + std::to_string(k) + ".csv");
  }
  std::vector<std::string> all = missing;
  all.insert(all.begin() + 3, {"q4.csv", "q9.csv"});
  std::vector<std::string> first_15 = all;
  first_15.erase(std::find(first_15.begin(), first_15.end(), "q16.csv"));
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string says;
  } cases[] = {
      {all, 0, "16 tables merged, 44 rows"},
      {{"--merge", "p3.raw", "p1.raw", "p2.raw"}, 0, "3 tables merged, 42 rows"},
      {missing, 2, "parts 4, 9 of 16 are missing"},
      {first_15, 2, "part 16 of 16 is missing"},
      {{"--shard", "1/45", "camp"}, 2, "--shard 1/45: only 44 logs for 45 parts"},
      {{"--merge", "p1.raw", "p2.raw"}, 2, "part 3 of 3 is missing"},
      {{"--merge", "p1.raw", "cut.raw", "p3.raw"},
       2,
       "cut.raw: line 17: the row does not end in a line feed (a cut table?)"},
      {{"--merge", "p1.csv", "cut.csv", "p3.csv"},
       2,
       "cut.csv: line 16: the row does not end in a line feed (a cut table?)"},
      {{"--merge", "p1.csv", "short.csv", "p3.csv"},
       2,
       "short.csv holds 14 rows, part 2 of 3 holds 15 (a cut table?)"},
      {{"--merge", "p1.jsonl", "cut.jsonl", "p3.jsonl"},
       2,
       "cut.jsonl: line 15: not a JSON object of a table row: a string cut short or holding a raw "
       "control byte at byte 709"},
      {{"--merge", "glued.raw", "p3.raw"},
       2,
       "glued.raw: line 24: the shard trailer counts 15 rows, the table has 22 (a cut or glued "
       "table?)"},
      {{"--merge", "p1.raw", "p2.raw", "p1.raw"}, 2, "p1.raw and p1.raw are the same file"},
      {{"--merge", "p1.raw", "p2.raw", "copy1.raw"},
       2,
       "p1.raw and copy1.raw are both part 1 of 3"},
      {{"--merge", "p1.raw", "short2.raw", "p3.raw"},
       2,
       "short2.raw has --short rows, p1.raw long ones"},
      {{"--merge", "p1.csv", "other2.csv", "p3.csv"},
       2,
       "other2.csv is part 2 of another cut (3 parts of 24 logs, list=8a2ba1e659d25870) than "
       "p1.csv (3 "
       "parts of 44 logs, list=3e634e7558fc2908)"},
      {{"--merge", "p1.csv", "p2.jsonl"}, 2, "p2.jsonl is a jsonl table, p1.csv a csv one"},
      {{"--merge", "whole.jsonl"},
       2,
       "whole.jsonl is not a part of a sharded run (written without --shard)"},
      {{"--merge", "empty.csv", "p1.csv"},
       2,
       "empty.csv is empty: not a table (sift_runlog_table never writes an empty one)"},
      {{"--merge", "folder", "p1.csv"}, 2, "cannot read folder: Is a directory"},
      {{"--merge", "absent.csv"}, 2, "cannot read absent.csv: No such file or directory"},
      {{"--merge", "noise.raw"},
       2,
       "noise.raw: line 3: the row does not end in a line feed (a cut table?)"},
      {{"--merge", "noise.csv"}, 2, "noise.csv: line 2: a quoted field without its closing quote"},
      {{"--merge", "-o", "p1.raw", "p1.raw", "p2.raw", "p3.raw"},
       2,
       "-o p1.raw is p1.raw, a table to merge"},
  };
  for (const auto& c : cases) {
    write_file(dir.path / "merged", "the old table\n");
    std::vector<std::string> arguments = c.arguments;
    if (arguments[1] != "-o") arguments.insert(arguments.begin(), {"-o", "merged"});
    const program_result result = table(arguments, dir.path);
    EXPECT_EQ(result.exit_status, c.status) << c.says;
    EXPECT_EQ(result.report, "sift_runlog_table: " + c.says + "\n");
    if (c.status == 2) {
      EXPECT_EQ(read_file(dir.path / "merged"), "the old table\n") << c.says;
    }
  }
  for (const auto& [name, bytes] : parts) EXPECT_EQ(read_file(dir.path / name), bytes) << name;
}

TEST(table_command, failed_list_fed_back_grades_exactly_the_failed_logs) {
  scratch dir;
  make_campaign(dir.path);
  EXPECT_EQ(table({"--format", "csv", "--failed", "failed.txt", "-o", "all.csv", "camp"}, dir.path)
                .exit_status,
            1);
  EXPECT_EQ(
      table({"--format", "csv", "--from", "failed.txt", "-o", "again.csv"}, dir.path).exit_status,
      1);
  std::vector<std::string> failed_rows;
  for (const std::string& row : table_rows(read_file(dir.path / "all.csv"))) {
    if (row.find(",failed,") != std::string::npos) failed_rows.push_back(row);
  }
  const std::vector<std::string> again = table_rows(read_file(dir.path / "again.csv"));
  EXPECT_EQ(again, failed_rows);
  EXPECT_EQ(again.size(), 2u);
}

TEST(table_command, a_full_file_system_leaves_the_old_table_and_exits_2) {
  scratch dir;
  make_campaign(dir.path);
  const fs::path disk = dir.path / "disk";
  fs::create_directory(disk);
  // A tiny tmpfs, filled up, where mounting is allowed; else a file size limit of 1 KiB.
  const bool mounted = ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0;
  write_file(disk / "table.csv", "the old table\n");
  if (mounted) write_file(disk / "filler", std::string(1 << 20, 'x'));
  const program_result full = run_program(SIFT_RUNLOG_TABLE, {"-o", "disk/table.csv", "camp"},
                                          dir.path, {.file_size_limit = mounted ? 0U : 1024U});
  EXPECT_EQ(full.exit_status, 2);
  EXPECT_NE(full.report.find("cannot write disk/table.csv"), std::string::npos) << full.report;
  EXPECT_EQ(read_file(disk / "table.csv"), "the old table\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(disk), {}), mounted ? 2 : 1);
  if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
}

TEST(table_grading, graders_leave_signals_sent_from_outside_to_the_main_thread) {
  scratch dir;
  write_file(dir.path / "a_M_E_1.log", "RH_START\nRH_STOP\n");
  write_file(dir.path / "b_M_E_1.log", "RH_START\nRH_STOP\n");
  std::vector<found_log> logs;
  for (const char* name : {"a_M_E_1.log", "b_M_E_1.log"}) {
    found_log& log = logs.emplace_back();
    log.path = (dir.path / name).string();
    struct stat status {};
    ASSERT_EQ(::stat(log.path.c_str(), &status), 0);
    log.size = static_cast<std::uint64_t>(status.st_size);
    log.device = status.st_dev;
    log.inode = status.st_ino;
  }
  // Rows are handed over on the grading threads: there each row notes what its thread holds.
  const std::thread::id main_thread = std::this_thread::get_id();
  std::vector<std::string> held;
  const auto note = [&](std::string_view) {
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    std::string seen = std::this_thread::get_id() == main_thread ? "main" : "grader";
    for (const auto& [signal_number, name] : {std::pair{SIGINT, " INT"},
                                              {SIGTERM, " TERM"},
                                              {SIGHUP, " HUP"},
                                              {SIGSEGV, " SEGV"},
                                              {SIGPIPE, " PIPE"}}) {
      if (sigismember(&mask, signal_number) == 1) seen += name;
    }
    held.push_back(seen);
  };
  campaign_settings settings;
  settings.jobs = 2;
  const campaign_totals totals = grade_campaign(logs, settings, note);
  EXPECT_EQ(totals.graded, 2u);
  EXPECT_EQ(held, (std::vector<std::string>{"grader INT TERM HUP", "grader INT TERM HUP"}));
  sigset_t mask;
  ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_EQ(sigismember(&mask, SIGINT), 0) << "the main thread takes them again";
}

TEST(table_output, a_fifo_written_through_is_closed_with_its_output) {
  scratch dir;
  const std::string fifo = (dir.path / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  {
    const output_file out("-o", fifo);
    EXPECT_TRUE(out.written_through());
    ASSERT_EQ(::write(out.fd(), "row\n", 4), 4);
  }
  // Its reader gets the rows, then the end, not a writer that never leaves.
  char got[8];
  EXPECT_EQ(::read(reader, got, sizeof got), 4);
  EXPECT_EQ(::read(reader, got, sizeof got), 0);
  ::close(reader);
}

TEST(table_progress, time_left_counts_bytes_and_shows_hours) {
  const double gib = 1 << 30;
  // A 1 GiB log graded first in 0.5 s, 20000 small logs of 4 KiB left: about 0.68 s more, where a
  // count of logs would have promised hours.
  const double small_logs = 20000 * (4096 + work_per_log);
  EXPECT_EQ(time_left(gib + work_per_log, gib + work_per_log + small_logs, 0.5), "0:01");
  // Half the small logs done, a 64 GiB log left: not "0:01" as a count of logs would say.
  EXPECT_EQ(time_left(small_logs / 2, small_logs + 64 * gib, 1.0), "1:40");
  EXPECT_EQ(time_left(gib, 10 * gib, 1000), "2:30:00");
  EXPECT_EQ(time_left(0, 1, 0), "?");
  EXPECT_EQ(time_left(1, 1, 9), "0:00");
}

}  // namespace
