// sift_runlog_table run as a hostile user, a careless one and a cluster would run it: odd output
// paths, clashing outputs, logs reached by several spellings, link mazes, FIFOs, closed
// descriptors, missing resources and signals. Each case is a row: a shell setup in a fresh
// folder holding a small campaign, the command line (with "$T" for the program), the exit
// status, a line the standard error must hold, and a shell check of what is left on disk.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "grading.hpp"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct scratch {
  fs::path path;
  scratch() {
    std::string name = (fs::temp_directory_path() / "sift_command_cases.XXXXXX").string();
    path = ::mkdtemp(name.data());
    // Open to other users too, for the cases run as one.
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                              fs::perms::group_read | fs::perms::others_read);
  }
  ~scratch() {
    (void)!std::system(("chmod -R u+rwx '" + path.string() + "' 2>/dev/null").c_str());
    fs::remove_all(path);
  }
};

// Runs `script` with sh in `dir`, "$T" naming the program; returns the exit status, or 128 + N
// for a death by signal N.
int shell(const std::string& script, const fs::path& dir) {
  const pid_t child = ::fork();
  if (child == 0) {
    // Only the standard descriptors, whatever the test runner left open: the cases count them.
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    ::setenv("T", SIFT_RUNLOG_TABLE, 1);
    if (::chdir(dir.c_str()) == 0) ::execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The campaign every case starts from: two graded logs and one that fails.
constexpr const char* campaign = R"(
mkdir -p camp/sub
printf 'RH_START\nRH_STOP\n' > camp/t_M_E_1.log
printf '# Number of cores : 4\nDO_NOT_COMPETE\n' > camp/sub/t_M_E_2.log
printf 'RH_START\nFORMULA_NAME A\n' > camp/t_M_Bad_3.log
echo 'the old table' > old.txt
)";

// What any case may leave: the campaign, the old table, the files the case names; never a
// temporary file of the program.
constexpr const char* no_leftovers = "! find . -name '.sift_runlog_table-*' | grep -q .";

struct command_case {
  // A limit of memory or descriptors leaves a sanitizer's runtime no room of its own.
  bool needs_plain_build;
  const char* name;
  const char* setup;
  const char* command;  // its standard output goes to out, its standard error to err
  int status;
  const char* says;   // a part of the standard error; "" for none
  const char* check;  // a shell test of the files left; "" for none
};

const command_case cases[] = {
    // The outputs, each other and the logs.
    {false, "a table and a failed list naming the same file", "",
     R"("$T" -o old.txt --failed ./old.txt camp)", 2,
     "-o old.txt and --failed ./old.txt name the same file", "grep -qx 'the old table' old.txt"},
    {false, "both on standard output", "", R"("$T" --failed - camp)", 2, "name the same file", ""},
    {false, "standard error closed: nothing of it lands in the files (an old list replaced)",
     "echo old > failed.txt", R"("$T" -o table.txt --failed failed.txt camp 2>&-)", 1, "",
     "! grep -q sift_runlog_table table.txt failed.txt && grep -qx camp/t_M_Bad_3.log failed.txt"},
    {false, "standard output closed, the table meant for it", "", R"("$T" camp >&-)", 2, "", ""},
    {false, "/dev/null written through, not replaced", "", R"("$T" -o /dev/null camp)", 1, "",
     "test -c /dev/null"},
    {false, "/dev/full: a write error, and still a device", "", R"("$T" -o /dev/full camp)", 2,
     "cannot write /dev/full: No space left on device", "test -c /dev/full"},
    {false, "/dev/stdout is standard output", "", R"("$T" -o /dev/stdout camp)", 1, "",
     "test -L /dev/stdout && grep -q '^t,M,E,1.log,NO_CORE,OK,OK,CC,-$' out"},
    {false, "- is standard output, and no file of that name", "", R"("$T" -o - camp)", 1, "",
     "test ! -e ./- && grep -q CC out"},
    {false, "-o onto a log being graded", "", R"("$T" -o camp/t_M_E_1.log camp)", 2,
     "-o camp/t_M_E_1.log is one of the logs to grade (camp/t_M_E_1.log)",
     "grep -qx RH_STOP camp/t_M_E_1.log"},
    {false, "a previous table inside the searched folder", "echo old > camp/table.log",
     R"("$T" -o camp/table.log camp)", 2, "is one of the logs to grade",
     "grep -qx old camp/table.log"},
    {false, "standard output redirected into a log being graded", "", R"("$T" camp > camp/x.log)",
     2, "standard output is one of the logs to grade", ""},
    {false, "the temporary files are never graded, whatever the pattern", "",
     R"("$T" --pattern '*' -o camp/table.txt camp)", 1, "",
     "! grep -q sift_runlog_table camp/table.txt && test $(grep -c , camp/table.txt) = 3"},
    {false, "a symbolic link keeps pointing to the table it names",
     "mkdir real && echo old > real/t.txt && ln -s real/t.txt link.txt", R"("$T" -o link.txt camp)",
     1, "", "test -L link.txt && grep -q CC real/t.txt"},
    {false, "a name of 250 bytes", "", R"("$T" -o $(printf 'n%.0s' $(seq 250)) camp)", 1, "",
     "test -s $(printf 'n%.0s' $(seq 250))"},
    {false, "a name too long for the file system, refused before grading", "",
     R"("$T" -o $(printf 'n%.0s' $(seq 256)) camp)", 2, "File name too long", ""},
    {false, "an output in a folder that does not exist", "", R"("$T" -o missing/t.txt camp)", 2,
     "-o missing/t.txt: No such file or directory", ""},
    {false, "a folder as the output", "", R"("$T" --output camp camp)", 2,
     "--output camp: is a folder", ""},
    {false, "a FIFO nobody reads as the output", "mkfifo fifo", R"("$T" -o fifo camp)", 2,
     "-o fifo: no one reads the FIFO", "test -p fifo"},

    // Paths and the search.
    {false, "one folder by several spellings is graded once", "",
     R"("$T" camp ./camp camp// "$PWD/camp")", 1, "3 logs graded, 1 failed",
     "test $(grep -c , out) = 3"},
    {false, "one log by several spellings is graded once", "",
     R"("$T" camp/t_M_E_1.log ./camp/t_M_E_1.log camp//t_M_E_1.log)", 0, "1 logs graded", ""},
    {false, "a log in the current folder, with and without ./", "cp camp/t_M_E_1.log .",
     R"("$T" t_M_E_1.log ./t_M_E_1.log)", 0, "1 logs graded", ""},
    {false, "the temporary files are never graded, even by a pattern for hidden files",
     "printf 'RH_START\\nRH_STOP\\n' > camp/.h_M_E_1.log",
     R"("$T" --pattern '.*' -o camp/t.txt camp)", 0, "1 logs graded", ""},
    {false, "hard links of other names are other logs", "ln camp/t_M_E_1.log camp/t_M_E_9.log",
     R"("$T" camp)", 1, "4 logs graded", ""},
    {false, "a mistyped folder is a command error", "", R"("$T" -o old.txt campain)", 2,
     "campain: No such file or directory", "grep -qx 'the old table' old.txt"},
    {false, "folders joined by links without a loop are searched once",
     R"(for i in $(seq 15); do mkdir maze$i; printf 'RH_START\nRH_STOP\n' > maze$i/t_M_E_$i.log; done
        for i in $(seq 14); do ln -s ../maze$((i + 1)) maze$i/a; ln -s ../maze$((i + 1)) maze$i/b; done)",
     R"("$T" maze1)", 0, "15 logs graded", "test $(wc -l < out) = 16"},
    {false, "the kernel's file systems are not searched", "",
     R"("$T" --pattern 'x*' -j1 /proc/self)", 2,
     "/proc/self: a file system of the kernel's, not searched", ""},
    {false, "a FIFO and a device named as logs are not read",
     "mkfifo camp/f.log; ln -s /dev/zero z.log", R"("$T" camp/f.log z.log camp)", 1,
     "camp/f.log: a FIFO, not read", "grep -q 'z.log: a character device, not read' err"},
    {false, "the same through a list", "mkfifo f.log; printf 'f.log\ncamp\n' > list",
     R"("$T" --from list)", 1, "f.log: a FIFO, not read", ""},
    {false, "a leading dot is matched only by a leading dot",
     "printf 'RH_START\nRH_STOP\n' > camp/.h_M_E_1.log", R"("$T" --pattern '*.log' camp)", 1,
     "3 logs graded", ""},

    {false, "rows reach a pipe while a big log is still being graded",
     "truncate -s 256G camp/z_M_E_1.log && mkfifo pipe",
     R"sh("$T" -j2 camp > pipe & { IFS= read -r header; IFS= read -r row; } < pipe
        kill $!; wait $!; test "$row" = t,M,E,2.log,4,OK,OK,DNC,-)sh",
     0, "", ""},

    {false, "logs that cannot be graded are reported by name, the rest graded",
     R"sh(ln -s nowhere.log camp/dangling.log; ln -s looping.log camp/looping.log
        ln -s /proc/self/mem camp/unreadable.log; ln -s .. camp/sub/up)sh",
     R"("$T" -j1 camp)", 1, "camp/sub/up: a symbolic link loop back to camp, not followed",
     R"sh(grep -q 'dangling.log: sift_runlog: SIFT_RUNLOG.INPUT_ERROR: cannot open camp/dangling.log: No such file' err &&
        grep -q 'camp/looping.log: Too many levels of symbolic links' err &&
        grep -q 'cannot read camp/unreadable.log: Input/output error' err &&
        grep -q '6 logs graded, 4 failed' err && test $(wc -l < out) = 3)sh"},

    // Options.
    {false, "the version", "", R"("$T" --version)", 0, "",
     R"(grep -q '^sift_runlog_table [0-9.]*$' out)"},
    {false, "a number of jobs out of range", "", R"("$T" camp -j 0)", 2,
     "-j needs a number from 1 to 1024, not '0'", "grep -q '^usage: sift_runlog_table' err"},
    {false, "a shard beyond the parts", "", R"("$T" --shard 4/3 camp)", 2, "--shard needs K/N", ""},
    {false, "no path", "", R"("$T")", 2, "no log or directory given", ""},
    {false, "no log found", "", R"("$T" --pattern '*.out' camp)", 2,
     "no log found (the pattern is '*.out')", ""},
    {false, "an empty output name", "", R"("$T" -o '' camp)", 2,
     "-o needs a value, not an empty one ('-' is standard output)", ""},
    {false, "an empty failed list name", "", R"("$T" --failed= camp)", 2,
     "--failed needs a value, not an empty one", ""},
    {false, "a long option without its value", "", R"("$T" camp --failed)", 2,
     "--failed needs a value", "! grep -q '\\\\x' err"},
    {false, "an unknown option", "", R"("$T" --bogus camp)", 2, "unknown option --bogus", ""},
    {false, "a wrong value names the option as typed", "", R"("$T" --form=xml camp)", 2,
     "--form is raw, csv or jsonl, not 'xml'", ""},
    {false, "merge refuses the options it does not use", "", R"("$T" --merge --format csv old.txt)",
     2, "--merge takes only -o and --quiet, not --format", ""},
    {false, "merge refuses -j too", "", R"("$T" --merge -j 2 old.txt)", 2, "not -j", ""},

    // Another user's files (as root: run as nobody; as anyone else there is no one to be).
    {false, "a sticky folder: another user's table refused before grading",
     "mkdir -m 1777 sticky && echo old > sticky/t.txt",
     R"sh([ "$(id -u)" = 0 ] || { echo 'the sticky bit' >&2; exit 2; }
        exec setpriv --reuid=65534 --regid=65534 --clear-groups "$T" -o sticky/t.txt camp)sh",
     2, "the sticky bit", "grep -qx old sticky/t.txt"},
    {false, "a replaced file keeps its owner and mode",
     R"sh(echo old > o.txt && chmod 640 o.txt && { [ "$(id -u)" != 0 ] || chown 65534 o.txt; })sh",
     R"("$T" -o o.txt camp)", 1, "",
     R"sh(test "$(stat -c %a o.txt)" = 640 && { [ "$(id -u)" != 0 ] || test "$(stat -c %u o.txt)" = 65534; })sh"},
    {false, "a folder that cannot be searched is counted",
     "mkdir camp/locked && chmod 700 camp/locked",
     R"sh([ "$(id -u)" = 0 ] || { echo '1 folders not searched' >&2; exit 1; }
        exec setpriv --reuid=65534 --regid=65534 --clear-groups "$T" camp)sh",
     1, "1 folders not searched", "grep -q 'camp/locked: cannot search: Permission denied' err"},

    // Resources and commits.
    {true, "threads that cannot start: fewer graders, the same table",
     R"(for i in $(seq 100); do printf 'RH_START\nRH_STOP\n' > camp/t_M_E_x$i.log; done)",
     R"(ulimit -v 400000; exec "$T" -j 1000 -o t.txt camp)", 1, "grading threads fit",
     "test $(wc -l < t.txt) = 103"},
    {false, "a process limit: fewer graders, the same table",
     R"(for i in $(seq 100); do printf 'RH_START\nRH_STOP\n' > camp/t_M_E_x$i.log; done)",
     R"sh([ "$(id -u)" = 0 ] || { echo 'grading threads could start' >&2; exit 1; }
        exec prlimit --nproc=3 setpriv --reuid=65534 --regid=65534 --clear-groups "$T" -j 8 camp)sh",
     1, "grading threads could start", "test $(wc -l < out) = 103"},
    {true, "out of descriptors: no table, not healthy logs marked failed", "",
     R"(ulimit -n 4; exec "$T" -j 8 -o old.txt camp/*.log)", 2, "Too many open files",
     "grep -qx 'the old table' old.txt"},
    {true, "out of descriptors while searching", "", R"(ulimit -n 4; exec "$T" -o old.txt camp)", 2,
     "cannot search camp: Too many open files", "grep -qx 'the old table' old.txt"},
    {false, "the failed list cannot be written: the table is not replaced either", "",
     R"("$T" -o old.txt --failed /dev/full camp)", 2, "cannot write /dev/full",
     "grep -qx 'the old table' old.txt"},
    {false, "a pipe whose reader left: ended by SIGPIPE, no temporary file",
     R"(for i in $(seq 4000); do printf 'RH_START\nRH_STOP\n' > camp/t_M_E_x$i.log; done)",
     R"({ "$T" --failed failed.txt camp; echo $? > status; } | head -c 1 >/dev/null)", 0, "",
     "test $(cat status) = 141 && test ! -e failed.txt"},
    {false, "standard error a pipe whose reader left",
     R"(for i in $(seq 4000); do printf 'RH_START\nFORMULA_NAME A\n' > camp/t_M_E_x$i.log; done)",
     R"({ "$T" -o t.txt camp 2>&1; echo $? > status; } | head -1 >/dev/null)", 0, "",
     "test $(cat status) = 141 && test ! -e t.txt"},
};

