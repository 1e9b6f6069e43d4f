#!/usr/bin/env bash
# The installed and packaged forms of the project, checked end to end:
#   1. a Release tree (static program) in build/package, installed into a staging prefix;
#   2. the installed files, exactly; the manual pages without a single warning from man;
#   3. the installed program and companion on the example logs, the companion's version;
#   4. a tiny C++ consumer built against the installed tree with find_package(sift_runlog);
#   5. the Debian packages from cpack, their contents and fields, and the packaged program run.
# Needs cmake, g++, man (man-db) and dpkg-deb.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
build=build/package
stage=$PWD/$build/stage
fail() {
  echo "package.sh: $*" >&2
  exit 1
}

echo "== Release tree in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSIFT_STATIC_PROGRAM=ON \
  -DSIFT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs"

echo "== Install into $build/stage"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
expected_files="bin/sift_runlog
bin/sift_runlog_report
bin/sift_runlog_table
include/sift_runlog/grade.hpp
share/doc/sift-runlog/copyright
share/doc/sift-runlog-dev/copyright
$libdir/cmake/sift_runlog/sift_runlogConfig.cmake
$libdir/cmake/sift_runlog/sift_runlogConfigVersion.cmake
$libdir/cmake/sift_runlog/sift_runlogTargets-release.cmake
$libdir/cmake/sift_runlog/sift_runlogTargets.cmake
$libdir/libsift_analysis.a
share/man/man1/sift_runlog.1.gz
share/man/man1/sift_runlog_report.1.gz
share/man/man1/sift_runlog_table.1.gz"
installed_files=$(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed_files" = "$(LC_ALL=C sort <<<"$expected_files")" ] ||
  fail "installed files differ:$(diff <(LC_ALL=C sort <<<"$expected_files") <(echo "$installed_files"))"
[ -x "$stage/bin/sift_runlog_table" ] || fail "sift_runlog_table is not executable"
[ -x "$stage/bin/sift_runlog_report" ] || fail "sift_runlog_report is not executable"

echo "== Manual pages"
for page in "$stage"/share/man/man1/*.1.gz; do
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about ${page##*/}: $warnings"
  rendered=$(man -l "$page" 2>/dev/null)
  grep -q 'EXIT STATUS' <<<"$rendered" || fail "${page##*/} does not render"
done

echo "== The installed commands on the examples"
expected_rows="#time flag,memory flag,formatted result,techniques
4,OK,OK,4 BOOL:TRUE BOOL:FALSE BOOL:? BOOL:TRUE,DECISION_DIAGRAMS STRUCTURAL_REDUCTION 
8,OK,MOVF,CC,-
8,DNF,OK,3 NUM:1 NUM:20 NUM:?,TOPOLOGICAL 
4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:10,DECISION_DIAGRAMS PARALLEL "
table=$("$stage/bin/sift_runlog_table" --short examples 2>/dev/null)
[ "$table" = "$expected_rows" ] || fail "sift_runlog_table --short examples gives:
$table"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$("$stage/bin/sift_runlog_table" --version)" = "sift_runlog_table $version" ] ||
  fail "sift_runlog_table --version does not give $version"
[ "$("$stage/bin/sift_runlog_report" --version)" = "sift_runlog_report $version" ] ||
  fail "sift_runlog_report --version does not give $version"
summary=$("$stage/bin/sift_runlog_table" -q --short --format jsonl examples 2>/dev/null |
  "$stage/bin/sift_runlog_report" summary - | tail -n 1)
[ "$summary" = ",,4,11,9,0,3,0,1,0,0,0,0,0,1,1,0" ] ||
  fail "sift_runlog_table --short | sift_runlog_report summary - totals the examples as: $summary"
