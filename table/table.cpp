#include "table.hpp"

#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <stdexcept>

#include "failures.hpp"
#include "grading.hpp"
#include "merge.hpp"
#include "output_file.hpp"
#include "shard_record.hpp"

namespace sift_runlog::table {

namespace {

// The paths named on the command line, then those of the --from lists.
std::vector<std::string> all_paths(const table_settings& settings) {
  std::vector<std::string> paths = settings.paths;
  // A campaign's list holds tens of thousands of paths: each is moved, never copied, from the
  // list to the sorted logs, so that the memory grows with one copy of them.
  for (const std::string& list : settings.from_lists) {
    std::ifstream file;
    if (list != "-") {
      file.open(list);
      if (!file) throw std::runtime_error("cannot read the list " + list);
    }
    try {
      std::vector<std::string> listed = read_path_list(list == "-" ? std::cin : file);
      if (paths.empty()) {
        paths = std::move(listed);
      } else {
        paths.insert(paths.end(), std::make_move_iterator(listed.begin()),
                     std::make_move_iterator(listed.end()));
      }
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(list + ": " + e.what());
    }
    if ((list == "-" ? std::cin : file).bad())
      throw std::runtime_error("cannot read the list " + list);
  }
  return paths;
}

std::string summary(const campaign_totals& totals) {
  const auto count = [&](std::initializer_list<verdict_kind> verdicts) {
    std::size_t sum = 0;
    for (const verdict_kind verdict : verdicts)
      sum += totals.by_verdict[static_cast<std::size_t>(verdict)];
    return std::to_string(sum);
  };
  using enum verdict_kind;
  return std::to_string(totals.graded) + " logs graded, " + std::to_string(totals.failed.size()) +
         " failed; rows: " + count({formula_answers, state_space}) + " answers, " +
         count({do_not_compete}) + " DNC, " + count({cannot_compute, stopped_without_answer}) +
         " CC, " + count({did_not_finish}) + " DNF, " + count({bad_run}) + " BAD_RUN?, " +
         count({data_error}) + " ERROR, " + count({problem_with_file}) + " Problem";
}

}  // namespace

unsigned default_jobs() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  return static_cast<unsigned>(std::max(CPU_COUNT(&allowed), 1));
}

int run_table(const table_settings& settings) {
  if (settings.merge) return merge_tables(settings.paths, settings.output, settings.quiet);
  try {
    // Made first: a table that cannot be written is known before anything is graded.
    std::optional<replacement_file> table;
    if (!settings.output.empty()) table.emplace(settings.output);
    std::optional<replacement_file> failed_list;
    if (!settings.failed_list.empty()) failed_list.emplace(settings.failed_list);

    const search_outcome found = find_logs(all_paths(settings), settings.pattern,
                                           [](const std::string& path, const std::string& problem) {
                                             say(printable(path) + ": " + problem);
                                           });
    if (found.logs.empty()) {
      say("no log found (the pattern is '" + printable(settings.pattern) + "')");
      return 2;
    }
    // Every part must be able to say which it is: a part without rows could not.
    std::optional<shard_writer> sharded;
    if (const auto part = settings.part) {
      if (found.logs.size() < part->parts) {
        say("--shard " + std::to_string(part->part) + '/' + std::to_string(part->parts) +
            ": only " + std::to_string(found.logs.size()) + " logs for " +
            std::to_string(part->parts) + " parts");
        return 2;
      }
      sharded.emplace(settings.format, shard_record{part->part, part->parts, found.logs.size(),
                                                    list_digest(found.logs), settings.long_mode});
    }
    const auto [begin, end] = shard_range(found.logs.size(), settings.part.value_or(shard{}));
    const std::span<const found_log> logs(found.logs.data() + begin, end - begin);

    campaign_settings grading;
    grading.format = settings.format;
    grading.long_mode = settings.long_mode;
    grading.jobs = settings.jobs != 0 ? settings.jobs : default_jobs();
    grading.progress = !settings.quiet && ::isatty(STDERR_FILENO) == 1;
    fd_writer out(table ? table->fd() : STDOUT_FILENO, table ? settings.output : "standard output");
    out.write(sharded ? sharded->header() : table_header(settings.format));
    const campaign_totals totals =
        grade_campaign(logs, grading, [&out, &sharded](std::string_view row) {
          out.write(sharded ? std::string_view(sharded->row(row)) : row);
        });
    if (sharded) out.write(sharded->trailer());
    out.flush();
    if (table) table->commit();

    if (failed_list) {
      fd_writer list(failed_list->fd(), settings.failed_list);
      for (const std::string& path : found.unsearched) list.write(path_list_line(path));
      for (const std::string& path : totals.failed) list.write(path_list_line(path));
      list.flush();
      failed_list->commit();
    }
    if (!settings.quiet) say(summary(totals));
    return totals.failed.empty() && found.unsearched.empty() ? 0 : 1;
  } catch (const std::runtime_error& e) {
    say(e.what());
    return 2;
  }
}

}  // namespace sift_runlog::table
