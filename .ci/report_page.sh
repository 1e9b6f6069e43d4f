#!/usr/bin/env bash
# The html view of sift_runlog_report on the campaign of the tests (tests/report/data): the page
# must parse (python3's html.parser, every element closed in order), fetch nothing (no script,
# no external reference) and hold the figures of that campaign: its totals, one verdict chart
# and one score chart per examination, its three wrong answers and ten disagreement rows.
set -euo pipefail
cd "$(dirname "$0")/.."
python=/usr/bin/python3
if [ ! -x "$python" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends python3
fi
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target sift_runlog_report >/dev/null
page=$(mktemp)
trap 'rm -f "$page"' EXIT
(cd tests/report/data &&
  ../../../build/release/sift_runlog_report html --reference reference.csv -o "$page" \
    part-1.jsonl part-2.csv)
"$python" - "$page" <<'PYTHON'
import sys
from html.parser import HTMLParser

VOID = {"meta", "br", "wbr", "rect", "img", "hr", "input", "link"}


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.open, self.errors, self.counts = [], [], {}
        self.rows, self.section, self.cells, self.text = {}, None, [], []

    def handle_starttag(self, tag, attrs):
        self.counts[tag] = self.counts.get(tag, 0) + 1
        for name, value in attrs:
            if name in ("src", "href") or (value or "").startswith(("http:", "https:", "//")):
                self.errors.append(f"<{tag} {name}={value}> refers to something outside")
        if tag == "script":
            self.errors.append("a script")
        if tag == "h2":
            self.section = dict(attrs).get("id")
        if tag == "tr":
            self.cells = []
        if tag not in VOID:
            self.open.append(tag)
        self.text = []

    def handle_startendtag(self, tag, attrs):
        self.counts[tag] = self.counts.get(tag, 0) + 1

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.open or self.open[-1] != tag:
            self.errors.append(f"</{tag}> closes {self.open[-1:] or 'nothing'}")
            return
        self.open.pop()
        if tag in ("td", "th"):
            self.cells.append("".join(self.text))
        if tag == "tr":
            self.rows.setdefault(self.section, []).append(self.cells)

    def handle_data(self, data):
        self.text.append(data)


page = Page()
page.feed(open(sys.argv[1], encoding="utf-8").read())
page.close()
errors = page.errors + ([f"unclosed: {page.open}"] if page.open else [])
total = page.rows.get("summary", [[]])[-1]
expect = {
    "the summary's total row": (total[:6], ["total", "", "13", "33", "29", "10"]),
    "the charts": (page.counts.get("svg"), 10),
    "the wrong answers": (len(page.rows.get("wrong", [])) - 1, 3),
    "the disagreements": (len(page.rows.get("disagreements", [])) - 1, 10),
    "the names kept": ('x,"y"<z>|w' in str(page.rows.get("disagreements")), True),
}
for what, (got, wanted) in expect.items():
    if got != wanted:
        errors.append(f"{what}: {got!r}, not {wanted!r}")
if errors:
    print("report_page: " + "\n".join(errors), file=sys.stderr)
    sys.exit(1)
print("report_page: the page parses and holds the campaign's figures")
PYTHON
