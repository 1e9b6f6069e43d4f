// make_campaign: writes a campaign of small generated logs for the sift_runlog_table benchmark.
//
//   make_campaign DIRECTORY COUNT [BIG_SIZE]
//
// COUNT logs of 2 to 6 KiB in folders of 1000 (DIRECTORY/d00/, d01/, ...), named
// tool_Model-N_ExamK_1.log. Of every 40: 22 formula answers (Boolean or numeric), 6 state
// spaces, 2 each of DNC, CC (declared), DNF (time limit reached), MOVF (memory ran out), and one
// each of BAD_RUN?, ERROR, a run stopped without answer and a failure (a declaration after
// RH_START): a mix like a real campaign's, with 2.5% of failed logs. With BIG_SIZE (suffix K, M
// or G), one more realistic log of that size, DIRECTORY/big/tool_Big_Reachability_1.log.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "log_generator.hpp"

namespace {

namespace bench = sift_runlog::bench;

// Tool chatter that no line test takes for anything, to give the hand-made logs a few KB.
std::string chatter(std::size_t size) {
  std::string text;
  for (std::size_t step = 1; text.size() < size; ++step) {
    text += "progress: step " + std::to_string(step) + ", " + std::to_string(step * 7919 % 100000) +
            " markings explored, queue at " + std::to_string(step * 31 % 977) + "\n";
  }
  return text;
}

std::string hand_made(std::size_t kind, std::size_t size) {
  const std::string head = "# Executing tool tool\n# Number of cores : 4\n";
  switch (kind) {
    case 0:
      return head + chatter(size) + "DO_NOT_COMPETE\n";
    case 1:
      return head + "RH_START\n" + chatter(size) + "CANNOT_COMPUTE\nRH_STOP\n";
    case 2:
      return head + "RH_START\n" + chatter(size) + "RH_TIME_CONFINEMENT_REACHED\n";
    case 3:
      return head + "RH_START\n" + chatter(size) + "Can't allocate memory\nRH_STOP\n";
    case 4:
      return head + chatter(size);  // BAD_RUN?
    case 5:
      // ERROR: a state space, and no tool line to say how its states are named.
      return "# Number of cores : 4\nRH_START\n" + chatter(size) +
             "STATE_SPACE TRANSITIONS 5000\nRH_STOP\n";
    case 6:
      return head + "RH_START\n" + chatter(size) + "RH_STOP\n";
    default:
      return head + "RH_START\nFORMULA_NAME A\n" + chatter(size);  // fails
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: make_campaign DIRECTORY COUNT [BIG_SIZE]\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const std::size_t count = std::stoul(argv[2]);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t slot = i % 40;
    const std::size_t size = 2048 + (i * 2654435761u) % 4096;
    std::string log;
    if (slot < 28) {
      bench::log_shape shape;
      shape.kind = slot < 22 ? bench::log_kind::realistic : bench::log_kind::state_space;
      shape.size = size;
      shape.seed = i + 1;
      shape.answers = slot % 2 != 0 ? bench::answer_kind::numeric : bench::answer_kind::boolean;
      shape.formula_count = static_cast<int>(1 + i % 16);
      log = bench::make_log(shape);
    } else {
      const std::size_t kinds[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 5, 6, 7};
      log = hand_made(kinds[slot - 28], size);
    }
    char folder[24];
    std::snprintf(folder, sizeof folder, "d%02zu", i / 1000);
    const std::filesystem::path path =
        root / folder /
        ("tool_Model-" + std::to_string(i / 40) + "_Exam" + std::to_string(slot) + "_1.log");
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << log;
  }
  if (argc == 4) {
    bench::log_shape shape;
    shape.size = bench::parse_size(argv[3]).value_or(0);
    std::filesystem::create_directories(root / "big");
    std::ofstream out(root / "big/tool_Big_Reachability_1.log", std::ios::binary);
    bench::write_log(shape, [&out](std::string_view bytes) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
  }
  return 0;
}
