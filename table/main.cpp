// sift_runlog_table: grades a whole campaign of benchmark logs in one process and writes one
// table. This file reads the command line; table.hpp does the rest.
#include <getopt.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "output_file.hpp"
#include "table.hpp"

namespace {

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
  -q, --quiet       no progress line and no summary on standard error
  --version         print the version and exit
  -h, --help        print this help and exit
  --                every argument after it is a PATH

Options may come before or after the paths. A failed log (sift_runlog would
end with status 1) is reported on standard error with its reason.

Exit status: 0 every log graded; 1 some logs failed; 2 no table written
(wrong usage, no log found, the table not writable); 128+N interrupted by
signal N, no table written.
)";

int usage_error(const std::string& message) {
  sift_runlog::table::say(message);
  (void)!::write(STDERR_FILENO, usage_text.data(), usage_text.size());
  return 2;
}

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

}  // namespace

int main(int argc, char** argv) {
  // Before any file is opened: none may take the place of a closed standard descriptor.
  (void)sift_runlog::table::open_standard_descriptors();
  using sift_runlog::table::table_settings;
  enum long_only { pattern = 256, short_rows, format, failed, from, shard, merge, version };
  static const option options[] = {{"jobs", required_argument, nullptr, 'j'},
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
  table_settings settings;
  std::vector<std::string> not_for_merge;  // the options given that --merge has no use for
  opterr = 0;                              // the messages below name the program, not argv[0]
  for (int option = 0; (option = ::getopt_long(argc, argv, ":j:o:qh", options, nullptr)) != -1;) {
    if (option == ':') {
      return usage_error(typed_option(argv, optopt != 0 ? optopt : 256) + " needs a value");
    }
    if (option == '?') {
      return usage_error("unknown option " + (optopt != 0 && optopt < 256
                                                  ? std::string{'-', static_cast<char>(optopt)}
                                                  : std::string(argv[optind - 1])));
    }
    const std::string name = typed_option(argv, option);
    const std::string_view value = optarg != nullptr ? optarg : "";
    if (optarg != nullptr && value.empty()) {
      return usage_error(name + " needs a value, not an empty one" +
                         (option == 'o' || option == failed ? " ('-' is standard output)" : ""));
    }
    if (option != 'o' && option != 'q' && option != merge) not_for_merge.push_back(name);
    switch (option) {
      case 'j': {
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), settings.jobs);
        if (error != std::errc() || end != value.data() + value.size() || settings.jobs < 1 ||
            settings.jobs > 1024) {
          return usage_error(name + " needs a number from 1 to 1024, not '" + std::string(value) +
                             "'");
        }
        break;
      }
      case 'o':
        settings.output = value;
        settings.output_option = name;
        break;
      case 'q':
        settings.quiet = true;
        break;
      case 'h':
        std::fwrite(usage_text.data(), 1, usage_text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 2;
      case pattern:
        settings.pattern = value;
        break;
      case short_rows:
        settings.long_mode = false;
        break;
      case format:
        if (const auto chosen = sift_runlog::campaign::parse_format(value)) {
          settings.format = *chosen;
        } else {
          return usage_error(name + " is raw, csv or jsonl, not '" + std::string(value) + "'");
        }
        break;
      case failed:
        settings.failed_list = value;
        settings.failed_option = name;
        break;
      case from:
        settings.from_lists.emplace_back(value);
        break;
      case shard:
        settings.part = sift_runlog::campaign::parse_shard(value);
        if (!settings.part)
          return usage_error(name + " needs K/N with 1 <= K <= N <= 1000000, not '" +
                             std::string(value) + "'");
        break;
      case merge:
        settings.merge = true;
        break;
      case version:
        std::printf("sift_runlog_table %.*s\n", static_cast<int>(sift_runlog::version().size()),
                    sift_runlog::version().data());
        return std::fflush(stdout) == 0 ? 0 : 2;
      default:
        return usage_error("unknown option " + std::string(argv[optind - 1]));
    }
  }
  settings.paths.assign(argv + optind, argv + argc);
  if (settings.merge && !not_for_merge.empty()) {
    return usage_error("--merge takes only -o and --quiet, not " + not_for_merge.front() +
                       " (a merged table keeps the format and rows of its parts)");
  }
  if (settings.paths.empty() && (settings.merge || settings.from_lists.empty())) {
    return usage_error(settings.merge ? "--merge needs the tables to join"
                                      : "no log or directory given");
  }
  sift_runlog::table::handle_terminating_signals();
  return sift_runlog::table::run_table(settings);
}
