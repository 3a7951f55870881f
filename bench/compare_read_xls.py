#!/usr/bin/python3
"""Times our reading of the first worksheets of 50 generated .xls files against python3-xlrd 1.2
on the same files, in one run, and checks peak memory against the size of the cells in our model.

Usage: bench/compare_read_xls.py BENCH_BINARY [WORK_DIR]
  BENCH_BINARY  build/bench/bench_read_xls from a Release build with -DQM_BUILD_BENCH=ON
  WORK_DIR      where the files go (default /tmp/qm-bench-xls); made once, reused after.
Prints a Markdown table for bench/results-xls-read.md."""
import datetime
import json
import os
import random
import subprocess
import sys
import time

import xlrd
import xlwt

FILES, ROWS, COLS, SEED = 50, 5000, 10, 20240229


def make_files(work):
    os.makedirs(work, exist_ok=True)
    date_style = xlwt.easyxf(num_format_str='yyyy-mm-dd')
    base = datetime.date(2000, 1, 1)
    for i in range(FILES):
        path = os.path.join(work, 'book%02d.xls' % i)
        if os.path.exists(path):
            continue
        rnd = random.Random(SEED + i)
        wb = xlwt.Workbook(encoding='utf-8')
        ws = wb.add_sheet('数据')
        for r in range(ROWS):
            for c in range(COLS):
                kind = c % 5
                if kind == 0:
                    ws.write(r, c, rnd.randint(-100000, 100000))
                elif kind == 1:
                    ws.write(r, c, round(rnd.uniform(-1e6, 1e6), 4))
                elif kind == 2:
                    n = rnd.randint(2, 8)
                    ws.write(r, c, ''.join(chr(rnd.randint(0x4E00, 0x9FA5)) for _ in range(n)))
                elif kind == 3:
                    ws.write(r, c, base + datetime.timedelta(days=rnd.randint(0, 9000)),
                             date_style)
                else:
                    ws.write(r, c, rnd.random())
        wb.save(path)


def time_xlrd(files):
    start = time.perf_counter()
    cells = 0
    for f in files:
        book = xlrd.open_workbook(f, on_demand=True)
        sheet = book.sheet_by_index(0)
        for r in range(sheet.nrows):
            cells += len(sheet.row_values(r))
        book.release_resources()
    return time.perf_counter() - start, cells


def time_ours(binary, work):
    env = dict(os.environ, QM_BENCH_XLS_DIR=work)
    out = subprocess.run([binary, '--benchmark_filter=BM_ReadXlsFolder',
                          '--benchmark_format=json'], env=env, check=True,
                         capture_output=True, text=True).stdout
    bm = json.loads(out)['benchmarks'][0]
    assert bm['time_unit'] == 'ms'
    return bm['real_time'] / 1000.0


def main():
    binary = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else '/tmp/qm-bench-xls'
    make_files(work)
    files = sorted(os.path.join(work, f) for f in os.listdir(work) if f.endswith('.xls'))
    ours = time_ours(binary, work)
    theirs, cells = time_xlrd(files)
    peaks = []
    for f in files[:5]:
        p = json.loads(subprocess.run([binary, '--peak', f], check=True, capture_output=True,
                                      text=True).stdout)
        peaks.append(p)
    worst = max((p['peak_kb'] - p['rss_before_kb']) * 1024 / p['model_bytes'] for p in peaks)
    worst_cells = max((p['peak_kb'] - p['rss_before_kb']) * 1024 / (16 * p['cells'])
                      for p in peaks)
    p = peaks[0]
    print('| measure | ours | python3-xlrd 1.2 | ratio |')
    print('|---|---|---|---|')
    print('| read first sheets of %d files (%d cells) | %.3f s | %.3f s | %.3f (goal <= 0.1) |'
          % (len(files), cells, ours, theirs, ours / theirs))
    print('| file size | %.2f MB | | |' % (p['file_bytes'] / 1e6))
    print('| model bytes of one sheet | %.2f MB | | |' % (p['model_bytes'] / 1e6))
    print('| peak RSS growth reading one file / model bytes (worst of 5) | %.2f | | goal <= 3 |'
          % worst)
    print('| the same / bytes of the 16-byte cells alone (worst of 5) | %.2f | | |' % worst_cells)


if __name__ == '__main__':
    main()
