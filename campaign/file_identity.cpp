#include <unistd.h>

#include <sift_campaign/descriptors.hpp>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/file_identity.hpp>

namespace sift_runlog::campaign {

file_identity identity_of(const struct stat& status) { return {status.st_dev, status.st_ino, {}}; }

std::string_view own_name(std::string_view path) { return path.substr(path.rfind('/') + 1); }

std::optional<file_identity> path_identity(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return identity_of(status);
}

std::optional<file_identity> descriptor_identity(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
    return std::nullopt;
  }
  return identity_of(status);
}

named_file input_file(const std::string& path, const std::string& option) {
  if (path != "-") return {path, path_identity(path)};
  if (closed_at_start(STDIN_FILENO)) {
    // Held by /dev/null, it would read as nothing at all.
    throw failure("standard input is closed, and '" + (option.empty() ? "" : option + " ") +
                  "-' would read it");
  }
  return {"standard input", descriptor_identity(STDIN_FILENO)};
}

const named_file* same_file_among(const std::optional<file_identity>& file,
                                  std::span<const named_file> files) {
  if (!file) return nullptr;
  for (const named_file& other : files) {
    if (other.identity == file) return &other;
  }
  return nullptr;
}

}  // namespace sift_runlog::campaign
