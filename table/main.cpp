// sift_runlog_table: grades a whole campaign of benchmark logs in one process and writes one
// table. This file reads the command line; table.hpp does the rest.
#include <getopt.h>
#include <unistd.h>

#include <charconv>
#include <sift_campaign/descriptors.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/temporary_files.hpp>
#include <string_view>
#include <vector>

#include "table.hpp"

namespace {

using sift_runlog::campaign::usage_failure;
using sift_runlog::table::table_settings;

constexpr std::string_view usage_text =
    R"(usage: sift_runlog_table [OPTION]... PATH...
       sift_runlog_table --merge [-o FILE] [--quiet] TABLE...

Grades every log in-process, as 'sift_runlog -long LOG' does, and writes one
table: a header, then one row per log, in the byte order of the paths.

  PATH              a log, graded whatever its name, or a directory searched,
                    subdirectories and symbolic links included, for the files
                    whose names match GLOB
  --pattern GLOB    the logs' file names (default '*.log'; matched against the
                    file's own name, not its path)
  -j, --jobs N      grade N logs at a time (default: the processors this
                    process may run on)
  --short           rows as 'sift_runlog LOG' gives them: no file-name fields
  --format FORMAT   raw (default): the lines of sift_runlog, failed logs left
                    out; csv: RFC 4180 with named columns, one row per log;
                    jsonl: one JSON object per log
  -o, --output FILE write the table to FILE, replaced only once complete
                    (default, and '-': standard output)
  --failed FILE     write the paths of the logs whose grade failed to FILE,
                    one per line ('-': standard output)
  --from FILE       grade the paths listed in FILE, one per line ('-': read
                    standard input), as if they were given as PATHs
  --shard K/N       grade only the K-th of N equal parts of the sorted logs
  --merge           join the TABLEs of the parts into one table
  -q, --quiet       no progress line, no line per failed log and no summary
                    on standard error: one line says how many failed
  --version         print the version and exit
  -h, --help        print this help and exit
  --                every argument after it is a PATH

Options may come before or after the paths. A failed log (sift_runlog would
end with status 1) is reported on standard error with its reason; on a
terminal, the first 20 only.

Exit status: 0 every log graded; 1 some logs failed; 2 no table written
(wrong usage, no log found, the table not writable); 128+N interrupted by
signal N, no table written.
)";

enum long_only { pattern = 256, short_rows, format, failed, from, shard, merge, version };

const option options[] = {{"jobs", required_argument, nullptr, 'j'},
                          {"output", required_argument, nullptr, 'o'},
                          {"quiet", no_argument, nullptr, 'q'},
                          {"help", no_argument, nullptr, 'h'},
                          {"pattern", required_argument, nullptr, pattern},
                          {"short", no_argument, nullptr, short_rows},
                          {"format", required_argument, nullptr, format},
                          {"failed", required_argument, nullptr, failed},
                          {"from", required_argument, nullptr, from},
                          {"shard", required_argument, nullptr, shard},
                          {"merge", no_argument, nullptr, merge},
                          {"version", no_argument, nullptr, version},
                          {nullptr, 0, nullptr, 0}};

// The option just read by getopt_long as the user typed it: "--format" for --format=x, --format
// x and an accepted abbreviation such as --form x, "-j" for -j4 and -j 4.
std::string typed_option(char** argv, int option) {
  const char* element = optarg != nullptr && optind >= 2 && optarg == argv[optind - 1]
                            ? argv[optind - 2]
                            : argv[optind - 1];
  const std::string_view text = element != nullptr ? element : "";
  if (text.starts_with("--")) return std::string(text.substr(0, text.find('=')));
  return option < 256 ? std::string{'-', static_cast<char>(option)} : std::string(text);
}

unsigned job_count(const std::string& name, std::string_view value) {
  unsigned jobs = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
  if (error != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 1024) {
    throw usage_failure(name + " needs a number from 1 to 1024, not '" + std::string(value) + "'");
  }
  return jobs;
}

// Takes one option into `settings`; false for --help and --version, which are printed here.
bool take_option(int option, const std::string& name, std::string_view value,
                 table_settings& settings) {
  namespace campaign = sift_runlog::campaign;
  switch (option) {
    case 'j':
      settings.jobs = job_count(name, value);
      return true;
    case 'o':
      settings.output = value;
      settings.output_option = name;
      return true;
    case 'q':
      settings.quiet = true;
      return true;
    case 'h':
      campaign::print(usage_text);
      return false;
    case pattern:
      settings.pattern = value;
      return true;
    case short_rows:
      settings.long_mode = false;
      return true;
    case format:
      if (const auto chosen = sift_runlog::campaign::parse_format(value)) {
        settings.format = *chosen;
        return true;
      }
      throw usage_failure(name + " is raw, csv or jsonl, not '" + std::string(value) + "'");
    case failed:
      settings.failed_list = value;
      settings.failed_option = name;
      return true;
    case from:
      settings.from_lists.emplace_back(value);
      return true;
    case shard:
      settings.part = sift_runlog::campaign::parse_shard(value);
      if (settings.part) return true;
      throw usage_failure(name + " needs K/N with 1 <= K <= N <= 1000000, not '" +
                          std::string(value) + "'");
    case merge:
      settings.merge = true;
      return true;
    case version:
      campaign::print(campaign::version_line());
      return false;
    default:
      throw usage_failure("unknown option " + name);
  }
}

// Reads the command line into `settings`; false when it was --help or --version. Throws
// usage_failure.
bool read_command_line(int argc, char** argv, table_settings& settings) {
  std::vector<std::string> not_for_merge;  // the options given that --merge has no use for
  opterr = 0;                              // the messages name the program, not argv[0]
  for (int option = 0; (option = ::getopt_long(argc, argv, ":j:o:qh", options, nullptr)) != -1;) {
    if (option == ':') {
      throw usage_failure(typed_option(argv, optopt != 0 ? optopt : 256) + " needs a value");
    }
    if (option == '?') {
      throw usage_failure("unknown option " + (optopt != 0 && optopt < 256
                                                   ? std::string{'-', static_cast<char>(optopt)}
                                                   : std::string(argv[optind - 1])));
    }
    const std::string name = typed_option(argv, option);
    const std::string_view value = optarg != nullptr ? optarg : "";
    if (optarg != nullptr && value.empty()) {
      throw usage_failure(name + " needs a value, not an empty one" +
                          (option == 'o' || option == failed ? " ('-' is standard output)" : ""));
    }
    if (option != 'o' && option != 'q' && option != merge) not_for_merge.push_back(name);
    if (!take_option(option, name, value, settings)) return false;
  }
  settings.paths.assign(argv + optind, argv + argc);
  if (settings.merge && !not_for_merge.empty()) {
    throw usage_failure("--merge takes only -o and --quiet, not " + not_for_merge.front() +
                        " (a merged table keeps the format and rows of its parts)");
  }
  if (settings.paths.empty() && (settings.merge || settings.from_lists.empty())) {
    throw usage_failure(settings.merge ? "--merge needs the tables to join"
                                       : "no log or directory given");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace campaign = sift_runlog::campaign;
  // Before any file is opened: none may take the place of a closed standard descriptor.
  campaign::hold_closed_standard_descriptors();
  return campaign::exit_status_of([&] {
    table_settings settings;
    if (!read_command_line(argc, argv, settings)) return 0;
    campaign::handle_terminating_signals();
    return sift_runlog::table::run_table(settings);
  });
}
