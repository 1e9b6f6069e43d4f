// The small byte helpers of the public header: the write loop and the hex digits that the
// program, the library and the companion programs share.
#include <unistd.h>

#include <cerrno>

#include "sift_runlog/grade.hpp"

namespace sift_runlog {

int write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

void append_hex_byte(std::string& out, unsigned char byte) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  out += hex_digits[byte >> 4];
  out += hex_digits[byte & 0xf];
}

std::string printable(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      append_hex_byte(shown, byte);
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace sift_runlog
