#include <fcntl.h>

#include <cerrno>
#include <sift_campaign/descriptors.hpp>

namespace sift_runlog::campaign {

namespace {

unsigned closed_mask = 0;  // bit N: descriptor N was closed when the program started

}  // namespace

void hold_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed_mask |= 1U << fd;
    // The lowest free descriptor is this one, as the lower ones are open by now.
    (void)::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
  }
}

bool closed_at_start(int fd) { return (closed_mask & (1U << fd)) != 0; }

const char* standard_name(int fd) {
  return fd == 0 ? "standard input" : fd == 1 ? "standard output" : "standard error";
}

}  // namespace sift_runlog::campaign
