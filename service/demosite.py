"""The demo comic site: comic pages, volume pages, the page lists its script reads, covers and page
images. Page images answer 403 unless the request carries a Referer from this site's comic pages
and the session cookie that every HTML page hands out.
"""
import html
import re
import urllib.parse

import images
from common import Reply, json_reply

SESSION = "vx_session"

COMIC = re.compile(r"^/comic/([\w-]+)\.html$")
VOLUME = re.compile(r"^/comic/([\w-]+)/([\w-]+)\.html$")
API = re.compile(r"^/api/([\w-]+)/([\w-]+)\.json$")
COVER = re.compile(r"^/cover/([\w-]+)\.(\w+)$")
IMAGE = re.compile(r"^/img/([\w-]+)/([\w-]+)/(\d+)\.(\w+)$")

COVER_SIZE = (48, 64)
PAGE_SIZE = (16, 24)


def _find(state, comic_id, volume_id=None):
    comic = next((c for c in state.site["comics"] if c["id"] == comic_id), None)
    if comic is None or volume_id is None:
        return comic, None
    return comic, next((v for v in comic["volumes"] if v["id"] == volume_id), None)


def _cookies(req):
    out = {}
    for header in req.headers.get_all("Cookie") or []:
        for part in header.split(";"):
            name, _, value = part.strip().partition("=")
            if name:
                out[name] = value
    return out


def _html_page(state, req, comic, title, body):
    charset = comic.get("encoding", "utf-8") if comic else "utf-8"
    text = ('<!DOCTYPE html>\n<html><head><meta charset="%s"><title>%s - Vellix demo comics</title></head>\n'
            "<body>\n%s\n</body></html>\n" % (charset, html.escape(title), body))
    reply = Reply(200, text.encode(charset), "text/html; charset=%s" % charset)
    reply.compressible = True
    # A visitor without a valid session gets one, with a second, unrelated cookie beside it.
    if _cookies(req).get(SESSION) not in state.sessions:
        reply.headers.append(("Set-Cookie", "%s=%s; Path=/; HttpOnly" % (SESSION, state.new_session())))
        reply.headers.append(("Set-Cookie", "vx_theme=light; Path=/; Max-Age=86400"))
    return reply


def _image_type(state, kind):
    return state.site["types"][kind]


def _comic_page(state, req, comic):
    cover = _image_type(state, comic["cover"])["ext"]
    volumes = "\n".join('<li><a href="%s">%s</a></li>'
                        % (html.escape(v.get("href") or "/comic/%s/%s.html" % (comic["id"], v["id"])),
                           html.escape(v["title"]))
                        for v in comic["volumes"])
    body = ('<h1 id="name">%s</h1>\n'
            '<p>Author: <span id="author">%s</span></p>\n'
            '<p>Category: <span id="category">%s</span></p>\n'
            '<p>Status: <span id="status">%s</span></p>\n'
            '<img id="cover" src="/cover/%s.%s" alt="cover">\n'
            '<div id="intro">%s</div>\n'
            '<ul id="volumes">\n%s\n</ul>'
            % (html.escape(comic["name"]), html.escape(comic["author"]), html.escape(comic["category"]),
               comic["status"], comic["id"], cover, comic["intro"], volumes))
    return _html_page(state, req, comic, comic["name"], body)


def _volume_page(state, req, comic, volume):
    body = ('<h1 id="name"><a href="/comic/%s.html">%s</a></h1>\n'
            '<h2 id="volume">%s</h2>\n'
            '<div id="reader" data-api="/api/%s/%s.json" data-count="%d"></div>'
            % (comic["id"], html.escape(comic["name"]), html.escape(volume["title"]),
               comic["id"], volume["id"], len(volume["pages"])))
    return _html_page(state, req, comic, "%s %s" % (comic["name"], volume["title"]), body)


def page_paths(state, comic, volume):
    return ["/img/%s/%s/%d.%s" % (comic["id"], volume["id"], n, _image_type(state, kind)["ext"])
            for n, kind in enumerate(volume["pages"], 1)]


def _image_refusal(state, req):
    referer = req.headers.get("Referer", "")
    ref = urllib.parse.urlsplit(referer)
    host = urllib.parse.urlsplit("http://" + req.headers.get("Host", "")).hostname
    if not referer or ref.hostname is None or ref.hostname != host or not ref.path.startswith("/comic/"):
        return "a Referer from a comic page of this site is required"
    if _cookies(req).get(SESSION) not in state.sessions:
        return "the session cookie is required"
    return None


def _image(state, kind, seed, size, page_bytes=0):
    t = _image_type(state, kind)
    data = state.cached(("image", t["format"], seed, size, page_bytes),
                        lambda: _padded(images.make(t["format"], seed, *size), page_bytes))
    return Reply(200, data, t["content_type"])


def _padded(data, page_bytes):
    return images.pad_jpeg(data, page_bytes) if page_bytes else data


def _not_found():
    return Reply(404, b"<!DOCTYPE html>\n<html><body><h1>Not found</h1></body></html>\n", "text/html; charset=utf-8")


def handle(state, req):
    path = req.path
    if path == "/":
        items = "\n".join('<li><a href="/comic/%s.html">%s</a></li>' % (c["id"], html.escape(c["name"]))
                          for c in state.site["comics"])
        return _html_page(state, req, None, "Index", '<ul id="comics">\n%s\n</ul>' % items)
    m = COMIC.match(path)
    if m:
        comic, _ = _find(state, m.group(1))
        return _comic_page(state, req, comic) if comic else _not_found()
    m = VOLUME.match(path)
    if m:
        comic, volume = _find(state, m.group(1), m.group(2))
        return _volume_page(state, req, comic, volume) if volume else _not_found()
    m = API.match(path)
    if m:
        comic, volume = _find(state, m.group(1), m.group(2))
        if not volume:
            return json_reply({"error": "no such volume"}, 404)
        return json_reply({"comic": comic["id"], "volume": volume["id"],
                           "pages": [{"src": p} for p in page_paths(state, comic, volume)]})
    m = COVER.match(path)
    if m:
        comic, _ = _find(state, m.group(1))
        if not comic or _image_type(state, comic["cover"])["ext"] != m.group(2):
            return _not_found()
        return _image(state, comic["cover"], "cover/" + comic["id"], COVER_SIZE)
    m = IMAGE.match(path)
    if m:
        comic, volume = _find(state, m.group(1), m.group(2))
        n = int(m.group(3))
        if not volume or not 1 <= n <= len(volume["pages"]) or path not in page_paths(state, comic, volume):
            return _not_found()
        refusal = _image_refusal(state, req)
        if refusal:
            return Reply(403, refusal.encode())
        return _image(state, volume["pages"][n - 1], "%s/%s/%d" % (comic["id"], volume["id"], n), PAGE_SIZE,
                      volume.get("page_bytes", 0))
    return _not_found()

