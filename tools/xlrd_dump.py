#!/usr/bin/python3
"""Prints what an independent reader sees in a workbook, as JSON, so tests can check that other
programs read our files as we meant them: xlrd (formatting_info=True) for .xls, openpyxl for
.xlsx/.xlsm (cached values, not formulas).

Usage: xlrd_dump.py FILE
Output: {"datemode", "sheets": [{"name", "hidden", "cells": [[row, col, type, value, bold, format, fill]],
"merged": [[r1, c1, r2, c2]], "widths": {col: width in 1/256 characters}}]}
Rows and columns are 1-based; type is one of text, number, date, bool, error, blank (a cell
with a format and no value); dates are serial numbers; fill is "RRGGBB" of a solid fill or "".
"""
import json
import sys


def dump_xls(path):
    import xlrd

    types = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number",
             xlrd.XL_CELL_DATE: "date", xlrd.XL_CELL_BOOLEAN: "bool",
             xlrd.XL_CELL_ERROR: "error", xlrd.XL_CELL_BLANK: "blank"}
    book = xlrd.open_workbook(path, formatting_info=True)
    out = {"datemode": book.datemode, "sheets": []}
    for sh in book.sheets():
        cells = []
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                xf = book.xf_list[cell.xf_index]
                font = book.font_list[xf.font_index]
                fmt = book.format_map[xf.format_key].format_str \
                    if xf.format_key in book.format_map else ""
                fill = ""
                if xf.background.fill_pattern == 1:
                    rgb = book.colour_map.get(xf.background.pattern_colour_index)
                    fill = "%02X%02X%02X" % rgb if rgb else ""
                value = cell.value
                if cell.ctype == xlrd.XL_CELL_ERROR:
                    value = xlrd.error_text_from_code.get(value, "?")
                cells.append([r + 1, c + 1, types[cell.ctype], value, bool(font.bold), fmt, fill])
        merged = [[r1 + 1, c1 + 1, r2, c2] for (r1, r2, c1, c2) in sh.merged_cells]
        widths = {str(c + 1): info.width for c, info in sh.colinfo_map.items()}
        out["sheets"].append({"name": sh.name, "hidden": sh.visibility != 0, "cells": cells,
                              "merged": merged, "widths": widths})
    return out


def dump_xlsx(path):
    import datetime

    import openpyxl
    from openpyxl.utils import column_index_from_string
    from openpyxl.utils.datetime import CALENDAR_MAC_1904, to_excel

    book = openpyxl.load_workbook(path, data_only=True)
    out = {"datemode": 1 if book.epoch == CALENDAR_MAC_1904 else 0, "sheets": []}
    for sh in book.worksheets:
        cells = []
        for row in sh.iter_rows():
            for cell in row:
                value = cell.value
                if value is None and not cell.has_style:
                    continue
                fill = ""
                if cell.fill.fill_type == "solid" and isinstance(cell.fill.fgColor.rgb, str):
                    fill = cell.fill.fgColor.rgb[-6:]
                if value is None:
                    kind = "blank"
                elif cell.data_type == "e":
                    kind = "error"
                elif isinstance(value, bool):
                    kind, value = "bool", int(value)
                elif isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
                    kind, value = "date", to_excel(value, book.epoch)
                elif isinstance(value, (int, float)):
                    kind = "number"
                else:
                    kind = "text"
                cells.append([cell.row, cell.column, kind, value, bool(cell.font.b),
                              cell.number_format, fill])
        merged = [[m.min_row, m.min_col, m.max_row, m.max_col] for m in sh.merged_cells.ranges]
        widths = {}
        for key, dim in sh.column_dimensions.items():
            if dim.customWidth and dim.width:
                first = dim.min or column_index_from_string(key)
                for c in range(first, (dim.max or first) + 1):
                    widths[str(c)] = round(dim.width * 256)
        out["sheets"].append({"name": sh.title, "hidden": sh.sheet_state != "visible",
                              "cells": cells, "merged": merged, "widths": widths})
    return out


def main(path):
    lower = path.lower()
    out = dump_xlsx(path) if lower.endswith((".xlsx", ".xlsm")) else dump_xls(path)
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
