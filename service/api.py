"""The maker's service: the "/v2/" endpoints and the service's own pages.

Every handler takes the shared state and the request and returns a Reply; the server does the rest.
"""
import hashlib
import html
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import encipher_script  # noqa: E402  (the repository's own cipher tool)

from common import Reply, json_reply  # noqa: E402

PROGRAM_VERSION = "2.5.0.35"

# Error-Info is looked up as a message key and shown as it is when no key matches, and the update
# check shows it as it is: plain sentences serve both.
NO_SCRIPT = "No script is available for this site."


def catalogue_key(host):
    return hashlib.md5(host.lower().encode("utf-8")).hexdigest()


def language(req):
    return "zh-cn" if req.query.get("lang", "").lower() == "zh-cn" else "en"


def config(state, req):
    cat = state.catalog
    sites = {catalogue_key(s["host"]): s["version"] for s in cat["sites"]}
    doc = {
        "b": state.fill(cat["broadcasts"].get(language(req), cat["broadcasts"]["en"])),
        "e": state.fill(cat.get("e", "")),
        "p": state.fill(cat.get("p", "")),
        "v": sites,
        "sd": bool(cat.get("sd", False)),
    }
    return json_reply(doc)


def get_script(state, req):
    key = req.query.get("key", "").lower()
    site = next((s for s in state.catalog["sites"] if catalogue_key(s["host"]) == key), None)
    source = state.script_source(site["script"]) if site and site.get("script") else None
    if source is None:
        return Reply(404, NO_SCRIPT.encode(), headers=[("Error-Info", NO_SCRIPT)])
    body = state.cached(("script", source), lambda: encipher_script.transform_block(source))
    info = json.dumps({"s": len(body), "a": bool(site.get("adult")), "v": site["version"]}, separators=(",", ":"))
    return Reply(200, body, "application/octet-stream", [("Script-Info", info)])


def search(state, req):
    if req.method != "POST":
        return Reply(405, b"POST a form with q and t", headers=[("Allow", "POST")])
    keyword = req.form.get("q", "").strip().casefold()
    kind = req.form.get("t", "")
    by_name, by_author = "n" in kind, "a" in kind
    if not by_name and not by_author:
        by_name = by_author = True
    found = []
    if keyword:
        for item in state.search_list:
            if (by_name and keyword in item.get("n", "").casefold()) or \
               (by_author and keyword in item.get("a", "").casefold()):
                found.append(state.fill(item))
    return json_reply(found)


def commit_stat(state, req):
    if req.method != "POST":
        return Reply(405, b"POST a form", headers=[("Allow", "POST")])
    if not req.form.get("name") or not req.form.get("url"):
        return Reply(400, b"name and url are required")
    state.record_stat(req.form)
    return Reply(200, b"OK")


def proxy_sites(state, req):
    """The names the program's proxy lookup is asked with: every catalogue host, lower case."""
    return json_reply(sorted({s["host"].lower() for s in state.catalog["sites"]}))


def _page(title, body, lang="en"):
    return Reply(200, ("<!DOCTYPE html>\n<html lang=\"%s\"><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
                       "<body>\n%s\n</body></html>\n" % (lang, html.escape(title), body)).encode("utf-8"),
                 "text/html; charset=utf-8")


def client_ad(state, req):
    lang = language(req)
    version = html.escape(req.query.get("v", ""))
    if lang == "zh-cn":
        text = "<p>感谢使用 Vellix %s。</p>" % version
    else:
        text = "<p>Thank you for using Vellix %s.</p>" % version
    return _page("Vellix", '<div id="ad">%s<a href="%s/recommended.html?lang=%s" target="_blank">%s</a></div>'
                 % (text, state.service_root, lang, "热门漫画" if lang == "zh-cn" else "Hot comics"), lang)


def recommended(state, req):
    lang = language(req)
    title = "热门漫画" if lang == "zh-cn" else "Hot comics"
    rows = ['<li><a href="%s/comic/%s.html" target="_blank">%s</a> <span class="author">%s</span></li>'
            % (state.site_root, c["id"], html.escape(c["name"]), html.escape(c["author"]))
            for c in state.site["comics"]]
    rows.append('<li><a href="http://comics.example.net/title/4711" target="_blank">Harbor Cats</a> '
                '<span class="author">N/A</span></li>')
    return _page(title, '<h1>%s</h1>\n<ul id="comics">\n%s\n</ul>' % (title, "\n".join(rows)), lang)


def site_list(state, req):
    rows = ['<li><span class="name">%s</span> <span class="host">%s</span></li>'
            % (html.escape(s["name"]), html.escape(s["host"]))
            for s in state.catalog["sites"] if s.get("script")]
    return _page("Supported sites", '<h1>Supported sites</h1>\n<ul id="sites">\n%s\n</ul>' % "\n".join(rows))


def home(state, req):
    return _page("Vellix", '<h1>Vellix</h1>\n<p>Comic downloader, version %s.</p>\n'
                 '<p><a href="%s/site_list.html">Supported sites</a></p>' % (PROGRAM_VERSION, state.service_root))


ROUTES = {
    "/v2/config.php": config,
    "/v2/get_script.php": get_script,
    "/v2/search.php": search,
    "/v2/commit_stat.php": commit_stat,
    "/v2/client_ad.php": client_ad,
    "/v2/proxy_sites.php": proxy_sites,
    "/recommended.html": recommended,
    "/site_list.html": site_list,
    "/": home,
}


def handle(state, req):
    route = ROUTES.get(req.path)
    if route is None:
        return Reply(404, b"Not found", headers=[("Error-Info", "Not found")])
    return route(state, req)
