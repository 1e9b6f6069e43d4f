#include "html_page.hpp"

#include <algorithm>
#include <array>
#include <set>
#include <sift_campaign/utf8.hpp>

namespace sift_runlog::report {
namespace {

// Longer tables are cut there: the page is for reading, the other views give every row.
constexpr std::size_t shown_rows = 500;

constexpr std::string_view page_style = R"(body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em}
table{border-collapse:collapse;font-size:0.85em;margin:0.5em 0}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left}
td.n{text-align:right}tr.total td{font-weight:bold;background:#eee}
th{background:#dde}.note{color:#555;font-size:0.9em}
.wide{overflow-x:auto}svg{display:block;margin:0.4em 0 1em 0}svg text{font-family:sans-serif;font-size:12px}
)";

// The colour of each verdict of the summary, and of right, wrong and unanswered.
constexpr std::array<std::string_view, 8> verdict_colours = {
    "#4caf50", "#9e9e9e", "#ffb300", "#ff7043", "#ab47bc", "#e53935", "#8d6e63", "#212121"};
constexpr std::array<std::string_view, 3> score_names = {"right", "wrong", "unanswered"};
constexpr std::array<std::string_view, 3> score_colours = {"#4caf50", "#e53935", "#bdbdbd"};

void append_cell(std::string& out, const cell& value) {
  switch (value.type) {
    case cell::kind::absent:
      out += "<td></td>";
      return;
    case cell::kind::count:
      ((out += "<td class=\"n\">") += std::to_string(value.number)) += "</td>";
      return;
    case cell::kind::text:
      out += "<td>";
      append_html_text(out, value.text);
      out += "</td>";
      return;
  }
}

void append_table(std::string& out, const std::vector<std::string>& columns,
                  const std::vector<std::vector<cell>>& rows, bool last_is_total) {
  out += "<div class=\"wide\"><table>\n<tr>";
  for (const std::string& column : columns) {
    // The long column names may break after their underscores.
    out += "<th>";
    std::string name;
    append_html_text(name, column);
    for (const char c : name) (out += c) += c == '_' ? "<wbr>" : "";
    out += "</th>";
  }
  out += "</tr>\n";
  const std::size_t count = std::min(rows.size(), shown_rows);
  for (std::size_t i = 0; i < count; ++i) {
    out += last_is_total && i + 1 == rows.size() ? "<tr class=\"total\">" : "<tr>";
    for (const cell& value : rows[i]) append_cell(out, value);
    out += "</tr>\n";
  }
  out += "</table></div>\n";
  if (rows.size() > count) {
    out += "<p class=\"note\">The first " + std::to_string(count) + " of " +
           std::to_string(rows.size()) + " rows; the csv view gives them all.</p>\n";
  }
}

struct bar_part {
  std::string_view name;
  std::string_view colour;
};

// One chart: a stacked horizontal bar per tool, the parts in the order of `parts`, each bar as
// long as its largest total allows, the counts written after it, and a legend.
void append_chart(
    std::string& out, std::string_view title,
    const std::vector<std::pair<const std::optional<std::string>*, std::vector<std::uint64_t>>>&
        bars,
    const std::vector<bar_part>& parts) {
  constexpr int label_width = 160;
  constexpr int bar_width = 600;
  constexpr int bar_height = 18;
  constexpr int row_height = 24;
  std::uint64_t largest = 1;
  for (const auto& [tool, counts] : bars) {
    std::uint64_t sum = 0;
    for (const std::uint64_t count : counts) sum += count;
    largest = std::max(largest, sum);
  }
  const int height = 30 + static_cast<int>(bars.size()) * row_height + 24;
  out += "<svg width=\"" + std::to_string(label_width + bar_width + 300) + "\" height=\"" +
         std::to_string(height) + "\" role=\"img\"><title>";
  append_html_text(out, title);
  out += "</title><text x=\"0\" y=\"16\" font-weight=\"bold\">";
  append_html_text(out, title);
  out += "</text>\n";  // one line per bar, then one for the legend
  int y = 30;
  for (const auto& [tool, counts] : bars) {
    out += "<text x=\"0\" y=\"" + std::to_string(y + 13) + "\">";
    append_html_text(out, *tool ? **tool : std::string("(no tool)"));
    out += "</text>";
    std::uint64_t before = 0;  // the counts drawn so far
    for (std::size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] == 0) continue;
      const auto x = label_width + static_cast<int>(before * bar_width / largest);
      const auto width = static_cast<int>((before + counts[i]) * bar_width / largest) -
                         static_cast<int>(before * bar_width / largest);
      out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(std::max(width, 1)) + "\" height=\"" + std::to_string(bar_height) +
             "\" fill=\"" + std::string(parts[i].colour) + "\"><title>";
      append_html_text(out, parts[i].name);
      out += ": " + std::to_string(counts[i]) + "</title></rect>";
      before += counts[i];
    }
    out += "<text x=\"" +
           std::to_string(label_width + static_cast<int>(before * bar_width / largest) + 6) +
           "\" y=\"" + std::to_string(y + 13) + "\">";
    std::string figures;
    for (std::size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] == 0) continue;
      if (!figures.empty()) figures += ' ';
      figures += std::string(parts[i].name) + " " + std::to_string(counts[i]);
    }
    append_html_text(out, figures.empty() ? std::string("none") : figures);
    out += "</text>\n";
    y += row_height;
  }
  int x = 0;
  for (const bar_part& part : parts) {
    out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y + 6) +
           "\" width=\"10\" height=\"10\" fill=\"" + std::string(part.colour) + "\"/>";
    out += "<text x=\"" + std::to_string(x + 14) + "\" y=\"" + std::to_string(y + 15) + "\">";
    append_html_text(out, part.name);
    out += "</text>";
    x += 14 + static_cast<int>(part.name.size()) * 8 + 16;
  }
  out += "\n</svg>\n";
}

