#include "html_page.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sift_campaign/messages.hpp>
#include <sift_campaign/utf8.hpp>
#include <stdexcept>

#include "natural_order.hpp"

namespace sift_runlog::report {
namespace {

// The lists (wrong answers, disagreements) show this many rows of each tool at most, so that
// the page stays small for a large campaign and no tool's rows crowd out another's.
constexpr std::size_t rows_per_tool = 100;

constexpr std::string_view page_style = R"(
body{font-family:sans-serif;margin:1.5em auto;padding:0 1em;max-width:72em;color:#222}
h1{font-size:1.5em;margin-bottom:0.2em}h2{font-size:1.2em;margin-top:1.8em}
.note{color:#555;font-size:0.9em}.wide{overflow-x:auto}
table{border-collapse:collapse;font-size:0.8em;margin:0.5em 0}
th,td{border:1px solid #bbb;padding:2px 4px;text-align:left;vertical-align:top}
td.b{overflow-wrap:anywhere}td.n{text-align:right}
th{background:#dde;cursor:pointer}tfoot td{font-weight:bold;background:#eee}
th[aria-sort=ascending]::after{content:" \25b2"}th[aria-sort=descending]::after{content:" \25bc"}
svg{display:block;max-width:100%;height:auto;margin:0.4em 0 1.2em}svg text{font-family:sans-serif}
@media print{nav,.filter{display:none}.wide{overflow:visible}svg,tr{break-inside:avoid}}
)";

// Sorting by a click on a column header (a second click reverses; numbers as numbers, names in
// the natural order of natural_order.cpp), and the lists' filter boxes, shown only when this
// runs. It never writes markup: rows are moved or hidden, and the status is text.
constexpr std::string_view page_script = R"(
"use strict";
function natural(a, b) {
  const end = (s, i) => { while (i < s.length && s[i] >= "0" && s[i] <= "9") i++; return i; };
  let i = 0, j = 0;
  while (i < a.length && j < b.length) {
    const k = end(a, i), l = end(b, j);
    if (k > i && l > j) {
      const x = a.slice(i, k).replace(/^0+/, ""), y = b.slice(j, l).replace(/^0+/, "");
      if (x.length !== y.length) return x.length - y.length;
      if (x !== y) return x < y ? -1 : 1;
      i = k; j = l;
    } else if (a[i] !== b[j]) return a[i] < b[j] ? -1 : 1;
    else { i++; j++; }
  }
  return (a.length - i) - (b.length - j) || (a < b ? -1 : a > b ? 1 : 0);
}
for (const table of document.querySelectorAll("table")) {
  const heads = Array.from(table.tHead.rows[0].cells), body = table.tBodies[0];
  heads.forEach((head, column) => {
    const sort = () => {
      const up = head.getAttribute("aria-sort") !== "ascending";
      heads.forEach(other => other.removeAttribute("aria-sort"));
      head.setAttribute("aria-sort", up ? "ascending" : "descending");
      const key = row => row.cells[column].textContent;
      const numbers = row => Number(key(row));
      const order = head.classList.contains("n") ? (p, q) => numbers(p) - numbers(q)
                                                 : (p, q) => natural(key(p), key(q));
      const rows = Array.from(body.rows).sort((p, q) => up ? order(p, q) : order(q, p));
      body.append(...rows);
    };
    head.tabIndex = 0;
    head.addEventListener("click", sort);
    head.addEventListener("keydown", e => { if (e.key === "Enter") sort(); });
  });
}
for (const box of document.querySelectorAll("input[data-filter]")) {
  const rows = document.getElementById(box.dataset.filter).tBodies[0].rows;
  const status = box.parentElement.nextElementSibling;
  box.closest("p").hidden = false;
  box.addEventListener("input", () => {
    const word = box.value.toLowerCase();
    let shown = 0;
    for (const row of rows) {
      const text = Array.from(row.cells, cell => cell.textContent).join("\t");
      row.hidden = !text.toLowerCase().includes(word);
      shown += row.hidden ? 0 : 1;
    }
    status.textContent = word ? shown + " of " + rows.length + (rows.length === 1 ? " row" : " rows") : "";
  });
}
)";
// The script's SHA-256 (base64) that the page's Content-Security-Policy allows, and nothing else:
// the browser test fails when it is not that of page_script, and says which it is.
constexpr std::string_view script_hash = "sha256-EIZ1nu+G/ONHa1+GUcr4AFX8ex//s3I9mIYuoZB1FLc=";

// Colours told apart by readers with any common colour blindness (Okabe and Ito's eight).
// The verdicts in the order of verdict_words.
constexpr std::array<std::string_view, 8> verdict_colours = {
    "#009e73", "#999999", "#56b4e9", "#e69f00", "#cc79a7", "#d55e00", "#f0e442", "#000000"};
constexpr std::string_view time_flag_colour = "#0072b2";
constexpr std::string_view memory_flag_colour = "#882255";
constexpr std::size_t failed_verdict = verdict_words.size() - 1;
static_assert(verdict_words[failed_verdict] == "failed");

// A table's rows, columns by name: a cell is absent, a text or a count.
using rows_of_cells = std::vector<std::vector<cell>>;

// A long text (a path, a formula, a column's name) that may break after its underscores and
// slashes, so that tables fit a narrow window without cutting words.
void append_breakable(std::string& out, std::string_view text) {
  std::string escaped;
  append_html_text(escaped, text);
  for (const char c : escaped) (out += c) += c == '_' || c == '/' ? "<wbr>" : "";
}

void append_cell(std::string& out, const cell& value) {
  switch (value.type) {
    case cell::kind::absent:
      out += "<td></td>";
      return;
    case cell::kind::count:
      ((out += "<td class=\"n\">") += std::to_string(value.number)) += "</td>";
      return;
    case cell::kind::text:
      if (value.numeric) {
        out += "<td class=\"n\">";
        append_html_text(out, value.text);
      } else if (value.text.size() > 24) {
        out += "<td class=\"b\">";
        append_breakable(out, value.text);
      } else {
        out += "<td>";
        append_html_text(out, value.text);
      }
      out += "</td>";
      return;
  }
}

void append_row(std::string& out, const std::vector<cell>& row) {
  out += "<tr>";
  for (const cell& value : row) append_cell(out, value);
  out += "</tr>\n";
}

// The header of a table; `first_row` says which columns hold counts (sorted as numbers).
void begin_table(std::string& out, std::string_view id, const std::vector<std::string>& columns,
                 const std::vector<cell>& first_row) {
  out += "<div class=\"wide\"><table id=\"";
  (out += id) += "\">\n<thead><tr>";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const bool count =
        i < first_row.size() && (first_row[i].type == cell::kind::count || first_row[i].numeric);
    out += count ? "<th class=\"n\">" : "<th>";
    append_breakable(out, columns[i]);
    out += "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
}

// The end of a table, with its total row in a footer that stays last whatever the order.
void end_table(std::string& out, const std::vector<cell>* total) {
  out += "</tbody>\n";
  if (total != nullptr) {
    out += "<tfoot>";
    append_row(out, *total);
    out += "</tfoot>\n";
  }
  out += "</table></div>\n";
}

// Absent first, then names in natural order.
bool cell_less(const cell& a, const cell& b) {
  if (a.type != cell::kind::text || b.type != cell::kind::text) {
    return a.type != cell::kind::text && b.type == cell::kind::text;
  }
  return natural_less(a.text, b.text);
}

struct optional_name_less {
  bool operator()(const std::optional<std::string>& a, const std::optional<std::string>& b) const {
    return b && (!a || natural_less(*a, *b));
  }
};

// The rows of a view of groups (summary, scores) in the natural order of tool then examination,
// and their total row, named so.
std::pair<rows_of_cells, std::vector<cell>> group_rows(view chosen, const campaign_digest& digest) {
  rows_of_cells rows;
  for_each_digest_row(chosen, digest,
                      [&rows](const std::vector<cell>& row) { rows.push_back(row); });
  std::vector<cell> total = std::move(rows.back());
  rows.pop_back();
  total[0] = cell::of(std::string_view("total"));
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return cell_less(a[0], b[0]) || (!cell_less(b[0], a[0]) && cell_less(a[1], b[1]));
  });
  return {std::move(rows), std::move(total)};
}

void append_table(std::string& out, std::string_view id, const std::vector<std::string>& columns,
                  const rows_of_cells& rows, const std::vector<cell>& total) {
  begin_table(out, id, columns, total);
  for (const std::vector<cell>& row : rows) append_row(out, row);
  end_table(out, &total);
}

// Each tool's counts over all its examinations, tools in natural order.
std::map<std::optional<std::string>, group_counts, optional_name_less> tool_totals(
    const campaign_digest& digest) {
  std::map<std::optional<std::string>, group_counts, optional_name_less> tools;
  for (const auto& [key, counts] : digest.groups()) tools[key.tool].add(counts);
  return tools;
}

void append_tools_table(std::string& out, const campaign_digest& digest, bool scores) {
  // The scores when there is a reference, the definite and disputed answers otherwise: few
  // enough columns for a narrow window.
  std::vector<std::string> columns = {"tool", "logs", "formulas"};
  if (scores) {
    columns.insert(columns.end(), {"right", "wrong", "unanswered", "not_in_reference"});
  } else {
    columns.insert(columns.end(), {"answered", "disputed"});
  }
  columns.insert(columns.end(), {"failed", "time_flag_DNF", "memory_flag_MOVF"});
  const auto row_of = [scores](cell tool, const group_counts& counts) {
    std::vector<cell> row = {std::move(tool), cell::of(counts.logs), cell::of(counts.formulas)};
    if (scores) {
      row.insert(row.end(), {cell::of(counts.right), cell::of(counts.wrong),
                             cell::of(counts.unanswered), cell::of(counts.not_in_reference)});
    } else {
      row.insert(row.end(), {cell::of(counts.answered), cell::of(counts.disputed)});
    }
    row.insert(row.end(), {cell::of(counts.verdicts[failed_verdict]),
                           cell::of(counts.time_flag_dnf), cell::of(counts.memory_flag_movf)});
    return row;
  };
  rows_of_cells rows;
  for (const auto& [tool, counts] : tool_totals(digest))
    rows.push_back(row_of(cell::of(tool), counts));
  append_table(out, "tools-table", columns, rows,
               row_of(cell::of(std::string_view("total")), digest.total()));
}

struct bar_part {
  std::string_view name;
  std::string_view colour;
};

// One bar of a chart: a tool's counts, one per part, and its runs with a flag set.
struct chart_bar {
  const std::optional<std::string>* tool;
  std::vector<std::uint64_t> counts;
  std::uint64_t time_flag = 0;
  std::uint64_t memory_flag = 0;
};

// The parts of a chart, the one most counts fall in last: the others, which a reader looks for,
// then start together at the left edge, where their lengths compare.
std::vector<bar_part> verdict_parts() {
  std::vector<bar_part> parts;
  for (std::size_t i = verdict_words.size(); i-- > 0;) {
    parts.push_back({verdict_words[i], verdict_colours[i]});
  }
  return parts;
}
const std::vector<bar_part> score_parts = {{"wrong", "#d55e00"},
                                           {"unanswered", "#bbbbbb"},
                                           {"not in reference", "#f0e442"},
                                           {"right", "#0072b2"}};

chart_bar verdict_bar(const std::optional<std::string>& tool, const group_counts& counts) {
  return {&tool,
          {counts.verdicts.rbegin(), counts.verdicts.rend()},
          counts.time_flag_dnf,
          counts.memory_flag_movf};
}

chart_bar score_bar(const std::optional<std::string>& tool, const group_counts& counts) {
  return {&tool, {counts.wrong, counts.unanswered, counts.not_in_reference, counts.right}};
}

std::string tool_name(const std::optional<std::string>* tool) {
  return *tool ? **tool : std::string("(no tool)");
}

// A name cut to about `size` bytes (at a character's start) for a chart's label.
std::string shortened(std::string name, std::size_t size) {
  if (name.size() <= size) return name;
  std::size_t cut = size - 1;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
  return name.substr(0, cut) + "\xe2\x80\xa6";  // an ellipsis
}

void append_rect(std::string& out, long x, long y, long width, long height, std::string_view colour,
                 std::string_view title) {
  out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" fill=\"";
  out += colour;
  out += "\">";
  if (!title.empty()) {
    out += "<title>";
    append_html_text(out, title);
    out += "</title>";
  }
  out += "</rect>";
}

void append_text(std::string& out, long x, long y, std::string_view attributes,
                 std::string_view text) {
  out += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"";
  out += attributes;
  out += ">";
  append_html_text(out, text);
  out += "</text>";
}

constexpr long chart_width = 760;

// The colours of a section's charts, in the order of their bars' parts, as an SVG of its own.
void append_legend(std::string& out, const std::vector<bar_part>& parts, bool flags) {
  std::vector<bar_part> keys = parts;
  if (flags) {
    keys.push_back({"time flag", time_flag_colour});
    keys.push_back({"memory flag", memory_flag_colour});
  }
  std::string body;
  long x = 0;
  long y = 0;
  for (const bar_part& key : keys) {
    const long size = 26 + static_cast<long>(key.name.size()) * 7;
    if (x > 0 && x + size > chart_width) {
      x = 0;
      y += 18;
    }
    append_rect(body, x, y + 2, 10, 10, key.colour, "");
    append_text(body, x + 14, y + 12, " font-size=\"12\"", key.name);
    x += size;
  }
  out += "<svg viewBox=\"0 0 " + std::to_string(chart_width) + " " + std::to_string(y + 16) +
         "\" width=\"" + std::to_string(chart_width) + "\" role=\"img\"><title>Legend</title>" +
         body + "</svg>\n";
}

// One chart in SVG that scales to the page: a stacked bar per tool, all on one scale (the
// largest bar's total), its counts written under it and in a title on each part; with `flags`,
// a thin line under the bar for the runs with the time flag set and one for the memory flag.
void append_chart(std::string& out, std::string_view title, const std::vector<bar_part>& parts,
                  const std::vector<chart_bar>& bars, bool flags) {
  constexpr long bar_left = 170;
  constexpr long bar_width = chart_width - bar_left - 10;
  std::string body;
  long y = 26;
  std::uint64_t largest = 1;
  for (const chart_bar& bar : bars) {
    std::uint64_t sum = 0;
    for (const std::uint64_t count : bar.counts) sum += count;
    largest = std::max({largest, sum, bar.time_flag, bar.memory_flag});
  }
  const auto scaled = [largest](std::uint64_t count) {
    return static_cast<long>(count * static_cast<std::uint64_t>(bar_width) / largest);
  };
  for (const chart_bar& bar : bars) {
    body += "\n";
    const std::string tool = tool_name(bar.tool);
    append_text(body, 0, y + 12, " font-size=\"12\"", shortened(tool, 24));
    std::uint64_t before = 0;  // the counts drawn so far
    std::uint64_t total = 0;
    std::string figures;
    for (const std::uint64_t count : bar.counts) total += count;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const std::uint64_t count = bar.counts[i];
      if (count == 0) continue;
      const std::string figure = std::string(parts[i].name) + " " + std::to_string(count);
      append_rect(body, bar_left + scaled(before), y,
                  std::max(scaled(before + count) - scaled(before), 1L), 16, parts[i].colour,
                  tool + ": " + figure + " of " + std::to_string(total));
      before += count;
      figures += (figures.empty() ? "" : ", ") + figure;
    }
    long text_y = y + 29;
    if (flags) {
      const std::pair<std::uint64_t, bar_part> lines[] = {
          {bar.time_flag, {"time flag", time_flag_colour}},
          {bar.memory_flag, {"memory flag", memory_flag_colour}}};
      for (std::size_t i = 0; i < 2; ++i) {
        const auto& [count, part] = lines[i];
        if (count == 0) continue;
        const std::string figure = std::string(part.name) + " " + std::to_string(count);
        append_rect(body, bar_left, y + 18 + static_cast<long>(i) * 5, std::max(scaled(count), 1L),
                    4, part.colour, tool + ": " + figure);
        figures += (figures.empty() ? "" : ", ") + figure;
      }
      text_y += 10;
    }
    append_text(body, bar_left, text_y, " font-size=\"11\" fill=\"#333\"",
                figures.empty() ? std::string("none") : figures);
    y = text_y + 12;
  }
  out += "<svg viewBox=\"0 0 " + std::to_string(chart_width) + " " + std::to_string(y) +
         "\" width=\"" + std::to_string(chart_width) + "\" role=\"img\"><title>";
  append_html_text(out, title);
  out += "</title>";
  append_text(out, 0, 16, " font-size=\"13\" font-weight=\"bold\"", title);
  out += "\n" + body + "\n</svg>\n";
}

// A chart per examination (natural order) of each tool's verdicts or scores.
void append_charts(std::string& out, const campaign_digest& digest, bool scores) {
  std::map<std::optional<std::string>, std::vector<chart_bar>, optional_name_less> charts;
  for (const auto& [key, counts] : digest.groups()) {
    charts[key.examination].push_back(scores ? score_bar(key.tool, counts)
                                             : verdict_bar(key.tool, counts));
  }
  append_legend(out, scores ? score_parts : verdict_parts(), !scores);
  for (auto& [examination, bars] : charts) {
    std::stable_sort(bars.begin(), bars.end(), [](const chart_bar& a, const chart_bar& b) {
      return optional_name_less()(*a.tool, *b.tool);
    });
    const std::string title = (examination ? *examination : std::string("(no examination)")) +
                              (scores ? ": answers against the reference" : ": verdicts");
    append_chart(out, title, scores ? score_parts : verdict_parts(), bars, !scores);
  }
}

// A file name as a shell takes it: as it is when it holds only harmless characters, quoted
// otherwise.
std::string shell_word(std::string_view name) {
  constexpr std::string_view harmless =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./-+,:=@%";
  if (!name.empty() && name.find_first_not_of(harmless) == std::string_view::npos) {
    return std::string(name);
  }
  std::string word = "'";
  for (const char c : name) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// How many rows of a list each tool has, and how many of them the page shows.
struct list_counts {
  std::size_t rows = 0;
  std::size_t shown = 0;
};
using counts_per_tool = std::map<std::optional<std::string>, list_counts, optional_name_less>;

std::optional<std::string> tool_of(const cell& value) {
  return value.type == cell::kind::text ? std::optional<std::string>(value.text) : std::nullopt;
}

// Under a list: the rows each tool has that the page leaves out, and the command that writes
// them all.
void append_left_out(std::string& out, const counts_per_tool& tools, view shown,
                     const page_facts& facts) {
  std::string left_out;
  for (const auto& [tool, counts] : tools) {
    if (counts.shown == counts.rows) continue;
    if (!left_out.empty()) left_out += ", ";
    left_out += std::to_string(counts.rows - counts.shown) + " of ";
    left_out += tool ? *tool + "'s " + std::to_string(counts.rows)
                     : campaign::counted(counts.rows, "row") + " without a tool";
  }
  if (left_out.empty()) return;
  const bool wrong = shown == view::wrong;
  std::string command = wrong
                            ? "sift_runlog_report wrong --reference " + shell_word(facts.reference)
                            : "sift_runlog_report disagreements";
  for (const std::string& table : facts.tables) (command += ' ') += shell_word(table);
  out += "<p class=\"note\">" + std::string(wrong ? "At most " : "About ") +
         std::to_string(rows_per_tool) + " rows of each tool are shown" +
         (wrong ? "" : ", a formula's rows together") + ". Not shown: ";
  append_html_text(out, left_out);
  out += ". All of them, as csv: <code>";
  append_html_text(out, command);
  out += "</code></p>\n";
}

void append_filter(std::string& out, std::string_view table_id) {
  out +=
      "<p class=\"filter\" hidden><label>Show the rows holding <input type=\"search\" "
      "data-filter=\"";
  out += table_id;
  out += "\"></label> <output></output></p>\n";
}

void append_wrong(std::string& out, const rows_of_cells& wrong, const page_facts& facts) {
  if (wrong.empty()) {
    out += "<p>None.</p>\n";
    return;
  }
  constexpr std::size_t tool_column = 5;  // in view_columns(view::wrong)
  counts_per_tool tools;
  append_filter(out, "wrong-list");
  begin_table(out, "wrong-list", view_columns(view::wrong), wrong.front());
  for (const std::vector<cell>& row : wrong) {
    list_counts& counts = tools[tool_of(row[tool_column])];
    if (counts.rows++ >= rows_per_tool) continue;
    ++counts.shown;
    append_row(out, row);
  }
  end_table(out, nullptr);
  append_left_out(out, tools, view::wrong, facts);
}

// The disagreements, a formula's rows together: a formula is shown while one of its tools has
// fewer than rows_per_tool rows shown.
void append_disagreements(std::string& out, const campaign_digest& digest,
                          const page_facts& facts) {
  counts_per_tool tools;
  std::vector<disagreement> formula;  // the rows of one formula
  const auto flush = [&]() {
    const bool show = std::any_of(formula.begin(), formula.end(), [&](const disagreement& row) {
      return tools[*row.tool].shown < rows_per_tool;
    });
    for (const disagreement& row : formula) {
      list_counts& counts = tools[*row.tool];
      ++counts.rows;
      if (!show) continue;
      ++counts.shown;
      append_row(out, {cell::of(row.model), cell::of(row.examination), cell::of(row.formula),
                       cell::of(row.value), cell::of(*row.tool), cell::of(row.path),
                       row.majority ? cell::of(*row.majority) : cell{}});
    }
    formula.clear();
  };
  bool any = false;
  digest.for_each_disagreement([&](const disagreement& row) {
    if (!any) {
      any = true;
      append_filter(out, "disagreements-list");
      begin_table(out, "disagreements-list", view_columns(view::disagreements), {});
    }
    // The rows of one formula share the bytes of its name.
    if (!formula.empty() && formula.front().formula.data() != row.formula.data()) flush();
    formula.push_back(row);
  });
  if (!any) {
    out += "<p>None: every formula answered by several logs has one value.</p>\n";
    return;
  }
  flush();
  end_table(out, nullptr);
  append_left_out(out, tools, view::disagreements, facts);
}

// The sections beyond the digest's views, each a sortable table with its total row last.
void append_sections(std::string& out, const std::vector<page_section>& sections) {
  for (const page_section& section : sections) {
    out += "<h2 id=\"" + section.id + "\">";
    append_html_text(out, section.title);
    out += "</h2>\n<p>";
    append_html_text(out, section.note);
    out += "</p>\n";
    const std::vector<cell> none;
    begin_table(out, section.id + "-table", section.columns,
                section.rows.empty() ? none : section.rows.front());
    const std::size_t body = section.rows.size() - (section.last_is_total ? 1 : 0);
    for (std::size_t i = 0; i < body; ++i) append_row(out, section.rows[i]);
    end_table(out, section.last_is_total ? &section.rows.back() : nullptr);
  }
}

void append_header(std::string& out, const campaign_digest& digest, const page_facts& facts,
                   bool scores, const std::vector<page_section>& sections) {
  out += "<header>\n<h1>Campaign report</h1>\n";
  const group_counts total = digest.total();
  out += "<p>" + campaign::counted(total.logs, "log") + ", " +
         campaign::counted(total.formulas, "answer") + " (" + std::to_string(total.answered) +
         " definite, " + std::to_string(total.disputed) + " disputed).</p>\n<p class=\"note\">";
  std::string made = "Made by sift_runlog_report " + facts.version + " on " + facts.date + " from ";
  for (std::size_t i = 0; i < facts.tables.size(); ++i) {
    made += (i == 0 ? "" : ", ") + (facts.tables[i] == "-" ? "standard input" : facts.tables[i]);
  }
  if (!facts.reference.empty()) made += ", against the reference " + facts.reference;
  append_html_text(out, made + ".");
  out += "</p>\n<nav><a href=\"#tools\">Tools</a>";
  for (const page_section& section : sections) {
    out += " \xc2\xb7 <a href=\"#" + section.id + "\">";
    append_html_text(out, section.title);
    out += "</a>";
  }
  out += " \xc2\xb7 <a href=\"#summary\">Summary</a> \xc2\xb7 <a href=\"#verdicts\">Verdicts</a>";
  if (scores) {
    out +=
        " \xc2\xb7 <a href=\"#scores\">Scores</a> \xc2\xb7 <a href=\"#wrong\">Wrong "
        "answers</a>";
  }
  out += " \xc2\xb7 <a href=\"#disagreements\">Disagreements</a></nav>\n</header>\n";
}

}  // namespace

std::string page_date() {
  std::time_t seconds = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr) {
    const std::string_view text = epoch;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos ||
        errno != 0 || end != epoch + text.size()) {
      throw std::invalid_argument("SOURCE_DATE_EPOCH is '" + std::string(text) +
                                  "', not a count of seconds since 1970");
    }
    seconds = static_cast<std::time_t>(value);
  }
  std::tm date{};
  char text[32];
  if (::gmtime_r(&seconds, &date) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d", &date) == 0) {
    throw std::invalid_argument("SOURCE_DATE_EPOCH is past any date this program can write");
  }
  return text;
}

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

