#include "report.hpp"

#include <unistd.h>

#include <memory>
#include <sift_campaign/descriptors.hpp>
#include <sift_campaign/output_file.hpp>
#include <sift_campaign/table_set.hpp>
#include <sift_campaign/writer.hpp>
#include <sift_runlog/grade.hpp>
#include <utility>

#include "campaign_digest.hpp"
#include "diff.hpp"
#include "flaky.hpp"
#include "html_page.hpp"
#include "page_sections.hpp"
#include "ranking.hpp"
#include "sqlite_export.hpp"

namespace sift_runlog::report {
namespace {

using campaign::failure;
using campaign::named_file;

// Refuses an output that is one of the inputs: the report never replaces its input.
void check_inputs(const report_settings& settings, const campaign::output_file& output) {
  std::vector<named_file> tables;
  for (const std::string& table : settings.tables) tables.push_back(campaign::input_file(table));
  for (const std::string& table : settings.before) tables.push_back(campaign::input_file(table));
  const named_file reference{settings.reference, campaign::path_identity(settings.reference)};
  const auto refuse = [&output](const std::string& role, const std::string& input) {
    throw failure(output.name() + " is also " + role +
                  (input == output.name() ? "" : " (" + input + ")") +
                  ": the report never replaces its input");
  };
  if (const named_file* table = campaign::same_file_among(output.identity(), tables)) {
    refuse("a table read", table->name);
  }
  if (!settings.reference.empty() &&
      campaign::same_file_among(output.identity(), {&reference, 1})) {
    refuse("the reference", reference.name);
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
  out.order_naturally(natural_order_columns(settings.chosen));
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
    out.order_naturally(natural_order_columns(view::answers));
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
    out.order_naturally(natural_order_columns(view::wrong));
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
  if (settings.output.empty() && campaign::closed_at_start(STDOUT_FILENO)) {
    throw failure("standard output is closed: give -o FILE");
  }
  // Made first: an output that cannot be written is known before a table is read.
  campaign::output_file file("-o", settings.output.empty() ? "-" : settings.output);
  check_inputs(settings, file);
  campaign::fd_writer writer(file.fd(), file.name());
  const int status =
      make_report(settings, [&writer](std::string_view bytes) { writer.write(bytes); });
  writer.flush();
  campaign::commit_outputs(&file, nullptr);
  return status;
}

}  // namespace sift_runlog::report
