// Runs the built program as a user would, in a directory of its own, and captures what it
// writes and how it ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sift_runlog::testing_support {

// Where the program's standard output goes.
enum class stdout_target { captured, dev_full, closed };

struct program_result {
  std::string output;    // standard output
  std::string report;    // standard error
  int exit_status = -1;  // the exit status, or 128 + the signal that ended it
};

// A fresh directory, removed with everything in it when the object goes.
class scratch_directory {
 public:
  scratch_directory();
  ~scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to the file `name` below the directory, making its parent directories.
  void write_file(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Runs `program` with `arguments` in `directory`.
[[nodiscard]] program_result run_program(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::filesystem::path& directory,
                                         stdout_target target = stdout_target::captured);

// The program under test, as built next to the tests.
[[nodiscard]] const std::string& sift_runlog_program();

// Cuts `text` at blanks; the arguments of the test tables.
[[nodiscard]] std::vector<std::string> split_arguments(std::string_view text);

}  // namespace sift_runlog::testing_support
