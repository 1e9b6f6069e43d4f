// sift_runlog_table: grades a whole campaign of benchmark logs in one process and writes one
// table. This file reads the command line; table.hpp does the rest.
#include <getopt.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

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
                    (default: standard output)
  --failed FILE     write the paths of the logs whose grade failed to FILE,
                    one per line
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

}  // namespace

int main(int argc, char** argv) {
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
  opterr = 0;  // the messages below name the program, not argv[0]
  for (int option = 0; (option = ::getopt_long(argc, argv, "j:o:qh", options, nullptr)) != -1;) {
    const std::string_view value = optarg != nullptr ? optarg : "";
    switch (option) {
      case 'j': {
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), settings.jobs);
        if (error != std::errc() || end != value.data() + value.size() || settings.jobs < 1 ||
            settings.jobs > 1024) {
          return usage_error("-j needs a number from 1 to 1024, not '" + std::string(value) + "'");
        }
        break;
      }
      case 'o':
        settings.output = value;
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
        if (const auto chosen = sift_runlog::table::parse_format(value)) {
          settings.format = *chosen;
        } else {
          return usage_error("--format is raw, csv or jsonl, not '" + std::string(value) + "'");
        }
        break;
      case failed:
        settings.failed_list = value;
        break;
      case from:
        settings.from_lists.emplace_back(value);
        break;
      case shard:
        settings.part = sift_runlog::table::parse_shard(value);
        if (!settings.part)
          return usage_error("--shard needs K/N with 1 <= K <= N, not '" + std::string(value) +
                             "'");
        break;
      case merge:
        settings.merge = true;
        break;
      case version:
        std::printf("sift_runlog_table %.*s\n", static_cast<int>(sift_runlog::version().size()),
                    sift_runlog::version().data());
        return std::fflush(stdout) == 0 ? 0 : 2;
      default:
        return usage_error(optopt != 0 ? std::string("unknown option -") +
                                             static_cast<char>(optopt) + " or its value missing"
                                       : std::string("unknown option ") + argv[optind - 1] +
                                             " or its value missing");
    }
  }
  settings.paths.assign(argv + optind, argv + argc);
  if (settings.paths.empty() && (settings.merge || settings.from_lists.empty())) {
    return usage_error(settings.merge ? "--merge needs the tables to join"
                                      : "no log or directory given");
  }
  if (settings.merge &&
      (settings.part || !settings.from_lists.empty() || !settings.failed_list.empty())) {
    return usage_error("--merge takes only -o and --quiet");
  }
  if (settings.pattern.empty()) return usage_error("--pattern needs a pattern");
  // A table that cannot grow (ulimit -f) is a write error like any other, not a killed run.
  std::signal(SIGXFSZ, SIG_IGN);
  sift_runlog::table::watch_interruptions();
  return sift_runlog::table::run_table(settings);
}
