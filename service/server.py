#!/usr/bin/env python3
"""Reference service of Vellix and the demo comic site, two threaded HTTP servers on 127.0.0.1.

    server.py [--port N] [--site-port N] [--data DIR] [--test-control] [--port-file FILE]
              [--lifeline] [--max-seconds S] [--log FILE] [--quiet]

The service (default port 8160) answers the program's "/v2/" requests (config.php, get_script.php,
search.php, commit_stat.php, client_ad.php, proxy_sites.php) and serves "/", "/recommended.html" and
"/site_list.html". The demo comic site (default port 8161) serves the comics of DATA/site.json.
Port 0 lets the system choose. Once both listen, one JSON line goes to standard output:
{"service": PORT, "site": PORT} (plus "lifeline" with --lifeline); --port-file writes the same
object to FILE (whole, then renamed into place) and sends standard input, output and error to
/dev/null, for a parent that cannot read them (a test under Wine).

--lifeline adds a third port; the servers stop when the one connection to it closes, or when
nothing connects within 60 s. --max-seconds stops them after that time. Request lines and
faults of the server go to standard error, or to FILE with --log; --quiet drops request lines.

--test-control enables the test-only endpoints under "/__control/" on the service port (GET or
POST, parameters in the query or an urlencoded body; answers are JSON). Without it they are 404.
  log [path, server, since]   recorded requests of both servers, oldest first: {"seq", "server",
                              "method", "target", "path", "query", "headers", "form",
                              "body_length", "status"}; path ending in "*" matches a prefix;
                              status is null for a dropped request
  clear_log                   forgets the recorded requests
  fail path=P [server, status, drop, delay_ms, body, append, set_header=Name:Value...,
       del_header=Name..., truncate, count]
                              the next requests for P (a prefix when it ends in "*") on either
                              server (or the named one) fail: drop=1 closes the connection
                              without an answer; status=N answers N with body (default a short
                              text) and only the set_header headers; otherwise the normal answer
                              is changed: body replaces it, append adds to it, set_header
                              replaces or adds a header (Content-Type too), del_header removes
                              one; truncate=N sends the whole length but only N bytes of the
                              body, then closes the connection. delay_ms waits
                              first. count limits how many requests it hits (default: all).
                              The first matching rule wins. Answer {"id": N}
  clear_failures              removes every rule
  stats                       the forms that commit_stat.php accepted, oldest first
  add_volume comic=ID title=T [pages=jpg,png,...] [page_bytes=N] [href=H]
                              the demo comic gains a volume at the end of its list: its comic
                              page lists it, and its volume page, page list and images answer
                              (pages: image types of site.json, default jpg,png). page_bytes
                              makes every page image N bytes long (JPEG pages only, N of at
                              least 4 KB), as large as real pages. href=H links the
                              comic page's entry to H instead of the volume's page. Answer {"id"}
  reset                       all of the above, the demo site's sessions and its added volumes
"""
import argparse
import email.message
import gzip
import http.server
import json
import os
import re
import secrets
import signal
import socket
import sys
import threading
import time
import traceback
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import api  # noqa: E402
import demosite  # noqa: E402
from common import Reply, Request, json_reply  # noqa: E402

LOG_LIMIT = 20000


