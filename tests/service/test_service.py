#!/usr/bin/env python3
"""Tests of the reference service and the demo comic site: a real server process on ports of its
own choosing, driven over HTTP, and the delivered demo script run natively against the site."""
import gzip
import hashlib
import http.client
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(ROOT, "service", "data")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import encipher_script  # noqa: E402

PY = sys.executable


def load(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return json.load(f)


CATALOG, SITE, SEARCH = load("catalog.json"), load("site.json"), load("search.json")


def md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


class Service:
    """One server process; the ports come from the JSON line it prints."""

    def __init__(self, *flags):
        self.proc = subprocess.Popen([PY, os.path.join(ROOT, "service", "server.py"), "--port", "0",
                                      "--site-port", "0", "--quiet", *flags],
                                     stdout=subprocess.PIPE, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        ports = json.loads(self.proc.stdout.readline())
        self.service = "http://127.0.0.1:%d" % ports["service"]
        self.site = "http://127.0.0.1:%d" % ports["site"]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


def fetch(url, data=None, headers=None):
    """(status, headers, body) for any status."""
    if isinstance(data, dict):
        data = urllib.parse.urlencode(data).encode()
    req = urllib.request.Request(url, data=data, headers=headers or {})
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        with e:
            return e.code, e.headers, e.read()


svc = None


def setUpModule():
    global svc
    svc = Service("--test-control")


def tearDownModule():
    svc.stop()


def control(command, **params):
    query = urllib.parse.urlencode(params, doseq=True)
    status, _, body = fetch(svc.service + "/__control/" + command + ("?" + query if query else ""))
    if status != 200:
        raise AssertionError("control %s: %d %s" % (command, status, body))
    return json.loads(body)


def filled(text):
    return text.replace("@SITE_ROOT@", svc.site).replace("@SERVICE_ROOT@", svc.service)


def script_source(name):
    with open(os.path.join(DATA, "scripts", name), "rb") as f:
        return f.read().replace(b"@SITE_ROOT@", svc.site.encode())


class ServiceEndpoints(unittest.TestCase):
    def setUp(self):
        control("reset")

    def test_config_holds_the_catalogue(self):
        for lang in ("en", "zh-cn"):
            status, headers, body = fetch(svc.service + "/v2/config.php?lang=" + lang,
                                          headers={"Vellix-Version": "2.5.0.35"})
            self.assertEqual(status, 200)
            self.assertIsNone(headers.get("Error-Info"))
            doc = json.loads(body.decode("utf-8"))
            self.assertEqual(set(doc), {"b", "e", "p", "v", "sd"})
            self.assertEqual(doc["v"], {md5(s["host"]): s["version"] for s in CATALOG["sites"]})
            self.assertIs(doc["sd"], False)
            self.assertEqual(doc["b"], [{"n": b["n"], "u": filled(b["u"])} for b in CATALOG["broadcasts"][lang]])
            self.assertTrue(all(b["u"].startswith(("http://127.0.0.1:", svc.site)) for b in doc["b"]))
        # The demo host's key is the MD5 of its name, as the program computes it.
        self.assertIn("f528764d624db129b32c21fbca0cb8d6", doc["v"])
        self.assertEqual(fetch(svc.service + "/v2/config.php?lang=fr")[2], fetch(svc.service + "/v2/config.php")[2])
        logged = control("log", path="/v2/config.php")
        self.assertEqual(logged[0]["headers"].get("Vellix-Version"), "2.5.0.35")
        self.assertEqual(logged[0]["query"], {"lang": "en"})

    def test_get_script_delivers_the_enciphered_script(self):
        for site in CATALOG["sites"]:
            if not site["script"]:
                continue
            with self.subTest(host=site["host"]):
                status, headers, body = fetch(svc.service + "/v2/get_script.php?key=" + md5(site["host"]))
                self.assertEqual(status, 200)
                info = json.loads(headers["Script-Info"])
                self.assertEqual(info, {"s": len(body), "a": site["adult"], "v": site["version"]})
                source = script_source(site["script"])
                self.assertNotEqual(body, source)
                self.assertEqual(encipher_script.transform_block(body), source)
                self.assertNotIn(b"@SITE_ROOT@", source)

    def test_get_script_without_a_script(self):
        missing = md5("missing.vellix-demo.test")
        for query in ("key=" + missing, "key=" + md5("nowhere.example"), "", "key="):
            with self.subTest(query=query):
                status, headers, body = fetch(svc.service + "/v2/get_script.php?" + query)
                self.assertEqual(status, 404)
                self.assertTrue(headers.get("Error-Info"))
                self.assertIsNone(headers.get("Script-Info"))

    def test_search(self):
        cases = [
            ("harbor", "n", ["Harbor Lights", "Harbor Cats"]),
            ("HARBOR", "na", ["Harbor Lights", "Harbor Cats"]),
            ("quint", "a", ["Harbor Lights", "Quiet Lighthouse"]),
            ("quint", "n", []),
            ("lighthouse", "a", []),
            ("林小雨", "a", ["月下书库"]),
            ("书库", "n", ["月下书库"]),
            ("kite", "", ["Paper Kite"]),
            ("", "na", []),
            ("   ", "na", []),
        ]
        for q, t, names in cases:
            with self.subTest(q=q, t=t):
                status, headers, body = fetch(svc.service + "/v2/search.php", {"q": q, "t": t})
                self.assertEqual(status, 200)
                found = json.loads(body.decode("utf-8"))
                self.assertEqual([r["n"] for r in found], names)
                for r in found:
                    item = next(i for i in SEARCH if i["n"] == r["n"])
                    self.assertEqual(r, {k: filled(v) if isinstance(v, str) else v for k, v in item.items()})
        self.assertEqual(fetch(svc.service + "/v2/search.php?q=kite&t=n")[0], 405)

    def test_search_reads_the_programs_form_encoding(self):
        # Every byte but letters and digits percent-encoded, spaces as %20, UTF-8 bytes escaped.
        for body, names in ((b"q=paper%20kite&t=n", ["Paper Kite"]),
                            (b"t=a&q=%E6%9E%97", ["\u6708\u4e0b\u4e66\u5e93"]),
                            (b"q=100%25&t=n", [])):
            with self.subTest(body=body):
                found = json.loads(fetch(svc.service + "/v2/search.php", body,
                                         {"Content-Type": "application/x-www-form-urlencoded"})[2])
                self.assertEqual([r["n"] for r in found], names)

    def test_commit_stat_records_what_it_gets(self):
        forms = [
            {"name": "Harbor Lights", "url": svc.site + "/comic/harbor.html", "author": "Mara Quint",
             "intro": "A lighthouse keeper's daughter", "finished": "1"},
            {"name": "\u6708\u4e0b\u4e66\u5e93", "url": svc.site + "/comic/yuexia.html", "finished": "2"},
        ]
        for form in forms:
            self.assertEqual(fetch(svc.service + "/v2/commit_stat.php", form)[0], 200)
        self.assertEqual(fetch(svc.service + "/v2/commit_stat.php", {"name": "no address"})[0], 400)
        self.assertEqual(fetch(svc.service + "/v2/commit_stat.php")[0], 405)
        self.assertEqual(control("stats"), forms)
        logged = control("log", path="/v2/commit_stat.php")
        self.assertEqual([e["form"] for e in logged], forms + [{"name": "no address"}, {}])
        self.assertEqual([e["status"] for e in logged], [200, 200, 400, 405])

    def test_proxy_sites_are_the_catalogue_hosts(self):
        status, headers, body = fetch(svc.service + "/v2/proxy_sites.php")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("application/json"))
        sites = json.loads(body.decode("utf-8"))
        self.assertEqual(sites, sorted(s["host"].lower() for s in CATALOG["sites"]))
        # Each is a name the catalogue's "v" answers to, so the program's lookup finds it.
        status, _, body = fetch(svc.service + "/v2/config.php?lang=en")
        self.assertEqual(set(json.loads(body)["v"]), {md5(s) for s in sites})

    def test_pages(self):
        comics = [svc.site + "/comic/%s.html" % c["id"] for c in SITE["comics"]]
        cases = [
            ("/v2/client_ad.php?lang=en&v=2.5.0.35", ["2.5.0.35"]),
            ("/v2/client_ad.php?lang=zh-cn&v=2.5.0.35", ["2.5.0.35", "\u611f\u8c22"]),
            ("/recommended.html?lang=en", ["Hot comics"] + ['href="%s" target="_blank"' % u for u in comics]),
            ("/recommended.html?lang=zh-cn", ["\u70ed\u95e8\u6f2b\u753b"] + comics),
            ("/site_list.html", [s["host"] for s in CATALOG["sites"] if s["script"]]),
            ("/", ["Vellix"]),
            # A service root written with a final slash still reaches every endpoint.
            ("//site_list.html", ["vellix-demo.test"]),
        ]
        for path, wanted in cases:
            with self.subTest(path=path):
                status, headers, body = fetch(svc.service + path)
                self.assertEqual(status, 200)
                self.assertTrue(headers["Content-Type"].startswith("text/html"))
                text = body.decode("utf-8")
                for w in wanted:
                    self.assertIn(w, text)
        self.assertNotIn("missing.vellix-demo.test", fetch(svc.service + "/site_list.html")[2].decode())
        self.assertEqual(fetch(svc.service + "//v2//config.php")[0], 200)
        self.assertEqual(fetch(svc.service + "/v2/nothing.php")[0], 404)


class DemoSite(unittest.TestCase):
    MAGIC = {"jpeg": b"\xff\xd8\xff", "png": b"\x89PNG\r\n\x1a\n", "gif": b"GIF89a", "webp": b"RIFF"}

    def session(self):
        status, headers, _ = fetch(svc.site + "/comic/harbor.html")
        self.assertEqual(status, 200)
        cookies = headers.get_all("Set-Cookie")
        return dict(c.split(";")[0].split("=", 1) for c in cookies)

    def test_comic_page_hands_out_cookies_once(self):
        status, headers, body = fetch(svc.site + "/comic/harbor.html")
        cookies = headers.get_all("Set-Cookie")
        self.assertEqual(len(cookies), 2)
        self.assertRegex(cookies[0], r"^vx_session=[0-9a-f]{16}; Path=/")
        text = body.decode("utf-8")
        for needle in ('<h1 id="name">Harbor Lights</h1>', '<span id="author">Mara Quint</span>',
                       '<span id="status">finished</span>', 'src="/cover/harbor.jpg"', "<b>three winters</b>",
                       '<a href="/comic/harbor/vol-3.html">Volume 3: The Storm</a>'):
            self.assertIn(needle, text)
        token = cookies[0].split(";")[0]
        again = fetch(svc.site + "/comic/harbor/vol-1.html", headers={"Cookie": "vx_theme=light; " + token})
        self.assertIsNone(again[1].get("Set-Cookie"))
        self.assertIn('data-api="/api/harbor/vol-1.json"', again[2].decode())
        stale = fetch(svc.site + "/comic/harbor.html", headers={"Cookie": "vx_session=0123456789abcdef"})
        self.assertEqual(len(stale[1].get_all("Set-Cookie")), 2)

    def test_gbk_pages(self):
        for path in ("/comic/yuexia.html", "/comic/yuexia/vol-1.html"):
            with self.subTest(path=path):
                status, headers, body = fetch(svc.site + path)
                self.assertEqual(headers["Content-Type"], "text/html; charset=gbk")
                self.assertIn("\u6708\u4e0b\u4e66\u5e93", body.decode("gbk"))
                self.assertRaises(UnicodeDecodeError, body.decode, "utf-8")

    def test_pages_are_gzipped_when_accepted(self):
        plain = fetch(svc.site + "/comic/kite.html")
        packed = fetch(svc.site + "/comic/kite.html", headers={"Accept-Encoding": "gzip, deflate"})
        self.assertIsNone(plain[1].get("Content-Encoding"))
        self.assertEqual(packed[1]["Content-Encoding"], "gzip")
        self.assertEqual(gzip.decompress(packed[2]), plain[2])

    def test_images_need_referer_and_session(self):
        token = "vx_session=" + self.session()["vx_session"]
        image = svc.site + "/img/harbor/vol-1/2.png"
        page = svc.site + "/comic/harbor/vol-1.html"
        cases = [
            ({"Cookie": token}, 403),
            ({"Referer": "http://elsewhere.example/comic/harbor/vol-1.html", "Cookie": token}, 403),
            ({"Referer": svc.site + "/", "Cookie": token}, 403),
            ({"Referer": page}, 403),
            ({"Referer": page, "Cookie": "vx_session=0123456789abcdef"}, 403),
            ({"Referer": page, "Cookie": "vx_theme=light;" + token}, 200),
            ({"Referer": svc.site + "/comic/harbor.html", "Cookie": token}, 200),
        ]
        for headers, expected in cases:
            with self.subTest(headers=headers):
                self.assertEqual(fetch(image, headers=headers)[0], expected)

    def test_every_page_image_and_cover(self):
        token = "vx_session=" + self.session()["vx_session"]
        identify = shutil.which("identify")
        for comic in SITE["comics"]:
            kind = SITE["types"][comic["cover"]]
            urls = [(svc.site + "/cover/%s.%s" % (comic["id"], kind["ext"]), comic["cover"], (48, 64), {})]
            for volume in comic["volumes"]:
                page = svc.site + "/comic/%s/%s.html" % (comic["id"], volume["id"])
                listed = json.loads(fetch(svc.site + "/api/%s/%s.json" % (comic["id"], volume["id"]))[2])
                self.assertEqual(len(listed["pages"]), len(volume["pages"]))
                for n, (entry, page_kind) in enumerate(zip(listed["pages"], volume["pages"]), 1):
                    path = "/img/%s/%s/%d.%s" % (comic["id"], volume["id"], n, SITE["types"][page_kind]["ext"])
                    self.assertEqual(entry["src"], path)
                    urls.append((svc.site + path, page_kind, (16, 24), {"Referer": page, "Cookie": token}))
            for url, kind_name, size, headers in urls:
                with self.subTest(url=url):
                    kind = SITE["types"][kind_name]
                    status, got, body = fetch(url, headers=headers)
                    self.assertEqual(status, 200)
                    self.assertEqual(got["Content-Type"], kind["content_type"])
                    self.assertTrue(body.startswith(self.MAGIC[kind["format"]]))
                    if kind["format"] == "png":
                        self.assertEqual(png_size(body), size)
                    if identify:
                        with tempfile.NamedTemporaryFile(suffix=".img") as f:
                            f.write(body)
                            f.flush()
                            out = subprocess.run([identify, "-format", "%m %w %h", f.name],
                                                 capture_output=True, text=True, check=True).stdout
                        self.assertEqual(out.split(), [{"jpeg": "JPEG"}.get(kind["format"], kind["format"].upper()),
                                                       str(size[0]), str(size[1])])
        # Images differ from page to page.
        a = fetch(svc.site + "/img/harbor/vol-2/1.png", headers={"Referer": svc.site + "/comic/", "Cookie": token})
        b = fetch(svc.site + "/img/harbor/vol-2/4.png", headers={"Referer": svc.site + "/comic/", "Cookie": token})
        self.assertNotEqual(a[2], b[2])

    def test_unknown_addresses(self):
        token = "vx_session=" + self.session()["vx_session"]
        headers = {"Referer": svc.site + "/comic/harbor/vol-1.html", "Cookie": token}
        for path in ("/comic/nobody.html", "/comic/harbor/vol-9.html", "/api/harbor/vol-9.json",
                     "/img/harbor/vol-1/4.jpg", "/img/harbor/vol-1/0.jpg", "/img/harbor/vol-1/1.png",
                     "/cover/harbor.png", "/elsewhere"):
            with self.subTest(path=path):
                self.assertEqual(fetch(svc.site + path, headers=headers)[0], 404)


def png_size(data):
    """Width and height of a PNG whose chunks all check out, decompressing its image data."""
    pos, size, idat = 8, None, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        assert struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0] == zlib.crc32(kind + chunk)
        if kind == b"IHDR":
            size = struct.unpack(">II", chunk[:8])
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    assert len(zlib.decompress(idat)) == size[1] * (1 + 3 * size[0])
    return size


