// sift_runlog_report: reads the tables sift_runlog_table writes and writes one view of them.
// This file reads the command line; report.hpp does the rest.
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <sift_campaign/descriptors.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/temporary_files.hpp>
#include <string>
#include <string_view>

#include "report.hpp"

namespace {

namespace campaign = sift_runlog::campaign;
using campaign::usage_failure;
using namespace sift_runlog::report;

constexpr std::string_view usage_text =
    R"(usage: sift_runlog_report VIEW [--format FORMAT] [-o FILE] TABLE...
       sift_runlog_report scores|wrong|ranking --reference FILE [OPTION]... TABLE...
       sift_runlog_report diff [OPTION]... BEFORE AFTER
       sift_runlog_report diff --before TABLE... [OPTION]... TABLE...
       sift_runlog_report sqlite -o FILE.db [--reference FILE] TABLE...
       sift_runlog_report html [-o FILE] [--reference FILE] [--before TABLE]... TABLE...

Reads csv or jsonl tables of sift_runlog_table ('-': standard input) once, in
path order (several tables, or the parts of a sharded campaign, are merged by
path), and writes one view of them.

Views:
  answers         one row per answer: path,tool,model,examination,run,
                  formula,value,number
  summary         one row per tool and examination, then a total row: logs,
                  formulas, answered, disputed, a count per verdict,
                  time_flag_DNF, memory_flag_MOVF, runs
  disagreements   one row per log where definite answers to a formula
                  (model, examination, name) differ:
                  model,examination,formula,value,tool,path,majority
  scores          right, wrong, unanswered and not_in_reference answers per
                  tool and examination against --reference
  wrong           every wrong answer:
                  model,examination,formula,expected,value,tool,path
  ranking         points and rank per examination, then over all
                  (examination _all_): examination,rank,tool,points,right,
                  wrong,unanswered
  flaky           formulas whose definite answers differ between runs of one
                  tool, model and examination:
                  tool,model,examination,formula,values,runs
  diff            the changes from a campaign BEFORE to AFTER (logs matched
                  by tool, model, examination and run, answers by formula):
                  tool,model,examination,run,formula,before,after,change,
                  and with --reference before_is,after_is
  sqlite          a SQLite database: tables logs, answers (and reference),
                  views summary, disagreements (and scores)
  html            one self-contained page: summary, charts, disagreements,
                  with --reference the scores, ranking and wrong answers,
                  and with --before the changes per tool

  --format FORMAT   text (aligned; the default on a terminal), csv (the
                    default otherwise), jsonl, markdown or latex
  --reference FILE  the known answers: a csv with the header
                    model,examination,formula,value, or a table of a trusted
                    campaign (its agreed definite answers)
  --points right=A,wrong=B,unanswered=C
                    what an answer is worth in the ranking (whole numbers;
                    default right=1,wrong=-4,unanswered=0)
  --before TABLE    a table of the campaign compared with (diff, html);
                    once per table
  --totals          total rows in csv and jsonl too, their tool and
                    examination _all_ (text, markdown and latex always
                    have them)
  -o, --output FILE write the view to FILE, replaced only once complete
                    (default: standard output)
  --version         print the version and exit
  -h, --help        print this help and exit

Numbers are the same answer when they are the same value (1024, 1.024E+3).

Exit status: 0 the view written (diff: nothing changed); 1 diff written, with
changes; 2 wrong usage, or a table or reference that cannot be read (named,
with its line), nothing written.
)";

enum long_only { format = 256, reference, version, before, totals, points };

const option options[] = {{"output", required_argument, nullptr, 'o'},
                          {"help", no_argument, nullptr, 'h'},
                          {"format", required_argument, nullptr, format},
                          {"reference", required_argument, nullptr, reference},
                          {"version", no_argument, nullptr, version},
                          {"before", required_argument, nullptr, before},
                          {"totals", no_argument, nullptr, totals},
                          {"points", required_argument, nullptr, points},
                          {nullptr, 0, nullptr, 0}};

