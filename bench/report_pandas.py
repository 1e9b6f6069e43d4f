#!/usr/bin/python3
# The reference for bench/report_run.sh: the summary or the disagreements of a jsonl table of
# sift_runlog_table as a publisher writes them with pandas (read_json(lines=True), explode,
# groupby), written as csv to standard output.
#
#   report_pandas.py summary|disagreements TABLE.jsonl
#
# Numbers are compared as pandas compares them once read: through to_numeric (binary floating
# point), so 1024 and 1.024E+3 agree, as they do for sift_runlog_report.
import sys

import pandas as pd

VERDICTS = ["answers", "DNC", "CC", "DNF", "BAD_RUN?", "ERROR", "problem_with_file", "failed"]


def answers_of(logs):
    rows = logs[["path", "tool", "model", "examination", "answers"]].explode("answers")
    rows = rows[rows["answers"].notna()]
    named = pd.json_normalize(rows["answers"].tolist())
    rows = rows.drop(columns="answers").reset_index(drop=True)
    rows["formula"] = named["name"]
    rows["value"] = named["value"]
    return rows


def definite_with_keys(rows):
    rows = rows[(rows["value"] != "?") & (rows["formula"] != "")].copy()
    number = pd.to_numeric(rows["value"], errors="coerce")
    rows["key"] = number.astype(str).where(number.notna(), "=" + rows["value"])
    return rows


def contested(definite):
    kinds = definite.groupby(["model", "examination", "formula"])["key"].transform("nunique")
    return definite[kinds > 1]


def summary(logs):
    rows = answers_of(logs)
    groups = ["tool", "examination"]
    table = logs.groupby(groups).size().rename("logs").to_frame()
    table["formulas"] = rows.groupby(groups).size()
    table["answered"] = rows[rows["value"] != "?"].groupby(groups).size()
    table["disputed"] = contested(definite_with_keys(rows)).groupby(groups).size()
    verdicts = pd.crosstab([logs["tool"], logs["examination"]], logs["verdict"])
    for verdict in VERDICTS:
        table[verdict] = verdicts[verdict] if verdict in verdicts else 0
    table["time_flag_DNF"] = logs[logs["time_flag"] == "DNF"].groupby(groups).size()
    table["memory_flag_MOVF"] = logs[logs["memory_flag"] == "MOVF"].groupby(groups).size()
    table = table.fillna(0).astype("int64").reset_index()
    total = table.drop(columns=groups).sum()
    table.loc[len(table)] = ["", ""] + total.tolist()
    return table


def disagreements(logs):
    rows = contested(definite_with_keys(answers_of(logs)))
    keys = ["model", "examination", "formula"]
    counts = rows.groupby(keys + ["key"]).size().rename("count").reset_index()
    top = counts.groupby(keys)["count"].transform("max")
    leaders = counts[counts["count"] == top]
    single = leaders.groupby(keys)["key"].transform("size") == 1
    majority = leaders[single][keys + ["key"]].rename(columns={"key": "majority_key"})
    rows = rows.merge(majority, on=keys, how="left")
    first = rows.drop_duplicates(keys + ["key"])[keys + ["key", "value"]]
    first = first.rename(columns={"key": "majority_key", "value": "majority"})
    rows = rows.merge(first, on=keys + ["majority_key"], how="left")
    rows = rows.sort_values(keys + ["path"], kind="stable")
    return rows[["model", "examination", "formula", "value", "tool", "path", "majority"]]


def with_name_fields(logs):
    # A row whose line shows no name fields (a failed log) counts under the first four "_" parts
    # of its file's name, as sift_runlog_report counts it.
    names = ["tool", "model", "examination", "run"]
    missing = logs[names].isna().all(axis=1)
    parts = logs.loc[missing, "path"].str.rsplit("/", n=1).str[-1].str.split(r"_+", regex=True)
    whole = parts[parts.str.len() >= 4]
    for i, name in enumerate(names):
        logs.loc[whole.index, name] = whole.str[i]
    return logs


def main():
    view, table = sys.argv[1], sys.argv[2]
    logs = with_name_fields(pd.read_json(table, lines=True, dtype=False))
    result = summary(logs) if view == "summary" else disagreements(logs)
    result.to_csv(sys.stdout, index=False)


main()
