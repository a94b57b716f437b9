#!/usr/bin/env python3
"""Reads a minidump: prints the signature, then the exception code and thread id of its
exception stream (type 6) as decimal numbers, or "none" when it has no such stream."""
import struct
import sys

EXCEPTION_STREAM = 6


def main(path):
    data = open(path, "rb").read()
    signature, _version, count, directory = struct.unpack_from("<4sIII", data, 0)
    print(signature.decode("latin-1"))
    for i in range(count):
        kind, size, offset = struct.unpack_from("<III", data, directory + 12 * i)
        if kind == EXCEPTION_STREAM and size >= 12:
            thread_id, _align, code = struct.unpack_from("<III", data, offset)
            print(code, thread_id)
            return 0
    print("none")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
