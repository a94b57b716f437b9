#!/usr/bin/env python3
"""Second reader for the core tests: builds SQLite fixtures, reads back what the program stored, and
reads archives and the favorites file. Prints JSON on standard output.

  coretool.py exec DB SCRIPT        run an SQL script (fixtures)
  coretool.py query DB SQL [ARG..]  rows of one query as a JSON list of lists (blobs as hex)
  coretool.py zip ARCHIVE           entries of an archive, checked with zipfile
  coretool.py favorites FILE        {"bom": bool, "tree": parsed JSON} of a favorites file
"""
import binascii
import json
import sqlite3
import sys
import zipfile


def cmd_exec(db, script):
    con = sqlite3.connect(db)
    con.executescript(script)
    con.commit()
    con.close()
    print("[]")


def cmd_query(db, sql, *args):
    con = sqlite3.connect(db)
    rows = [list(r) for r in con.execute(sql, args)]
    con.close()
    print(json.dumps(rows, default=lambda b: binascii.hexlify(b).decode()))


def cmd_zip(path):
    with zipfile.ZipFile(path) as zf:
        bad = zf.testzip()  # reads every entry and checks its CRC
        entries = []
        for info in zf.infolist():
            # Names without the UTF-8 flag are decoded as cp437 by zipfile: give back the raw bytes.
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            entries.append({
                "name": raw.decode("utf-8", "replace"),
                "method": info.compress_type,
                "flags": info.flag_bits,
                "crc": info.CRC,
                "size": info.file_size,
                "date": list(info.date_time),
                "extra": len(info.extra),
                "comment": info.comment.decode("latin-1"),
                "attr": info.external_attr,
            })
        print(json.dumps({"bad": bad, "comment": zf.comment.decode("latin-1"), "entries": entries}))


def cmd_favorites(path):
    data = open(path, "rb").read()
    bom = data.startswith(b"\xef\xbb\xbf")
    tree = json.loads(data[3:].decode("utf-8")) if bom else None
    print(json.dumps({"bom": bom, "tree": tree}, ensure_ascii=False))


def main():
    commands = {"exec": cmd_exec, "query": cmd_query, "zip": cmd_zip, "favorites": cmd_favorites}
    if len(sys.argv) < 3 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    commands[sys.argv[1]](*sys.argv[2:])


if __name__ == "__main__":
    main()
