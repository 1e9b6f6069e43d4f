// What the programs say: one line on standard error for each message, the program's name in
// front; the version line and the help on standard output; and the top of a command, which says
// the failure that stopped it and gives its exit status.
//
// Errors follow failure.hpp: a function here that cannot write throws `failure`, except say(),
// which has nowhere left to report to and leaves the exit status to tell.
#pragma once

#include <cstddef>
#include <functional>
#include <sift_campaign/failure.hpp>
#include <string>
#include <string_view>

namespace sift_runlog::campaign {

// Names the program in every message ("sift_runlog_table") and what it writes ("table", as in
// "no table written"). First thing in main; both texts last as long as the process. Until then
// the program is sift_runlog_table.
void set_program(const char* name, const char* product);
[[nodiscard]] const char* program_name() noexcept;
[[nodiscard]] const char* program_product() noexcept;

// Writes "NAME: LINE" and a line feed to standard error in one write.
void say(std::string_view line);

// Writes `text` to standard output (the help, the version line), or throws failure.
void print(std::string_view text);

// A count and its noun, the noun plural unless the count is 1: "1 log", "2 logs", "0 logs".
[[nodiscard]] std::string counted(std::size_t count, std::string_view noun);

// "NAME VERSION" and a line feed, for --version.
[[nodiscard]] std::string version_line();

// A wrong command line: said, then "Try 'NAME --help'." on a line of its own.
class usage_failure : public failure {
 public:
  using failure::failure;
};

// Runs `command` and returns its exit status. A failure it throws is said and gives 2: a
// usage_failure followed by the line that points to --help, running out of memory as "out of
// memory; no PRODUCT written". The one place where a program's failures are caught.
[[nodiscard]] int exit_status_of(const std::function<int()>& command);

}  // namespace sift_runlog::campaign
