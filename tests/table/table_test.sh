#!/bin/sh
# sift_runlog_table on a small campaign: every kind of row and a log that fails, the same at -j1
# and -j4, and -o in a missing directory refused.   sh table_test.sh COMPANION PROGRAM
set -u
companion=$1
SIFT_RUNLOG=$2
LC_ALL=C
export SIFT_RUNLOG LC_ALL
scratch=$(mktemp -d -t sift_table_test.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir -p camp/other "camp/a b" || exit 1
printf '# Number of cores : 4\nRH_START\nSTATE_SPACE STATES 9 TECHNIQUES T\n' >camp/v_M_S_1.log
printf 'DO_NOT_COMPETE\n' >camp/v_M_S_2.log
printf 'RH_START\n' >"camp/a b/v_M_U_1.log"
printf 'STATE_SPACE TRANSITIONS 5\n' >camp/other/t_C_S_2.log
printf 'FORMULA_NAME\n' >camp/other/t_C_R_1.log
printf 'RH_START\nFORMULA_NAME A\n' >camp/other/t_C_R_2.log
printf 'not a log' >camp/other/notes.txt
printf '%s\n' '#time flag,memory flag,formatted result,techniques' \
  'v,M,U,1.log,NO_CORE,OK,OK,DNF,-' 'Problem with file camp/other/t_C_R_1.log,-' \
  't,C,S,2.log,NO_CORE,OK,OK,ERROR,-' 'v,M,S,1.log,4,OK,OK,4 NUM:9 NUM:? NUM:? NUM:?,T ' \
  'v,M,S,2.log,NO_CORE,OK,OK,DNC,-' >expected.csv
printf '%s\n' 'sift_runlog_table: camp/other/t_C_R_2.log: sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:242' \
  'sift_runlog_table: 6 logs graded, 1 failed; rows: 1 answers, 1 DNC, 0 CC, 1 DNF, 0 BAD_RUN?, 1 ERROR, 1 Problem' >expected.txt
"$companion" -j 1 -o one.csv camp 2>one.txt
[ $? -eq 1 ] && cmp one.csv expected.csv && cmp one.txt expected.txt || exit 1
"$companion" -j4 camp >four.csv 2>four.txt
cmp one.csv four.csv && cmp one.txt four.txt || exit 1
"$companion" -o missing/table.csv camp 2>/dev/null
[ $? -eq 2 ] && [ ! -e missing ] && echo passed
