#!/usr/bin/python3
"""Whole-program comparison of quillmere-cli with pandas on three merges of .xls files.

  fast     60 .xls x 1,000 rows x 10 columns, stacked into one .xls
           pandas: read_excel (xlrd) + concat + to_excel (xlwt)
  smart    10 .xls x 20,000 rows, shuffled keys, new columns in every table, joined on the key
           (horizontal, then horizontal and vertical) into one .xls
           pandas: fill empty cells of matched keys, add the new columns, append unseen keys
           (both) and to_excel (xlwt)
  safe     200 .xls x 2,000 rows (400,000 rows), overwrite merge on the key; the result goes
           to .xlsx
           pandas: concat + newest-wins dedupe + to_excel (xlsxwriter)

Each side runs in a child process, timed from start to exit, with the child's peak resident
memory from wait4. The inputs are written once with xlwt (seeded) into --work.

Debian's pandas 1.5 refuses Debian's xlrd 1.2 by a version check; the pandas child lifts the
minimum-version entry for xlrd at run time (xlrd 1.2 reads .xls files fine).

Usage: bench/compare_merge.py --cli build-release/src/cli/quillmere-cli [--work DIR]
       [--only fast,smart,safe] [--skip-pandas] [--skip-quillmere]
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import time

import xlwt

PANDAS_PRELUDE = r"""
import warnings
warnings.filterwarnings("ignore")
import pandas.compat._optional as _opt
_opt.VERSIONS["xlrd"] = "1.0.0"
import pandas as pd
import glob, os, sys
"""

PANDAS_FAST = PANDAS_PRELUDE + r"""
folder, out = sys.argv[1], sys.argv[2]
names = sorted(glob.glob(os.path.join(folder, "*.xls")))
frames = [pd.read_excel(n, engine="xlrd") for n in names]
pd.concat(frames, ignore_index=True).to_excel(out, index=False, engine="xlwt")
"""

PANDAS_SMART = PANDAS_PRELUDE + r"""
folder, out, mode = sys.argv[1], sys.argv[2], sys.argv[3]
names = sorted(glob.glob(os.path.join(folder, "*.xls")))
result = pd.read_excel(names[0], engine="xlrd")
key = result.columns[0]
result = result.set_index(key)
for n in names[1:]:
    src = pd.read_excel(n, engine="xlrd")
    src = src.drop_duplicates(subset=[src.columns[0]]).set_index(src.columns[0])
    if mode == "horizontal":
        src = src[src.index.isin(result.index)]
    # Empty cells of the result take the source's value; new columns and (both) keys are added.
    result = result.combine_first(src) if mode == "both" else result.combine_first(src).loc[result.index]