// Takes one option into `settings`; false for --help and --version, which are printed here.
bool take_option(int option, std::string_view value, char** argv, report_settings& settings) {
  switch (option) {
    case 'o':
      if (value.empty()) throw usage_failure("-o needs a file name");
      settings.output = value;
      return true;
    case 'h':
      campaign::print(usage_text);
      return false;
    case format:
      settings.format = parse_output_format(value);
      if (settings.format) return true;
      throw usage_failure("--format is text, csv, jsonl, markdown or latex, not '" +
                          std::string(value) + "'");
    case reference:
      if (value.empty() || value == "-") {
        throw usage_failure("--reference needs a file (not standard input)");
      }
      settings.reference = value;
      return true;
    case before:
      if (value.empty()) throw usage_failure("--before needs a table");
      settings.before.emplace_back(value);
      return true;
    case totals:
      settings.totals = true;
      return true;
    case points:
      if (const auto worth = parse_points(value)) {
        settings.worth = *worth;
        return true;
      }
      throw usage_failure("--points is right=A,wrong=B,unanswered=C (whole numbers), not '" +
                          std::string(value) + "'");
    case version:
      campaign::print(campaign::version_line());
      return false;
    default:
      throw usage_failure(optopt != 0 ? std::string("unknown option -") +
                                            static_cast<char>(optopt) + " or its value missing"
                                      : std::string("unknown option ") + argv[optind - 1] +
                                            " or its value missing");
  }
}

// Refuses what the view cannot do with the options and tables given. A diff of two tables
// reads the first as --before.
void check_usage(report_settings& settings, std::string_view view_name) {
  const view chosen = settings.chosen;
  const std::string name(view_name);
  if (chosen == view::diff && settings.before.empty()) {
    if (settings.tables.size() != 2) {
      throw usage_failure(
          "diff compares two tables, BEFORE AFTER (--before TABLE for more than one)");
    }
    settings.before.push_back(settings.tables.front());
    settings.tables.erase(settings.tables.begin());
  }
  if (settings.tables.empty()) throw usage_failure("no table given ('-' for standard input)");
  if (!settings.before.empty() && chosen != view::diff && chosen != view::html) {
    throw usage_failure(name + " takes no --before");
  }
  if (std::count(settings.tables.begin(), settings.tables.end(), "-") +
          std::count(settings.before.begin(), settings.before.end(), "-") >
      1) {
    throw usage_failure("standard input ('-') can be read only once");
  }
  if ((chosen == view::scores || chosen == view::wrong || chosen == view::ranking) &&
      settings.reference.empty()) {
    throw usage_failure(name + " needs --reference FILE");
  }
  if ((chosen == view::html || chosen == view::sqlite) && settings.format) {
    throw usage_failure(name + " takes no --format");
  }
  if (chosen == view::sqlite && settings.output.empty()) {
    throw usage_failure("sqlite needs -o FILE: a database is a file");
  }
}

// Reads the command line into `settings`; false when it was --help or --version. Throws
// usage_failure.
bool read_command_line(int argc, char** argv, report_settings& settings) {
  opterr = 0;  // the messages name the program, not argv[0]
  for (int option = 0; (option = ::getopt_long(argc, argv, "o:h", options, nullptr)) != -1;) {
    if (!take_option(option, optarg != nullptr ? optarg : "", argv, settings)) return false;
  }
  if (optind >= argc) throw usage_failure("no view given");
  const std::string_view view_name = argv[optind++];
  const auto chosen = parse_view(view_name);
  if (!chosen) {
    throw usage_failure(
        "the view is answers, summary, disagreements, scores, wrong, ranking, flaky, diff, "
        "sqlite or html, not '" +
        std::string(view_name) + "'");
  }
  settings.chosen = *chosen;
  settings.tables.assign(argv + optind, argv + argc);
  check_usage(settings, view_name);
  if (!settings.format && settings.output.empty() && ::isatty(STDOUT_FILENO) != 0) {
    settings.format = output_format::text;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  campaign::set_program("sift_runlog_report", "report");
  // Before any file is opened: none may take the place of a closed standard descriptor.
  campaign::hold_closed_standard_descriptors();
  return campaign::exit_status_of([&] {
    report_settings settings;
    if (!read_command_line(argc, argv, settings)) return 0;
    campaign::handle_terminating_signals();
    return run_report(settings);
  });
}