class State:
    def __init__(self, data_dir, control):
        self.data_dir = data_dir
        self.control = control
        self.lock = threading.Lock()
        self.catalog = self._load("catalog.json")
        self.search_list = self._load("search.json")
        self.site = self._load("site.json")
        self.service_root = self.site_root = ""
        self.log = []
        self.seq = 0
        self.rules = []
        self.rule_id = 0
        self.stats = []
        self.sessions = set()
        self._cache = {}
        self.log_file = None
        self.fault_file = sys.stderr

    def _load(self, name):
        with open(os.path.join(self.data_dir, name), encoding="utf-8") as f:
            return json.load(f)

    def fill(self, value):
        """The data's placeholders replaced by this run's addresses."""
        if isinstance(value, str):
            return value.replace("@SERVICE_ROOT@", self.service_root).replace("@SITE_ROOT@", self.site_root)
        if isinstance(value, list):
            return [self.fill(v) for v in value]
        if isinstance(value, dict):
            return {k: self.fill(v) for k, v in value.items()}
        return value

    def script_source(self, name):
        path = os.path.join(self.data_dir, "scripts", os.path.basename(name))
        try:
            with open(path, "rb") as f:
                return f.read().replace(b"@SITE_ROOT@", self.site_root.encode())
        except OSError:
            return None

    def cached(self, key, make):
        with self.lock:
            if key in self._cache:
                return self._cache[key]
        value = make()
        with self.lock:
            if len(self._cache) > 512:
                self._cache.clear()
            self._cache[key] = value
        return value

    def new_session(self):
        token = secrets.token_hex(8)
        with self.lock:
            self.sessions.add(token)
        return token

    def record_stat(self, form):
        with self.lock:
            self.stats.append(dict(form))

    def record(self, req):
        with self.lock:
            self.seq += 1
            entry = {"seq": self.seq, "server": req.server, "method": req.method, "target": req.target,
                     "path": req.path, "query": req.query, "headers": _header_dict(req.headers),
                     "form": req.form, "body_length": len(req.body), "status": None}
            self.log.append(entry)
            del self.log[:-LOG_LIMIT]
        return entry

    def take_rule(self, server, path):
        with self.lock:
            for rule in self.rules:
                if rule["server"] in ("", server) and _path_matches(rule["path"], path):
                    if rule["count"] is not None:
                        rule["count"] -= 1
                        if rule["count"] <= 0:
                            self.rules.remove(rule)
                    return rule
        return None


def _header_dict(headers):
    out = {}
    for name, value in headers.items():
        out[name] = out[name] + ", " + value if name in out else value
    return out


def _path_matches(pattern, path):
    return path.startswith(pattern[:-1]) if pattern.endswith("*") else path == pattern


def _wire(text):
    """A header value as raw bytes on the wire: UTF-8 passes through unchanged."""
    return text.encode("utf-8").decode("latin-1")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # The head and the body go out in two writes; with Nagle the body of a kept-alive connection
    # waits for the client's delayed ACK, some 40 ms an answer.
    disable_nagle_algorithm = True
    server_version = "VellixService/2"
    sys_version = ""

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):
        out = self.server.state.log_file
        if out:
            out.write("%s %s %s\n" % (time.strftime("%H:%M:%S"), self.server.kind, fmt % args))
            out.flush()

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length:
            return self.rfile.read(int(length))
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        return b""

    def make_request(self):
        body = self.read_body()
        url = urllib.parse.urlsplit(self.path)
        path = re.sub("/{2,}", "/", url.path) or "/"
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        form = {}
        if self.headers.get("Content-Type", "").split(";")[0].strip().lower() == "application/x-www-form-urlencoded":
            form = dict(urllib.parse.parse_qsl(body.decode("utf-8", "replace"), keep_blank_values=True))
        return Request(self.server.kind, self.command, self.path, path, query, self.headers, body, form), url

    def handle_any(self):
        state = self.server.state
        req, url = self.make_request()
        if state.control and req.server == "service" and req.path.startswith("/__control/"):
            self.send(control(state, req, url, self.rfile))
            return
        entry = state.record(req)
        rule = state.take_rule(req.server, req.path)
        if rule and rule["delay_ms"]:
            time.sleep(rule["delay_ms"] / 1000.0)
        if rule and rule["drop"]:
            self.close_connection = True
            return
        if rule and rule["status"] is not None:
            body = rule["body"] if rule["body"] is not None else "failure %d" % rule["status"]
            reply = Reply(rule["status"], body.encode("utf-8"), headers=rule["set_headers"])
        else:
            try:
                reply = (api.handle if req.server == "service" else demosite.handle)(state, req)
            except Exception:  # a fault of ours must still answer
                traceback.print_exc(file=state.fault_file)
                reply = Reply(500, b"internal error")
            if rule:
                apply_rule(rule, reply)
        with state.lock:
            entry["status"] = reply.status
        if rule and rule["truncate"] is not None:
            reply.truncate = rule["truncate"]
        self.send(reply)

    def send(self, reply):
        body = reply.body
        headers = [("Content-Type", reply.content_type)] + reply.headers
        if reply.compressible and "gzip" in self.headers.get("Accept-Encoding", "").lower():
            body = gzip.compress(body)
            headers.append(("Content-Encoding", "gzip"))
        self.send_response(reply.status)
        for name, value in headers:
            self.send_header(name, _wire(value))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        cut = getattr(reply, "truncate", None)
        if cut is not None:
            self.wfile.write(body[:cut])
            self.close_connection = True
        elif self.command != "HEAD":
            self.wfile.write(body)

    do_GET = do_POST = do_HEAD = handle_any


