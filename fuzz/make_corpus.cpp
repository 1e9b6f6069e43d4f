// Writes the fuzzer's seed corpus: every log of the test table and every example log given on
// the command line, each behind the byte that chooses the options (see analysis_fuzzer.cpp),
// and a few logs that put markers right at the first piece boundary.
//
//   sift_fuzz_corpus <output directory> <example log>...
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "log_cases.hpp"

namespace {

// Bits of the first byte, as the fuzz target reads them.
constexpr unsigned char long_mode = 1U << 0U;
constexpr unsigned char debug_mode = 1U << 1U;
constexpr unsigned char four_part_name = 3U << 2U;  // "a_b_c_d"
constexpr unsigned char block_size_shift = 5U;
constexpr unsigned char piece_filler = 1U << 7U;

void write_seed(const std::filesystem::path& directory, const std::string& name,
                unsigned char choice, std::string_view log) {
  std::ofstream out(directory / name, std::ios::binary);
  out.put(static_cast<char>(choice));
  out.write(log.data(), static_cast<std::streamsize>(log.size()));
  if (!out) throw std::runtime_error("cannot write " + (directory / name).string());
}

// The case name as a file name: letters and digits, the rest as "_".
std::string file_name_of(std::string_view text) {
  std::string name;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += plain ? c : '_';
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: sift_fuzz_corpus <output directory> <example log>...\n", stderr);
    return 2;
  }
  // Larger logs (the long-line cases) would only raise the fuzzer's input length; the filler
  // bit gives the fuzzer its long lines instead.
  constexpr std::size_t largest_seed = 8192;
  const std::filesystem::path directory = argv[1];
  std::filesystem::create_directories(directory);

  std::size_t index = 0;
  for (const auto& row : sift_runlog::testing_support::log_cases()) {
    ++index;
    if (row.log.size() > largest_seed) continue;
    const std::string_view arguments = row.arguments;
    auto choice = static_cast<unsigned char>((index % 4) << block_size_shift);
    if (arguments.starts_with("-long ")) choice |= long_mode | four_part_name;
    if (arguments.ends_with(" -debug")) choice |= debug_mode;
    char number[8];
    std::snprintf(number, sizeof number, "%03zu", index);
    write_seed(directory, "case_" + std::string(number) + "_" + file_name_of(row.name), choice,
               row.log);
  }

  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string stem = file_name_of(std::filesystem::path(argv[i]).stem().string());
    write_seed(directory, "example_" + stem, 0, log);
    write_seed(directory, "example_" + stem + "_long_debug",
               long_mode | debug_mode | four_part_name, log);
  }

  // The filler ends 8 bytes before the first piece boundary.
  write_seed(directory, "piece_marker_at_boundary", piece_filler,
             "12345678RH_START\nRH_STOP\nCan't allocate memory\n");
  write_seed(directory, "piece_marker_across_boundary", piece_filler | debug_mode,
             "1234567RH_START\nRH_STOP\n");
  write_seed(directory, "piece_stop_at_boundary", piece_filler,
             "12345678RH_STOP\nRH_START\nCan't allocate memory\nDO_NOT_COMPETE\n");
  return 0;
}
