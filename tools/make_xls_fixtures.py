#!/usr/bin/python3
"""Makes the .xls fixtures of tests/data/xls/ with xlwt (python3-xlwt 1.3), then derives copies
encrypted with the default password "VelvetSweatshop" by rewriting their Workbook stream.

Usage: tools/make_xls_fixtures.py [OUT_DIR]   (default tests/data/xls). Deterministic output."""
import datetime
import hashlib
import os
import struct
import sys

import olefile
import xlwt

from xls_crypto import PLAIN, records, rc4, xor_params

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'data', 'xls')


def styled_workbook(path, date1904=False):
    wb = xlwt.Workbook(encoding='utf-8')
    if date1904:
        wb.dates_1904 = True
    # A chart-free second sheet first in the file would change nothing: xlwt writes worksheets
    # only, so the first sheet here is the first worksheet.
    ws = wb.add_sheet('数据')
    other = wb.add_sheet('Other')
    other.write(0, 0, 'second sheet')
    bold_red = xlwt.easyxf('font: bold on, color red, name Arial, height 280;'
                           'pattern: pattern solid, fore_colour yellow;'
                           'borders: left thin, bottom double;'
                           'align: horiz center, vert top, wrap on')
    date = xlwt.easyxf(num_format_str='yyyy-mm-dd')
    datetime_fmt = xlwt.easyxf(num_format_str='yyyy/m/d h:mm:ss')
    custom = xlwt.easyxf(num_format_str='0.000;[Red]-0.000')
    ws.write(0, 0, '名称', bold_red)
    ws.write(0, 1, 'Amount')
    ws.write(0, 2, 'When')
    ws.write(1, 0, '苹果 apple')
    ws.write(1, 1, 42)              # RK integer
    ws.write(1, 2, datetime.date(2024, 2, 29), date)
    ws.write(2, 0, 'tab\tand  spaces ')
    ws.write(2, 1, -1234.5678, custom)  # NUMBER
    ws.write(2, 2, datetime.datetime(2023, 12, 31, 23, 59, 58), datetime_fmt)
    ws.write(3, 0, True)
    ws.write(3, 1, False)
    ws.write(3, 2, xlwt.Formula('1/0'))  # a formula; xlwt stores no cached result
    ws.write(4, 0, '')                   # an empty string is a text cell
    ws.write(4, 1, 0.1)
    ws.write(4, 2, 1e300)
    ws.write(5, 3, None, bold_red)       # a format-only cell extends the used range
    ws.write(6, 0, 'x' * 9000)           # longer than one record: CONTINUE
    ws.write(7, 0, ''.join(chr(0x4E00 + i % 2000) for i in range(5000)))  # 16-bit across records
    ws.write_merge(8, 9, 0, 2, 'merged', bold_red)
    ws.col(0).width = 256 * 30
    ws.col(2).width = 256 * 12
    ws.row(1).height_mismatch = True
    ws.row(1).height = 20 * 30
    wb.save(path)


