#include "program_runner.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace sift_runlog::testing_support {

namespace {

std::string read_whole_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

scratch_directory::scratch_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sift_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

scratch_directory::~scratch_directory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void scratch_directory::write_file(std::string_view name, std::string_view bytes) const {
  const std::filesystem::path file = path_ / std::filesystem::path(std::string(name));
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& directory, stdout_target target) {
  // The captured streams go to files beside the directory, so that they never show up in it.
  const std::filesystem::path out_path = directory.string() + ".stdout";
  const std::filesystem::path err_path = directory.string() + ".stderr";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err_fd, STDERR_FILENO);
    if (target == stdout_target::closed) {
      ::close(STDOUT_FILENO);
    } else {
      const int out_fd = target == stdout_target::dev_full
                             ? ::open("/dev/full", O_WRONLY)
                             : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out_fd, STDOUT_FILENO);
    }
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  program_result result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.output = read_whole_file(out_path);
  result.report = read_whole_file(err_path);
  std::error_code ignored;
  std::filesystem::remove(out_path, ignored);
  std::filesystem::remove(err_path, ignored);
  return result;
}

const std::string& sift_runlog_program() {
  static const std::string path = SIFT_RUNLOG_PROGRAM;
  return path;
}

std::vector<std::string> split_arguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::istringstream words{std::string(text)};
  for (std::string word; words >> word;) arguments.push_back(word);
  return arguments;
}

}  // namespace sift_runlog::testing_support