case $libdir in
  lib/*-*) ;;
  *) fail "the library goes to $libdir, not to a multiarch folder" ;;
esac

echo "== A consumer of the installed library"
consumer=$build/consumer
rm -rf "$consumer"
cmake -S examples/harness -B "$consumer" -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$consumer" -j "$jobs" >/dev/null
for log in examples/*.log examples/harness/missing.log; do
  program_status=0
  "$stage/bin/sift_runlog" "$log" >"$consumer/program.out" 2>"$consumer/program.err" ||
    program_status=$?
  consumer_status=0
  "$consumer/grade_one" "$log" >"$consumer/consumer.out" 2>"$consumer/consumer.err" ||
    consumer_status=$?
  cmp -s "$consumer/program.out" "$consumer/consumer.out" ||
    fail "the consumer and the program print different lines for $log"
  [ "$consumer_status" = "$program_status" ] ||
    fail "the consumer ends with $consumer_status, the program with $program_status, on $log"
  grep -q '^verdict: ' "$consumer/consumer.err" || fail "the consumer gives no verdict for $log"
  if [ "$program_status" -ne 0 ]; then
    grep -qxF -f "$consumer/program.err" "$consumer/consumer.err" ||
      fail "the consumer's report differs from the program's for $log"
  fi
done
grep -qx 'verdict: failed on an unknown number of cores' "$consumer/consumer.err" ||
  fail "the consumer gives no failure for a missing log"

echo "== Debian packages"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
runtime=$(ls "$build"/sift-runlog_*.deb)
development=$(ls "$build"/sift-runlog-dev_*.deb)
contents() { dpkg-deb -c "$1" | awk '{print $NF}' | grep -v '/$' | LC_ALL=C sort; }
expected_runtime="./usr/bin/sift_runlog
./usr/bin/sift_runlog_report
./usr/bin/sift_runlog_table
./usr/share/doc/sift-runlog/copyright
./usr/share/man/man1/sift_runlog.1.gz
./usr/share/man/man1/sift_runlog_report.1.gz
./usr/share/man/man1/sift_runlog_table.1.gz"
[ "$(contents "$runtime")" = "$expected_runtime" ] ||
  fail "${runtime##*/} holds:
$(contents "$runtime")"
# Read whole before grep looks at it: grep -q stops early, and a writer cut off would fail the
# pipeline.
development_contents=$(contents "$development")
grep -qx './usr/include/sift_runlog/grade.hpp' <<<"$development_contents" ||
  fail "${development##*/} has no public header"
grep -q '/cmake/sift_runlog/sift_runlogConfig.cmake$' <<<"$development_contents" ||
  fail "${development##*/} has no CMake package"
grep -qx "./usr/$libdir/libsift_analysis.a" <<<"$development_contents" ||
  fail "${development##*/} has no library in /usr/$libdir"
grep -qx './usr/share/doc/sift-runlog-dev/copyright' <<<"$development_contents" ||
  fail "${development##*/} has no copyright file"
[ "$(dpkg-deb -f "$runtime" Package)" = sift-runlog ] || fail "wrong package name"
[ -n "$(dpkg-deb -f "$runtime" Maintainer)" ] || fail "no maintainer"
[ -z "$(dpkg-deb -f "$runtime" Depends)" ] || fail "a static program needs no dependency"
[ "$(dpkg-deb -f "$runtime" Section)" = utils ] || fail "${runtime##*/} is not in utils"
[ "$(dpkg-deb -f "$development" Section)" = libdevel ] || fail "${development##*/} is not in libdevel"
for package in "$runtime" "$development"; do
  description=$(dpkg-deb -f "$package" Description)
  synopsis=${description%%$'\n'*}
  case $synopsis in
    grade*) ;;
    *) fail "${package##*/} has the synopsis '$synopsis'" ;;
  esac
  [ "$(wc -l <<<"$description")" -ge 5 ] || fail "${package##*/} has no full description"
  dpkg-deb --ctrl-tarfile "$package" >/dev/null || fail "${package##*/} is unreadable"
done
unpacked=$build/unpacked
rm -rf "$unpacked"
dpkg-deb -x "$runtime" "$unpacked"
[ "$("$unpacked/usr/bin/sift_runlog" examples/state_space_run.log)" = \
  "4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:10,DECISION_DIAGRAMS PARALLEL " ] ||
  fail "the packaged program does not grade the example"
# The development package serves a consumer as the installed tree does.
dpkg-deb -x "$development" "$unpacked"
rm -rf "$consumer"
cmake -S examples/harness -B "$consumer" -DCMAKE_PREFIX_PATH="$PWD/$unpacked/usr" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$consumer" -j "$jobs" >/dev/null
[ "$("$consumer/grade_one" examples/numeric_timeout_run.log 2>/dev/null)" = \
  "8,DNF,OK,3 NUM:1 NUM:20 NUM:?,TOPOLOGICAL " ] ||
  fail "a consumer of the development package does not grade the example"
echo "package.sh: ${runtime##*/} and ${development##*/} are good"
