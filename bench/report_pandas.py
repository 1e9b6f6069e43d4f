#!/usr/bin/python3
# The reference for bench/report_run.sh: the summary or the disagreements of a jsonl table of
# sift_runlog_table, or the diff of two, as a publisher writes them with pandas
# (read_json(lines=True), explode, groupby, merge), written as csv to standard output.
#
#   report_pandas.py summary|disagreements TABLE.jsonl
#   report_pandas.py diff BEFORE.jsonl AFTER.jsonl
#
# Numbers are compared as pandas compares them once read: through to_numeric (binary floating
# point), so 1024 and 1.024E+3 agree, as they do for sift_runlog_report.
import sys

import pandas as pd

VERDICTS = ["answers", "DNC", "CC", "DNF", "BAD_RUN?", "ERROR", "problem_with_file", "failed"]


NAMES = ["tool", "model", "examination", "run"]


def answers_of(logs):
    rows = logs[["path"] + NAMES + ["answers"]].explode("answers")
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
    table["runs"] = logs.groupby(groups)["run"].nunique()
    return table.fillna(0).astype("int64").reset_index()


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


def diff(before, after):
    # Logs matched by their names, answers by formula; "?" is no definite answer.
    logs = before[NAMES + ["verdict"]].merge(after[NAMES + ["verdict"]], on=NAMES, how="outer",
                                             suffixes=("_b", "_a"), indicator=True)
    changes = [logs[logs["_merge"] == "left_only"].assign(before=lambda t: t["verdict_b"],
                                                          change="missing_log"),
               logs[logs["_merge"] == "right_only"].assign(after=lambda t: t["verdict_a"],
                                                           change="new_log")]
    both = logs[logs["_merge"] == "both"]
    changes.append(both[both["verdict_b"] != both["verdict_a"]].assign(
        before=lambda t: t["verdict_b"], after=lambda t: t["verdict_a"], change="verdict"))
    shared = both[NAMES]
    answers = answers_of(before).merge(shared, on=NAMES).merge(
        answers_of(after).merge(shared, on=NAMES), on=NAMES + ["formula"], how="outer",
        suffixes=("_b", "_a"))
    old = answers["value_b"].where(answers["value_b"] != "?")
    new = answers["value_a"].where(answers["value_a"] != "?")
    old_number, new_number = pd.to_numeric(old, errors="coerce"), pd.to_numeric(new, errors="coerce")
    same = (old == new) | (old_number.notna() & (old_number == new_number))
    kinds = [(old.isna() & new.notna(), "new_answer"), (old.notna() & new.isna(), "lost_answer"),
             (old.notna() & new.notna() & ~same, "changed_answer")]
    for chosen, change in kinds:
        changes.append(answers[chosen].assign(before=old[chosen], after=new[chosen], change=change))
    table = pd.concat(changes, ignore_index=True)
    return table.reindex(columns=NAMES + ["formula", "before", "after", "change"])


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


def read(table):
    return with_name_fields(pd.read_json(table, lines=True, dtype=False))


def main():
    view, tables = sys.argv[1], sys.argv[2:]
    if view == "diff":
        result = diff(read(tables[0]), read(tables[1]))
    else:
        result = summary(read(tables[0])) if view == "summary" else disagreements(read(tables[0]))
    result.to_csv(sys.stdout, index=False)


main()
