// Reading a reference: a csv of known answers, or a trusted campaign's table.
#include <memory>
#include <sift_campaign/csv_codec.hpp>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/record_reader.hpp>
#include <sift_campaign/table_reader.hpp>
#include <sift_campaign/table_set.hpp>

#include "campaign_digest.hpp"
#include "exact_number.hpp"

namespace sift_runlog::report {

namespace {

constexpr std::array<std::string_view, 4> reference_columns = {"model", "examination", "formula",
                                                               "value"};
constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";

// The fields of a record, without an empty last one (a trailing comma).
std::size_t fields_used(const campaign::csv_fields& fields) {
  return fields.count == 5 && fields.text[4].empty() ? 4 : fields.count;
}

// Whether a record is the header model,examination,formula,value, in any case.
bool is_reference_header(std::string_view record) {
  campaign::csv_fields fields;
  try {
    campaign::split_csv_record(record, fields, 6);
  } catch (const campaign::failure&) {
    return false;
  }
  if (fields_used(fields) != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    std::string name = fields.text[i];
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name != reference_columns[i]) return false;
  }
  return true;
}

}  // namespace

class reference_builder {
 public:
  explicit reference_builder(reference_answers& reference) : reference_(reference) {}

  // A known answer from line `line`; the same formula twice must have the same value.
  void add_known(const campaign::record_reader& in, std::string_view model,
                 std::string_view examination, std::string_view formula, std::string value) {
    if (value.empty() || value == "?") return;
    examination_key(key_, model, examination);
    std::vector<reference_answers::known>& list = reference_.answers_[key_];
    std::string key = comparison_key(value);
    if (const auto* known = find_formula(list, formula, list.size())) {
      if (known->key == key) return;
      in.fail(in.line(), "a second value, '" + value + "', for the formula '" +
                             std::string(formula) + "' of " + std::string(model) + " " +
                             std::string(examination) + ", whose value is '" + known->value + "'");
    }
    list.push_back({std::string(formula), std::move(value), std::move(key)});
  }

  // The rows model,examination,formula,value after the header; blank lines are passed over.
  void add_csv(campaign::record_reader& in) {
    campaign::csv_fields fields;
    while (const std::optional<std::string_view> record = in.next(true)) {
      if (record->find_first_not_of(" \t") == std::string_view::npos) continue;
      try {
        campaign::split_csv_record(*record, fields, 6);
      } catch (const campaign::failure& e) {
        in.fail(in.line(), e.what());
      }
      if (fields_used(fields) != 4) {
        in.fail(in.line(), "not the four fields model,examination,formula,value");
      }
      add_known(in, fields.text[0], fields.text[1], fields.text[2], std::move(fields.text[3]));
    }
  }

  // The definite answers of a trusted campaign; a formula its logs disagree on is left out.
  void add_campaign(std::unique_ptr<campaign::record_reader> in) {
    campaign::table_reader table(std::move(in));
    if (table.format() == campaign::table_format::raw) {
      throw campaign::failure(table.name() +
                              ": a raw table has no names: write the reference's table with "
                              "--format csv or jsonl");
    }
    campaign_digest digest;
    campaign::row row;
    while (table.next(row)) {
      campaign::names_from_file(row);
      digest.add(row);
    }
    const std::size_t left_out =
        digest.for_each_agreed_answer([&](std::string_view model, std::string_view examination,
                                          std::string_view formula, std::string_view value) {
          examination_key(key_, model, examination);
          reference_.answers_[key_].push_back(
              {std::string(formula), std::string(value), comparison_key(value)});
        });
    if (left_out != 0) {
      campaign::say(table.name() + ": " + campaign::counted(left_out, "formula") +
                    " left out of the reference: the campaign's logs disagree on " +
                    (left_out == 1 ? "it" : "them"));
    }
  }

 private:
  reference_answers& reference_;
  std::string key_;
};

reference_answers reference_answers::load(const std::string& file) {
  reference_answers reference;
  reference_builder builder(reference);
  std::unique_ptr<campaign::record_reader> in;
  try {
    in = std::make_unique<campaign::record_reader>(file);
  } catch (const campaign::failure& e) {
    throw campaign::failure(std::string("cannot read the reference") +
                            std::string(e.what()).substr(std::string_view("cannot read").size()));
  }
  if (in->at_end()) throw campaign::failure(file + " is empty: it holds no known answer");
  std::optional<std::string_view> first = in->next(true);
  if (first && first->starts_with(byte_order_mark)) first->remove_prefix(byte_order_mark.size());
  if (first && is_reference_header(*first)) {
    builder.add_csv(*in);
  } else {
    in->unread();
    builder.add_campaign(std::move(in));
  }
  if (reference.answers_.empty()) {
    throw campaign::failure(file +
                            " holds no known answer: every answer would be not_in_reference");
  }
  return reference;
}

}  // namespace sift_runlog::report
