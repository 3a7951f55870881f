#!/usr/bin/python3
"""Prints what xlrd (formatting_info=True) reads from an .xls file, as JSON, so tests can check
that another reader sees our files as we meant them.

Usage: xlrd_dump.py FILE.xls
Output: {"datemode", "sheets": [{"name", "nrows", "ncols", "cells": [[row, col, type, value,
bold, format]], "merged": [[r1, c1, r2, c2]], "widths": {col: width in 1/256 characters}}]}
Rows and columns are 1-based; type is one of empty, text, number, date, bool, error, blank.
"""
import json
import sys

import xlrd

TYPES = {
    xlrd.XL_CELL_EMPTY: "empty",
    xlrd.XL_CELL_TEXT: "text",
    xlrd.XL_CELL_NUMBER: "number",
    xlrd.XL_CELL_DATE: "date",
    xlrd.XL_CELL_BOOLEAN: "bool",
    xlrd.XL_CELL_ERROR: "error",
    xlrd.XL_CELL_BLANK: "blank",
}


def main(path):
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
                fmt = book.format_map[xf.format_key].format_str if xf.format_key in book.format_map else ""
                value = cell.value
                if cell.ctype == xlrd.XL_CELL_ERROR:
                    value = xlrd.error_text_from_code.get(value, "?")
                cells.append([r + 1, c + 1, TYPES[cell.ctype], value, bool(font.bold), fmt])
        merged = [[r1 + 1, c1 + 1, r2, c2] for (r1, r2, c1, c2) in sh.merged_cells]
        widths = {str(c + 1): info.width for c, info in sh.colinfo_map.items()}
        out["sheets"].append({"name": sh.name, "nrows": sh.nrows, "ncols": sh.ncols,
                              "cells": cells, "merged": merged, "widths": widths})
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
