#!/usr/bin/env python3
"""Local HTTP server of the WebBrowser test: logs every request and answers with a small page.

browser_server.py PORT_FILE LOG_FILE
Writes "<http port> <lifeline port>" to PORT_FILE once listening on 127.0.0.1. The test connects to
the lifeline port and keeps the connection open; the server exits when it closes (or after 300 s).
"""
import http.server
import os
import socket
import sys
import threading

PAGE = b"<html><head><title>Vellix test page</title></head><body><p>ok</p></body></html>"


def main():
    port_file, log_file = sys.argv[1], sys.argv[2]
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            with lock, open(log_file, "a", encoding="utf-8", newline="\n") as log:
                log.write(self.requestline + "\n")
                for name, value in self.headers.items():
                    log.write(f"{name}: {value}\n")
                log.write("\n")
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(PAGE)))
            self.end_headers()
            self.wfile.write(PAGE)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    lifeline = socket.socket()
    lifeline.bind(("127.0.0.1", 0))
    lifeline.listen(1)

    def watch():
        conn, _ = lifeline.accept()
        while conn.recv(256):
            pass
        server.shutdown()

    threading.Thread(target=watch, daemon=True).start()
    threading.Timer(300, lambda: os._exit(1)).start()
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(f"{server.server_address[1]} {lifeline.getsockname()[1]}\n")
    os.replace(tmp, port_file)
    server.serve_forever()
    os._exit(0)


if __name__ == "__main__":
    main()
