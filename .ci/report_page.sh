#!/usr/bin/env bash
# The html view of sift_runlog_report in a real browser: the page of the tests' campaign
# (tests/report/data, with page-extra.csv, whose file names hold markup, and 150 wrong answers of
# one more tool) opened in Debian's headless Chromium by .ci/report_page.mjs through puppeteer-core
# (the version pinned by .ci/package-lock.json). It checks that the page fetches nothing, fits
# 800 px, sorts on a click and reverses on a second, filters its lists by a typed tool name,
# never runs markup from a file name, keeps every tool in its capped lists and shows every
# table with scripting off. A screenshot goes to build/report-page-800.png.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
(cd .ci && npm ci --no-audit --no-fund --loglevel=error)

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target sift_runlog_report >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  echo "path,tool,model,examination,run,cores,time_flag,memory_flag,verdict,answers,techniques,report,answer_names"
  for i in $(seq 100 249); do
    echo "k/kite_$i.log,kite,Philosophers-PT-000010,StateSpace,1.log,4,OK,OK,answers,1 NUM:7,,,STATES"
  done
} >"$work/kite.csv"
(cd tests/report/data &&
  SOURCE_DATE_EPOCH=1767225600 ../../../build/release/sift_runlog_report html \
    --reference reference.csv -o "$work/page.html" campaign.csv page-extra.csv "$work/kite.csv")
node .ci/report_page.mjs "$work/page.html" build/report-page-800.png
