#include "table.hpp"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sift_campaign/file_identity.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/output_file.hpp>
#include <sift_campaign/raw_codec.hpp>
#include <sift_campaign/writer.hpp>

#include "grading.hpp"
#include "merge.hpp"

namespace sift_runlog::table {

namespace {

using campaign::failure;
using campaign::named_file;
using campaign::output_file;
using campaign::say;

// The command's outputs, made first: one that cannot be written is known before anything is
// graded.
struct outputs {
  output_file table;
  std::optional<output_file> failed_list;

  explicit outputs(const table_settings& settings)
      : table(settings.output_option, settings.output.empty() ? "-" : settings.output) {
    if (settings.failed_list.empty()) return;
    failed_list.emplace(settings.failed_option, settings.failed_list);
    if (same_file(table, *failed_list)) {
      throw failure(settings.output_option + " " + table.name() + " and " + settings.failed_option +
                    " " + failed_list->name() +
                    " name the same file; the table and the failed list would overwrite each "
                    "other");
    }
  }

  // The temporary files, which no search may take for logs.
  [[nodiscard]] std::vector<std::pair<dev_t, ino_t>> own_files() const {
    std::vector<std::pair<dev_t, ino_t>> files;
    for (const output_file* output : {&table, failed_list ? &*failed_list : nullptr}) {
      if (output == nullptr) continue;
      if (const auto identity = output->temporary_identity()) {
        files.emplace_back(identity->device, identity->inode);
      }
    }
    return files;
  }
};

// Refuses a --from list that the table would replace, and "-" on a closed standard input. The
// failed list may be one: the list is read whole before anything is written, and replaced by the
// logs that fail again.
void check_lists(const table_settings& settings, const output_file& table) {
  std::vector<named_file> lists;
  for (const std::string& list : settings.from_lists) {
    lists.push_back(campaign::input_file(list, "--from"));
  }
  if (const named_file* list = campaign::same_file_among(table.identity(), lists)) {
    throw failure(table.description() + " is one of the --from lists (" + list->name + ")");
  }
}

// The paths named on the command line, then those of the --from lists.
std::vector<std::string> all_paths(const table_settings& settings) {
  std::vector<std::string> paths = settings.paths;
  // A campaign's list holds tens of thousands of paths: each is moved, never copied, from the
  // list to the sorted logs, so that the memory grows with one copy of them.
  for (const std::string& list : settings.from_lists) {
    std::ifstream file;
    if (list != "-") {
      file.open(list);
      if (!file) throw campaign::system_failure("cannot read the list " + list, errno);
    }
    std::istream& in = list == "-" ? std::cin : file;
    std::vector<std::string> listed;
    try {
      listed = read_path_list(in);
    } catch (const failure& e) {
      throw failure(list + ": " + e.what());
    }
    if (in.bad()) throw failure("cannot read the list " + list);
    if (paths.empty()) {
      paths = std::move(listed);
    } else {
      paths.insert(paths.end(), std::make_move_iterator(listed.begin()),
                   std::make_move_iterator(listed.end()));
    }
  }
  return paths;
}

// Refuses a log that is also an output: it would be overwritten, or read while it is written.
void check_logs_against(const std::vector<found_log>& logs, const output_file& output) {
  const auto& identity = output.identity();
  if (!identity || !identity->name.empty()) return;  // no file, or one not made yet
  for (const found_log& log : logs) {
    if (log.inode == identity->inode && log.device == identity->device) {
      throw failure(output.description() + " is one of the logs to grade (" + printable(log.path) +
                    ")");
    }
  }
}

// The logs of the campaign, each checked against the outputs.
search_outcome search(const table_settings& settings, const outputs& made) {
  search_outcome found = find_logs(
      all_paths(settings), settings.pattern,
      [](const std::string& path, const std::string& problem) {
        say(printable(path) + ": " + problem);
      },
      made.own_files(), settings.jobs != 0 ? settings.jobs : default_jobs());
  if (!found.missing.empty()) {
    for (const std::string& missing : found.missing) say(printable(missing));
    throw failure("no table written");
  }
  if (found.logs.empty()) {
    throw failure("no log found (the pattern is '" + printable(settings.pattern) + "')");
  }
  check_logs_against(found.logs, made.table);
  if (made.failed_list) check_logs_against(found.logs, *made.failed_list);
  return found;
}

// The shard part's record, when the command grades one part: every part must be able to say
// which it is, and a part without rows could not.
std::optional<campaign::shard_record> shard_of(const table_settings& settings,
                                               const std::vector<found_log>& logs) {
  const auto part = settings.part;
  if (!part) return std::nullopt;
  if (logs.size() < part->parts) {
    throw failure("--shard " + std::to_string(part->part) + '/' + std::to_string(part->parts) +
                  ": only " + campaign::counted(logs.size(), "log") + " for " +
                  campaign::counted(part->parts, "part"));
  }
  std::vector<std::string_view> paths;
  paths.reserve(logs.size());
  for (const found_log& log : logs) paths.push_back(log.path);
  return campaign::shard_record{part->part, part->parts, logs.size(), campaign::list_digest(paths),
                                settings.long_mode};
}

unsigned grading_threads(const table_settings& settings) {
  const unsigned jobs = settings.jobs != 0 ? settings.jobs : default_jobs();
  const unsigned fit = jobs_that_fit(jobs);
  if (fit < jobs) {
    say("only " + campaign::counted(fit, "grading thread") + (fit == 1 ? " fits" : " fit") +
        " in the address space the process may use (ulimit -v), not " + std::to_string(jobs) +
        (fit == 0 ? "; grading on the main thread alone" : ""));
  }
  return std::min(fit, jobs);
}

// On a terminal the failed logs said stop here: more would scroll everything else away, and
// --failed lists them all.
constexpr std::size_t failures_said_on_a_terminal = 20;

// How many failed logs are said one by one: none when quiet, all unless standard error is a
// terminal.
std::size_t failures_said(const table_settings& settings) {
  if (settings.quiet) return 0;
  return ::isatty(STDERR_FILENO) == 1 ? failures_said_on_a_terminal : SIZE_MAX;
}

// Where the paths of the failed logs are, or how to have them.
std::string where_listed(const table_settings& settings) {
  if (settings.failed_list.empty()) return settings.failed_option + " FILE writes the list";
  if (settings.failed_list == "-") return "the list is on standard output";
  return "the list is in " + printable(settings.failed_list);
}

// Grades the logs and writes their rows to the table.
campaign_totals write_table(const table_settings& settings, std::span<const found_log> logs,
                            const output_file& table,
                            const std::optional<campaign::shard_record>& record) {
  progress_line progress(!settings.quiet && ::isatty(STDERR_FILENO) == 1, logs);
  const bool to_terminal = ::isatty(table.fd()) == 1;
  campaign::fd_writer out(table.fd(), table.name(), table.is_stream(), [&progress, to_terminal] {
    if (to_terminal) progress.erase();
  });
  campaign_settings grading;
  grading.format = settings.format;
  grading.part = record;
  grading.long_mode = settings.long_mode;
  grading.jobs = grading_threads(settings);
  grading.progress = &progress;
  grading.failures_said = failures_said(settings);
  // Rows written through are out before the failure said after them: both streams sent to one
  // file keep their order.
  if (table.written_through()) grading.before_report = [&out] { out.flush(); };
  out.write(campaign::table_header(settings.format, record.has_value()));
  // A raw part ends with a trailer that counts its rows and their digest.
  std::optional<campaign::raw_trailer> trailer;
  if (record && settings.format == campaign::table_format::raw) trailer.emplace().record = *record;
  const campaign_totals totals = grade_campaign(
      logs, grading,
      [&out, &trailer](std::string_view row) {
        if (trailer) trailer->count(row);
        out.write(row);
      },
      [&out] { out.flush_if_stale(); });
  if (trailer) out.write(campaign::raw_trailer_line(*trailer));
  out.flush();
  return totals;
}

void write_failed_list(const output_file& list, const search_outcome& found,
                       const campaign_totals& totals) {
  campaign::fd_writer out(list.fd(), list.name());
  for (const std::string& path : found.unsearched) out.write(path_list_line(path));
  for (const std::string& path : totals.failed) out.write(path_list_line(path));
  out.flush();
}

std::string summary(const campaign_totals& totals, std::size_t unsearched) {
  using enum campaign::verdict;
  const auto count = [&](campaign::verdict v) {
    return std::to_string(totals.by_verdict[static_cast<std::size_t>(v)]);
  };
  return campaign::counted(totals.graded, "log") + " graded, " +
         std::to_string(totals.failed.size()) + " failed" +
         (unsearched > 0 ? ", " + campaign::counted(unsearched, "folder") + " not searched" : "") +
         "; rows: " + count(answers) + " answers, " + count(DNC) + " DNC, " + count(CC) + " CC, " +
         count(DNF) + " DNF, " + count(bad_run) + " BAD_RUN?, " + count(error) + " ERROR, " +
         count(problem_with_file) + " Problem";
}

}  // namespace

unsigned jobs_that_fit(unsigned jobs) {
  rlimit space{};
  if (::getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY) return jobs;
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  if (!(statm >> pages)) return jobs;
  const std::uint64_t used = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  rlimit stack{};
  const std::uint64_t stack_size =
      ::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY
          ? stack.rlim_cur
          : std::uint64_t{8} << 20;
  // Each thread reserves its stack and, once it allocates, a heap arena of its own (64 MiB of
  // address space), and a grade uses a few MiB besides.
  const std::uint64_t per_thread = stack_size + (std::uint64_t{72} << 20);
  const std::uint64_t room = space.rlim_cur > used ? space.rlim_cur - used : 0;
  return static_cast<unsigned>(std::min<std::uint64_t>(jobs, room / per_thread));
}

unsigned default_jobs() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  return static_cast<unsigned>(std::max(CPU_COUNT(&allowed), 1));
}

