#include <sift_campaign/file_identity.hpp>

namespace sift_runlog::campaign {

file_identity identity_of(const struct stat& status) { return {status.st_dev, status.st_ino, {}}; }

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

const named_file* same_file_among(const std::optional<file_identity>& file,
                                  std::span<const named_file> files) {
  if (!file) return nullptr;
  for (const named_file& other : files) {
    if (other.identity == file) return &other;
  }
  return nullptr;
}

}  // namespace sift_runlog::campaign