def apply_rule(rule, reply):
    if rule["body"] is not None:
        reply.body = rule["body"].encode("utf-8")
    if rule["append"]:
        reply.body += rule["append"].encode("utf-8")
    drop = {n.lower() for n in rule["del_headers"]} | {n.lower() for n, _ in rule["set_headers"]}
    reply.headers = [(n, v) for n, v in reply.headers if n.lower() not in drop]
    for name, value in rule["set_headers"]:
        if name.lower() == "content-type":
            reply.content_type = value
        else:
            reply.headers.append((name, value))


def _add_volume(state, comic_id, title, pages, page_bytes="", href=""):
    kinds = [k for k in pages.split(",") if k]
    if not title or not kinds or any(k not in state.site["types"] for k in kinds):
        return json_reply({"error": "title and known page types are required"}, 400)
    size = int(page_bytes) if page_bytes.isdigit() else -1 if page_bytes else 0
    if size and (size < 4096 or size > 64 << 20 or any(state.site["types"][k]["format"] != "jpeg" for k in kinds)):
        return json_reply({"error": "page_bytes needs JPEG pages and 4 KB to 64 MB"}, 400)
    with state.lock:
        # A new list rather than an append: a page being written keeps the list it started with.
        site = dict(state.site)
        site["comics"] = [dict(c) for c in site["comics"]]
        comic = next((c for c in site["comics"] if c["id"] == comic_id), None)
        if comic is None:
            return json_reply({"error": "no such comic"}, 404)
        taken = {v["id"] for v in comic["volumes"]}
        n = len(comic["volumes"]) + 1
        while "vol-%d" % n in taken:
            n += 1
        volume = {"id": "vol-%d" % n, "title": title, "pages": kinds}
        if size:
            volume["page_bytes"] = size
        if href:
            volume["href"] = href
        comic["volumes"] = comic["volumes"] + [volume]
        state.site = site
    return json_reply({"id": volume["id"]})