int run_table(const table_settings& settings) {
  if (settings.merge) return merge_tables(settings.paths, settings.output, settings.quiet);
  outputs made(settings);
  check_lists(settings, made.table);
  const search_outcome found = search(settings, made);
  const std::optional<campaign::shard_record> record = shard_of(settings, found.logs);
  const auto [begin, end] =
      campaign::shard_range(found.logs.size(), settings.part.value_or(campaign::shard{}));
  const std::span<const found_log> logs(found.logs.data() + begin, end - begin);
  const campaign_totals totals = write_table(settings, logs, made.table, record);
  if (made.failed_list) write_failed_list(*made.failed_list, found, totals);
  campaign::commit_outputs(&made.table, made.failed_list ? &*made.failed_list : nullptr);
  const std::size_t failed = totals.failed.size();
  const std::size_t unsearched = found.unsearched.size();
  if (settings.quiet) {
    // One line instead of one per failed log: how many, and where their list is.
    if (failed > 0 || unsearched > 0) {
      say(campaign::counted(failed, "log") + " failed" +
          (unsearched > 0 ? ", " + campaign::counted(unsearched, "folder") + " not searched" : "") +
          "; " + where_listed(settings));
    }
  } else {
    if (failed > failures_said(settings)) {
      say(campaign::counted(failed - failures_said(settings), "more failed log") + " not shown; " +
          where_listed(settings));
    }
    say(summary(totals, unsearched));
  }
  return totals.failed.empty() && found.unsearched.empty() ? 0 : 1;
}

}  // namespace sift_runlog::table