result.reset_index().to_excel(out, index=False, engine="xlwt")
"""

PANDAS_SAFE = PANDAS_PRELUDE + r"""
folder, out = sys.argv[1], sys.argv[2]
names = sorted(glob.glob(os.path.join(folder, "*.xls")))
df = pd.concat([pd.read_excel(n, engine="xlrd") for n in names], ignore_index=True)
key = df.columns[0]
# Newest wins, standing where the oldest stood.
first = df.drop_duplicates(subset=[key], keep="first")[[key]]
last = df.drop_duplicates(subset=[key], keep="last")
merged = first.merge(last, on=key, how="left")
merged.to_excel(out, index=False, engine="xlsxwriter")
"""


def write_table(path, header, rows):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    for c, h in enumerate(header):
        ws.write(0, c, h)
    for r, row in enumerate(rows, start=1):
        for c, v in enumerate(row):
            ws.write(r, c, v)
    wb.save(path)


def make_fast(folder):
    rng = random.Random(1)
    header = ["编号"] + ["列%d" % c for c in range(2, 11)]
    for t in range(60):
        rows = [[t * 1000 + i] + [rng.randint(0, 99999) / 100 if c % 3 else "t%d" % rng.randint(0, 999)
                                  for c in range(2, 11)] for i in range(1000)]
        write_table(os.path.join(folder, "t%02d.xls" % t), header, rows)


def make_smart(folder):
    rng = random.Random(2)
    for t in range(10):
        keys = list(range(1 + t * 1000, 20001 + t * 1000))
        rng.shuffle(keys)
        header = ["编号"] + ["表%d列%d" % (t, c) for c in range(2, 7)]
        rows = [[k] + [rng.randint(0, 99999) / 100 if c % 3 else "t%d" % rng.randint(0, 999)
                       for c in range(2, 7)] for k in keys]
        write_table(os.path.join(folder, "t%02d.xls" % t), header, rows)


def make_safe(folder):
    rng = random.Random(3)
    header = ["编号"] + ["列%d" % c for c in range(2, 11)]
    for t in range(200):
        rows = [[rng.randint(0, 99999)] + [rng.randint(0, 99999) / 100 if c % 3 else "t%d" % rng.randint(0, 999)
                                           for c in range(2, 11)] for _ in range(2000)]
        write_table(os.path.join(folder, "t%03d.xls" % t), header, rows)


def run(cmd):
    """Runs a child; returns (seconds, peak RSS in MiB, exit status)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    err = proc.stderr.read().decode("utf-8", "replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.stderr.write("  %s exited %d: %s\n" % (cmd[0], code, err.strip()[-300:]))
    return seconds, usage.ru_maxrss / 1024.0, code


def clean_results(folder):
    shutil.rmtree(os.path.join(folder, "合并结果"), ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build-release/src/cli/quillmere-cli")
    ap.add_argument("--work", default="/tmp/qm-compare-merge")
    ap.add_argument("--only", default="fast,smart,safe")
    ap.add_argument("--skip-pandas", action="store_true")
    ap.add_argument("--skip-quillmere", action="store_true")
    args = ap.parse_args()

    makers = {"fast": make_fast, "smart": make_smart, "safe": make_safe}
    # workload -> [(label, quillmere args, pandas script, pandas args)]
    cases = {
        "fast": [("fast vertical", ["--kind", "vertical", "--variant", "fast", "--header-rows", "1"],
                  PANDAS_FAST, [])],
        "smart": [("smart horizontal", ["--kind", "smart", "--variant", "horizontal", "--key", "1"],
                   PANDAS_SMART, ["horizontal"]),
                  ("smart both", ["--kind", "smart", "--variant", "both", "--key", "1"],
                   PANDAS_SMART, ["both"])],
        "safe": [("safe overwrite", ["--kind", "overwrite", "--variant", "safe", "--key", "1"],
                  PANDAS_SAFE, [])],
    }
    rows = []
    for name in args.only.split(","):
        folder = os.path.join(args.work, name)
        if not os.path.isdir(folder):
            os.makedirs(folder)
            t = time.perf_counter()
            makers[name](folder)
            print("wrote %s inputs in %.1f s" % (name, time.perf_counter() - t), flush=True)
        for label, qargs, script, pargs in cases[name]:
            q = p = None
            if not args.skip_quillmere:
                clean_results(folder)
                q = run([args.cli, folder] + qargs)
            if not args.skip_pandas:
                out = os.path.join(args.work, "pandas-%s.%s" % (name, "xlsx" if name == "safe" else "xls"))
                p = run([sys.executable, "-c", script, folder, out] + pargs)
            rows.append((label, q, p))
            clean_results(folder)

    print("\n| merge | quillmere s | quillmere MiB | pandas s | pandas MiB | speed-up | memory |")
    print("|---|---|---|---|---|---|---|")
    for label, q, p in rows:
        def cell(x, i):
            return "%.2f" % x[i] if x and x[2] == 0 else ("failed" if x else "-")
        ratio = mem = "-"
        if q and p and q[2] == 0 and p[2] == 0:
            ratio = "%.1f×" % (p[0] / q[0])
            mem = "%.2f" % (q[1] / p[1])
        print("| %s | %s | %s | %s | %s | %s | %s |" % (label, cell(q, 0), cell(q, 1), cell(p, 0),
                                                        cell(p, 1), ratio, mem))
    return 0


if __name__ == "__main__":
    sys.exit(main())
