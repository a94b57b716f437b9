#!/usr/bin/env python3
"""What the Lua stand-in of vxapi2 (script_host.lua) cannot do itself: HTTP, JSON and code pages.

    fake_host.py get URL REFERER COOKIE   GET like the script host: the number of Set-Cookie
                                          values, each on its own line, then the body (any status)
    fake_host.py lua FILE                 the JSON text in FILE as a Lua expression (nil if invalid)
    fake_host.py to-utf8 CODEPAGE FILE    the bytes of FILE converted to UTF-8
"""
import json
import sys
import urllib.error
import urllib.request

CODEPAGES = {936: "gbk", 65001: "utf-8", 1252: "cp1252"}


def lua_literal(value):
    if value is None:
        return "nil"
    if value is True or value is False:
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, str):
        return '"' + "".join("\\%d" % b for b in value.encode("utf-8")) + '"'
    if isinstance(value, list):  # array member i at key i + 1, a null member leaves its key empty
        return "{" + "".join("[%d]=%s," % (i + 1, lua_literal(v)) for i, v in enumerate(value)) + "}"
    return "{" + "".join("[%s]=%s," % (lua_literal(k), lua_literal(v)) for k, v in value.items()) + "}"


def main(argv):
    out = sys.stdout.buffer
    if argv[0] == "get":
        url, referer, cookie = argv[1:4]
        headers = {"User-Agent": "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)"}
        if referer:
            headers["Referer"] = referer
        if cookie:
            headers["Cookie"] = cookie
        try:
            with urllib.request.urlopen(urllib.request.Request(url, headers=headers), timeout=30) as r:
                cookies, body = r.headers.get_all("Set-Cookie") or [], r.read()
        except urllib.error.HTTPError as e:
            cookies, body = e.headers.get_all("Set-Cookie") or [], e.read()
        out.write(b"%d\n" % len(cookies) + b"".join(c.encode("latin-1") + b"\n" for c in cookies) + body)
    elif argv[0] == "lua":
        try:
            value = json.loads(open(argv[1], "rb").read().decode("utf-8"))
        except ValueError:
            value = None
        out.write(lua_literal(value).encode())
    elif argv[0] == "to-utf8":
        data = open(argv[2], "rb").read()
        out.write(data.decode(CODEPAGES[int(argv[1])], "replace").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