class Control(unittest.TestCase):
    def setUp(self):
        control("reset")

    def test_absent_without_the_flag(self):
        plain = Service()
        try:
            for command in ("log", "fail?path=/v2/config.php&status=500", "reset", "stats"):
                with self.subTest(command=command):
                    self.assertEqual(fetch(plain.service + "/__control/" + command)[0], 404)
            self.assertEqual(fetch(plain.service + "/v2/config.php")[0], 200)
        finally:
            plain.stop()

    def test_add_volume_until_reset(self):
        comic = svc.site + "/comic/harbor.html"
        before = fetch(comic)[2].decode()
        added = control("add_volume", comic="harbor", title="Volume 4 <New> & more", pages="gif,png")
        self.assertEqual(added, {"id": "vol-4"})
        page = fetch(comic)[2].decode()
        self.assertIn('<a href="/comic/harbor/vol-4.html">Volume 4 &lt;New&gt; &amp; more</a>', page)
        status, headers, _ = fetch(svc.site + "/comic/harbor/vol-4.html")
        self.assertEqual(status, 200)
        token = [c.split(";")[0] for c in headers.get_all("Set-Cookie") if c.startswith("vx_session=")][0]
        listed = json.loads(fetch(svc.site + "/api/harbor/vol-4.json")[2])
        self.assertEqual([p["src"] for p in listed["pages"]], ["/img/harbor/vol-4/1.gif", "/img/harbor/vol-4/2.png"])
        image = fetch(svc.site + "/img/harbor/vol-4/2.png",
                      headers={"Referer": svc.site + "/comic/harbor/vol-4.html", "Cookie": token})
        self.assertEqual((image[0], image[2][:4]), (200, b"\x89PNG"))
        self.assertEqual(control("add_volume", comic="harbor", title="Volume 5"), {"id": "vol-5"})
        self.assertEqual(control("add_volume", comic="harbor", title="Elsewhere", href="file:///C:/a&b.exe"),
                         {"id": "vol-6"})
        self.assertIn('<a href="file:///C:/a&amp;b.exe">Elsewhere</a>', fetch(comic)[2].decode())
        self.assertEqual(fetch(svc.site + "/comic/harbor/vol-6.html")[0], 200, "its own page still answers")
        for params in ({"comic": "nothing", "title": "T"}, {"comic": "harbor", "title": ""},
                       {"comic": "harbor", "title": "T", "pages": "bmp"}):
            with self.subTest(params=params):
                query = urllib.parse.urlencode(params)
                self.assertIn(fetch(svc.service + "/__control/add_volume?" + query)[0], (400, 404))
        control("reset")
        self.assertEqual(fetch(comic)[2].decode().count("<li>"), before.count("<li>"))
        self.assertEqual(fetch(svc.site + "/comic/harbor/vol-4.html")[0], 404)

    def test_added_volume_with_large_pages(self):
        def segments(data):
            """The JPEG's markers up to the scan, walked by their lengths."""
            at, found = 2, []
            while data[at] == 0xFF and data[at + 1] != 0xDA:
                found.append(data[at + 1])
                at += 2 + int.from_bytes(data[at + 2:at + 4], "big")
            return found

        added = control("add_volume", comic="kite", title="Large", pages=",".join(["jpg"] * 3), page_bytes="204800")
        status, headers, _ = fetch(svc.site + "/comic/kite/%s.html" % added["id"])
        token = [c.split(";")[0] for c in headers.get_all("Set-Cookie") if c.startswith("vx_session=")][0]
        listed = json.loads(fetch(svc.site + "/api/kite/%s.json" % added["id"])[2])
        self.assertEqual(len(listed["pages"]), 3)
        bodies = set()
        for page in listed["pages"]:
            image = fetch(svc.site + page["src"], headers={"Referer": svc.site + "/comic/kite.html", "Cookie": token})
            data = image[2]
            self.assertEqual((image[0], len(data), data[:2], data[-2:]), (200, 204800, b"\xff\xd8", b"\xff\xd9"))
            marks = segments(data)
            self.assertEqual(marks[:4], [0xFE] * 4, "the padding comes first")
            self.assertIn(0xC0, marks)
            bodies.add(data)
        self.assertEqual(len(bodies), 3, "each page is a picture of its own")
        for params in ({"pages": "png", "page_bytes": "204800"}, {"pages": "jpg", "page_bytes": "100"},
                       {"pages": "jpg", "page_bytes": "big"}):
            with self.subTest(params=params):
                query = urllib.parse.urlencode(dict(params, comic="kite", title="T"))
                self.assertEqual(fetch(svc.service + "/__control/add_volume?" + query)[0], 400)
        control("reset")

    def test_failure_modes(self):
        key = md5("127.0.0.1")
        script = svc.service + "/v2/get_script.php?key=" + key
        normal = fetch(script)
        self.assertEqual(normal[0], 200)
        body_len = len(normal[2])

        control("fail", path="/v2/get_script.php", status="500", set_header="Error-Info:ScriptBusy", count="1")
        status, headers, body = fetch(script)
        self.assertEqual((status, headers["Error-Info"], headers.get("Script-Info")), (500, "ScriptBusy", None))
        self.assertEqual(fetch(script)[0], 200, "count=1 fails one request only")

        cases = [
            ({"set_header": 'Script-Info:{"s":5,"v":0}'}, 200, '{"s":5,"v":0}', normal[2]),
            ({"del_header": "Script-Info"}, 200, None, normal[2]),
            ({"append": "-- trailer"}, 200, '{"s":%d,"a":false,"v":3}' % body_len, normal[2] + b"-- trailer"),
            ({"body": ""}, 200, '{"s":%d,"a":false,"v":3}' % body_len, b""),
            ({"status": "404", "body": "gone"}, 404, None, b"gone"),
        ]
        for params, status, info, body in cases:
            with self.subTest(params=params):
                control("clear_failures")
                control("fail", path="/v2/get_script.php", **params)
                got = fetch(script)
                self.assertEqual((got[0], got[1].get("Script-Info"), got[2]), (status, info, body))
        control("clear_failures")
        self.assertEqual(fetch(script)[2], normal[2])

        # A dropped connection gets no answer at all.
        control("fail", path="/v2/config.php", drop="1", count="1")
        conn = http.client.HTTPConnection("127.0.0.1", urllib.parse.urlsplit(svc.service).port, timeout=10)
        conn.request("GET", "/v2/config.php?lang=en")
        self.assertRaises(http.client.RemoteDisconnected, conn.getresponse)
        conn.close()
        self.assertEqual(fetch(svc.service + "/v2/config.php")[0], 200)

        start = time.monotonic()
        control("fail", path="/v2/search.php", delay_ms="300", count="1")
        self.assertEqual(fetch(svc.service + "/v2/search.php", {"q": "kite", "t": "n"})[0], 200)
        self.assertGreaterEqual(time.monotonic() - start, 0.3)

        # A prefix rule, limited to the demo site, with a UTF-8 Error-Info passed through as bytes.
        control("fail", path="/img/*", server="site", status="503", set_header="Error-Info:\u5fd9")
        got = fetch(svc.site + "/img/harbor/vol-1/1.jpg")
        self.assertEqual(got[0], 503)
        self.assertEqual(got[1]["Error-Info"].encode("latin-1").decode("utf-8"), "\u5fd9")
        self.assertEqual(fetch(svc.site + "/comic/harbor.html")[0], 200)
        control("clear_failures")

        # A page of another type: the one Content-Type the client sees is the rule's.
        control("fail", path="/v2/config.php", set_header="Content-Type:text/html", count="1")
        conn = http.client.HTTPConnection("127.0.0.1", urllib.parse.urlsplit(svc.service).port, timeout=10)
        conn.request("GET", "/v2/config.php?lang=en")
        answer = conn.getresponse()
        self.assertEqual(answer.msg.get_all("Content-Type"), ["text/html"])
        answer.read()
        conn.close()

        # A truncated body: the whole length is announced, fewer bytes come, the connection closes.
        control("fail", path="/v2/get_script.php", truncate="5", count="1")
        conn = http.client.HTTPConnection("127.0.0.1", urllib.parse.urlsplit(svc.service).port, timeout=10)
        conn.request("GET", "/v2/get_script.php?key=" + key)
        answer = conn.getresponse()
        self.assertEqual(int(answer.getheader("Content-Length")), body_len)
        with self.assertRaises(http.client.IncompleteRead) as cut:
            answer.read()
        self.assertEqual(cut.exception.partial, normal[2][:5])
        conn.close()
        self.assertEqual(fetch(script)[2], normal[2])

        control("fail", path="/", server="site", status="500")
        self.assertEqual(fetch(svc.service + "/")[0], 200)
        self.assertEqual(fetch(svc.site + "/")[0], 500)
        self.assertEqual(fetch(svc.service + "/__control/fail?status=500")[0], 400)
        self.assertEqual(fetch(svc.service + "/__control/fail?path=/&count=0")[0], 400)

    def test_request_log(self):
        fetch(svc.service + "/v2/config.php?lang=zh-cn", headers={"Vellix-Version": "2.5.0.35"})
        fetch(svc.service + "/v2/commit_stat.php", {"name": "Paper Kite", "url": svc.site + "/comic/kite.html"})
        fetch(svc.site + "/comic/kite.html", headers={"Referer": "http://x.example/"})
        control("fail", path="/v2/get_script.php", drop="1")
        self.assertRaises((urllib.error.URLError, http.client.RemoteDisconnected, ConnectionError),
                          fetch, svc.service + "/v2/get_script.php?key=abc")
        log = control("log")
        self.assertEqual([(e["server"], e["method"], e["path"], e["status"]) for e in log], [
            ("service", "GET", "/v2/config.php", 200),
            ("service", "POST", "/v2/commit_stat.php", 200),
            ("site", "GET", "/comic/kite.html", 200),
            ("service", "GET", "/v2/get_script.php", None),
        ])
        self.assertEqual(log[0]["target"], "/v2/config.php?lang=zh-cn")
        self.assertEqual(log[0]["headers"]["Vellix-Version"], "2.5.0.35")
        self.assertEqual(log[1]["form"], {"name": "Paper Kite", "url": svc.site + "/comic/kite.html"})
        self.assertEqual(log[2]["headers"]["Referer"], "http://x.example/")
        self.assertEqual(log[3]["query"], {"key": "abc"})
        self.assertEqual(control("log", server="site"), [log[2]])
        self.assertEqual(control("log", path="/v2/*"), [log[0], log[1], log[3]])
        self.assertEqual(control("log", since=str(log[1]["seq"])), log[2:])
        control("clear_log")
        self.assertEqual(control("log"), [])


