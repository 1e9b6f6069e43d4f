#include "report.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/table_set.hpp>
#include <sift_runlog/grade.hpp>
#include <utility>

#include "campaign_digest.hpp"
#include "diff.hpp"
#include "flaky.hpp"
#include "html_page.hpp"
#include "output_file.hpp"
#include "page_sections.hpp"
#include "ranking.hpp"
#include "sqlite_export.hpp"

namespace sift_runlog::report {
namespace {

// The same file by device and inode: the report must not replace one of its inputs.
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void check_output(const report_settings& settings) {
  // Opened on /dev/null at the start, a closed standard input would read as an empty table.
  if (settings.closed_at_start.stdin_closed &&
      std::find(settings.tables.begin(), settings.tables.end(), "-") != settings.tables.end()) {
    throw campaign::failure("standard input is closed, and '-' would read it");
  }
  if (settings.output.empty()) return;
  for (const std::string& input : settings.tables) {
    if (input != "-" && same_file(input, settings.output)) {
      throw campaign::failure(settings.output +
                              " is also a table read: the report never replaces "
                              "its input");
    }
  }
  for (const std::string& input : settings.before) {
    if (input != "-" && same_file(input, settings.output)) {
      throw campaign::failure(settings.output +
                              " is also a table read: the report never replaces "
                              "its input");
    }
  }
  if (!settings.reference.empty() && same_file(settings.reference, settings.output)) {
    throw campaign::failure(settings.output +
                            " is also the reference: the report never replaces "
                            "its input");
  }
}

// What a report is made of. Freeing a digest and a reference block by block takes a third of a
// run over a million answers: the last ones made are left for the end of the process to take
// back (and freed when a next report in the same process replaces them).
struct report_data {
  std::optional<reference_answers> reference;
  std::unique_ptr<campaign_digest> digest;
  std::unique_ptr<campaign_store> before, after;
};

// The page, with the changes since the --before campaign and the ranking when asked for.
std::string page_of(const report_settings& settings, report_data& kept, campaign::table_set& rows,
                    std::vector<std::vector<cell>>* wrong_rows, const std::string& page_day) {
  campaign_digest& digest = *kept.digest;
  campaign::row row;
  if (settings.before.empty()) {
    while (rows.next(row)) digest.add(row);
  } else {
    kept.before = std::make_unique<campaign_store>("before");
    kept.after = std::make_unique<campaign_store>("after");
    campaign::table_set before(settings.before);
    while (before.next(row)) kept.before->add(row);
    while (rows.next(row)) {
      digest.add(row);
      kept.after->add(row);
    }
  }
  digest.finish();
  std::vector<page_section> sections;
  if (!settings.before.empty()) {
    campaign_diff diff(*kept.before, *kept.after, kept.reference ? &*kept.reference : nullptr);
    diff.for_each_change([](const std::vector<cell>&) {});
    sections.push_back(change_section(diff, settings.before));
  }
  if (kept.reference) sections.push_back(ranking_section(digest, settings.worth));
  return html_page(digest, wrong_rows,
                   {std::string(version()), page_day, settings.tables, settings.reference},
                   sections);
}

// The views made from the whole campaign's digest: summary, disagreements, scores, ranking.
void write_digest_view(const report_settings& settings, const campaign_digest& digest,
                       output_format format, const byte_sink& sink) {
  table_writer out(format, view_columns(settings.chosen), sink, settings.totals);
  const auto add = [&out](const std::vector<cell>& row) { out.add_row(row); };
  if (settings.chosen == view::ranking) {
    for_each_ranking_row(digest, settings.worth, add);
    out.finish();
    if (format == output_format::text) {
      std::string note = "\n";
      (note += points_text(settings.worth)) += '\n';
      sink(note);
    }
    return;
  }
  for_each_digest_row(settings.chosen, digest, add,
                      [&out](const std::vector<cell>& total) { out.add_total_row(total); });
  out.finish();
}

// Returns the exit status: 1 for a diff with changes, 0 otherwise.
int make_report(const report_settings& settings, const byte_sink& sink) {
  static report_data* kept = nullptr;
  delete kept;
  kept = nullptr;
  kept = new report_data;
  std::optional<reference_answers>& reference = kept->reference;
  const std::string page_day = settings.chosen == view::html ? page_date() : std::string();
  if (!settings.reference.empty()) reference = reference_answers::load(settings.reference);
  const output_format format = settings.format.value_or(output_format::csv);
  if (settings.chosen == view::diff) {
    return write_diff(settings, reference ? &*reference : nullptr, format, sink);
  }
  campaign::table_set rows(settings.tables);
  campaign::row row;
  const auto add_to = [](table_writer& out) {
    return [&out](const std::vector<cell>& cells) { out.add_row(cells); };
  };

  if (settings.chosen == view::answers) {
    table_writer out(format, view_columns(view::answers), sink);
    const auto add = add_to(out);
    while (rows.next(row)) for_each_answer_row(row, add);
    out.finish();
    return 0;
  }
  if (settings.chosen == view::sqlite) {
    write_sqlite(rows, reference ? &*reference : nullptr, sink);
    return 0;
  }
  if (settings.chosen == view::flaky) {
    write_flaky(rows, format, sink);
    return 0;
  }
  if (settings.chosen == view::wrong) {
    table_writer out(format, view_columns(view::wrong), sink);
    kept->digest = std::make_unique<campaign_digest>(
        &*reference, [&out](const wrong_answer& wrong) { out.add_row(wrong_row(wrong)); });
    while (rows.next(row)) kept->digest->add(row);
    out.finish();
    return 0;
  }

  std::vector<std::vector<cell>> wrong_rows;
  kept->digest = std::make_unique<campaign_digest>(
      reference ? &*reference : nullptr,
      [&wrong_rows](const wrong_answer& wrong) { wrong_rows.push_back(wrong_row(wrong)); });
  if (settings.chosen == view::html) {
    sink(page_of(settings, *kept, rows, reference ? &wrong_rows : nullptr, page_day));
    return 0;
  }
  campaign_digest& digest = *kept->digest;
  while (rows.next(row)) digest.add(row);
  digest.finish();
  write_digest_view(settings, digest, format, sink);
  return 0;
}

}  // namespace

int run_report(const report_settings& settings) {
  try {
    check_output(settings);
    std::unique_ptr<table::table_output> file;
    if (!settings.output.empty()) {
      file = std::make_unique<table::table_output>("-o", settings.output);
    }
    if (!file && settings.closed_at_start.stdout_closed) {
      throw campaign::failure("standard output is closed: give -o FILE");
    }
    table::fd_writer writer(file ? file->fd() : STDOUT_FILENO,
                            file ? file->name() : std::string("standard output"));
    const int status =
        make_report(settings, [&writer](std::string_view bytes) { writer.write(bytes); });
    writer.flush();
    if (file) table::commit_outputs(file.get(), nullptr);
    return status;
  } catch (const std::bad_alloc&) {
    table::say("out of memory; no report written");
  } catch (const std::exception& error) {
    table::say(error.what());
  }
  return 2;
}

}  // namespace sift_runlog::report
