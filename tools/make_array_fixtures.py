#!/usr/bin/python3
"""Makes the array-formula fixtures of tests/data/array/ (see tests/data/README.md).

python3-openpyxl writes the formulas (it stores no results); LibreOffice then recalculates them
and saves .xlsx (t="array" formulas) and .xls (ARRAY records, STRING records for text results)
with their cached values.
Usage: tools/make_array_fixtures.py [OUTPUT_DIR]
"""
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "array")
os.makedirs(out_dir, exist_ok=True)



def array_formula(ws, ref, text):
    """Writes an array formula over `ref` the way openpyxl 3.0 (Debian 12) knows it."""
    anchor = ref.split(":")[0]
    ws[anchor] = text
    ws.formula_attributes[anchor] = {"t": "array", "ref": ref}


wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Sheet1"
for r in range(1, 6):
    ws.cell(r, 1, r)  # A1:A5 = 1..5
# B1:B5 = {=A1:A5}: a five-cell array.
array_formula(ws, "B1:B5", "=A1:A5")
# C1 = {=SUM(A1:A5*B1:B5)}: 55 as an array formula, #VALUE! as a plain one.
array_formula(ws, "C1", "=SUM(A1:A5*B1:B5)")
# D1 = a one-cell array with a text result; D2:D3 a two-cell array of texts.
array_formula(ws, "D1", '=IF(SUM(A1:A5*B1:B5)>50,"big","small")')
ws["E1"] = "ab"
ws["E2"] = "cd"
array_formula(ws, "D2:D3", "=UPPER(E1:E2)")
# F1 a plain formula, which travels as a formula.
ws["F1"] = "=A1*2"

tmp = tempfile.mkdtemp(prefix="qm_array_")
try:
    src = os.path.join(tmp, "array_formulas.xlsx")
    wb.save(src)
    # A profile of its own that recalculates every formula on load.
    profile = os.path.join(tmp, "profile")
    os.makedirs(os.path.join(profile, "user"))
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<oor:items xmlns:oor="http://openoffice.org/2001/registry" '
                'xmlns:xs="http://www.w3.org/2001/XMLSchema" '
                'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n'
                '<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop '
                'oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>\n'
                '</oor:items>\n')
    for ext, flt in (("xlsx", "xlsx:Calc MS Excel 2007 XML"), ("xls", "xls:MS Excel 97")):
        out = os.path.join(tmp, "out-" + ext)
        subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + profile,
                        "--convert-to", flt, "--outdir", out, src], check=True)
        shutil.copy(os.path.join(out, "array_formulas." + ext),
                    os.path.join(out_dir, "array_formulas." + ext))
finally:
    shutil.rmtree(tmp)
