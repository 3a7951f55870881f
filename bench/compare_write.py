#!/usr/bin/python3
"""Runs the writer benchmarks and the peers in one go and prints a comparison table.

Usage: bench/compare_write.py BUILD_DIR   (a Release build configured with -DQM_BUILD_BENCH=ON)

- ours (.xls, 65,000 x 10) and ours (.xlsx, 400,000 x 12) and libxlsxwriter in constant_memory
  mode (C, same cells) come from BUILD_DIR/bench/bench_write;
- python3-xlwt writes the same 65,000 x 10 cells here (best of two runs).
Cells: column 1 the row number, then in turn numbers with decimals, Chinese text from 5,000
distinct values, and dates formatted yyyy-mm-dd.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import xlwt


def xlwt_seconds(rows=65000, cols=10):
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    texts = ["产品名称%d号" % i for i in range(5000)]
    best = None
    for _ in range(2):
        start = time.perf_counter()
        wb = xlwt.Workbook(encoding="utf-8")
        ws = wb.add_sheet("Sheet1")
        for r in range(1, rows + 1):
            row = ws.row(r - 1)
            for c in range(1, cols + 1):
                kind = 0 if c == 1 else c % 3
                if kind == 0:
                    row.write(c - 1, r if c == 1 else r * c * 0.37)
                elif kind == 1:
                    row.write(c - 1, texts[(r * c) % 5000])
                else:
                    row.write(c - 1, 40000 + r % 3000, date)
            if r % 1000 == 0:
                ws.flush_row_data()
        with tempfile.NamedTemporaryFile(suffix=".xls") as f:
            wb.save(f.name)
        t = time.perf_counter() - start
        best = t if best is None else min(best, t)
    return best


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build-rel"
    out = subprocess.run([os.path.join(build, "bench", "bench_write"), "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    res = {b["name"].split("/")[0]: b for b in json.loads(out)["benchmarks"]}
    ours_xls = res["BM_OursXls_65000x10"]["real_time"] / 1000
    ours_xlsx = res["BM_OursXlsx_400000x12"]["real_time"] / 1000
    lxw = res["BM_LibxlsxwriterConstantMemory_400000x12"]["real_time"] / 1000
    xlwt_t = xlwt_seconds()
    print("| case | ours | peer | ours/peer | goal |")
    print("|---|---|---|---|---|")
    print("| .xls 65,000 x 10 vs python3-xlwt | %.3f s | %.2f s | 1/%.0f | <= 1/20 |"
          % (ours_xls, xlwt_t, xlwt_t / ours_xls))
    print("| .xlsx 400,000 x 12 vs libxlsxwriter constant_memory | %.2f s | %.2f s | %.2f | <= 0.33 |"
          % (ours_xlsx, lxw, ours_xlsx / lxw))
    for name in ("BM_OursXls_65000x10", "BM_OursXlsx_400000x12"):
        b = res[name]
        print("| %s memory | model %.0f MB | writer peak above start %.0f MB | | <= model + 64 MB |"
              % (name, b["model_MB"], b["writer_extra_MB"]))


if __name__ == "__main__":
    main()
