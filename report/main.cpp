// sift_runlog_report: reads the tables sift_runlog_table writes and writes one view of them.
// This file reads the command line; report.hpp does the rest.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "output_file.hpp"
#include "report.hpp"

namespace {

constexpr std::string_view usage_text =
    R"(usage: sift_runlog_report VIEW [--format FORMAT] [-o FILE] TABLE...
       sift_runlog_report scores|wrong --reference FILE [OPTION]... TABLE...
       sift_runlog_report html [-o FILE] [--reference FILE] TABLE...

Reads csv or jsonl tables of sift_runlog_table ('-': standard input) once, in
path order (several tables, or the parts of a sharded campaign, are merged by
path), and writes one view of them.

Views:
  answers         one row per answer: path,tool,model,examination,run,
                  formula,value
  summary         one row per tool and examination, then a total row: logs,
                  formulas, answered, disputed, a count per verdict,
                  time_flag_DNF, memory_flag_MOVF
  disagreements   one row per log where definite answers to a formula
                  (model, examination, name) differ:
                  model,examination,formula,value,tool,path,majority
  scores          right, wrong, unanswered and not_in_reference answers per
                  tool and examination against --reference
  wrong           every wrong answer:
                  model,examination,formula,expected,value,tool,path
  html            one self-contained page: summary, charts, disagreements,
                  and with --reference the scores and the wrong answers

  --format FORMAT   text (aligned; the default on a terminal), csv (the
                    default otherwise), jsonl or markdown
  --reference FILE  the known answers: a csv with the header
                    model,examination,formula,value, or a table of a trusted
                    campaign (its agreed definite answers)
  -o, --output FILE write the view to FILE, replaced only once complete
                    (default: standard output)
  --version         print the version and exit
  -h, --help        print this help and exit

Numbers are the same answer when they are the same value (1024, 1.024E+3).

Exit status: 0 the view written; 2 wrong usage, or a table or reference that
cannot be read (named, with its line), nothing written.
)";

int usage_error(const std::string& message) {
  sift_runlog::table::say(message);
  (void)!::write(STDERR_FILENO, usage_text.data(), usage_text.size());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sift_runlog::report;
  sift_runlog::table::set_program_name("sift_runlog_report");
  // Before any file is opened: none may take the place of a closed standard descriptor.
  const unsigned closed = sift_runlog::table::open_standard_descriptors();
  enum long_only { format = 256, reference, version };
  static const option options[] = {{"output", required_argument, nullptr, 'o'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"format", required_argument, nullptr, format},
                                   {"reference", required_argument, nullptr, reference},
                                   {"version", no_argument, nullptr, version},
                                   {nullptr, 0, nullptr, 0}};
  report_settings settings;
  opterr = 0;  // the messages below name the program, not argv[0]
  for (int option = 0; (option = ::getopt_long(argc, argv, "o:h", options, nullptr)) != -1;) {
    const std::string_view value = optarg != nullptr ? optarg : "";
    switch (option) {
      case 'o':
        if (value.empty()) return usage_error("-o needs a file name");
        settings.output = value;
        break;
      case 'h':
        std::fwrite(usage_text.data(), 1, usage_text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 2;
      case format:
        settings.format = parse_output_format(value);
        if (!settings.format) {
          return usage_error("--format is text, csv, jsonl or markdown, not '" +
                             std::string(value) + "'");
        }
        break;
      case reference:
        if (value.empty() || value == "-") {
          return usage_error("--reference needs a file (not standard input)");
        }
        settings.reference = value;
        break;
      case version:
        std::printf("sift_runlog_report %.*s\n", static_cast<int>(sift_runlog::version().size()),
                    sift_runlog::version().data());
        return std::fflush(stdout) == 0 ? 0 : 2;
      default:
        return usage_error(optopt != 0 ? std::string("unknown option -") +
                                             static_cast<char>(optopt) + " or its value missing"
                                       : std::string("unknown option ") + argv[optind - 1] +
                                             " or its value missing");
    }
  }
  if (optind >= argc) return usage_error("no view given");
  const std::string_view view_name = argv[optind++];
  const auto chosen = parse_view(view_name);
  if (!chosen) {
    return usage_error("the view is answers, summary, disagreements, scores, wrong or html, not '" +
                       std::string(view_name) + "'");
  }
  settings.chosen = *chosen;
  settings.tables.assign(argv + optind, argv + argc);
  if (settings.tables.empty()) return usage_error("no table given ('-' for standard input)");
  if ((settings.chosen == view::scores || settings.chosen == view::wrong) &&
      settings.reference.empty()) {
    return usage_error(std::string(view_name) + " needs --reference FILE");
  }
  if (settings.chosen == view::html && settings.format) {
    return usage_error("html takes no --format");
  }
  if (!settings.format && settings.output.empty() && ::isatty(STDOUT_FILENO) != 0) {
    settings.format = output_format::text;
  }
  settings.closed_at_start.stdin_closed = (closed & 1U) != 0;
  settings.closed_at_start.stdout_closed = (closed & 2U) != 0;
  sift_runlog::table::handle_terminating_signals();
  return run_report(settings);
}
