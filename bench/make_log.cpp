// make_log: writes a generated run log for the benchmarks (see log_generator.hpp).
//
//   make_log [--kind realistic|dense|early-stop|state-space|chatter|hostile] [--size BYTES]
//            [--seed N] [--answers bool|num] [--formulas N] [--stop-at BYTES] [--expect] [FILE]
//
// BYTES takes a suffix K, M or G. Without FILE (or with "-") the log goes to standard output.
// --expect prints the result line that grading the log must give, instead of the log.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "log_generator.hpp"

namespace {

namespace bench = sift_runlog::bench;

constexpr std::string_view usage =
    "usage: make_log [--kind realistic|dense|early-stop|state-space|chatter|hostile]\n"
    "                [--size BYTES] [--seed N] [--answers bool|num] [--formulas N]\n"
    "                [--stop-at BYTES] [--expect] [FILE]\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "make_log: %s\n%s", message.c_str(), usage.data());
  return 2;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bench::log_shape shape;
  bool expect = false;
  std::string path = "-";
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const bool has_value = i + 1 < argc;
    const std::string_view value = has_value ? argv[i + 1] : "";
    if (option == "--help" || option == "-h") {
      std::fputs(usage.data(), stdout);
      return 0;
    }
    if (option == "--expect") {
      expect = true;
      continue;
    }
    if (option.size() < 2 || option.substr(0, 2) != "--") {
      path = option;
      continue;
    }
    if (!has_value) return fail("missing value after " + std::string(option));
    ++i;
    if (option == "--kind") {
      const auto kind = bench::parse_log_kind(value);
      if (!kind) return fail("unknown kind " + std::string(value));
      shape.kind = *kind;
    } else if (option == "--size" || option == "--stop-at") {
      const auto size = bench::parse_size(value);
      if (!size) return fail("bad size " + std::string(value));
      (option == "--size" ? shape.size : shape.stop_at) = *size;
    } else if (option == "--seed") {
      const auto [rest, error] =
          std::from_chars(value.data(), value.data() + value.size(), shape.seed);
      if (error != std::errc() || rest != value.data() + value.size()) {
        return fail("bad seed " + std::string(value));
      }
    } else if (option == "--answers") {
      if (value != "bool" && value != "num") return fail("answers are bool or num");
      shape.answers = value == "bool" ? bench::answer_kind::boolean : bench::answer_kind::numeric;
    } else if (option == "--formulas") {
      int count = 0;
      const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), count);
      if (error != std::errc() || rest != value.data() + value.size() || count < 1 || count > 16) {
        return fail("formulas: from 1 to 16");
      }
      shape.formula_count = count;
    } else {
      return fail("unknown option " + std::string(option));
    }
  }

  if (expect) return write_all(STDOUT_FILENO, bench::expected_result_line(shape)) ? 0 : 1;

  int fd = STDOUT_FILENO;
  if (path != "-") {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot open " + path + ": " + std::strerror(errno));
  }
  bool ok = true;
  bench::write_log(shape, [&](std::string_view chunk) { ok = ok && write_all(fd, chunk); });
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "make_log: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
