#!/usr/bin/env python3
"""Writes the CSV, tab-separated and web-page fixtures of tests/data/text/.

Run `python3 tools/make_text_fixtures.py` from the repository root; the output is deterministic.
Each file is what a bank, an ERP system or a spreadsheet program's export looks like: GBK
without a byte order mark, UTF-8 with and without one, UTF-16 with one, commas, semicolons and
tabs, quotes around line breaks and doubled quotes, IDs with leading zeros and 18 digits.
"""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "text")

# The table most fixtures hold: what each column tests is in its header.
ROWS = [
    ["姓名", "身份证号", "账号", "工号", "金额", "日期", "时间", "备注"],
    ["张三", "110101199003071234", "6222020200112233445", "007", "1234.5", "2023-01-05",
     "2023/1/5 9:30", "多行\n备注"],
    ["李四", "11010119900307123X", "622202020011223", "-007", "-12.0", "2023年1月5日",
     "2023-02-29", '他说"好"'],
    ["王五", "", "", "12", "1.5E+3", "2023/01/05", "2023-01-05 09:30:15", "=SUM(A1:A2)"],
    ["赵六", "TRUE", "50%", "1,234", "0.5", ".5", "12.", "  前后空格  "],
]


def csv_text(rows, sep, newline):
    def field(f):
        if any(ch in f for ch in (sep, '"', "\n", "\r")):
            return '"' + f.replace('"', '""') + '"'
        return f
    return newline.join(sep.join(field(f) for f in row) for row in rows)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    # A bank's export: GBK, CR LF, a line break after the last line.
    write("gbk_comma.csv", (csv_text(ROWS, ",", "\r\n") + "\r\n").encode("gbk"))
    # Excel's "CSV UTF-8": a byte order mark, CR LF.
    write("utf8_bom.csv", b"\xef\xbb\xbf" + (csv_text(ROWS, ",", "\r\n") + "\r\n").encode())
    # A Unix tool's export: UTF-8 without a mark, LF, no line break after the last line.
    write("utf8_lf.csv", csv_text(ROWS, ",", "\n").encode())
    # A European locale's export: semicolons, decimal commas (which stay text), CR line ends.
    euro = [["Name", "Betrag", "Datum"], ["Müller", "1,5", "2023-03-01"], ["Groß", "-2,25", "x;y"]]
    write("semicolon.csv", (csv_text(euro, ";", "\r") + "\r").encode())
    # Excel's "Unicode text": UTF-16 LE with a mark, tabs, CR LF.
    write("utf16le_tab.txt", b"\xff\xfe" + (csv_text(ROWS, "\t", "\r\n") + "\r\n").encode("utf-16-le"))
    # UTF-16 BE with a mark, commas.
    write("utf16be.csv", b"\xfe\xff" + (csv_text(ROWS, ",", "\r\n") + "\r\n").encode("utf-16-be"))
    # An ERP system's "导出Excel": tab-separated GBK text under a workbook's name.
    write("erp_export.xls", (csv_text(ROWS, "\t", "\r\n") + "\r\n").encode("gbk"))

    # Web pages. A GBK page that says so in its http-equiv content type, the text-format class
    # Excel writes, a first table without cells, spans, line breaks and entities.
    page = """<html xmlns:x="urn:schemas-microsoft-com:office:excel">
<head>
<meta http-equiv=Content-Type content="text/html; charset=gbk">
<style>
<!--
td {mso-number-format:General;}
.xl65 {mso-style-parent:style0; mso-number-format:"\\@";}
-->
</style>
</head>
<body>
<table><tr><td>   </td><td><img src=logo.gif></td></tr></table>
<table border=1>
 <tr><th colspan=3>2023年  一月
   报表</th></tr>
 <tr><td rowspan=2>北京</td><td class=xl65>007</td><td>1234.5</td></tr>
 <tr><td style='mso-number-format:"\\@"'>0012</td><td>2023-01-05</td></tr>
 <tr><td>A &amp; B &lt;C&gt;</td><td>第一行<br>
     第二行</td><td>18位110101199003071234</td></tr>
 <tr><td>110101199003071234</td><td>-007</td><td>12.0
</table>
<table><tr><td>第二个表格</td></tr></table>
</body>
</html>
"""
    write("gbk_meta.html", page.encode("gbk"))
    # A plain UTF-8 page, one table without spans: what LibreOffice lays out cell for cell too.
    plain_page = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>导出</title></head>
<body>
<table>
<tr><th>名称</th><th>编号</th><th>金额</th><th>日期</th><th>备注</th></tr>
<tr><td>苹果</td><td>007</td><td>1234.5</td><td>2023-01-05</td><td>A &amp; B&nbsp;C</td></tr>
<tr><td>梨</td><td>110101199003071234</td><td>-12.5</td><td>2023-02-29</td><td>一<br>二</td></tr>
</table>
</body></html>
"""
    write("plain_utf8.html", plain_page.encode())
    # A page without any word on its encoding, in GB18030 bytes (read as GB18030).
    plain = "<table><tr><td>名称</td><td>数量</td></tr><tr><td>苹果</td><td>3</td></tr></table>"
    write("no_charset.htm", plain.encode("gb18030"))
    # The same table as UTF-16 LE with a mark, under a workbook's name.
    write("utf16_page.xls", b"\xff\xfe" + ("<html><body>" + plain + "</body></html>").encode("utf-16-le"))


if __name__ == "__main__":
    main()
