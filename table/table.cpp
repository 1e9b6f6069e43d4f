#include "table.hpp"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sift_campaign/raw_codec.hpp>
#include <stdexcept>

#include "grading.hpp"
#include "merge.hpp"
#include "output_file.hpp"

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

std::string summary(const campaign_totals& totals, std::size_t unsearched) {
  using enum campaign::verdict;
  const auto count = [&](campaign::verdict v) {
    return std::to_string(totals.by_verdict[static_cast<std::size_t>(v)]);
  };
  return std::to_string(totals.graded) + " logs graded, " + std::to_string(totals.failed.size()) +
         " failed" +
         (unsearched > 0 ? ", " + std::to_string(unsearched) + " folders not searched" : "") +
         "; rows: " + count(answers) + " answers, " + count(DNC) + " DNC, " + count(CC) + " CC, " +
         count(DNF) + " DNF, " + count(bad_run) + " BAD_RUN?, " + count(error) + " ERROR, " +
         count(problem_with_file) + " Problem";
}

// Whether two outputs would end in the same file: they would overwrite each other.
bool same_file(const table_output& a, const table_output& b) {
  if (a.written_through() && b.written_through() && a.fd() == b.fd()) return true;
  return a.identity() && a.identity() == b.identity();
}

// Refuses a log that is also an output: it would be overwritten, or read while it is written.
void check_logs_against(const std::vector<found_log>& logs, const std::string& what,
                        const std::optional<file_identity>& output) {
  if (!output || !output->name.empty()) return;  // no file, or one not made yet
  for (const found_log& log : logs) {
    if (log.inode == output->inode && log.device == output->device) {
      throw std::runtime_error(what + " is one of the logs to grade (" + printable(log.path) + ")");
    }
  }
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
  try {
    // Made first: an output that cannot be written is known before anything is graded.
    table_output table(settings.output_option, settings.output.empty() ? "-" : settings.output);
    std::optional<table_output> failed_list;
    if (!settings.failed_list.empty())
      failed_list.emplace(settings.failed_option, settings.failed_list);
    if (failed_list && same_file(table, *failed_list)) {
      throw std::runtime_error(settings.output_option + " " + table.name() + " and " +
                               settings.failed_option + " " + failed_list->name() +
                               " name the same file; the table and the failed list would "
                               "overwrite each other");
    }
    std::vector<std::pair<dev_t, ino_t>> own_files;
    for (const table_output* output : {&table, failed_list ? &*failed_list : nullptr}) {
      if (output != nullptr && output->temporary_identity()) {
        own_files.emplace_back(output->temporary_identity()->device,
                               output->temporary_identity()->inode);
      }
    }

    const search_outcome found = find_logs(
        all_paths(settings), settings.pattern,
        [](const std::string& path, const std::string& problem) {
          say(printable(path) + ": " + problem);
        },
        own_files);
    if (!found.missing.empty()) {
      for (const std::string& missing : found.missing) say(printable(missing));
      say("no table written");
      return 2;
    }
    if (found.logs.empty()) {
      say("no log found (the pattern is '" + printable(settings.pattern) + "')");
      return 2;
    }
    check_logs_against(found.logs, settings.output_option + " " + table.name(), table.identity());
    if (failed_list) {
      check_logs_against(found.logs, settings.failed_option + " " + failed_list->name(),
                         failed_list->identity());
    }
    if (settings.output.empty()) {
      check_logs_against(found.logs, "standard output", standard_output_identity());
    }
    // Every part must be able to say which it is: a part without rows could not.
    std::optional<campaign::shard_record> record;
    if (const auto part = settings.part) {
      if (found.logs.size() < part->parts) {
        say("--shard " + std::to_string(part->part) + '/' + std::to_string(part->parts) +
            ": only " + std::to_string(found.logs.size()) + " logs for " +
            std::to_string(part->parts) + " parts");
        return 2;
      }
      std::vector<std::string_view> paths;
      paths.reserve(found.logs.size());
      for (const found_log& log : found.logs) paths.push_back(log.path);
      record = campaign::shard_record{part->part, part->parts, found.logs.size(),
                                      campaign::list_digest(paths), settings.long_mode};
    }
    const auto [begin, end] =
        campaign::shard_range(found.logs.size(), settings.part.value_or(campaign::shard{}));
    const std::span<const found_log> logs(found.logs.data() + begin, end - begin);

    campaign_settings grading;
    grading.format = settings.format;
    grading.part = record;
    grading.long_mode = settings.long_mode;
    grading.jobs = settings.jobs != 0 ? settings.jobs : default_jobs();
    if (const unsigned fit = jobs_that_fit(grading.jobs); fit < grading.jobs) {
      say("only " + std::to_string(fit) +
          " grading threads fit in the address space the process "
          "may use (ulimit -v), not " +
          std::to_string(grading.jobs) + (fit == 0 ? "; grading on the main thread alone" : ""));
      grading.jobs = fit;
    }
    grading.progress = !settings.quiet && ::isatty(STDERR_FILENO) == 1;
    fd_writer out(table.fd(), table.name(), table.is_stream());
    out.write(campaign::table_header(settings.format, record.has_value()));
    // A raw part ends with a trailer that counts its rows and their digest.
    std::optional<campaign::raw_trailer> trailer;
    if (record && settings.format == campaign::table_format::raw)
      trailer.emplace().record = *record;
    const campaign_totals totals = grade_campaign(
        logs, grading,
        [&out, &trailer](std::string_view row) {
          if (trailer) trailer->count(row);
          out.write(row);
        },
        [&out] { out.flush_if_stale(); });
    if (trailer) out.write(campaign::raw_trailer_line(*trailer));
    out.flush();
    if (failed_list) {
      fd_writer list(failed_list->fd(), failed_list->name());
      for (const std::string& path : found.unsearched) list.write(path_list_line(path));
      for (const std::string& path : totals.failed) list.write(path_list_line(path));
      list.flush();
    }
    commit_outputs(&table, failed_list ? &*failed_list : nullptr);
    if (!settings.quiet) say(summary(totals, found.unsearched.size()));
    return totals.failed.empty() && found.unsearched.empty() ? 0 : 1;
  } catch (const std::runtime_error& e) {
    say(e.what());
    return 2;
  }
}

}  // namespace sift_runlog::table
