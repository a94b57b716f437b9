#!/usr/bin/env python3
"""Local HTTP peer for the tests: a threaded server on 127.0.0.1 with the endpoints below, a
forward proxy, a port that accepts and never answers, and a port that refuses.

Usage: testserver.py --port-file FILE [--no-lifeline] [--log FILE]

With --log, every answered request goes to FILE as a line with the client's address and port, the
request line and the status, followed by the request's header lines, each indented by two spaces;
errors go there as single lines.

Every port is chosen by the system; they are written as one JSON object to FILE (written whole,
then renamed into place): {"http", "proxy", "silent", "refused", "control"}. The server stops when
the connection to the control port closes (the test process holds it, so a crashed test cannot
leave the server behind), when nothing connects to it within 60 s, after --max-seconds, or on
GET /__quit. With --no-lifeline only /__quit, a signal or --max-seconds stop it.

Endpoints of the http port (any method; query parameters in brackets):
  /plain                       200, a short text
  /empty                       200, empty body
  /bytes/N [seed, ms]          N pseudo-random bytes, Content-Length; X-Body-MD5 is their MD5;
                               answered after ms milliseconds (default 0)
  /chunked/N [seed]            the same bytes, chunked transfer coding
  /encoded/N [coding, seed, corrupt, chunked]
                               compressible text of N bytes, compressed: coding gzip (any case)
                               gives a gzip stream, deflate a zlib stream; X-Body-MD5 is the MD5
                               of the decoded text, X-Raw-MD5 of the bytes sent; corrupt=1 damages
                               the stream after its header
  /redirect/CODE [to, cookie]  status CODE with Location: to (sent as given), optional Set-Cookie,
                               and the header X-Hop: redirect
  /chain/N                     302 to /chain/N-1 (relative); /chain/0 answers 200 "chain end"
  /loop                        302 to /loop, for ever
  /echo...                     200 text/plain: the request line, then each header line as
                               "Name: value" in arrival order, an empty line, then the body
  /headers [h=Name:value ...]  200 with each h parameter as one header line, in order
  /status/N                    status N with a short body
  /noreason                    "HTTP/1.1 200" without a reason phrase
  /slow [ms]                   answers 200 "slow" after ms milliseconds (default 1000)
  /gather/N [group, ms]        waits until N requests of the group are in flight at once (at most
                               ms, default 5000), then answers "together", or "alone" on time-out
  /hang                        reads the request and never answers
  /stall/N                     announces N bytes, sends half, then never sends the rest
  /short/N                     announces N bytes, sends half, then closes the connection
  /huge                        announces 3,000,000,000 bytes, sends 1000, then closes
  /__quit                      stops the server

The proxy port is a forward proxy for absolute-form requests ("GET http://host:port/path"): it
forwards to the target with the header "Via: 1.1 vellix-test-proxy" and adds
"X-Via-Test-Proxy: 1" to the response it relays. Host names ending in ".test" resolve to
127.0.0.1 there and nowhere else, so a request to such a host can only succeed through the proxy
(and shares no pooled connection with requests to 127.0.0.1: Wine pools connections by the
origin server, even when a proxy is set).
"""

import argparse
import gzip
import hashlib
import http.client
import http.server
import json
import os
import random
import select
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
import zlib

stopping = threading.Event()
_gather = {}  # group -> number of requests that arrived
_gather_cond = threading.Condition()
_cache = {}
_cache_lock = threading.Lock()


def random_bytes(n, seed):
    key = ("bytes", n, seed)
    with _cache_lock:
        data = _cache.get(key)
    if data is None:
        data = random.Random(seed).randbytes(n)
        with _cache_lock:
            if len(_cache) > 64:
                _cache.clear()
            _cache[key] = data
    return data


def text_bytes(n, seed):
    words = [b"alpha", b"bravo", b"charlie", b"delta", b"echo", b"foxtrot", b"golf", b"hotel"]
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        out += rnd.choice(words) + b" "
    return bytes(out[:n])


def gather(group, n, ms):
    """True when n requests of the group were in flight together within ms milliseconds."""
    deadline = time.monotonic() + ms / 1000.0
    with _gather_cond:
        _gather[group] = _gather.get(group, 0) + 1
        _gather_cond.notify_all()
        while _gather[group] < n and not stopping.is_set():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            _gather_cond.wait(min(left, 0.2))
        return _gather[group] >= n


