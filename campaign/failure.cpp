#include <cstring>
#include <sift_campaign/failure.hpp>

namespace sift_runlog::campaign {

failure system_failure(std::string_view what, int error_number) {
  std::string text(what);
  (text += ": ") += std::strerror(error_number);
  return failure(text);
}

}  // namespace sift_runlog::campaign