def control(state, req, url, rfile):
    params = urllib.parse.parse_qs(url.query, keep_blank_values=True)
    for name, values in urllib.parse.parse_qs(req.body.decode("utf-8", "replace"), keep_blank_values=True).items():
        params.setdefault(name, []).extend(values)
    one = lambda name, default=None: params.get(name, [default])[-1]
    command = req.path[len("/__control/"):]
    if command == "log":
        since = int(one("since", "0"))
        with state.lock:
            entries = [e for e in state.log if e["seq"] > since
                       and (not one("path") or _path_matches(one("path"), e["path"]))
                       and (not one("server") or e["server"] == one("server"))]
            return json_reply(entries)
    if command == "clear_log":
        with state.lock:
            state.log.clear()
        return json_reply({"ok": True})
    if command == "fail":
        if not one("path"):
            return json_reply({"error": "path is required"}, 400)
        try:
            rule = {"path": one("path"), "server": one("server", ""),
                    "status": int(one("status")) if one("status") else None,
                    "drop": one("drop") == "1", "delay_ms": int(one("delay_ms", "0") or 0),
                    "body": one("body"), "append": one("append", ""),
                    "set_headers": [tuple(h.split(":", 1)) for h in params.get("set_header", []) if ":" in h],
                    "del_headers": params.get("del_header", []),
                    "truncate": int(one("truncate")) if one("truncate") else None,
                    "count": int(one("count")) if one("count") else None}
            if rule["count"] is not None and rule["count"] < 1:
                raise ValueError("count must be 1 or more")
        except ValueError as e:
            return json_reply({"error": str(e)}, 400)
        with state.lock:
            state.rule_id += 1
            rule["id"] = state.rule_id
            state.rules.append(rule)
        return json_reply({"id": rule["id"]})
    if command == "clear_failures":
        with state.lock:
            state.rules.clear()
        return json_reply({"ok": True})
    if command == "stats":
        with state.lock:
            return json_reply(list(state.stats))
    if command == "add_volume":
        return _add_volume(state, one("comic", ""), one("title", ""), one("pages", "jpg,png"),
                           one("page_bytes", ""), one("href", ""))
    if command == "reset":
        site = state._load("site.json")
        with state.lock:
            state.log.clear()
            state.rules.clear()
            state.stats.clear()
            state.sessions.clear()
            state.site = site
        return json_reply({"ok": True})
    return json_reply({"error": "unknown control command"}, 404)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, port, kind, state):
        super().__init__(("127.0.0.1", port), Handler)
        self.kind = kind
        self.state = state


def watch_lifeline(sock, stop):
    sock.settimeout(60)
    try:
        conn, _ = sock.accept()
    except OSError:
        stop()
        return
    conn.settimeout(None)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass
    stop()


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=8160, help="service port (0: choose one)")
    p.add_argument("--site-port", type=int, default=8161, help="demo comic site port (0: choose one)")
    p.add_argument("--data", default=os.path.join(HERE, "data"), help="data folder")
    p.add_argument("--test-control", action="store_true", help="enable the /__control/ endpoints")
    p.add_argument("--port-file", help="write the ports to FILE and detach standard input and output")
    p.add_argument("--lifeline", action="store_true", help="stop when the lifeline connection closes")
    p.add_argument("--max-seconds", type=float, help="stop after this many seconds")
    p.add_argument("--log", help="append request lines to FILE instead of standard error")
    p.add_argument("--quiet", action="store_true", help="no request lines")
    a = p.parse_args(argv)

    state = State(a.data, a.test_control)
    out = open(a.log, "a", encoding="utf-8") if a.log else sys.stderr
    state.fault_file = out
    if not a.quiet:
        state.log_file = out
    service = Server(a.port, "service", state)
    site = Server(a.site_port, "site", state)
    state.service_root = "http://127.0.0.1:%d" % service.server_address[1]
    state.site_root = "http://127.0.0.1:%d" % site.server_address[1]

    stopping = threading.Event()

    def stop():
        if not stopping.is_set():
            stopping.set()

    ports = {"service": service.server_address[1], "site": site.server_address[1]}
    if a.lifeline:
        line = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        line.bind(("127.0.0.1", 0))
        line.listen(1)
        ports["lifeline"] = line.getsockname()[1]
        threading.Thread(target=watch_lifeline, args=(line, stop), daemon=True).start()
    for s in (service, site):
        threading.Thread(target=s.serve_forever, args=(0.1,), daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: stop())
    signal.signal(signal.SIGINT, lambda *_: stop())

    text = json.dumps(ports)
    if a.port_file:
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        tmp = a.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, a.port_file)
    else:
        print(text, flush=True)

    stopping.wait(a.max_seconds)
    for s in (service, site):
        s.shutdown()
        s.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
