#!/usr/bin/python3
"""Makes the password-encrypted fixtures of tests/data/encrypted/ (see tests/data/README.md).

The plain sources are fixtures of the project: tests/data/xlsx/dump_sample.xlsx for the .xlsx
packages (ECMA-376 Standard and Agile encryption, written into a compound file of our own) and
tests/data/xls/styled.xls for the .xls files (RC4, RC4 CryptoAPI and XOR obfuscation with a
password the user must give). A small BIFF5 workbook obfuscated with XOR is built record by record.
Needs python3-cryptography and python3-olefile. "Random" salts and keys are derived from fixed
labels, so the output is deterministic.

Usage: tools/make_encrypted_fixtures.py [OUT_DIR]   (default tests/data/encrypted)"""
import base64
import hashlib
import hmac
import os
import shutil
import struct
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

from xls_crypto import PLAIN, records, rc4, xor_params

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', 'tests', 'data')
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(DATA, 'encrypted')

def det(label, n):
    """n bytes that look random but are the same on every run."""
    out = b''
    i = 0
    while len(out) < n:
        out += hashlib.sha256(label.encode() + struct.pack('<I', i)).digest()
        i += 1
    return out[:n]


# --- A compound file of our own: mini stream for small streams, one FAT, no DIFAT sectors -------

FREE, END, FATSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF


def write_cfb(path, streams):
    ss, ms = 512, 64

    def sectors(n, size):
        return (n + size - 1) // size

    small = [(n, d) for n, d in streams if len(d) < 4096]
    minifat, ministream, starts = [], b'', {}
    for name, d in small:
        k = sectors(len(d), ms)
        if k == 0:
            starts[name] = END
            continue
        starts[name] = len(minifat)
        minifat += [len(minifat) + i + 1 for i in range(k - 1)] + [END]
        ministream += d + b'\0' * (k * ms - len(d))
    regions = []  # (what, bytes) laid out in order after the header
    dir_count = sectors(1 + len(streams), 4)
    regions.append(('dir', None, dir_count))
    mf = b''.join(struct.pack('<I', x) for x in minifat)
    regions.append(('minifat', mf, sectors(len(mf), ss)))
    regions.append(('ministream', ministream, sectors(len(ministream), ss)))
    for name, d in streams:
        if len(d) >= 4096:
            regions.append((name, d, sectors(len(d), ss)))
    used = sum(r[2] for r in regions)
    fat_count = 1
    while used + fat_count > fat_count * 128:
        fat_count += 1
    assert fat_count <= 109
    fat, first = [], {}
    for what, _, k in regions:
        first[what] = len(fat) if k else END
        fat += [len(fat) + i + 1 for i in range(k - 1)] + ([END] if k else [])
    fat_start = len(fat)
    fat += [FATSECT] * fat_count
    fat += [FREE] * (fat_count * 128 - len(fat))
    for name, d in streams:
        if len(d) >= 4096:
            starts[name] = first[name]

    def entry(name, typ, start, size, child=NOSTREAM, right=NOSTREAM):
        n = (name + '\0').encode('utf-16-le') if name else b''
        return (n.ljust(64, b'\0') + struct.pack('<HBB', len(n), typ, 1 if typ else 0) +
                struct.pack('<III', NOSTREAM, right, child) + b'\0' * 16 + b'\0' * 4 +
                b'\0' * 16 + struct.pack('<IQ', start, size))
    order = sorted(range(len(streams)),
                   key=lambda i: (len(streams[i][0]), streams[i][0].upper()))
    right = {order[k]: order[k + 1] + 1 for k in range(len(order) - 1)}
    dirs = entry('Root Entry', 5, first['ministream'] if ministream else END, len(ministream),
                 child=order[0] + 1 if order else NOSTREAM)
    for i, (name, d) in enumerate(streams):
        dirs += entry(name, 2, starts[name], len(d), right=right.get(i, NOSTREAM))
    dirs += entry('', 0, 0, 0) * (dir_count * 4 - 1 - len(streams))
    difat = [fat_start + i for i in range(fat_count)] + [FREE] * (109 - fat_count)
    header = (bytes.fromhex('D0CF11E0A1B11AE1') + b'\0' * 16 +
              struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6) + b'\0' * 6 +
              struct.pack('<IIIIIIIII', 0, fat_count, first['dir'], 0, 4096,
                          first['minifat'] if minifat else END, sectors(len(mf), ss), END, 0) +
              b''.join(struct.pack('<I', x) for x in difat))
    assert len(header) == 512
    body = b''
    for what, d, k in regions:
        d = dirs if what == 'dir' else d
        body += d + b'\0' * (k * ss - len(d))
    body += b''.join(struct.pack('<I', x) for x in fat)
    with open(path, 'wb') as f:
        f.write(header + body)


