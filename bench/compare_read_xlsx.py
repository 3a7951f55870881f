#!/usr/bin/python3
"""Compares reading the first worksheets of 50 seeded .xlsx files: bench_read_xlsx against
openpyxl (read-only, values), in one run on the same files.

Usage: bench/compare_read_xlsx.py BENCH_BINARY [DATA_DIR]
Needs python3-openpyxl and python3-xlsxwriter. The files (5,000 rows x 10 columns each: numbers, Chinese text, dates)
are made once with seed 20240301 and reused while they exist.
"""
import datetime
import json
import os
import random
import subprocess
import sys
import time

import openpyxl

FILES, ROWS, COLS, SEED = 50, 5000, 10, 20240301


def generate(data_dir):
    """Writes the files with xlsxwriter, which stores text as Excel does (shared strings, UTF-8)."""
    import xlsxwriter
    os.makedirs(data_dir, exist_ok=True)
    names = [os.path.join(data_dir, "book%02d.xlsx" % i) for i in range(FILES)]
    if all(os.path.exists(n) for n in names):
        return names
    rng = random.Random(SEED)
    hanzi = [chr(c) for c in range(0x4E00, 0x4E00 + 3000)]
    words = ["".join(rng.choice(hanzi) for _ in range(rng.randint(2, 6))) for _ in range(2000)]
    base = datetime.datetime(2000, 1, 1)
    for name in names:
        wb = xlsxwriter.Workbook(name)
        date_fmt = wb.add_format({"num_format": "yyyy/m/d"})
        time_fmt = wb.add_format({"num_format": "yyyy/m/d h:mm:ss"})
        ws = wb.add_worksheet("数据")
        ws.write_row(0, 0, ["编号", "名称", "数量", "单价", "金额", "日期", "地区", "备注", "比率", "时间"])
        for r in range(1, ROWS):
            ws.write_row(r, 0, [r, rng.choice(words), rng.randint(0, 100000),
                                round(rng.uniform(0, 1000), 2), rng.uniform(-1e6, 1e6)])
            ws.write_datetime(r, 5, base + datetime.timedelta(days=rng.randint(0, 9000)), date_fmt)
            ws.write_row(r, 6, [rng.choice(words), rng.choice(words) + str(r), rng.random()])
            ws.write_datetime(r, 9, base + datetime.timedelta(seconds=rng.randint(0, 10**9)),
                              time_fmt)
        wb.close()
    return names


def openpyxl_seconds(names):
    start = time.perf_counter()
    cells = 0
    for n in names:
        wb = openpyxl.load_workbook(n, read_only=True, data_only=True)
        for row in wb.worksheets[0].iter_rows(values_only=True):
            cells += sum(v is not None for v in row)
        wb.close()
    return time.perf_counter() - start, cells


def main():
    bench = sys.argv[1]
    data_dir = sys.argv[2] if len(sys.argv) > 2 else "/tmp/qm-bench-xlsx"
    names = generate(data_dir)
    env = dict(os.environ, QM_BENCH_XLSX_DIR=data_dir)
    out = subprocess.run([bench, "--benchmark_format=json"], env=env, check=True,
                         capture_output=True, text=True).stdout
    results = {b["name"].split("/")[0]: b for b in json.loads(out)["benchmarks"]}
    ours = results["BM_ReadXlsxFolder"]["real_time"] / 1000.0  # ms -> s
    mem = results["BM_ReadXlsxPeakMemory"]
    theirs, cells = openpyxl_seconds(names)
    print("files: %d x %d rows x %d columns, %d cells" % (len(names), ROWS, COLS, cells))
    print("quillmere: %.3f s   openpyxl read-only: %.3f s   ratio: 1/%.1f (goal 1/30)"
          % (ours, theirs, theirs / ours))
    print("peak heap per read: %.0f KiB; model %.0f KiB (%.2fx); cells %.0f KiB (%.2fx; goal <= 3x)"
          % (mem["peak_heap_bytes"] / 1024, mem["model_bytes"] / 1024, mem["peak_per_model"],
             mem["cell_bytes"] / 1024, mem["peak_per_cell_bytes"]))


if __name__ == "__main__":
    main()
