// make_campaign: writes a campaign of small generated logs for the sift_runlog_table benchmark.
//
//   make_campaign DIRECTORY COUNT [BIG_SIZE]
//   make_campaign --shared DIRECTORY MODELS [CARELESS_TOOL]
//
// COUNT logs of 2 to 6 KiB in folders of 1000 (DIRECTORY/d00/, d01/, ...), named
// tool_Model-N_ExamK_1.log. Of every 40: 22 formula answers (Boolean or numeric), 6 state
// spaces, 2 each of DNC, CC (declared), DNF (time limit reached), MOVF (memory ran out), and one
// each of BAD_RUN?, ERROR, a run stopped without answer and a failure (a declaration after
// RH_START): a mix like a real campaign's, with 2.5% of failed logs. With BIG_SIZE (suffix K, M
// or G), one more realistic log of that size, DIRECTORY/big/tool_Big_Reachability_1.log.
//
// --shared: a campaign for sift_runlog_report, where several tools answer the same formulas.
// Four tools (DIRECTORY/TOOL/dNN/TOOL_Model-NNNNN-PT_EXAM_1.log) each run every one of MODELS
// models in four examinations: two of 16 Boolean formulas, one of 16 bounds and the state
// space, 52 answers a model and tool. Each answer is right, or in about 1 in 25 wrong and in 1 in
// 25 "?" (never answered); tool lynx writes bounds of 1000 and more as 1.234E+3. About 1 log in
// 50 is DNC, 1 in 60 CC, 1 in 70 DNF after some answers and 1 in 200 fails. The right answers
// go to DIRECTORY/reference.csv (model,examination,formula,value). MODELS = 4808 gives about
// 1,000,000 answers. CARELESS_TOOL (kite, lynx, orca or velox) answers wrong about 1 in 4 instead,
// for a campaign where one tool has most of the wrong answers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

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

// A well-mixed 64-bit hash of a few numbers, for answers that are the same on every machine.
std::uint64_t mix(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  std::uint64_t h = 0x9e3779b97f4a7c15U;
  for (const std::uint64_t word : {a, b, c, d}) {
    h ^= word + 0x9e3779b97f4a7c15U + (h << 6) + (h >> 2);
    h *= 0xbf58476d1ce4e5b9U;
    h ^= h >> 31;
  }
  return h;
}

struct examination {
  const char* name;
  int formulas;  // 0: the state space
  bool boolean;
};

constexpr examination examinations[] = {{"ReachabilityCardinality", 16, true},
                                        {"CTLFireability", 16, true},
                                        {"UpperBounds", 16, false},
                                        {"StateSpace", 0, false}};
constexpr const char* shared_tools[] = {"kite", "lynx", "orca", "velox"};
constexpr const char* state_keys[] = {"STATES", "TRANSITIONS", "MAX_TOKEN_IN_PLACE",
                                      "MAX_TOKEN_PER_MARKING"};

// The right answer of formula (or state-space figure) `index` of a model's examination.
std::string true_value(std::size_t model, std::size_t exam, std::size_t index) {
  const std::uint64_t h = mix(model, exam, index, 0);
  if (examinations[exam].boolean) return h % 2 == 0 ? "TRUE" : "FALSE";
  if (examinations[exam].formulas == 0)
    return std::to_string(1 + h % (index == 0 ? 99'999'999 : 999));
  return std::to_string(h % 5000);
}

// A number as tool lynx writes it: 1234 as 1.234E+3 (the same value, in another notation).
std::string scientific(const std::string& digits) {
  if (digits.size() < 4) return digits;
  return digits.substr(0, 1) + "." + digits.substr(1) + "E+" + std::to_string(digits.size() - 1);
}

std::string shared_log(std::size_t tool, std::size_t model, std::size_t exam,
                       const std::string& model_name, bool careless, std::string& reference) {
  const examination& shape = examinations[exam];
  const std::uint64_t kind = mix(tool, model, exam, 1) % 4200;
  std::string log = "# Executing tool " + std::string(shared_tools[tool]) +
                    "\n# Number of cores : 4\n# Model: " + model_name + "\n";
  const bool state_space = shape.formulas == 0;
  const std::size_t count = state_space ? 4 : static_cast<std::size_t>(shape.formulas);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%02zu", i);
    names.push_back(state_space ? state_keys[i] : model_name + "-" + shape.name + suffix);
    if (tool == 0)
      reference += model_name + "," + shape.name + "," + names.back() + "," +
                   true_value(model, exam, i) + "\n";
  }
  if (kind < 84) return log + "DO_NOT_COMPETE\n";  // 1 in 50
  if (!state_space) {
    for (const std::string& name : names) log += "FORMULA_NAME " + name + "\n";
    log += shape.boolean ? "BOOL_VECTOR\n" : "NUM_VECTOR\n";
  }
  log += "RH_START\n";
  if (kind < 84 + 70) return log + "CANNOT_COMPUTE\nRH_STOP\n";          // 1 in 60
  if (kind < 84 + 70 + 21) return log + "FORMULA_NAME Late\nRH_STOP\n";  // 1 in 200 fails
  const bool timeout = kind < 84 + 70 + 21 + 60;                         // 1 in 70
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t fate = mix(tool, model, exam, 100 + i) % 25;
    if (fate == 0 || (timeout && i >= count / 2)) continue;  // "?"
    std::string value = true_value(model, exam, i);
    if (fate == 1 || (careless && fate <= 6)) {  // wrong
      value = value == "TRUE"    ? "FALSE"
              : value == "FALSE" ? "TRUE"
                                 : std::to_string(std::stoull(value) + 1);
    }
    if (tool == 1 && !shape.boolean) value = scientific(value);
    log += (state_space ? "STATE_SPACE " : "FORMULA ") + names[i] + " " + value +
           " TECHNIQUES DECISION_DIAGRAMS\n";
  }
  return log + (timeout ? "RH_TIME_CONFINEMENT_REACHED\n" : "RH_STOP\n");
}

int shared_campaign(const std::filesystem::path& root, std::size_t models,
                    std::string_view careless) {
  std::string reference = "model,examination,formula,value\n";
  for (std::size_t tool = 0; tool < std::size(shared_tools); ++tool) {
    std::size_t written = 0;
    for (std::size_t model = 0; model < models; ++model) {
      char model_name[32];
      std::snprintf(model_name, sizeof model_name, "Model-%05zu-PT", model);
      for (std::size_t exam = 0; exam < std::size(examinations); ++exam, ++written) {
        char folder[24];
        std::snprintf(folder, sizeof folder, "d%02zu", written / 1000);
        const std::filesystem::path path = root / shared_tools[tool] / folder /
                                           (std::string(shared_tools[tool]) + "_" + model_name +
                                            "_" + examinations[exam].name + "_1.log");
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            << shared_log(tool, model, exam, model_name, careless == shared_tools[tool], reference);
      }
    }
  }
  std::ofstream(root / "reference.csv", std::ios::binary) << reference;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::string_view(argv[1]) == "--shared") {
    std::filesystem::create_directories(argv[2]);
    return shared_campaign(argv[2], std::stoul(argv[3]), argc == 5 ? argv[4] : "");
  }
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr,
                 "usage: make_campaign DIRECTORY COUNT [BIG_SIZE]\n"
                 "       make_campaign --shared DIRECTORY MODELS [CARELESS_TOOL]\n");
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