# --- ECMA-376 encryption of a zip package ------------------------------------------------------

def aes_ecb(key, data):
    e = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    return e.update(data) + e.finalize()


def aes_cbc(key, iv, data):
    e = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    return e.update(data) + e.finalize()


def pad16(b):
    return b + b'\0' * (-len(b) % 16)


def standard(package, password, key_bits=128):
    salt = det('std-salt', 16)
    pw = password.encode('utf-16-le')
    h = hashlib.sha1(salt + pw).digest()
    for i in range(50000):
        h = hashlib.sha1(struct.pack('<I', i) + h).digest()
    h = hashlib.sha1(h + struct.pack('<I', 0)).digest()
    x1 = hashlib.sha1(bytes(b ^ 0x36 for b in h) + b'\x36' * 44).digest()
    x2 = hashlib.sha1(bytes(b ^ 0x5C for b in h) + b'\x5C' * 44).digest()
    key = (x1 + x2)[:key_bits // 8]
    verifier = det('std-verifier', 16)
    enc_v = aes_ecb(key, verifier)
    enc_vh = aes_ecb(key, pad16(hashlib.sha1(verifier).digest()))
    alg = {128: 0x660E, 192: 0x660F, 256: 0x6610}[key_bits]
    csp = 'Microsoft Enhanced RSA and AES Cryptographic Provider\0'.encode('utf-16-le')
    header = struct.pack('<IIIIIIII', 0x24, 0, alg, 0x8004, key_bits, 0x18, 0, 0) + csp
    info = (struct.pack('<HHII', 4, 2, 0x24, len(header)) + header + struct.pack('<I', 16) + salt +
            enc_v + struct.pack('<I', 20) + enc_vh)
    stream = struct.pack('<Q', len(package)) + aes_ecb(key, pad16(package))
    return info, stream


BLOCK_VERIFIER_INPUT = bytes.fromhex('fea7d2763b4b9e79')
BLOCK_VERIFIER_VALUE = bytes.fromhex('d7aa0f6d3061344e')
BLOCK_KEY = bytes.fromhex('146e0be7abacd0d6')
BLOCK_HMAC_KEY = bytes.fromhex('5fb2ad010cb9e1f6')
BLOCK_HMAC_VALUE = bytes.fromhex('a0677f02b22c8433')
HASH_NAMES = {'sha1': 'SHA1', 'sha256': 'SHA256', 'sha384': 'SHA384', 'sha512': 'SHA512'}


def agile(package, password, hash_name, key_bits, spin=100000):
    H = getattr(hashlib, hash_name)
    hsize = H().digest_size
    kd_salt, pw_salt = det('kd-salt', 16), det('pw-salt', 16)
    secret = det('secret', key_bits // 8)
    h = H(pw_salt + password.encode('utf-16-le')).digest()
    for i in range(spin):
        h = H(struct.pack('<I', i) + h).digest()

    def pkey(block):
        return H(h + block).digest()[:key_bits // 8].ljust(key_bits // 8, b'\x36')
    verifier_input = det('verifier-input', 16)
    enc_vi = aes_cbc(pkey(BLOCK_VERIFIER_INPUT), pw_salt, verifier_input)
    enc_vh = aes_cbc(pkey(BLOCK_VERIFIER_VALUE), pw_salt, pad16(H(verifier_input).digest()))
    enc_kv = aes_cbc(pkey(BLOCK_KEY), pw_salt, pad16(secret))
    data = pad16(package)
    enc = b''
    for seg, at in enumerate(range(0, len(data), 4096)):
        iv = H(kd_salt + struct.pack('<I', seg)).digest()[:16]
        enc += aes_cbc(secret, iv, data[at:at + 4096])
    stream = struct.pack('<Q', len(package)) + enc
    hmac_key = det('hmac-key', hsize)
    hv = hmac.new(hmac_key, stream, H).digest()
    enc_hk = aes_cbc(secret, H(kd_salt + BLOCK_HMAC_KEY).digest()[:16], pad16(hmac_key))
    enc_hv = aes_cbc(secret, H(kd_salt + BLOCK_HMAC_VALUE).digest()[:16], pad16(hv))

    def b64(b):
        return base64.b64encode(b).decode()
    common = ('saltSize="16" blockSize="16" keyBits="%d" hashSize="%d" cipherAlgorithm="AES" '
              'cipherChaining="ChainingModeCBC" hashAlgorithm="%s"'
              % (key_bits, hsize, HASH_NAMES[hash_name]))
    xml = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
           '<encryption xmlns="http://schemas.microsoft.com/office/2006/encryption" '
           'xmlns:p="http://schemas.microsoft.com/office/2006/keyEncryptor/password" '
           'xmlns:c="http://schemas.microsoft.com/office/2006/keyEncryptor/certificate">'
           '<keyData %s saltValue="%s"/>'
           '<dataIntegrity encryptedHmacKey="%s" encryptedHmacValue="%s"/>'
           '<keyEncryptors><keyEncryptor '
           'uri="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
           '<p:encryptedKey spinCount="%d" %s saltValue="%s" encryptedVerifierHashInput="%s" '
           'encryptedVerifierHashValue="%s" encryptedKeyValue="%s"/>'
           '</keyEncryptor></keyEncryptors></encryption>'
           % (common, b64(kd_salt), b64(enc_hk), b64(enc_hv), spin, common, b64(pw_salt),
              b64(enc_vi), b64(enc_vh), b64(enc_kv)))
    info = struct.pack('<HHI', 4, 4, 0x40) + xml.encode()
    return info, stream


def write_package(path, info, stream):
    write_cfb(path, [('EncryptionInfo', info), ('EncryptedPackage', stream)])


# --- .xls: a user's password ---------------------------------------------------------------------

def rc4_key(salt, pw):
    h0 = hashlib.md5(pw).digest()
    h1 = hashlib.md5((h0[:5] + salt) * 16).digest()
    return lambda block: hashlib.md5(h1[:5] + struct.pack('<I', block)).digest()


def cryptoapi_key(salt, pw, key_bits):
    h0 = hashlib.sha1(salt + pw).digest()
    # Excel passes a 40-bit key padded with zeros to 128 bits.
    return lambda block: hashlib.sha1(h0 + struct.pack('<I', block)).digest()[:key_bits // 8].ljust(
        16 if key_bits == 40 else key_bits // 8, b'\0')


def filepass(kind, salt, key, password, key_bits):
    if kind == 'xor':
        k, ver, _ = xor_params(password)
        return struct.pack('<HHH', 0, k, ver)
    verifier = det('xls-verifier', 16)
    if kind == 'rc4':
        enc = rc4(key(0), verifier + hashlib.md5(verifier).digest())
        return struct.pack('<HHH', 1, 1, 1) + salt + enc
    enc = rc4(key(0), verifier + hashlib.sha1(verifier).digest())
    header = struct.pack('<IIIIIIII', 0x04, 0, 0x6801, 0x8004, key_bits, 1, 0, 0) + b'\0\0'
    body = struct.pack('<HHHII', 1, 4, 2, 0x04, len(header)) + header
    return body + struct.pack('<I', 16) + salt + enc[:16] + struct.pack('<I', 20) + enc[16:]


def encrypt_stream(stream, kind, password, key_bits=128, insert_filepass=True):
    """The stream with FILEPASS after the first BOF and every later record body encrypted."""
    salt = det('xls-salt', 16)
    pw16 = password.decode('latin-1').encode('utf-16-le')
    key = (rc4_key(salt, pw16) if kind == 'rc4' else
           cryptoapi_key(salt, pw16, key_bits) if kind == 'cryptoapi' else None)
    fp = filepass(kind, salt, key, password, key_bits)
    out = bytearray()
    if insert_filepass:
        # WRITEACCESS shrinks by about as much as FILEPASS takes. xlwt's padding leaves a few
        # bytes after the last whole record, which msoffcrypto-tool stumbles over; the records
        # after WRITEACCESS move by as much so that the stream ends on a record (and the sheet
        # offsets of BOUNDSHEET move with them).
        pos = 0
        while pos + 4 <= len(stream):
            pos += 4 + struct.unpack_from('<H', stream, pos + 2)[0]
        shift = (len(stream) - pos) % 4
        for i, (rid, body) in enumerate(records(stream)):
            if rid == 0x005C:
                body = body[:len(body) - (len(fp) + 4 - shift)]
            if rid == 0x0085:
                body = struct.pack('<I', struct.unpack_from('<I', body)[0] + shift) + body[4:]
            out += struct.pack('<HH', rid, len(body)) + body
            if i == 0:
                out += struct.pack('<HH', 0x002F, len(fp)) + fp
        out += stream[len(out):]
        out = out[:len(stream)]
    else:
        out = bytearray(stream)
    xor_array = xor_params(password)[2] if kind == 'xor' else None
    pos, seen, cache = 0, False, {}
    while pos + 4 <= len(out):
        rid, n = struct.unpack_from('<HH', out, pos)
        start, end = pos + 4, pos + 4 + n
        if seen and rid not in PLAIN:
            first = start + 4 if rid == 0x0085 else start
            index = (end + (4 if rid == 0x0085 else 0)) % 16
            for p in range(first, end):
                if kind == 'xor':
                    b = ((out[p] << 5) | (out[p] >> 3)) & 0xFF
                    out[p] = b ^ xor_array[index]
                    index = (index + 1) % 16
                else:
                    block = p // 1024
                    if block not in cache:
                        cache = {block: rc4(key(block), bytes(1024))}
                    out[p] ^= cache[block][p % 1024]
        seen = seen or rid == 0x002F
        pos = end
        if rid == 0 and n == 0:
            break
    return bytes(out)


def encrypt_xls(src, dst, kind, password, key_bits=128):
    import olefile
    ole = olefile.OleFileIO(src)
    stream = ole.openstream('Workbook').read()
    ole.close()
    shutil.copyfile(src, dst)
    ole = olefile.OleFileIO(dst, write_mode=True)
    ole.write_stream('Workbook', encrypt_stream(stream, kind, password, key_bits))
    ole.close()


def biff5_xor(path, password):
    """A BIFF5 workbook of one sheet "Daten" (text, numbers), obfuscated with XOR."""
    def rec(rid, body):
        return struct.pack('<HH', rid, len(body)) + body
    k, ver, _ = xor_params(password)
    name = b'Daten'

    def globals_(sheet_at):
        return (rec(0x0809, struct.pack('<HHHH', 0x0500, 0x0005, 0x096C, 0x07C9)) +
                rec(0x002F, struct.pack('<HH', k, ver)) +
                rec(0x0042, struct.pack('<H', 1252)) +
                rec(0x0085, struct.pack('<IBBB', sheet_at, 0, 0, len(name)) + name) +
                rec(0x000A, b''))
    size = len(globals_(0))
    text = 'Gr\u00fc\u00dfe'.encode('cp1252')
    sheet = (rec(0x0809, struct.pack('<HHHH', 0x0500, 0x0010, 0x096C, 0x07C9)) +
             rec(0x0204, struct.pack('<HHHH', 0, 0, 15, len(text)) + text) +
             rec(0x0203, struct.pack('<HHHd', 0, 1, 15, 42.5)) +
             rec(0x0203, struct.pack('<HHHd', 1, 0, 15, -7.0)) +
             rec(0x000A, b''))
    stream = globals_(size) + sheet
    stream += b'\0' * (4096 - len(stream))  # a regular stream, as spreadsheet programs write
    write_cfb(path, [('Book', encrypt_stream(stream, 'xor', password, insert_filepass=False))])


# --- Inputs the fuzz target fuzz/fuzz_encryption.cpp replays ------------------------------------

def fuzz_regressions(folder=os.path.join(DATA, 'fuzz-regressions', 'encryption')):
    """Records that once made the decryption read past its buffer, in the target's input layout
    (a kind byte, then the FILEPASS record and nothing after it)."""
    os.makedirs(folder, exist_ok=True)
    # RC4 CryptoAPI in 20 bytes whose header size says 20: the key size lay 14 bytes past the end.
    body = struct.pack('<HHHII', 1, 4, 2, 0x04, 20) + struct.pack('<HI', 0, 0x6801)
    with open(os.path.join(folder, 'filepass-header-size-past-record'), 'wb') as f:
        f.write(b'\0' + struct.pack('<HH', 0x002F, len(body)) + body)


def main():
    fuzz_regressions()
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(DATA, 'xlsx', 'dump_sample.xlsx'), 'rb') as f:
        package = f.read()
    write_package(os.path.join(OUT, 'standard_aes128.xlsx'), *standard(package, '标准Std1'))
    write_package(os.path.join(OUT, 'agile_aes256_sha512.xlsx'),
                  *agile(package, 'Agile密码', 'sha512', 256))
    write_package(os.path.join(OUT, 'agile_aes128_sha1.xlsx'),
                  *agile(package, 'sha1-pw', 'sha1', 128))
    styled = os.path.join(DATA, 'xls', 'styled.xls')
    encrypt_xls(styled, os.path.join(OUT, 'cryptoapi_128.xls'), 'cryptoapi', b'secret128')
    encrypt_xls(styled, os.path.join(OUT, 'cryptoapi_40.xls'), 'cryptoapi', b'short40', 40)
    encrypt_xls(styled, os.path.join(OUT, 'rc4.xls'), 'rc4', b'rc4pass')
    encrypt_xls(styled, os.path.join(OUT, 'xor_biff8.xls'), 'xor', b'xorpw1')
    biff5_xor(os.path.join(OUT, 'xor_biff5.xls'), b'alt95')


if __name__ == '__main__':
    main()
