// Generated logs for the micro benchmarks, made once per process and kept in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log_generator.hpp"

namespace sift_runlog::bench {

inline constexpr std::uint64_t benchmark_log_size = 32 << 20;

// The log of `kind` with `size` bytes and the default seed.
[[nodiscard]] const std::string& generated_log(log_kind kind,
                                               std::uint64_t size = benchmark_log_size);

// The lines of the first `bytes` of that log, cut as the scan cuts them: at line feeds, and a
// longer line into pieces of 16384 bytes. Views into generated_log(kind).
[[nodiscard]] const std::vector<std::string_view>& generated_lines(log_kind kind,
                                                                   std::uint64_t bytes = 4 << 20);

}  // namespace sift_runlog::bench
