#!/bin/sh
# End-to-end tests of sift_runlog_table, one case per run:
#   sh table_test.sh CASE COMPANION PROGRAM
# COMPANION is the sift_runlog_table script, PROGRAM the built sift_runlog. Every case works in a
# scratch directory of its own, removed at the end.
set -u

case_name=$1
companion=$2
program=$3
case $companion in /*) ;; *) companion=$PWD/$companion ;; esac
case $program in /*) ;; *) program=$PWD/$program ;; esac

LC_ALL=C
export LC_ALL
scratch=$(mktemp -d -t sift_table_test.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir tmp
# The companion's work directories go here, so that a case can check that none is left.
TMPDIR=$scratch/tmp
export TMPDIR
SIFT_RUNLOG=$program
export SIFT_RUNLOG

fail() {
  printf 'FAILED (%s): %s\n' "$case_name" "$1" >&2
  exit 1
}

# expect_file FILE EXPECTED-TEXT: the file holds exactly the text.
expect_file() {
  printf '%s' "$2" >expected.txt
  cmp -s "$1" expected.txt || {
    printf -- '--- expected\n' >&2
    cat expected.txt >&2
    printf -- '--- got (%s)\n' "$1" >&2
    cat "$1" >&2
    fail "$1 is not as expected"
  }
}

expect_status() {
  [ "$1" -eq "$2" ] || fail "exit status $1, expected $2"
}

# The companion's temporary directories and files are all gone.
expect_no_leftovers() {
  [ -z "$(ls -A tmp)" ] || fail "work files left in TMPDIR: $(ls -A tmp)"
}

# No temporary table beside table.csv.
expect_no_temporary_table() {
  for file in .table.csv.*; do
    [ ! -e "$file" ] || fail "a temporary table is left: $file"
  done
}

header='#time flag,memory flag,formatted result,techniques
'
velox_run='# Executing tool velox
# Number of cores : 4
RH_START
STATE_SPACE STATES 1024 TECHNIQUES TECH_A TECH_B
STATE_SPACE TRANSITIONS 5000 TECHNIQUES TECH_A TECH_B
STATE_SPACE MAX_TOKEN_IN_PLACE 1 TECHNIQUES TECH_A TECH_B
STATE_SPACE MAX_TOKEN_PER_MARKING 3 TECHNIQUES TECH_A TECH_B
RH_STOP
'
# log FILE TEXT: writes a log, making its directory.
log() {
  mkdir -p "$(dirname -- "$1")" || fail "cannot make the directory of $1"
  printf '%s' "$2" >"$1" || fail "cannot write $1"
}

# A grader that takes its time on the logs whose names hold "slow", so that they finish after
# the others, and leaves a mark when it starts one; otherwise the real program.
make_slow_grader() {
  cat >slow_grader <<EOF
#!/bin/sh
case "\$*" in *slow*) : >"$scratch/started"; sleep "\${SLOW_SECONDS:-1}" ;; esac
exec "$program" "\$@"
EOF
  chmod +x slow_grader
}

# A campaign with one log of every kind of row and one log that fails.
make_campaign() {
  log camp/velox_Model-A_StateSpace_1.log "$velox_run"
  log camp/velox_Model-A_StateSpace_2.log '# Number of cores : 8
DO_NOT_COMPETE
'
  log camp/velox_Model-B_UpperBounds_1.log 'RH_START
RH_STOP
'
  log camp/velox_Model-B_UpperBounds_2.log 'RH_START
'
  log camp/other/tool_Model-C_StateSpace_1.log ''
  log camp/other/tool_Model-C_StateSpace_2.log '# Number of cores : 4
STATE_SPACE TRANSITIONS 5000
'
  log camp/other/tool_Model-C_Reachability_1.log 'FORMULA_NAME
'
  log camp/other/tool_Model-C_Reachability_2.log 'RH_START
FORMULA_NAME A
'
  log camp/other/notes.txt 'not a log'
}
campaign_table="$header"'Problem with file camp/other/tool_Model-C_Reachability_1.log,-
tool,Model-C,StateSpace,1.log,NO_CORE,OK,OK,BAD_RUN?,-
tool,Model-C,StateSpace,2.log,4,OK,OK,ERROR,-
velox,Model-A,StateSpace,1.log,4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B 
velox,Model-A,StateSpace,2.log,8,OK,OK,DNC,-
velox,Model-B,UpperBounds,1.log,NO_CORE,OK,OK,CC,-
velox,Model-B,UpperBounds,2.log,NO_CORE,OK,OK,DNF,-
'
campaign_errors='sift_runlog_table: camp/other/tool_Model-C_Reachability_2.log: sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:242
sift_runlog_table: 8 logs graded, 1 failed; rows: 1 answers, 1 DNC, 1 CC, 1 DNF, 1 BAD_RUN?, 1 ERROR, 1 Problem
'

case_ordering() {
  # The first logs in the byte order of the paths take longest, so they finish last.
  make_slow_grader
  log camp/b_x_y_1.log "$velox_run"
  log camp/B_x_y_2.log 'RH_START
'
  log camp/a_slow_y_3.log 'DO_NOT_COMPETE
'
  log camp/A_slow_y_4.log ''
  log camp/sub/a_x_y_5.log 'RH_START
RH_STOP
'
  log camp/sub_x_y_6.log 'RH_START
'
  SIFT_RUNLOG=$scratch/slow_grader "$companion" -j 4 camp >table.csv 2>errors.txt
  expect_status $? 0
  expect_file table.csv "$header"'A,slow,y,4.log,NO_CORE,OK,OK,BAD_RUN?,-
B,x,y,2.log,NO_CORE,OK,OK,DNF,-
a,slow,y,3.log,NO_CORE,OK,OK,DNC,-
b,x,y,1.log,4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B 
a,x,y,5.log,NO_CORE,OK,OK,CC,-
sub,x,y,6.log,NO_CORE,OK,OK,DNF,-
'
  expect_file errors.txt 'sift_runlog_table: 6 logs graded, 0 failed; rows: 1 answers, 1 DNC, 1 CC, 2 DNF, 1 BAD_RUN?, 0 ERROR, 0 Problem
'
  expect_no_leftovers
}

case_campaign() {
  # Every kind of row, and a log that fails: no row for it, its report on standard error, and
  # status 1 after every other row.
  make_campaign
  "$companion" camp >table.csv 2>errors.txt
  expect_status $? 1
  expect_file table.csv "$campaign_table"
  expect_file errors.txt "$campaign_errors"
  expect_no_leftovers
}

case_parallel() {
  # Forty logs graded one at a time and four at a time give the same table and messages, and
  # each row is what the program gives for that log alone.
  i=10
  while [ $i -lt 50 ]; do
    case $((i % 4)) in
      0) text=$velox_run ;;
      1) text='RH_START
' ;;
      2) text='RH_START
FORMULA_NAME A
' ;;
      3) text='# Number of cores : 2
RH_START
Can'"'"'t allocate memory
RH_STOP
' ;;
    esac
    log "camp/d$((i % 3))/tool_model_exam_$i.log" "$text"
    i=$((i + 1))
  done
  "$companion" -j 1 camp >one.csv 2>one.txt
  expect_status $? 1
  "$companion" -j4 camp >four.csv 2>four.txt
  expect_status $? 1
  cmp -s one.csv four.csv || fail "-j 1 and -j 4 give different tables"
  cmp -s one.txt four.txt || fail "-j 1 and -j 4 give different messages"
  printf '%s' "$header" >by_hand.csv
  for file in $(find camp -name '*.log' | sort); do
    if "$program" -long "$file" >row.csv 2>/dev/null; then cat row.csv >>by_hand.csv; fi
  done
  cmp -s one.csv by_hand.csv || fail "the table differs from the program's rows"
  [ "$(grep -c '^sift_runlog_table: camp/' one.txt)" -eq 10 ] || fail "not ten failures reported"
  expect_no_leftovers
}

case_output_file() {
  make_campaign
  log table.csv 'an old table
'
  old_inode=$(ls -i table.csv)
  umask 022
  "$companion" -o table.csv camp 2>errors.txt
  expect_status $? 1
  # Replaced by a rename, never rewritten in place: a reader of the old table keeps it whole.
  [ "$(ls -i table.csv)" != "$old_inode" ] || fail "the old table was written over in place"
  expect_file table.csv "$campaign_table"
  expect_file errors.txt "$campaign_errors"
  expect_no_temporary_table
  [ "$(find table.csv -perm 644 | wc -l)" -eq 1 ] || fail "the table is not rw-r--r--"
  # Options after the paths, and a table in another directory.
  mkdir results
  "$companion" camp --short -o results/table.csv 2>/dev/null
  expect_status $? 1
  [ "$(ls -A results)" = table.csv ] || fail "results/ holds more than the table"
  expect_no_leftovers
}

case_output_atomic() {
  make_campaign
  log table.csv 'an old table
'
  # A run that cannot grade anything leaves the old table alone.
  SIFT_RUNLOG=$scratch/no_such_program "$companion" -o table.csv camp 2>errors.txt
  expect_status $? 2
  expect_file table.csv 'an old table
'
  grep -q 'cannot run' errors.txt || fail "no message for a program that cannot run"
  expect_no_temporary_table
  # A table whose directory does not exist is no table at all.
  "$companion" -o missing/table.csv camp 2>/dev/null
  expect_status $? 2
  [ ! -e missing ] || fail "missing/ was made"
  # An interrupted run leaves the old table alone, and no temporary file anywhere. The run gets
  # its own process group, and the whole group is signalled, as a terminal or a scheduler does.
  make_slow_grader
  log camp/tool_slow_exam_1.log "$velox_run"
  SIFT_RUNLOG=$scratch/slow_grader SLOW_SECONDS=60 \
    setsid "$companion" -j 2 -o table.csv camp 2>interrupted.txt &
  run=$!
  waited=0
  until [ -e started ]; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -lt 600 ] || fail "the slow log was never started"
  done
  kill -s TERM -- "-$run"
  wait "$run"
  expect_status $? 143
  expect_file table.csv 'an old table
'
  grep -q 'interrupted; no table written' interrupted.txt || fail "no message for the interruption"
  expect_no_temporary_table
  expect_no_leftovers
}

case_names() {
  # Blanks, a tab, a line feed, quotes, glob characters and a leading dash in the names.
  tab=$(printf '\t')
  newline='
'
  log "camp/with blank/a b_c  d_e_1.log" "$velox_run"
  log "camp/with${tab}tab/x_y_z_2.log" 'RH_START
'
  log "camp/new${newline}line/x_y_z_3.log" 'DO_NOT_COMPETE
'
  log "camp/quote'\"/x_[y]_*_4.log" 'RH_START
RH_STOP
'
  log "-dash_y_z_5.log" 'RH_START
'
  log "camp/problem one.log" 'RH_START
'
  log "camp/new${newline}line/problem_two.log" 'RH_START
'
  "$companion" -- camp -dash_y_z_5.log >table.csv 2>errors.txt
  expect_status $? 0
  # In byte order a tab comes before a blank.
  expect_file table.csv "$header"'-dash,y,z,5.log,NO_CORE,OK,OK,DNF,-
problem,two.log,Problem with file camp/new
line/problem_two.log,-
x,y,z,3.log,NO_CORE,OK,OK,DNC,-
problem one.log,Problem with file camp/problem one.log,-
x,[y],*,4.log,NO_CORE,OK,OK,CC,-
x,y,z,2.log,NO_CORE,OK,OK,DNF,-
a b,c  d,e,1.log,4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B 
'
  expect_file errors.txt 'sift_runlog_table: 7 logs graded, 0 failed; rows: 1 answers, 1 DNC, 1 CC, 2 DNF, 0 BAD_RUN?, 0 ERROR, 2 Problem
'
  expect_no_leftovers
}

case_short_and_pattern() {
  log camp/a.log "$velox_run"
  log camp/b.out 'RH_START
'
  log camp/c.log.bak 'RH_START
'
  # Symbolic links are followed, to logs and to directories.
  log elsewhere/d.log 'DO_NOT_COMPETE
'
  ln -s ../elsewhere/d.log camp/link.log
  ln -s ../elsewhere camp/linked
  "$companion" --short camp >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$header"'4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B 
NO_CORE,OK,OK,DNC,-
NO_CORE,OK,OK,DNC,-
'
  "$companion" --short --pattern '*.out' camp >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$header"'NO_CORE,OK,OK,DNF,-
'
  # A file named on the command line is graded whatever its name.
  "$companion" --short --pattern='*.out' camp camp/c.log.bak >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$header"'NO_CORE,OK,OK,DNF,-
NO_CORE,OK,OK,DNF,-
'
  # No log at all: the header alone.
  mkdir empty
  "$companion" empty >table.csv 2>errors.txt
  expect_status $? 0
  expect_file table.csv "$header"
  expect_file errors.txt 'sift_runlog_table: 0 logs graded, 0 failed; rows: 0 answers, 0 DNC, 0 CC, 0 DNF, 0 BAD_RUN?, 0 ERROR, 0 Problem
'
  expect_no_leftovers
}

case_finding_the_program() {
  log camp/a_b_c_d.log 'RH_START
'
  expected="$header"'a,b,c,d.log,NO_CORE,OK,OK,DNF,-
'
  unset SIFT_RUNLOG
  # PATH without any sift_runlog on it.
  bare_path=
  saved_ifs=$IFS
  IFS=:
  for directory in $PATH; do
    [ -x "$directory/sift_runlog" ] || bare_path=${bare_path:+$bare_path:}$directory
  done
  IFS=$saved_ifs
  # Next to the companion.
  mkdir beside
  cp "$companion" beside/sift_runlog_table
  ln -s "$program" beside/sift_runlog
  PATH=$bare_path beside/sift_runlog_table camp >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$expected"
  # On PATH.
  mkdir alone on_path
  cp "$companion" alone/sift_runlog_table
  ln -s "$program" on_path/sift_runlog
  PATH=$scratch/on_path:$bare_path alone/sift_runlog_table camp >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$expected"
  # SIFT_RUNLOG first.
  cat >tagging <<EOF
#!/bin/sh
[ "\$1" = -header ] && exec "$program" -header
printf 'tagged\n'
EOF
  chmod +x tagging
  SIFT_RUNLOG=$scratch/tagging beside/sift_runlog_table camp >table.csv 2>/dev/null
  expect_status $? 0
  expect_file table.csv "$header"'tagged
'
  # Nowhere.
  PATH=$bare_path alone/sift_runlog_table camp >table.csv 2>errors.txt
  expect_status $? 2
  grep -q 'cannot find sift_runlog' errors.txt || fail "no message for a missing program"
  expect_no_leftovers
}

case_usage() {
  "$companion" --help >help.txt 2>&1
  expect_status $? 0
  grep -q '^usage: sift_runlog_table ' help.txt || fail "--help gives no usage"
  "$companion" -h >h.txt 2>&1
  cmp -s help.txt h.txt || fail "-h and --help differ"
  for arguments in '' '-x camp' '-j 0 camp' '-j x camp' '-j' '--pattern' '-o' '--jobs camp'; do
    # shellcheck disable=SC2086 # the arguments are meant to be split
    "$companion" $arguments >out.txt 2>errors.txt
    expect_status $? 2
    [ ! -s out.txt ] || fail "'$arguments' writes a table"
    grep -q "Try 'sift_runlog_table --help'" errors.txt || fail "'$arguments' gives no hint"
  done
  expect_no_leftovers
}

case "$case_name" in
  ordering | campaign | parallel | output_file | output_atomic | names | short_and_pattern | \
    finding_the_program | usage)
    "case_$case_name"
    ;;
  *) fail "no such case" ;;
esac
printf 'passed: %s\n' "$case_name"
