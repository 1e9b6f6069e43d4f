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
#include "html_page.hpp"

namespace sift_runlog::report {
namespace {

using campaign::failure;
using campaign::named_file;

// Refuses an output that is one of the inputs: the report never replaces its input.
void check_inputs(const report_settings& settings, const campaign::output_file& output) {
  std::vector<named_file> tables;
  for (const std::string& table : settings.tables) tables.push_back(campaign::input_file(table));
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
};

void make_report(const report_settings& settings, const byte_sink& sink) {
  static report_data* kept = nullptr;
  delete kept;
  kept = nullptr;
  kept = new report_data;
  std::optional<reference_answers>& reference = kept->reference;
  const std::string page_day = settings.chosen == view::html ? page_date() : std::string();
  if (!settings.reference.empty()) reference = reference_answers::load(settings.reference);
  campaign::table_set rows(settings.tables);
  campaign::row row;
  const output_format format = settings.format.value_or(output_format::csv);
  const auto add_to = [](table_writer& out) {
    return [&out](const std::vector<cell>& cells) { out.add_row(cells); };
  };

  if (settings.chosen == view::answers) {
    table_writer out(format, view_columns(view::answers), sink);
    const auto add = add_to(out);
    while (rows.next(row)) for_each_answer_row(row, add);
    out.finish();
    return;
  }
  if (settings.chosen == view::wrong) {
    table_writer out(format, view_columns(view::wrong), sink);
    kept->digest = std::make_unique<campaign_digest>(
        &*reference, [&out](const wrong_answer& wrong) { out.add_row(wrong_row(wrong)); });
    while (rows.next(row)) kept->digest->add(row);
    out.finish();
    return;
  }

  std::vector<std::vector<cell>> wrong_rows;
  kept->digest = std::make_unique<campaign_digest>(
      reference ? &*reference : nullptr,
      [&wrong_rows](const wrong_answer& wrong) { wrong_rows.push_back(wrong_row(wrong)); });
  campaign_digest& digest = *kept->digest;
  while (rows.next(row)) digest.add(row);
  digest.finish();
  if (settings.chosen == view::html) {
    sink(html_page(digest, reference ? &wrong_rows : nullptr,
                   {std::string(version()), page_day, settings.tables, settings.reference}));
    return;
  }
  table_writer out(format, view_columns(settings.chosen), sink);
  for_each_digest_row(settings.chosen, digest, add_to(out));
  out.finish();
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
  make_report(settings, [&writer](std::string_view bytes) { writer.write(bytes); });
  writer.flush();
  campaign::commit_outputs(&file, nullptr);
  return 0;
}

}  // namespace sift_runlog::report