class Lifecycle(unittest.TestCase):
    def test_port_file_fixed_ports_and_lifeline(self):
        free = []
        for _ in range(2):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                free.append(s.getsockname()[1])
        with tempfile.TemporaryDirectory() as tmp:
            port_file = os.path.join(tmp, "ports.json")
            proc = subprocess.Popen([PY, os.path.join(ROOT, "service", "server.py"), "--port", str(free[0]),
                                     "--site-port", str(free[1]), "--port-file", port_file, "--lifeline"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
            try:
                for _ in range(200):
                    if os.path.exists(port_file):
                        break
                    time.sleep(0.05)
                with open(port_file) as f:
                    ports = json.load(f)
                self.assertEqual((ports["service"], ports["site"]), tuple(free))
                line = socket.create_connection(("127.0.0.1", ports["lifeline"]))
                self.assertEqual(fetch("http://127.0.0.1:%d/v2/config.php" % free[0])[0], 200)
                self.assertEqual(fetch("http://127.0.0.1:%d/comic/kite.html" % free[1])[0], 200)
                self.assertIsNone(proc.poll())
                line.close()
                self.assertEqual(proc.wait(10), 0)
                # Standard output and error were let go: nothing reached them.
                self.assertEqual(proc.communicate(), (b"", b""))
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()


class SiteScripts(unittest.TestCase):
    LUAC = shutil.which("luac5.2")
    LUA = shutil.which("lua5.2")

    def test_scripts_parse(self):
        if not self.LUAC:
            self.fail("luac5.2 is missing: run tools/setup.sh")
        folder = os.path.join(DATA, "scripts")
        for name in sorted(os.listdir(folder)):
            with self.subTest(script=name):
                result = subprocess.run([self.LUAC, "-p", os.path.join(folder, name)], capture_output=True, text=True)
                self.assertEqual(result.returncode != 0, name == "broken.lua", result.stderr)

    def run_steps(self, *steps):
        _, _, body = fetch(svc.service + "/v2/get_script.php?key=" + md5("127.0.0.1"))
        with tempfile.NamedTemporaryFile(suffix=".lua") as f:
            f.write(encipher_script.transform_block(body))
            f.flush()
            out = subprocess.run([self.LUA, os.path.join(HERE, "script_host.lua"), f.name, PY,
                                  os.path.join(HERE, "fake_host.py"), *steps],
                                 capture_output=True, check=True, timeout=120)
        return json.loads(out.stdout.decode("utf-8"))

    def test_demo_script_reads_the_demo_site(self):
        if not self.LUA:
            self.fail("lua5.2 is missing: run tools/setup.sh")
        site = svc.site
        steps = self.run_steps("info", site + "/comic/harbor.html", "volumes",
                               "images", site + "/comic/harbor/vol-2.html",
                               "info", site + "/m/comic/yuexia.html", "volumes",
                               "info", site + "/comic/kite/complete.html", "volumes",
                               "info", site + "/comic/nobody.html",
                               "images", site + "/comic/harbor/vol-9.html")
        harbor, volumes, images, yuexia, yuexia_volumes, kite, kite_volumes, missing, no_images = steps[:9]
        globals_ = {s["global"]: s["value"] for s in steps[9:]}

        comic = SITE["comics"][0]
        self.assertEqual(harbor["result"], {
            "type": "index", "name": comic["name"], "author": comic["author"], "category": comic["category"],
            "intro": comic["intro"], "cover": site + "/cover/harbor.jpg", "finished": True})
        self.assertEqual(volumes["result"], [{"title": v["title"], "url": site + "/comic/harbor/%s.html" % v["id"]}
                                             for v in comic["volumes"]])
        ref = site + "/comic/harbor/vol-2.html"
        urls = [site + "/img/harbor/vol-2/%d.%s" % (n, SITE["types"][k]["ext"])
                for n, k in enumerate(comic["volumes"][1]["pages"], 1)]
        self.assertEqual(images["result"], [{"url": u, "ref": ref} for u in urls])
        self.assertEqual(images["notifications"], [["count", len(urls)]] + [["URL", u] for u in urls])

        # The cookies that the script collected are what the page images ask for.
        self.assertRegex(images["cookies"], r"^vx_session=[0-9a-f]{16};vx_theme=light$")
        for entry in images["result"]:
            self.assertEqual(fetch(entry["url"], headers={"Referer": entry["ref"], "Cookie": images["cookies"]})[0], 200)
            self.assertEqual(fetch(entry["url"], headers={"Referer": entry["ref"]})[0], 403)

        # The navigation hook turns the mobile address into the desktop one; the GBK page reads as UTF-8.
        self.assertEqual(yuexia["url"], site + "/comic/yuexia.html")
        self.assertEqual(yuexia["result"]["name"], "\u6708\u4e0b\u4e66\u5e93")
        self.assertEqual(yuexia["result"]["author"], "\u6797\u5c0f\u96e8")
        self.assertIs(yuexia["result"]["finished"], False)
        self.assertEqual([v["title"] for v in yuexia_volumes["result"]], ["\u7b2c1\u5377", "\u7b2c2\u5377"])

        # A single-volume address; a status the page does not name leaves "finished" out.
        self.assertEqual(kite["result"], {"type": "volume", "name": "Paper Kite", "volname": "Complete"})
        self.assertEqual(kite_volumes["result"], {})
        self.assertIn("not a comic page", missing["error"])
        self.assertIn("no page list", no_images["error"])
        kite_info = self.run_steps("info", site + "/comic/kite.html")[0]["result"]
        self.assertNotIn("finished", kite_info)

        self.assertEqual(globals_, {"strVersion": "1.5.1.0", "strAppVersion": "2.5.0.35",
                                    "strExample": site + "/comic/harbor.html"})


if __name__ == "__main__":
    unittest.main()
