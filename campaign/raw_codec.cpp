#include <algorithm>
#include <charconv>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/raw_codec.hpp>

namespace sift_runlog::campaign {

void raw_trailer::count(std::string_view row_line) {
  lines += static_cast<std::size_t>(std::count(row_line.begin(), row_line.end(), '\n'));
  digest = fnv1a(row_line, digest);
}

std::string raw_trailer_line(const raw_trailer& trailer) {
  std::string digest;
  for (int shift = 56; shift >= 0; shift -= 8) {
    append_hex_byte(digest, static_cast<unsigned char>(trailer.digest >> shift));
  }
  return "#shard " + format_shard_record(trailer.record) +
         " lines=" + std::to_string(trailer.lines) + " digest=" + digest + '\n';
}

raw_trailer parse_raw_trailer(std::string_view line) {
  const std::string_view text = line.substr(std::min<std::size_t>(7, line.size()));
  const std::size_t lines_at = text.rfind(" lines=");
  const std::size_t digest_at = text.rfind(" digest=");
  raw_trailer trailer;
  bool ok = is_raw_trailer(line) && lines_at != std::string_view::npos &&
            digest_at != std::string_view::npos && lines_at < digest_at &&
            text.size() - digest_at == 8 + 16;
  if (ok) {
    const std::string_view count = text.substr(lines_at + 7, digest_at - lines_at - 7);
    const std::string_view digest = text.substr(digest_at + 8);
    const auto counted = std::from_chars(count.data(), count.data() + count.size(), trailer.lines);
    const auto digested =
        std::from_chars(digest.data(), digest.data() + digest.size(), trailer.digest, 16);
    const std::optional<shard_record> record = parse_shard_record(text.substr(0, lines_at));
    ok = counted.ec == std::errc() && counted.ptr == count.data() + count.size() &&
         count.find_first_not_of("0123456789") == std::string_view::npos &&
         digested.ec == std::errc() && digested.ptr == digest.data() + digest.size() &&
         digest.find_first_not_of("0123456789abcdef") == std::string_view::npos && record;
    if (record) trailer.record = *record;
  }
  if (!ok) throw failure("a malformed shard trailer");
  return trailer;
}

}  // namespace sift_runlog::campaign