def md5(data):
    return hashlib.md5(data).hexdigest()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VellixTest/1"
    sys_version = ""

    def log_message(self, fmt, *args):
        self.write_log("%s:%d %s\n" % (self.client_address[0], self.client_address[1], fmt % args))

    def log_request(self, code="-", size="-"):
        if not self.server.log:
            return
        line = '%s:%d "%s" %s\n' % (self.client_address[0], self.client_address[1], self.requestline,
                                    getattr(code, "value", code))
        self.write_log(line + "".join("  %s: %s\n" % (k, v) for k, v in self.headers.raw_items()))

    def write_log(self, text):
        if self.server.log:
            with self.server.log_lock:
                self.server.log.write(text)
                self.server.log.flush()

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

    def reply(self, code, body=b"", headers=(), content_type="text/plain"):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_chunked(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for i in range(0, len(body), 8192):
            part = body[i:i + 8192]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
        self.wfile.write(b"0\r\n\r\n")

    def wait_forever(self):
        # Until the client gives up or the server stops.
        self.wfile.flush()
        sock = self.connection
        deadline = time.time() + 300
        while not stopping.is_set() and time.time() < deadline:
            readable, _, _ = select.select([sock], [], [], 0.2)
            if readable:
                try:
                    if not sock.recv(65536, socket.MSG_PEEK):
                        break
                    sock.recv(65536)
                except OSError:
                    break
        self.close_connection = True

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        arg = lambda name, default="": query.get(name, [default])[0]
        parts = url.path.strip("/").split("/")
        head, tail = parts[0], parts[1:]
        number = lambda default=0: int(tail[0]) if tail and tail[0].isdigit() else default
        body = self.read_body()

        if head == "plain":
            self.reply(200, b"hello from the test server\n")
        elif head == "empty":
            self.reply(200)
        elif head in ("bytes", "chunked"):
            if arg("ms"):
                stopping.wait(int(arg("ms")) / 1000.0)
            data = random_bytes(number(), int(arg("seed", "1")))
            headers = [("X-Body-MD5", md5(data))]
            if head == "bytes":
                self.reply(200, data, headers, "application/octet-stream")
            else:
                self.send_chunked(200, data, headers)
        elif head == "encoded":
            coding = arg("coding", "gzip")
            plain = text_bytes(number(1000), int(arg("seed", "1")))
            packed = gzip.compress(plain) if coding.lower() == "gzip" else zlib.compress(plain)
            if arg("corrupt") == "1":
                packed = packed[:12] + bytes(b ^ 0x5A for b in packed[12:40]) + packed[40:]
            headers = [("Content-Encoding", coding), ("X-Body-MD5", md5(plain)), ("X-Raw-MD5", md5(packed))]
            if arg("chunked") == "1":
                self.send_chunked(200, packed, headers)
            else:
                self.reply(200, packed, headers)
        elif head == "redirect":
            headers = [("Location", arg("to", "/plain")), ("X-Hop", "redirect")]
            if arg("cookie"):
                headers.append(("Set-Cookie", arg("cookie")))
            self.reply(number(302), b"redirect body", headers)
        elif head == "chain":
            n = number()
            if n == 0:
                self.reply(200, b"chain end")
            else:
                self.reply(302, b"", [("Location", "/chain/%d" % (n - 1))])
        elif head == "loop":
            self.reply(302, b"", [("Location", "/loop")])
        elif head == "echo":
            lines = [self.requestline] + ["%s: %s" % (k, v) for k, v in self.headers.raw_items()]
            self.reply(200, ("\n".join(lines) + "\n\n").encode("utf-8", "surrogateescape") + body)
        elif head == "headers":
            headers = [h.split(":", 1) for h in query.get("h", []) if ":" in h]
            self.reply(200, b"headers", headers)
        elif head == "status":
            self.reply(number(200), b"status %d" % number(200))
        elif head == "noreason":
            self.wfile.write(b"HTTP/1.1 200\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok")
        elif head == "slow":
            stopping.wait(int(arg("ms", "1000")) / 1000.0)
            self.reply(200, b"slow")
        elif head == "gather":
            self.reply(200, b"together" if gather(arg("group"), number(1), int(arg("ms", "5000"))) else b"alone")
        elif head == "hang":
            self.wait_forever()
        elif head in ("stall", "short"):
            n = number(1000)
            data = random_bytes(n, 7)
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write(data[:n // 2])
            if head == "stall":
                self.wait_forever()
            self.close_connection = True
        elif head == "huge":
            self.send_response(200)
            self.send_header("Content-Length", "3000000000")
            self.end_headers()
            self.wfile.write(random_bytes(1000, 7))
            self.close_connection = True
        elif head == "__quit":
            self.reply(200, b"bye")
            threading.Thread(target=self.server.stop_all, daemon=True).start()
        else:
            self.reply(404, b"no such endpoint")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


class ProxyHandler(Handler):
    HOP = {"connection", "proxy-connection", "keep-alive", "transfer-encoding", "te", "upgrade", "trailer"}

    def handle_any(self):
        target = urllib.parse.urlsplit(self.path)
        if target.scheme != "http" or not target.hostname:
            self.reply(400, b"absolute http address expected")
            return
        body = self.read_body()
        headers = {k: v for k, v in self.headers.items() if k.lower() not in self.HOP}
        headers["Via"] = "1.1 vellix-test-proxy"
        path = target.path or "/"
        if target.query:
            path += "?" + target.query
        try:
            host = "127.0.0.1" if target.hostname.endswith(".test") else target.hostname
            conn = http.client.HTTPConnection(host, target.port or 80, timeout=30)
            conn.request(self.command, path, body=body or None, headers=headers)
            answer = conn.getresponse()
            data = answer.read()
            relayed = [(k, v) for k, v in answer.getheaders()
                       if k.lower() not in self.HOP and k.lower() not in ("content-length", "content-type")]
            relayed.append(("X-Via-Test-Proxy", "1"))
            self.reply(answer.status, data, relayed, answer.getheader("Content-Type", "text/plain"))
            conn.close()
        except OSError as e:
            self.reply(502, ("proxy: %s" % e).encode())

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def get_request(self):
        # Headers and body leave in separate writes: with Nagle's algorithm a kept-alive connection
        # then waits for the peer's delayed acknowledgement (40 ms) on every answer.
        conn, addr = super().get_request()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return conn, addr


def serve_silent(sock):
    held = []
    sock.settimeout(0.2)
    while not stopping.is_set():
        try:
            conn, _ = sock.accept()
            held.append(conn)
        except socket.timeout:
            pass
        except OSError:
            break
    for conn in held:
        conn.close()


def watch_lifeline(sock, stop_all):
    sock.settimeout(60)
    try:
        conn, _ = sock.accept()
    except OSError:
        stop_all()
        return
    conn.settimeout(None)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass
    stop_all()


def listener(backlog=128):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    if backlog:
        s.listen(backlog)
    return s


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--no-lifeline", action="store_true")
    parser.add_argument("--log")
    parser.add_argument("--max-seconds", type=float, default=1800)
    args = parser.parse_args()

    # Started from a Wine process, the inherited descriptors may be a test runner's pipe.
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    log = open(args.log, "a", encoding="utf-8", errors="backslashreplace") if args.log else None

    http_server = Server(("127.0.0.1", 0), Handler)
    proxy_server = Server(("127.0.0.1", 0), ProxyHandler)
    http_server.log = proxy_server.log = log
    http_server.log_lock = proxy_server.log_lock = threading.Lock()
    silent = listener()
    refused = listener(backlog=0)  # bound, never listening: connections are refused
    control = listener(backlog=1)

    def stop_all():
        if stopping.is_set():
            return
        stopping.set()
        for s in (http_server, proxy_server):
            threading.Thread(target=s.shutdown, daemon=True).start()

    http_server.stop_all = proxy_server.stop_all = stop_all
    signal.signal(signal.SIGTERM, lambda *_: stop_all())
    signal.signal(signal.SIGINT, lambda *_: stop_all())

    for target, arg in ((http_server.serve_forever, (0.1,)), (proxy_server.serve_forever, (0.1,)),
                        (serve_silent, (silent,))):
        threading.Thread(target=target, args=arg, daemon=True).start()
    if not args.no_lifeline:
        threading.Thread(target=watch_lifeline, args=(control, stop_all), daemon=True).start()

    ports = {"http": http_server.server_address[1], "proxy": proxy_server.server_address[1],
             "silent": silent.getsockname()[1], "refused": refused.getsockname()[1],
             "control": control.getsockname()[1]}
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        json.dump(ports, f)
    os.replace(tmp, args.port_file)

    stopping.wait(args.max_seconds)
    stop_all()
    time.sleep(0.3)
    os._exit(0)


if __name__ == "__main__":
    main()
