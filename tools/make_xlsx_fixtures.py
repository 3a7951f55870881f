#!/usr/bin/python3
"""Makes the .xlsx fixtures of tests/data/xlsx/ (see tests/data/README.md).

Needs python3-openpyxl (Debian). Output is deterministic apart from the zip timestamps, which
the tests do not look at.
Usage: tools/make_xlsx_fixtures.py [OUTPUT_DIR]
"""
import datetime
import os
import sys

import openpyxl
from openpyxl.styles import Font, PatternFill

out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "xlsx")
os.makedirs(out_dir, exist_ok=True)

# dump_sample.xlsx: one cell of every kind the dump prints, on the first of two worksheets.
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "汇总"
ws["A1"] = "姓名"
ws["B1"] = "金额"
ws["C1"] = "日期"
ws["D1"] = "通过"
ws["A2"] = "张三"
ws["B2"] = 1234.5
ws["C2"] = datetime.datetime(2024, 3, 1)
ws["C2"].number_format = "yyyy/m/d"
ws["D2"] = True
ws["A3"] = "李四"
ws["B3"] = -0.25
ws["D3"] = False
ws["E3"] = "#N/A"
ws["E3"].data_type = "e"
ws["A4"].font = Font(bold=True)  # format only: not dumped
ws["B4"] = "=B2+B3"               # a formula with no cached value: not dumped either
ws["A4"].fill = PatternFill("solid", fgColor="FFFF00")
ws.merge_cells("A6:B6")
ws.column_dimensions["A"].width = 20
other = wb.create_sheet("Other")
other["A1"] = "not the first sheet"
wb.save(os.path.join(out_dir, "dump_sample.xlsx"))
