"""What both fixture scripts need to encrypt the Workbook stream of an .xls file: the records left
in the clear, the record walk, RC4, and the key, verifier and array of XOR obfuscation.
Standard library only, so that neither script needs the other's packages."""
import struct

# Records that stay unencrypted, whatever the method.
PLAIN = {0x0809, 0x002F, 0x00E1, 0x0194, 0x0195, 0x0196, 0x0138}


def records(stream):
    pos = 0
    while pos + 4 <= len(stream):
        rid, n = struct.unpack_from('<HH', stream, pos)
        yield rid, stream[pos + 4:pos + 4 + n]
        pos += 4 + n
        if rid == 0 and n == 0:
            break


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
