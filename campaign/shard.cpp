#include <algorithm>
#include <charconv>
#include <map>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/shard.hpp>
#include <sift_runlog/grade.hpp>
#include <tuple>

namespace sift_runlog::campaign {

namespace {

std::string hex16(std::uint64_t value) {
  std::string text;
  for (int shift = 56; shift >= 0; shift -= 8) {
    append_hex_byte(text, static_cast<unsigned char>(value >> shift));
  }
  return text;
}

// Reads "KEY=" then a number (base 10 or 16) ending at `stop` from `text`; false when absent.
template <typename Number>
bool take_number(std::string_view& text, std::string_view key, char stop, Number& value,
                 int base = 10) {
  if (!text.starts_with(key)) return false;
  text.remove_prefix(key.size());
  const std::size_t end = std::min(text.find(stop), text.size());
  // Digits only: from_chars would take a sign, and the record is written in one way only.
  if (end == 0 || text.substr(0, end).find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  const auto [last, error] = std::from_chars(text.data(), text.data() + end, value, base);
  if (error != std::errc() || last != text.data() + end) return false;
  text.remove_prefix(end);
  return true;
}

// "part 4 of 16 is missing", "parts 4, 9 of 16 are missing" (the first 20 named); empty when
// every part of 1..parts is among `present` (sorted).
std::string missing_parts(const std::vector<std::size_t>& present, std::size_t parts) {
  std::string missing;
  std::size_t count = 0;
  for (std::size_t part = 1, i = 0; part <= parts; ++part) {
    if (i < present.size() && present[i] == part) {
      ++i;
    } else if (++count <= 20) {
      (missing += missing.empty() ? "" : ", ") += std::to_string(part);
    }
  }
  if (count == 0) return {};
  if (count > 20) missing += ", ...";
  return (count == 1 ? "part " : "parts ") + missing + " of " + std::to_string(parts) +
         (count == 1 ? " is" : " are") + " missing";
}

// One cut's parts, all of the same cut: each once, none missing.
void check_one_cut(std::vector<const named_record*>& parts, std::string_view suffix) {
  std::sort(parts.begin(), parts.end(), [](const named_record* a, const named_record* b) {
    return a->record.part < b->record.part;
  });
  std::vector<std::size_t> present;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const shard_record& record = parts[i]->record;
    if (i > 0 && record.part == parts[i - 1]->record.part) {
      throw failure(std::string(parts[i - 1]->name) + " and " + std::string(parts[i]->name) +
                    " are both part " + std::to_string(record.part) + " of " +
                    std::to_string(record.parts));
    }
    present.push_back(record.part);
  }
  if (const std::string missing = missing_parts(present, parts.front()->record.parts);
      !missing.empty()) {
    throw failure(missing + std::string(suffix));
  }
}

}  // namespace

std::optional<shard> parse_shard(std::string_view text) {
  shard part;
  const char* const end = text.data() + text.size();
  const auto [slash, first_error] = std::from_chars(text.data(), end, part.part);
  if (first_error != std::errc() || slash == end || *slash != '/') return std::nullopt;
  const auto [rest, second_error] = std::from_chars(slash + 1, end, part.parts);
  if (second_error != std::errc() || rest != end || part.part < 1 || part.part > part.parts ||
      part.parts > 1'000'000) {
    return std::nullopt;
  }
  return part;
}

std::pair<std::size_t, std::size_t> shard_range(std::size_t count, shard part) {
  // floor(count * k / parts), without the product: parts is at most a million (parse_shard), so
  // the remainder's product cannot overflow.
  const std::size_t whole = count / part.parts;
  const std::size_t rest = count % part.parts;
  const auto boundary = [&](std::size_t k) { return whole * k + rest * k / part.parts; };
  return {boundary(part.part - 1), boundary(part.part)};
}

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string format_shard_record(const shard_record& record) {
  return "part=" + std::to_string(record.part) + '/' + std::to_string(record.parts) +
         " logs=" + std::to_string(record.logs) + " list=" + hex16(record.list_digest) +
         " mode=" + (record.long_mode ? "long" : "short");
}

std::optional<shard_record> parse_shard_record(std::string_view text) {
  const std::string_view whole = text;
  shard_record record;
  if (!take_number(text, "part=", '/', record.part) || !take_number(text, "/", ' ', record.parts) ||
      !take_number(text, " logs=", ' ', record.logs) ||
      !take_number(text, " list=", ' ', record.list_digest, 16)) {
    return std::nullopt;
  }
  if (text == " mode=long") {
    record.long_mode = true;
  } else if (text == " mode=short") {
    record.long_mode = false;
  } else {
    return std::nullopt;
  }
  // A record that --shard could have written: a part of a cut with a log for every part.
  if (record.part < 1 || record.part > record.parts || record.logs < record.parts) {
    return std::nullopt;
  }
  // Written one way only (no leading zeros): equal records are equal texts.
  if (format_shard_record(record) != whole) return std::nullopt;
  return record;
}

std::uint64_t list_digest(std::span<const std::string_view> paths) {
  std::uint64_t hash = fnv1a_basis;
  for (const std::string_view path : paths) {
    hash = fnv1a(path, hash);
    hash = fnv1a(std::string_view("\0", 1), hash);
  }
  return hash;
}

std::string cut_text(const shard_record& record) {
  return counted(record.parts, "part") + " of " + counted(record.logs, "log") +
         ", list=" + hex16(record.list_digest);
}

void check_whole_cuts(std::span<const named_record> parts, bool one_cut) {
  if (parts.empty()) return;
  using cut_key = std::tuple<std::size_t, std::size_t, std::uint64_t, bool>;
  std::map<cut_key, std::vector<const named_record*>> cuts;
  const named_record& first = parts.front();
  for (const named_record& part : parts) {
    const shard_record& record = part.record;
    if (one_cut && record.long_mode != first.record.long_mode) {
      throw failure(std::string(part.name) + " has " + (record.long_mode ? "long" : "--short") +
                    " rows, " + std::string(first.name) + " " +
                    (first.record.long_mode ? "long" : "--short") + " ones");
    }
    if (one_cut && !record.same_cut(first.record)) {
      throw failure(std::string(part.name) + " is part " + std::to_string(record.part) +
                    " of another cut (" + cut_text(record) + ") than " + std::string(first.name) +
                    " (" + cut_text(first.record) + ")");
    }
    cuts[{record.parts, record.logs, record.list_digest, record.long_mode}].push_back(&part);
  }
  for (auto& [cut, members] : cuts) {
    check_one_cut(members, one_cut ? std::string()
                                   : " (the cut of " + std::string(members.front()->name) + ": " +
                                         cut_text(members.front()->record) + ")");
  }
}

}  // namespace sift_runlog::campaign