std::string html_page(const campaign_digest& digest, const rows_of_cells* wrong,
                      const page_facts& facts, const std::vector<page_section>& sections) {
  const bool scores = wrong != nullptr;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src '";
  out += script_hash;
  out += "'\">\n<title>Campaign report</title>\n<style>";
  out += page_style;
  out += "</style>\n</head>\n<body>\n";
  append_header(out, digest, facts, scores, sections);

  out += "<main>\n<h2 id=\"tools\">Tools</h2>\n<p>Each tool over all examinations.</p>\n";
  append_tools_table(out, digest, scores);
  std::vector<chart_bar> verdict_bars;
  std::vector<chart_bar> score_bars;
  const auto tools = tool_totals(digest);
  for (const auto& [tool, counts] : tools) {
    verdict_bars.push_back(verdict_bar(tool, counts));
    score_bars.push_back(score_bar(tool, counts));
  }
  append_legend(out, verdict_parts(), true);
  append_chart(out, "All examinations: verdicts", verdict_parts(), verdict_bars, true);
  if (scores) {
    append_legend(out, score_parts, false);
    append_chart(out, "All examinations: answers against the reference", score_parts, score_bars,
                 false);
  }

  append_sections(out, sections);
  out += "<h2 id=\"summary\">Summary per examination</h2>\n";
  const auto [summary, summary_total] = group_rows(view::summary, digest);
  append_table(out, "summary-table", view_columns(view::summary), summary, summary_total);
  out += "<h2 id=\"verdicts\">Verdicts per examination</h2>\n";
  append_charts(out, digest, false);

  if (scores) {
    out += "<h2 id=\"scores\">Scores against the reference</h2>\n";
    const auto [rows, total] = group_rows(view::scores, digest);
    append_table(out, "scores-table", view_columns(view::scores), rows, total);
    append_charts(out, digest, true);
    out += "<h2 id=\"wrong\">Wrong answers</h2>\n";
    append_wrong(out, *wrong, facts);
  }

  out += "<h2 id=\"disagreements\">Disagreements</h2>\n";
  append_disagreements(out, digest, facts);
  out += "</main>\n<script>";
  out += page_script;
  out += "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace sift_runlog::report
