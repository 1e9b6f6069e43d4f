// A log in memory that gives at most `chunk` bytes per read, so that every refill boundary of
// the reader is crossed somewhere.
#pragma once

#include <algorithm>
#include <string_view>

#include "line_reader.hpp"

namespace sift_runlog::testing_support {

class chunked_source final : public byte_source {
 public:
  chunked_source(std::string_view bytes, std::size_t chunk) : rest_(bytes), chunk_(chunk) {}

  std::size_t read_some(char* buffer, std::size_t size) override {
    const std::size_t taken = std::min({size, chunk_, rest_.size()});
    rest_.copy(buffer, taken);
    rest_.remove_prefix(taken);
    return taken;
  }

 private:
  std::string_view rest_;
  std::size_t chunk_;
};

}  // namespace sift_runlog::testing_support
