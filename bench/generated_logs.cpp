#include "generated_logs.hpp"

#include <map>
#include <utility>

namespace sift_runlog::bench {

const std::string& generated_log(log_kind kind, std::uint64_t size) {
  static std::map<std::pair<log_kind, std::uint64_t>, std::string> logs;
  auto [place, made] = logs.try_emplace({kind, size});
  if (made) {
    log_shape shape;
    shape.kind = kind;
    shape.size = size;
    place->second = make_log(shape);
  }
  return place->second;
}

const std::vector<std::string_view>& generated_lines(log_kind kind, std::uint64_t bytes) {
  constexpr std::size_t piece_limit = 16384;
  static std::map<std::pair<log_kind, std::uint64_t>, std::vector<std::string_view>> cache;
  auto [place, made] = cache.try_emplace({kind, bytes});
  if (made) {
    std::string_view rest = generated_log(kind);
    rest = rest.substr(0, static_cast<std::size_t>(bytes));
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      while (line.size() > piece_limit) {
        place->second.push_back(line.substr(0, piece_limit));
        line.remove_prefix(piece_limit);
      }
      place->second.push_back(line);
    }
  }
  return place->second;
}

}  // namespace sift_runlog::bench
