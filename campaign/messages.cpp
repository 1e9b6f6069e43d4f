#include <unistd.h>

#include <new>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/writer.hpp>
#include <sift_runlog/grade.hpp>

namespace sift_runlog::campaign {

namespace {

// Read by the signal handler too: plain pointers to texts that last.
const char* name_text = "sift_runlog_table";
const char* product_text = "table";

}  // namespace

void set_program(const char* name, const char* product) {
  name_text = name;
  product_text = product;
}

const char* program_name() noexcept { return name_text; }

const char* program_product() noexcept { return product_text; }

void say(std::string_view line) {
  std::string text = name_text;
  ((text += ": ") += line) += '\n';
  // Nowhere left to say it when this fails; the exit status still tells.
  (void)sift_runlog::write_all(STDERR_FILENO, text);
}

void print(std::string_view text) { write_all(STDOUT_FILENO, text, "standard output"); }

std::string counted(std::size_t count, std::string_view noun) {
  std::string text = std::to_string(count);
  ((text += ' ') += noun) += count == 1 ? "" : "s";
  return text;
}

std::string version_line() {
  return std::string(name_text) + ' ' + std::string(sift_runlog::version()) + '\n';
}

int exit_status_of(const std::function<int()>& command) {
  try {
    return command();
  } catch (const usage_failure& wrong) {
    say(wrong.what());
    // The fault stays in sight: the whole help would scroll it away.
    (void)sift_runlog::write_all(STDERR_FILENO, std::string("Try '") + name_text + " --help'.\n");
  } catch (const std::bad_alloc&) {
    say(std::string("out of memory; no ") + product_text + " written");
  } catch (const std::exception& stopped) {
    say(stopped.what());
  }
  return 2;
}

}  // namespace sift_runlog::campaign
