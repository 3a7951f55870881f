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
PLAIN = {0x0809, 0x002F, 0x00E1, 0x0194, 0x0195, 0x0196, 0x0138}


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(out)


def std_rc4_key(salt):
    h0 = hashlib.md5(PASSWORD).digest()
    h1 = hashlib.md5((h0[:5] + salt) * 16).digest()
    return lambda block: hashlib.md5(h1[:5] + struct.pack('<I', block)).digest()


def cryptoapi_key(salt):
    h0 = hashlib.sha1(salt + PASSWORD).digest()
    return lambda block: hashlib.sha1(h0 + struct.pack('<I', block)).digest()[:16]


INITIAL_CODE = [0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3]
XOR_MATRIX = [
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4]
XOR_PAD = [0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00]


def xor_params(pw=b'VelvetSweatshop'):
    """The key, verifier and 16-byte array of XOR obfuscation for a password."""
    key = INITIAL_CODE[len(pw) - 1]
    element = 104
    for ch in reversed(pw):
        for _ in range(7):
            if ch & 0x40:
                key ^= XOR_MATRIX[element]
            ch = (ch << 1) & 0xFF
            element -= 1
    ver = 0
    for b in list(reversed(pw)) + [len(pw)]:
        ver = (((ver >> 14) & 1) | ((ver << 1) & 0x7FFF)) ^ b
    ver ^= 0xCE4B

    def ror(a, b):
        x = a ^ b
        return ((x >> 1) | (x << 7)) & 0xFF
    arr = [0] * 16
    i = len(pw)
    hi, lo = key >> 8, key & 0xFF
    if i % 2:
        arr[i] = ror(XOR_PAD[0], hi)
        i -= 1
        arr[i] = ror(pw[-1], lo)
    while i > 0:
        i -= 1
        arr[i] = ror(pw[i], hi)
        i -= 1
        arr[i] = ror(pw[i], lo)
    at, pad = 15, 15 - len(pw)
    while pad > 0:
        arr[at] = ror(XOR_PAD[pad], hi)
        at, pad = at - 1, pad - 1
        arr[at] = ror(XOR_PAD[pad], lo)
        at, pad = at - 1, pad - 1
    return key, ver, arr


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


def records(stream):
    pos = 0
    while pos + 4 <= len(stream):
        rid, n = struct.unpack_from('<HH', stream, pos)
        yield rid, stream[pos + 4:pos + 4 + n]
        pos += 4 + n
        if rid == 0 and n == 0:
            break


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