TEST(table_progress, time_left_counts_bytes_and_shows_hours) {
  using sift_runlog::table::time_left;
  using sift_runlog::table::work_per_log;
  const double gib = 1 << 30;
  // A 1 GiB log graded first in 0.5 s, 20000 small logs of 4 KiB left: about 0.68 s more, where a
  // count of logs would have promised hours.
  const double small_logs = 20000 * (4096 + work_per_log);
  EXPECT_EQ(time_left(gib + work_per_log, gib + work_per_log + small_logs, 0.5), "0:01");
  // Half the small logs done, a 64 GiB log left: not "0:01" as a count of logs would say.
  EXPECT_EQ(time_left(small_logs / 2, small_logs + 64 * gib, 1.0), "1:40");
  EXPECT_EQ(time_left(gib, 10 * gib, 1000), "2:30:00");
  EXPECT_EQ(time_left(0, 1, 0), "?");
  EXPECT_EQ(time_left(1, 1, 9), "0:00");
}

TEST(table_command_cases, each_ends_as_its_row_says_and_leaves_no_temporary_file) {
  for (const command_case& c : cases) {
    SCOPED_TRACE(c.name);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (c.needs_plain_build) continue;
#endif
    scratch dir;
    ASSERT_EQ(shell(std::string(campaign) + c.setup, dir.path), 0);
    const int status = shell(std::string("exec >out 2>err; ") + c.command, dir.path);
    const std::string err = read_file(dir.path / "err");
    EXPECT_EQ(status, c.status) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(
        shell(std::string(no_leftovers) + (*c.check != '\0' ? " && " : "") + c.check, dir.path), 0)
        << err;
  }
}

// Waits until the program has made its temporary file: from then on it is at work.
bool started(const fs::path& dir) {
  for (int tries = 0; tries < 3000; ++tries) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().filename().string().starts_with(".sift_runlog_table-")) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST(table_command_cases, a_signal_mid_run_leaves_the_old_table_and_ends_the_run_by_it) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU}) {
    SCOPED_TRACE(signal_number);
    scratch dir;
    // A log of 64 GiB with no block on disk: its grade takes far longer than the signal.
    ASSERT_EQ(shell(std::string(campaign) + "truncate -s 64G camp/big_M_E_1.log", dir.path), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("T", SIFT_RUNLOG_TABLE, 1);
      if (::chdir(dir.path.c_str()) == 0) {
        ::execl("/bin/sh", "sh", "-c", R"(exec "$T" -o old.txt camp 2>err)", nullptr);
      }
      ::_exit(127);
    }
    ASSERT_TRUE(started(dir.path));
    ::kill(child, signal_number);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_NE(read_file(dir.path / "err").find("; no table written"), std::string::npos);
    EXPECT_EQ(read_file(dir.path / "old.txt"), "the old table\n");
    EXPECT_EQ(shell(no_leftovers, dir.path), 0);
  }
}

}  // namespace
