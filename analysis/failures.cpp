#include "failures.hpp"

#include <cstring>
#include <new>

namespace sift_runlog {

system_failure::system_failure(std::string_view context, int error_number)
    : std::runtime_error(std::string(context) + ": " + std::strerror(error_number)),
      error_number_(error_number) {}

system_failure::system_failure(std::string_view context, std::string_view reason)
    : std::runtime_error(std::string(context) + ": " + std::string(reason)), error_number_(0) {}

namespace {

struct described {
  std::string_view name;
  std::string message;
  failure_cause cause = failure_cause::internal_error;
};

described describe(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ANALYSIS_PROBLEM_ERROR& e) {
    return {"SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR", e.what(), failure_cause::analysis_problem};
  } catch (const input_error& e) {
    return {"SIFT_RUNLOG.INPUT_ERROR", e.what(), failure_cause::input_error};
  } catch (const output_error& e) {
    return {"SIFT_RUNLOG.OUTPUT_ERROR", e.what(), failure_cause::output_error};
  } catch (const std::bad_alloc&) {
    return {"SIFT_RUNLOG.MEMORY_EXHAUSTED", "out of memory", failure_cause::memory_exhausted};
  } catch (const Index_Error& e) {
    return {"SIFT_RUNLOG.INDEX_ERROR", e.what()};
  } catch (const data_error& e) {
    return {"SIFT_RUNLOG.DATA_ERROR", e.what()};
  } catch (const std::exception& e) {
    return {"SIFT_RUNLOG.INTERNAL_ERROR", e.what()};
  } catch (...) {
    return {"SIFT_RUNLOG.INTERNAL_ERROR", "unknown failure"};
  }
}

}  // namespace

std::string failure_report(const std::exception_ptr& failure) {
  const described what = describe(failure);
  std::string line = "sift_runlog: ";
  line += what.name;
  line += ": ";
  line += what.message;
  return line;
}

std::string failure_message(const std::exception_ptr& failure) { return describe(failure).message; }

failure_cause failure_cause_of(const std::exception_ptr& failure) {
  return describe(failure).cause;
}

}  // namespace sift_runlog
