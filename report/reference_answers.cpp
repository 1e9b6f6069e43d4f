// Reading a reference: a csv of known answers, or a trusted campaign's table.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sift_campaign/messages.hpp>

#include "campaign_digest.hpp"
#include "exact_number.hpp"
#include "formats.hpp"
#include "table_rows.hpp"

namespace sift_runlog::report {

constexpr std::string_view reference_header = "model,examination,formula,value";

class reference_builder {
 public:
  explicit reference_builder(reference_answers& reference) : reference_(reference) {}

  // A known answer from line `line` of `file`; the same formula twice must have the same value.
  void add_known(const std::string& file, std::size_t line, std::string_view model,
                 std::string_view examination, std::string_view formula, std::string value) {
    if (value.empty() || value == "?") return;
    examination_key(key_, model, examination);
    std::vector<reference_answers::known>& list = reference_.answers_[key_];
    std::string key = comparison_key(value);
    if (const auto* known = find_formula(list, formula, list.size())) {
      if (known->key == key) return;
      throw input_error(file + ": line " + std::to_string(line) + ": a second value, '" + value +
                        "', for the formula '" + std::string(formula) + "' of " +
                        std::string(model) + " " + std::string(examination) + ", whose value is '" +
                        known->value + "'");
    }
    list.push_back({std::string(formula), std::move(value), std::move(key)});
  }

  // The definite answers of a trusted campaign; a formula its logs disagree on is left out.
  void add_campaign(const std::string& file) {
    campaign_digest digest;
    table_rows rows({file});
    table::table_row row;
    while (rows.next(row)) digest.add(row);
    const std::size_t left_out =
        digest.for_each_agreed_answer([&](std::string_view model, std::string_view examination,
                                          std::string_view formula, std::string_view value) {
          examination_key(key_, model, examination);
          reference_.answers_[key_].push_back(
              {std::string(formula), std::string(value), comparison_key(value)});
        });
    if (left_out != 0) {
      campaign::say(file + ": " + std::to_string(left_out) +
                    " formula(s) left out of the reference: the campaign's logs disagree on them");
    }
  }

 private:
  reference_answers& reference_;
  std::string key_;
};

namespace {

// Reads one csv record, without its line end, into `record`: a line, and the lines after it while
// a quoted field is open (an odd count of quotes). Returns false at the end of the input.
bool read_record(std::istream& in, std::string& record) {
  if (!std::getline(in, record)) return false;
  auto quotes = std::count(record.begin(), record.end(), '"');
  std::string line;
  while (quotes % 2 != 0 && std::getline(in, line)) {
    (record += '\n') += line;
    quotes += std::count(line.begin(), line.end(), '"');
  }
  if (record.ends_with('\r')) record.pop_back();
  return true;
}

}  // namespace

reference_answers reference_answers::load(const std::string& file) {
  reference_answers reference;
  reference_builder builder(reference);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw input_error("cannot read the reference " + file + ": " + std::strerror(errno));
  std::string record;
  if (!read_record(in, record) || record != reference_header) {
    in.close();
    builder.add_campaign(file);
    return reference;
  }
  std::vector<std::string> fields;
  for (std::size_t line = 2; read_record(in, record);
       line += static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n')) + 1) {
    const auto error = table::split_csv_record(record, fields, 4);
    if (error || fields.size() != 4) {
      throw input_error(file + ": line " + std::to_string(line) + ": " +
                        error.value_or("not the four fields " + std::string(reference_header)));
    }
    builder.add_known(file, line, fields[0], fields[1], fields[2], std::move(fields[3]));
  }
  if (in.bad()) throw input_error("cannot read the reference " + file);
  return reference;
}

}  // namespace sift_runlog::report
