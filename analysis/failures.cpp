#include "failures.hpp"

#include <cstring>
#include <new>

namespace sift_runlog {

system_failure::system_failure(std::string_view context, int error_number)
    : std::runtime_error(std::string(context) + ": " + std::strerror(error_number)),
      error_number_(error_number) {}

std::string printable(std::string_view text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += hex_digits[byte >> 4];
      shown += hex_digits[byte & 0xf];
    } else {
      shown += c;
    }
  }
  return shown;
}

namespace {

std::string report(std::string_view name, std::string_view message) {
  std::string line = "sift_runlog: ";
  line += name;
  line += ": ";
  line += message;
  return line;
}

}  // namespace

std::string failure_report(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ANALYSIS_PROBLEM_ERROR& e) {
    return report("SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR", e.what());
  } catch (const input_error& e) {
    return report("SIFT_RUNLOG.INPUT_ERROR", e.what());
  } catch (const output_error& e) {
    return report("SIFT_RUNLOG.OUTPUT_ERROR", e.what());
  } catch (const std::bad_alloc&) {
    return report("SIFT_RUNLOG.MEMORY_EXHAUSTED", "out of memory");
  } catch (const Index_Error& e) {
    return report("SIFT_RUNLOG.INDEX_ERROR", e.what());
  } catch (const data_error& e) {
    return report("SIFT_RUNLOG.DATA_ERROR", e.what());
  } catch (const std::exception& e) {
    return report("SIFT_RUNLOG.INTERNAL_ERROR", e.what());
  } catch (...) {
    return report("SIFT_RUNLOG.INTERNAL_ERROR", "unknown failure");
  }
}

}  // namespace sift_runlog