// The examinations in byte order, none (a table of --short rows) first.
std::set<std::optional<std::string>> examinations_of(const campaign_digest& digest) {
  std::set<std::optional<std::string>> examinations;
  for (const auto& [key, counts] : digest.groups()) examinations.insert(key.examination);
  return examinations;
}

void append_charts(std::string& out, const campaign_digest& digest, bool scores) {
  std::vector<bar_part> parts;
  if (scores) {
    for (std::size_t i = 0; i < score_names.size(); ++i)
      parts.push_back({score_names[i], score_colours[i]});
  } else {
    for (std::size_t i = 0; i < verdict_words.size(); ++i) {
      parts.push_back({verdict_words[i], verdict_colours[i]});
    }
  }
  for (const auto& examination : examinations_of(digest)) {
    std::vector<std::pair<const std::optional<std::string>*, std::vector<std::uint64_t>>> bars;
    for (const auto& [key, counts] : digest.groups()) {
      if (key.examination != examination) continue;
      if (scores) {
        bars.push_back({&key.tool, {counts.right, counts.wrong, counts.unanswered}});
      } else {
        bars.push_back({&key.tool, {counts.verdicts.begin(), counts.verdicts.end()}});
      }
    }
    const std::string title = (examination ? *examination : std::string("(no examination)")) +
                              (scores ? ": right and wrong answers" : ": verdicts per tool");
    append_chart(out, title, bars, parts);
  }
}

}  // namespace

void append_html_text(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const char c = bytes[i];
    const auto byte = static_cast<unsigned char>(c);
    const std::size_t length = campaign::valid_utf8_length(bytes, i);
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&#39;";
    } else if (byte < 0x20 || byte == 0x7f || length == 0) {
      static constexpr char hex[] = "0123456789abcdef";
      ((out += "\\x") += hex[byte >> 4]) += hex[byte & 15];
    } else {
      out += bytes.substr(i, length);
      i += length;
      continue;
    }
    ++i;
  }
}

std::string html_page(const campaign_digest& digest, const std::vector<std::vector<cell>>* wrong,
                      const std::vector<page_section>& sections) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Campaign report</title>\n<style>\n";
  out += page_style;
  out += "</style>\n</head>\n<body>\n<h1>Campaign report</h1>\n";
  const group_counts total = digest.total();
  out += "<p>" + std::to_string(total.logs) + " logs, " + std::to_string(total.formulas) +
         " answers (" + std::to_string(total.answered) + " definite, " +
         std::to_string(total.disputed) + " disputed).</p>\n";

  out += "<h2 id=\"summary\">Summary</h2>\n";
  std::vector<std::vector<cell>> rows;
  const auto collect = [&rows](const std::vector<cell>& row) { rows.push_back(row); };
  for_each_digest_row(view::summary, digest, collect);
  rows.back()[0] = cell::of(std::string_view("total"));
  append_table(out, view_columns(view::summary), rows, true);
  append_page_sections(out, sections);

  out += "<h2 id=\"verdicts\">Verdicts per examination</h2>\n";
  append_charts(out, digest, false);

  if (wrong != nullptr) {
    out += "<h2 id=\"scores\">Scores against the reference</h2>\n";
    rows.clear();
    for_each_digest_row(view::scores, digest, collect);
    rows.back()[0] = cell::of(std::string_view("total"));
    append_table(out, view_columns(view::scores), rows, true);
    append_charts(out, digest, true);
    out += "<h2 id=\"wrong\">Wrong answers</h2>\n";
    if (wrong->empty()) {
      out += "<p>None.</p>\n";
    } else {
      append_table(out, view_columns(view::wrong), *wrong, false);
    }
  }

  out += "<h2 id=\"disagreements\">Disagreements</h2>\n";
  rows.clear();
  for_each_digest_row(view::disagreements, digest, collect);
  if (rows.empty()) {
    out += "<p>None: every formula answered by several logs has one value.</p>\n";
  } else {
    append_table(out, view_columns(view::disagreements), rows, false);
  }
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace sift_runlog::report
