#!/usr/bin/python3
"""Writes the example workbooks under examples/ (seeded, so every run gives the same tables).

examples/monthly: four monthly sales tables with a title row above the header, .xls and .xlsx
mixed. The April table has a differently named column, so the safe merge leaves it out. Staff
numbers repeat across months, which makes the overwrite merge (key column 1) meaningful.

examples/smart: three tables of different layouts that share the key column 工号 (column 1):
staff, pay and attendance. Each is sorted by 工号, so both smart-merge paths join them fully; the
pay table holds one staff number the staff table lacks, which only 纵横合并 appends.

Needs python3-xlwt and python3-openpyxl (tools/install-deps.sh bench).
"""

import os
import random
import sys
import zipfile

import openpyxl
import xlwt

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
STAFF = [(1001, "张伟", "销售部"), (1002, "王芳", "销售部"), (1003, "李娜", "市场部"),
         (1004, "刘洋", "市场部"), (1005, "陈静", "财务部"), (1006, "杨磊", "销售部"),
         (1007, "赵敏", "研发部"), (1008, "黄强", "研发部"), (1009, "周杰", "行政部"),
         (1010, "吴霞", "销售部")]


def write_xls(path, title, header, rows, widths):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    bold = xlwt.easyxf("font: bold on")
    r = 0
    if title:
        ws.write(0, 0, title, xlwt.easyxf("font: bold on, height 280"))
        ws.row(0).height_mismatch = True
        ws.row(0).height = 400
        r = 1
    for c, h in enumerate(header):
        ws.write(r, c, h, bold)
    for i, row in enumerate(rows):
        for c, v in enumerate(row):
            if v is not None:
                ws.write(r + 1 + i, c, v)
    for c, w in enumerate(widths):
        ws.col(c).width = int(w * 256)
    wb.save(path)


def write_xlsx(path, title, header, rows, widths):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Sheet1"
    if title:
        ws.append([title])
        ws.cell(row=1, column=1).font = openpyxl.styles.Font(bold=True, size=14)
        ws.row_dimensions[1].height = 20
    ws.append(header)
    hr = ws.max_row
    for c in range(1, len(header) + 1):
        ws.cell(row=hr, column=c).font = openpyxl.styles.Font(bold=True)
    for row in rows:
        ws.append(list(row))
    for c, w in enumerate(widths):
        ws.column_dimensions[openpyxl.utils.get_column_letter(c + 1)].width = w
    # Fixed document times keep the file identical from run to run.
    import datetime
    stamp = datetime.datetime(2024, 5, 1, 9, 0, 0)
    wb.properties.created = stamp
    wb.properties.modified = stamp
    wb.save(path)
    # Zip entries carry the time of writing; fix it so the file is the same from run to run.
    with zipfile.ZipFile(path) as z:
        parts = [(i, z.read(i.filename)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in parts:
            fixed = zipfile.ZipInfo(info.filename, date_time=(2024, 5, 1, 9, 0, 0))
            fixed.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(fixed, data)


def write(path, *args):
    (write_xls if path.endswith(".xls") else write_xlsx)(path, *args)


def monthly(rng):
    folder = os.path.join(ROOT, "monthly")
    os.makedirs(folder, exist_ok=True)
    header = ["工号", "姓名", "部门", "销售额"]
    widths = [8, 10, 10, 12]
    months = [("01月.xls", "一月"), ("02月.xlsx", "二月"), ("03月.xls", "三月"),
              ("04月.xlsx", "四月")]
    for name, month in months:
        people = sorted(rng.sample(STAFF, 6))
        rows = [(no, who, dept, rng.randrange(8000, 60000, 100)) for no, who, dept in people]
        h = list(header)
        if month == "四月":
            h[3] = "销售金额"  # a renamed column: this table does not conform
        write(os.path.join(folder, name), "2024年" + month + "销售统计", h, rows, widths)


def smart(rng):
    folder = os.path.join(ROOT, "smart")
    os.makedirs(folder, exist_ok=True)
    staff = [(no, who, dept) for no, who, dept in STAFF[:8]]
    write(os.path.join(folder, "01-员工.xls"), None, ["工号", "姓名", "部门"], staff, [8, 10, 10])
    pay = [(no, rng.randrange(4000, 12000, 50), rng.choice([0, 500, 800, 1200]))
           for no, _, _ in STAFF[:8] if no != 1004]
    pay.append((1011, 5000, 300))  # a staff number the staff table lacks
    write(os.path.join(folder, "02-工资.xlsx"), None, ["工号", "基本工资", "奖金"], pay,
          [8, 12, 8])
    attendance = [(no, rng.randint(18, 23), who) for no, who, _ in STAFF[:8]]
    write(os.path.join(folder, "03-考勤.xls"), "五月考勤", ["工号", "出勤天数", "姓名"],
          attendance, [8, 10, 10])


def main():
    rng = random.Random(20240501)
    monthly(rng)
    smart(rng)
    return 0


if __name__ == "__main__":
    sys.exit(main())
