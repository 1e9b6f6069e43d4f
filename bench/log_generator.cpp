#include "log_generator.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace sift_runlog::bench {

namespace {

// xoshiro256** seeded through splitmix64: fast, and the same sequence on every platform (the
// distributions of <random> are not).
class random_bits {
 public:
  explicit random_bits(std::uint64_t seed) {
    for (auto& word : state_) {
      seed += 0x9e3779b97f4a7c15U;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t next() {
    const std::uint64_t result = rotate(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotate(state_[3], 45);
    return result;
  }

  // From 0 to bound - 1; the slight bias of the modulo does not matter for test data.
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }
  std::uint64_t between(std::uint64_t low, std::uint64_t high) {
    return low + below(high - low + 1);
  }
  std::size_t index(std::size_t bound) { return static_cast<std::size_t>(below(bound)); }

  template <typename Table>
  std::string_view pick(const Table& table) {
    return table[index(table.size())];
  }

 private:
  static std::uint64_t rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::array<std::uint64_t, 4> state_{};
};

// Chatter vocabulary. None of these is a word that the grader looks for (no keyword, no "Out",
// "Insufficient", "Executing" or "Number" in a tested place), so chatter never changes the
// result. Like real tool output it has capitals, which a scan cannot dismiss at a glance.
constexpr std::array<std::string_view, 64> chatter_words = {
    "reading",  "model",     "net",        "places",   "transitions", "arcs",
    "parsed",   "in",        "ms",         "building", "graph",       "with",
    "threads",  "computing", "invariants", "found",    "new",         "states",
    "queue",    "size",      "depth",      "level",    "symmetry",    "reduction",
    "applied",  "removed",   "redundant",  "implicit", "place",       "agglomeration",
    "of",       "the",       "a",          "for",      "property",    "formula",
    "checking", "unfolding", "colored",    "partial",  "order",       "stubborn",
    "set",      "memory",    "usage",      "heap",     "peak",        "solver",
    "call",     "sat",       "unsat",      "timeout",  "retrying",    "larger",
    "bound",    "iteration", "cache",      "hits",     "misses",      "time",
    "elapsed",  "done",      "skipped",    "witness"};
constexpr std::array<std::string_view, 16> sentence_starts = {
    "Reading", "Computing", "Done",     "Starting", "Found",  "Net",     "Building", "Exploring",
    "Using",   "Checking",  "Applying", "Saving",   "Loaded", "Parsing", "Bound",    "Symmetry"};
constexpr std::array<std::string_view, 16> capital_words = {
    "Net", "Invariant", "Exploration", "Error",     "Observer",   "Iteration", "Node",  "SAT",
    "BDD", "LTL",       "CTL",         "Reduction", "Structural", "Place",     "Order", "Input"};
// Lines that begin like a directive or hold a tested word, without being one.
constexpr std::array<std::string_view, 10> near_misses = {
    "Number of places : 120",
    "# Number of transitions : 340",
    "State space exploration, step 12",
    "FORMULAS to check : 16",
    "STATES so far 1200345",
    "CANNOT_COMPUTE_INVARIANTS, falling back to exploration",
    "Bound reached for place p12",
    "Note: Out of 16 formulas, 12 are done",
    "DONE reduction phase 2",
    "RH_Start-like label in model, ignored"};
constexpr std::array<std::string_view, 6> packages = {"engine", "reduce", "parse",
                                                      "smt",    "util",   "graph"};
constexpr std::array<std::string_view, 8> classes = {
    "Explorer",     "StateStore", "NetReducer", "ModelReader",
    "SolverBridge", "HashTable",  "Worker",     "SuccessorGenerator"};
constexpr std::array<std::string_view, 10> methods = {
    "run", "step", "explore", "reduce", "apply", "solve", "lookup", "insert", "accept", "visit"};
constexpr std::array<std::string_view, 4> exceptions = {
    "java.lang.IllegalStateException", "java.util.ConcurrentModificationException",
    "java.lang.ArithmeticException", "java.io.UncheckedIOException"};
constexpr std::array<std::string_view, 3> levels = {"INFO ", "DEBUG", "WARN "};
constexpr std::array<std::string_view, 8> technique_names = {
    "EXPLICIT",    "SEQUENTIAL_PROCESSING", "STATE_COMPRESSION", "STUBBORN_SETS",
    "TOPOLOGICAL", "STRUCTURAL_REDUCTION",  "SAT_SMT",           "DECISION_DIAGRAMS"};

// Lines that would change the result if the grader read them; they follow an early RH_STOP.
constexpr std::array<std::string_view, 4> spoilers = {"Can't allocate memory", "DO_NOT_COMPETE",
                                                      "RH_TIME_CONFINEMENT_REACHED",
                                                      "FORMULA_NAME Declared-After-The-Stop"};

// The progress vocabulary of the chatter log: "memory" is one word in 40.
constexpr std::array<std::string_view, 40> progress_words = {
    "explored", "states", "transitions", "fired",      "queue",      "depth",    "hash",
    "table",    "load",   "factor",      "memory",     "used",       "MB",       "peak",
    "rate",     "per",    "second",      "stored",     "visited",    "pending",  "workers",
    "idle",     "busy",   "collisions",  "resize",     "buckets",    "level",    "frontier",
    "size",     "time",   "elapsed",     "ms",         "successors", "computed", "cache",
    "hits",     "misses", "ratio",       "compressed", "bytes"};
// The words of the hostile log: a line holds "Out", "of" and "memory" somewhere more often
// than not, but only "Out" as word 3 and "memory" as word 5 make the memory message.
constexpr std::array<std::string_view, 16> hostile_words = {"ab",  "cd", "ef",     "gh", "ij", "kl",
                                                            "Out", "of", "memory", "mn", "op", "qr",
                                                            "st",  "uv", "wx",     "yz"};

constexpr std::string_view tool = "gravel";
constexpr std::string_view model = "TokenRing-PT-020";
constexpr std::string_view stop_line = "RH_STOP";
constexpr std::uint64_t default_stop_at = 1 << 20;

// One line being built, then handed to the log in one piece.
class line_builder {
 public:
  // The longest line made: a long chatter line of at most 60000 bytes plus its prefix.
  static constexpr std::size_t capacity = 64 * 1024;

  void clear() { size_ = 0; }
  void put(std::string_view text) {
    const std::size_t taken = std::min(text.size(), capacity - size_);
    std::memcpy(data_.get() + size_, text.data(), taken);
    size_ += taken;
  }
  void put(char c) {
    if (size_ < capacity) data_[size_++] = c;
  }
  void put_number(std::uint64_t n, int width = 0) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, n);
    (void)error;
    for (auto length = end - digits; length < width; ++length) put('0');
    put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  // Turns the lower-case letter at `position` into a capital.
  void capitalize(std::size_t position) {
    if (position < size_ && data_[position] >= 'a' && data_[position] <= 'z') {
      data_[position] = static_cast<char>(data_[position] - 'a' + 'A');
    }
  }
  [[nodiscard]] std::string_view view() const { return {data_.get(), size_}; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  std::unique_ptr<char[]> data_ = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t size_ = 0;
};

// The answers a log carries, the lines that declare them and the result line they give.
struct answer_plan {
  std::string examination;
  std::vector<std::string> declarations;  // before RH_START
  std::vector<std::string> answers;       // spread through the body, in this order
  std::string expected;                   // the result line
};

std::string formula_name(int i) {
  std::string name(model);
  name += "-";
  name += "ReachabilityCardinality-";
  name += static_cast<char>('0' + i / 10);
  name += static_cast<char>('0' + i % 10);
  return name;
}

// Appends " TECHNIQUES" and one to three technique names; adds them to `seen` if new.
void add_techniques(std::string& line, random_bits& random, std::vector<std::string_view>& seen) {
  line += " TECHNIQUES";
  const std::size_t first = random.index(technique_names.size());
  const std::size_t count = random.index(3) + 1;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view name = technique_names[(first + k) % technique_names.size()];
    line += ' ';
    line += name;
    if (std::find(seen.begin(), seen.end(), name) == seen.end()) seen.push_back(name);
  }
}

std::string techniques_field(const std::vector<std::string_view>& seen) {
  if (seen.empty()) return "-";
  std::string field;
  for (const std::string_view name : seen) {
    field += name;
    field += ' ';
  }
  return field;
}

answer_plan plan_state_space(random_bits& random) {
  answer_plan plan;
  plan.examination = "StateSpace";
  std::vector<std::string_view> seen;
  const std::array<std::string, 4> values = {
      std::to_string(random.between(1'000'000, 999'999'999)),
      std::to_string(random.between(1, 9)) + "." + std::to_string(random.between(10, 99)) + "E+" +
          std::to_string(random.between(10, 14)),
      std::to_string(random.between(1, 20)), std::to_string(random.between(20, 200))};
  const std::array<std::string_view, 4> keys = {"STATES", "TRANSITIONS", "MAX_TOKEN_IN_PLACE",
                                                "MAX_TOKEN_PER_MARKING"};
  plan.expected = "4,OK,OK,4";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::string line = "STATE_SPACE ";
    line += keys[i];
    line += ' ';
    line += values[i];
    add_techniques(line, random, seen);
    plan.answers.push_back(std::move(line));
    plan.expected += i == 0 ? " NUM:" : "NUM:";
    plan.expected += values[i];
    plan.expected += i + 1 < keys.size() ? " " : ",";
  }
  plan.expected += techniques_field(seen);
  plan.expected += '\n';
  return plan;
}

answer_plan plan_formulas(const log_shape& shape, random_bits& random) {
  answer_plan plan;
  const bool boolean = shape.answers == answer_kind::boolean;
  plan.examination = boolean ? "ReachabilityCardinality" : "UpperBounds";
  const int count = std::clamp(shape.formula_count, 1, 16);
  std::vector<std::string> values;
  for (int i = 0; i < count; ++i) {
    plan.declarations.push_back("FORMULA_NAME " + formula_name(i));
    values.push_back(boolean ? (random.below(2) == 0 ? "TRUE" : "FALSE")
                             : std::to_string(random.below(100'000)));
  }
  plan.declarations.emplace_back(boolean ? "BOOL_VECTOR" : "NUM_VECTOR");

  // Answered in a shuffled order, as a tool that checks formulas in parallel would.
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
  for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[random.index(i)]);
  std::vector<std::string_view> seen;
  for (const int i : order) {
    std::string line = "FORMULA " + formula_name(i) + " " + values[static_cast<std::size_t>(i)];
    add_techniques(line, random, seen);
    plan.answers.push_back(std::move(line));
  }
  // A second, different answer for the first formula answered: ignored, techniques and all.
  plan.answers.push_back("FORMULA " + formula_name(order.front()) + " " +
                         (boolean ? "MAYBE" : "-1") + " TECHNIQUES LATE_SECOND_ANSWER");

  const std::string_view prefix = boolean ? "BOOL:" : "NUM:";
  plan.expected = "4,OK,OK," + std::to_string(count);
  for (int i = 0; i < count; ++i) {
    plan.expected += i == 0 ? " " : "";
    plan.expected += prefix;
    plan.expected += values[static_cast<std::size_t>(i)];
    plan.expected += i + 1 == count ? "," : " ";
  }
  plan.expected += techniques_field(seen);
  plan.expected += '\n';
  return plan;
}

answer_plan plan_answers(const log_shape& shape) {
  if (shape.kind == log_kind::hostile) {
    // No header and no answer; the body ends with a memory message of its own.
    answer_plan plan;
    plan.expected = "NO_CORE,OK,MOVF,CC,-\n";
    return plan;
  }
  // A stream of its own, so that the answers do not depend on the chatter and its size.
  random_bits random(shape.seed ^ 0x5eed'a115'0000'0000U);
  return shape.kind == log_kind::state_space ? plan_state_space(random)
                                             : plan_formulas(shape, random);
}

class log_writer {
 public:
  log_writer(const log_shape& shape, const std::function<void(std::string_view)>& consume)
      : shape_(shape), consume_(consume), random_(shape.seed) {
    // The text that long lines are cut from: numbers and blanks, as in a dumped vector.
    line_builder pool;
    while (pool.size() + 8 < line_builder::capacity) {
      pool.put_number(random_.below(4) == 0 ? random_.below(1000) : random_.below(3));
      pool.put(' ');
    }
    long_line_pool_.assign(pool.view());
    // Short words for the dense log, one in three capitalised.
    for (auto& word : dense_words_) {
      const std::size_t length = random_.index(4) + 2;
      for (std::size_t k = 0; k < length; ++k) word += static_cast<char>('a' + random_.below(26));
      if (random_.below(3) == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
  }

  void run() {
    const answer_plan plan = plan_answers(shape_);
    const bool hostile = shape_.kind == log_kind::hostile;
    if (!hostile) {
      put_line("# Executing tool " + std::string(tool));
      put_line("# Number of cores : 4");
      put_line("# Model: " + std::string(model) + ", examination " + plan.examination);
      put_line("# Time limit : 3600 s");
      for (const std::string& line : plan.declarations) put_line(line);
    }
    put_line("RH_START");
    const std::uint64_t stop_size = stop_line.size() + 1;
    if (shape_.kind == log_kind::early_stop) {
      const std::uint64_t stop_at =
          shape_.stop_at != 0 ? shape_.stop_at : std::min(default_stop_at, shape_.size / 2);
      body(stop_at > stop_size ? stop_at - stop_size : 0, plan.answers, chatter::realistic);
      put_line(stop_line);
      body(shape_.size, {}, chatter::after_stop);
    } else if (hostile) {
      const std::string_view last = "ab cd Out of memory";
      const std::uint64_t tail = stop_size + last.size() + 1;
      body(shape_.size > tail ? shape_.size - tail : 0, {}, chatter::hostile);
      put_line(last);
      put_line(stop_line);
    } else {
      chatter kind = chatter::realistic;
      if (shape_.kind == log_kind::dense) kind = chatter::dense;
      if (shape_.kind == log_kind::chatter) kind = chatter::progress;
      body(shape_.size > stop_size ? shape_.size - stop_size : 0, plan.answers, kind);
      put_line(stop_line);
    }
    flush();
  }

 private:
  enum class chatter { realistic, dense, after_stop, progress, hostile };

  static constexpr std::size_t chunk = 1 << 20;

  void put_line(std::string_view text) {
    pending_.append(text);
    pending_ += '\n';
    written_ += text.size() + 1;
    if (pending_.size() >= chunk) flush();
  }

  void flush() {
    if (!pending_.empty()) consume_(pending_);
    pending_.clear();
  }

  // Chatter up to byte `end` of the log, with `answers` spread evenly through it; when a line
  // no longer fits, a line of dots fills the rest exactly.
  void body(std::uint64_t end, const std::vector<std::string>& answers, chatter kind) {
    std::uint64_t answer_bytes = 0;
    for (const std::string& answer : answers) answer_bytes += answer.size() + 1;
    const std::uint64_t room = end > written_ + answer_bytes ? end - written_ - answer_bytes : 0;
    std::uint64_t chatter_bytes = 0;
    std::size_t next_answer = 0;
    const std::uint64_t slots = answers.size() + 1;
    lines_since_stop_ = 0;
    for (;;) {
      while (next_answer < answers.size() && chatter_bytes >= (next_answer + 1) * (room / slots)) {
        put_line(answers[next_answer++]);
      }
      make_chatter_line(kind);
      if (chatter_bytes + line_.size() + 1 > room) break;
      put_line(line_.view());
      chatter_bytes += line_.size() + 1;
    }
    if (chatter_bytes < room) put_line(std::string(room - chatter_bytes - 1, '.'));
    while (next_answer < answers.size()) put_line(answers[next_answer++]);
  }

  void make_chatter_line(chatter kind) {
    line_.clear();
    if (kind == chatter::dense) {
      dense_line();
      return;
    }
    if (kind == chatter::hostile) {
      words_line(hostile_words, 10, 14);
      return;
    }
    if (kind == chatter::progress) {
      progress_chatter_line();
      return;
    }
    if (kind == chatter::after_stop && lines_since_stop_++ % 4096 == 0) {
      line_.put(random_.pick(spoilers));
      return;
    }
    if (frames_left_ > 0) {
      stack_frame();
      return;
    }
    if (random_.below(8000) == 0) {
      long_line();
      return;
    }
    const std::uint64_t choice = random_.below(100);
    if (choice < 28) {
      progress_line();
    } else if (choice < 50) {
      if (random_.below(5) < 2) {
        line_.put(random_.pick(sentence_starts));
        line_.put(' ');
      }
      sentence(3, 11);
    } else if (choice < 70) {
      logger_line();
    } else if (choice < 83) {
      numbers_line();
    } else if (choice < 94) {
      short_line();
    } else if (choice < 98) {
      line_.put(random_.pick(near_misses));
    } else {
      exception_line();
    }
  }

  void sentence(std::uint64_t min_words, std::uint64_t max_words) {
    const std::uint64_t count = random_.between(min_words, max_words);
    for (std::uint64_t k = 0; k < count; ++k) {
      if (k > 0) line_.put(' ');
      const std::uint64_t kind = random_.below(12);
      if (kind < 2) {
        line_.put_number(random_.below(100'000));
      } else if (kind == 2) {
        line_.put(random_.pick(capital_words));
      } else {
        line_.put(random_.pick(chatter_words));
      }
    }
  }

  void seconds(std::uint64_t whole_limit) {
    line_.put_number(random_.below(whole_limit));
    line_.put('.');
    line_.put_number(random_.below(1000), 3);
  }

  void progress_line() {
    const std::size_t start = line_.size();
    switch (random_.below(5)) {
      case 0:
        line_.put("explored ");
        line_.put_number(random_.below(100'000'000));
        line_.put(" states, ");
        line_.put_number(random_.below(1'000'000'000));
        line_.put(" transitions, depth ");
        line_.put_number(random_.below(10'000));
        line_.put(", ");
        seconds(4000);
        line_.put(" s");
        break;
      case 1:
        line_.put("level ");
        line_.put_number(random_.below(5000));
        line_.put(" : ");
        line_.put_number(random_.below(1'000'000));
        line_.put(" new states (");
        seconds(30000);
        line_.put(" MB)");
        break;
      case 2:
        line_.put("reduction removed ");
        line_.put_number(random_.below(500));
        line_.put(" places and ");
        line_.put_number(random_.below(500));
        line_.put(" transitions");
        break;
      case 3:
        line_.put("checking property ");
        line_.put_number(random_.below(16));
        line_.put(" of 16");
        break;
      default:
        line_.put("gc: ");
        line_.put_number(random_.below(2'000'000));
        line_.put(" KB freed in ");
        seconds(100);
        line_.put(" ms");
        break;
    }
    if (random_.below(2) == 0) line_.capitalize(start);
  }

  void logger_line() {
    line_.put("2024-05-");
    line_.put_number(random_.between(1, 28), 2);
    line_.put(' ');
    line_.put_number(random_.below(24), 2);
    line_.put(':');
    line_.put_number(random_.below(60), 2);
    line_.put(':');
    line_.put_number(random_.below(60), 2);
    line_.put(',');
    line_.put_number(random_.below(1000), 3);
    line_.put(' ');
    line_.put(random_.pick(levels));
    line_.put(" [worker-");
    line_.put_number(random_.below(4));
    line_.put("] org.example.");
    line_.put(tool);
    line_.put('.');
    line_.put(random_.pick(packages));
    line_.put('.');
    line_.put(random_.pick(classes));
    line_.put(" - ");
    sentence(3, 8);
  }

  void numbers_line() {
    const std::uint64_t count = random_.between(6, 16);
    for (std::uint64_t k = 0; k < count; ++k) {
      if (k > 0) line_.put(' ');
      line_.put_number(random_.below(100'000));
    }
  }

  void short_line() {
    switch (random_.below(4)) {
      case 0:
        break;  // an empty line
      case 1:
        line_.put("done");
        break;
      case 2:
        line_.put(tool);
        line_.put(": ok");
        break;
      default:
        line_.put("  ");
        sentence(1, 3);
        break;
    }
  }

  void exception_line() {
    line_.put("Exception in thread \"worker-");
    line_.put_number(random_.below(4));
    line_.put("\" ");
    line_.put(random_.pick(exceptions));
    line_.put(": ");
    sentence(3, 6);
    frames_left_ = random_.between(5, 25);
  }

  void stack_frame() {
    --frames_left_;
    if (frames_left_ == 0 && random_.below(3) == 0) {
      line_.put("\t... ");
      line_.put_number(random_.between(2, 40));
      line_.put(" more");
      return;
    }
    const std::string_view class_name = random_.pick(classes);
    line_.put("\tat org.example.");
    line_.put(tool);
    line_.put('.');
    line_.put(random_.pick(packages));
    line_.put('.');
    line_.put(class_name);
    line_.put('.');
    line_.put(random_.pick(methods));
    line_.put('(');
    line_.put(class_name);
    line_.put(".java:");
    line_.put_number(random_.between(12, 900));
    line_.put(')');
  }

  void long_line() {
    line_.put("marking vector: ");
    const std::size_t length = static_cast<std::size_t>(random_.between(10'000, 60'000));
    const std::size_t start = random_.index(long_line_pool_.size() - length);
    line_.put(std::string_view(long_line_pool_).substr(start, length));
  }

  template <typename Table>
  void words_line(const Table& words, std::uint64_t min_words, std::uint64_t max_words) {
    const std::uint64_t count = random_.between(min_words, max_words);
    for (std::uint64_t k = 0; k < count; ++k) {
      if (k > 0) line_.put(' ');
      line_.put(random_.pick(words));
    }
  }

  // A line of the chatter log.
  void progress_chatter_line() {
    if (frames_left_ > 0) {
      stack_frame();
      return;
    }
    const std::uint64_t choice = random_.below(100);
    if (choice < 8) {
      line_.put('[');
      line_.put_number(random_.below(4'000'000));
      line_.put(" ms] explored ");
      line_.put_number(random_.below(1'000'000'000));
      line_.put(" states, ");
      line_.put_number(random_.below(1'000'000'000));
      line_.put(" transitions, depth ");
      line_.put_number(random_.below(10'000));
    } else if (choice < 10) {
      // A stack trace of about four frames counts as one line in fifty.
      exception_line();
      frames_left_ = random_.between(2, 5);
    } else if (choice < 12) {
      const std::uint64_t count = random_.between(2000, 6000);
      for (std::uint64_t k = 0; k < count; ++k) {
        if (k > 0) line_.put(' ');
        line_.put_number(random_.below(4) == 0 ? random_.below(100'000) : random_.below(100));
      }
    } else {
      words_line(progress_words, 1, 15);
    }
  }

  void dense_line() {
    for (int k = 0; k < 12; ++k) {
      if (k > 0) line_.put(' ');
      line_.put(dense_words_[random_.index(dense_words_.size())]);
    }
  }

  const log_shape& shape_;
  const std::function<void(std::string_view)>& consume_;
  random_bits random_;
  std::string pending_;
  std::uint64_t written_ = 0;
  line_builder line_;
  std::string long_line_pool_;
  std::array<std::string, 4096> dense_words_;
  std::uint64_t frames_left_ = 0;
  std::uint64_t lines_since_stop_ = 0;
};

}  // namespace

void write_log(const log_shape& shape, const std::function<void(std::string_view)>& consume) {
  log_writer(shape, consume).run();
}

std::string make_log(const log_shape& shape) {
  std::string log;
  log.reserve(static_cast<std::size_t>(shape.size));
  write_log(shape, [&](std::string_view chunk) { log.append(chunk); });
  return log;
}

std::string expected_result_line(const log_shape& shape) { return plan_answers(shape).expected; }

std::optional<log_kind> parse_log_kind(std::string_view text) {
  if (text == "realistic") return log_kind::realistic;
  if (text == "dense") return log_kind::dense;
  if (text == "early-stop") return log_kind::early_stop;
  if (text == "state-space") return log_kind::state_space;
  if (text == "chatter") return log_kind::chatter;
  if (text == "hostile") return log_kind::hostile;
  return std::nullopt;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest == text.data()) return std::nullopt;
  const std::string_view suffix(rest, static_cast<std::size_t>(end - rest));
  int shift = 0;
  if (suffix == "K" || suffix == "k") {
    shift = 10;
  } else if (suffix == "M" || suffix == "m") {
    shift = 20;
  } else if (suffix == "G" || suffix == "g") {
    shift = 30;
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

}  // namespace sift_runlog::bench