def many_strings(path):
    # Enough distinct strings, mixing 8-bit and 16-bit ones, that the shared string table is
    # split over many CONTINUE records with encoding switches at the breaks.
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('S')
    for i in range(3000):
        text = ('latin %d ' % i) * (i % 7 + 1) if i % 3 else '中文字符串%d' % i * (i % 5 + 1)
        ws.write(i // 10, i % 10, text)
    wb.save(path)


# --- Encryption with the default password ---------------------------------------------------

PASSWORD = 'VelvetSweatshop'.encode('utf-16-le')


def std_rc4_key(salt):
    h0 = hashlib.md5(PASSWORD).digest()
    h1 = hashlib.md5((h0[:5] + salt) * 16).digest()
    return lambda block: hashlib.md5(h1[:5] + struct.pack('<I', block)).digest()


def cryptoapi_key(salt):
    h0 = hashlib.sha1(salt + PASSWORD).digest()
    return lambda block: hashlib.sha1(h0 + struct.pack('<I', block)).digest()[:16]


def filepass(kind, salt, key, password):
    if kind == 'xor':
        k, ver, _ = xor_params(password)
        return struct.pack('<HHH', 0, k, ver)
    verifier = bytes(range(16, 32))
    if kind == 'rc4':
        enc = rc4(key(0), verifier + hashlib.md5(verifier).digest())
        return struct.pack('<HHH', 1, 1, 1) + salt + enc
    enc = rc4(key(0), verifier + hashlib.sha1(verifier).digest())
    csp = b'\0\0'  # an empty provider name
    header = struct.pack('<IIIIIIII', 0, 0, 0x6801, 0x8004, 128, 1, 0, 0) + csp
    body = struct.pack('<HHHII', 1, 4, 2, 0, len(header)) + header
    return body + struct.pack('<I', 16) + salt + enc[:16] + struct.pack('<I', 20) + enc[16:]


def encrypt(src, dst, kind, password=b'VelvetSweatshop'):
    ole = olefile.OleFileIO(src)
    stream = ole.openstream('Workbook').read()
    ole.close()
    salt = bytes(range(0xA0, 0xB0))
    key = std_rc4_key(salt) if kind == 'rc4' else cryptoapi_key(salt)
    xor_array = xor_params(password)[2]
    fp = filepass(kind, salt, key, password)
    # FILEPASS goes right after the first BOF; WRITEACCESS shrinks by as much so that no sheet
    # offset moves.
    recs = list(records(stream))
    out = bytearray()
    for i, (rid, body) in enumerate(recs):
        if rid == 0x005C:
            cut = len(fp) + 4
            assert len(body) >= cut, 'WRITEACCESS too short'
            body = body[:len(body) - cut]
        out += struct.pack('<HH', rid, len(body)) + body
        if i == 0:
            out += struct.pack('<HH', 0x002F, len(fp)) + fp
    out += stream[len(out):]  # the padding xlwt adds
    assert len(out) == len(stream)
    # Encrypt every body after FILEPASS; the stream position picks the key block.
    pos = 0
    seen_filepass = False
    cache = {}
    while pos + 4 <= len(out):
        rid, n = struct.unpack_from('<HH', out, pos)
        start, end = pos + 4, pos + 4 + n
        if seen_filepass and rid not in PLAIN:
            first = start + 4 if rid == 0x0085 else start
            if kind == 'xor':
                # Rotate left by five, then XOR; the array index starts where the body ends.
                index = (end + (4 if rid == 0x0085 else 0)) % 16
                for p in range(first, end):
                    b = ((out[p] << 5) | (out[p] >> 3)) & 0xFF
                    out[p] = b ^ xor_array[index]
                    index = (index + 1) % 16
                pos = end
                seen_filepass = seen_filepass or rid == 0x002F
                continue
            for p in range(first, end):
                block = p // 1024
                if block not in cache:
                    cache = {block: rc4(key(block), bytes(1024))}
                out[p] ^= cache[block][p % 1024]
        seen_filepass = seen_filepass or rid == 0x002F
        pos = end
        if rid == 0 and n == 0:
            break
    with open(src, 'rb') as f:
        data = f.read()
    with open(dst, 'wb') as f:
        f.write(data)
    ole = olefile.OleFileIO(dst, write_mode=True)
    ole.write_stream('Workbook', bytes(out))
    ole.close()


def main():
    os.makedirs(OUT, exist_ok=True)
    styled = os.path.join(OUT, 'styled.xls')
    styled_workbook(styled)
    styled_workbook(os.path.join(OUT, 'date1904.xls'), date1904=True)
    many_strings(os.path.join(OUT, 'many_strings.xls'))
    encrypt(styled, os.path.join(OUT, 'velvet_rc4.xls'), 'rc4')
    encrypt(styled, os.path.join(OUT, 'velvet_cryptoapi.xls'), 'cryptoapi')
    encrypt(styled, os.path.join(OUT, 'velvet_xor.xls'), 'xor')
    encrypt(styled, os.path.join(OUT, 'xor_password_pass.xls'), 'xor', b'pass')


if __name__ == '__main__':
    main()
