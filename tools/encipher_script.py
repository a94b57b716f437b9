#!/usr/bin/env python3
"""Enciphers (or deciphers: the cipher is its own inverse) a site script the way the service delivers it.

    encipher_script.py [-k HEXKEY] [IN [OUT]]    reads IN (or stdin), writes OUT (or stdout)
    encipher_script.py --keystream N [-k HEXKEY] prints the first N keystream bytes and the registers

Three 32-bit shift registers; the fixed script key unless -k gives another one as hex digits.
"""
import argparse
import sys

SCRIPT_KEY = b"\xc7\xe0\xd4\xb5\xc9\xbd\xba\xd3"
DEFAULT_SEED = b"m\xb4#\xc6\xd2\xe1*+?\xa7/w"
INITIAL = (0x13579BDF, 0x2468ACE0, 0xFDB97531)
MASK1, MASK2, MASK3 = 0x80000062, 0x40000020, 0x10000002
ROT0_1, ROT0_2, ROT0_3 = 0x7FFFFFFF, 0x3FFFFFFF, 0x0FFFFFFF
ROT1_1, ROT1_2, ROT1_3 = 0x80000000, 0xC0000000, 0xF0000000
M32 = 0xFFFFFFFF


def _signed(b):
    """A key byte taken as a signed char and widened to 32 bits."""
    return b | 0xFFFFFF00 if b & 0x80 else b


class Cipher:
    def __init__(self, key=SCRIPT_KEY):
        self.r1, self.r2, self.r3 = INITIAL
        self.set_key(key)

    def set_key(self, key):
        key = key.split(b"\0", 1)[0]
        seed = bytearray(key or DEFAULT_SEED)
        i = 0
        while len(seed) < 12:
            seed.append(seed[i])
            i += 1
        for i in range(4):
            self.r1 = ((self.r1 << 8) | _signed(seed[i])) & M32
            self.r2 = ((self.r2 << 8) | _signed(seed[i + 4])) & M32
            self.r3 = ((self.r3 << 8) | _signed(seed[i + 8])) & M32
        self.r1 = self.r1 or INITIAL[0]
        self.r2 = self.r2 or INITIAL[1]
        self.r3 = self.r3 or INITIAL[2]

    def keystream_byte(self):
        out2, out3, k = self.r2 & 1, self.r3 & 1, 0
        for _ in range(8):
            if self.r1 & 1:
                self.r1 = ((self.r1 ^ MASK1) >> 1) | ROT1_1
                if self.r2 & 1:
                    self.r2, out2 = ((self.r2 ^ MASK2) >> 1) | ROT1_2, 1
                else:
                    self.r2, out2 = (self.r2 >> 1) & ROT0_2, 0
            else:
                self.r1 = (self.r1 >> 1) & ROT0_1
                if self.r3 & 1:
                    self.r3, out3 = ((self.r3 ^ MASK3) >> 1) | ROT1_3, 1
                else:
                    self.r3, out3 = (self.r3 >> 1) & ROT0_3, 0
            k = ((k << 1) | (out2 ^ out3)) & 0xFF
        return k

    def transform(self, data):
        out = bytearray()
        for c in data:
            k = self.keystream_byte()
            out.append(c if c == k else c ^ k)
        return bytes(out)


def transform_block(data, key=SCRIPT_KEY):
    """One delivered block: a fresh key setting, then every byte in order."""
    return Cipher(key).transform(data)


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("input", nargs="?", help="script file (default stdin)")
    p.add_argument("output", nargs="?", help="enciphered file (default stdout)")
    p.add_argument("-k", "--key", help="key as hex digits instead of the script key")
    p.add_argument("--keystream", type=int, metavar="N", help="print N keystream bytes and the registers")
    a = p.parse_args(argv)
    key = bytes.fromhex(a.key) if a.key is not None else SCRIPT_KEY
    if a.keystream is not None:
        c = Cipher(key)
        print("%08X %08X %08X" % (c.r1, c.r2, c.r3))
        print(" ".join("%02x" % c.keystream_byte() for _ in range(a.keystream)))
        return 0
    data = open(a.input, "rb").read() if a.input else sys.stdin.buffer.read()
    out = transform_block(data, key)
    if a.output:
        with open(a.output, "wb") as f:
            f.write(out)
    else:
        sys.stdout.buffer.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
