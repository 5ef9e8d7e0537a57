#!/usr/bin/python3
"""Serves the built page on 127.0.0.1 and prints its address.

usage: scripts/web-serve.py PAGE_DIR [PORT]"""
import functools
import http.server
import sys

folder = sys.argv[1]
port = int(sys.argv[2]) if len(sys.argv) > 2 else 8014


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}


httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port),
                                        functools.partial(Handler, directory=folder))
print("ZELP in the browser: http://127.0.0.1:%d/  (Ctrl-C stops)" % httpd.server_address[1],
      flush=True)
try:
    httpd.serve_forever()
except KeyboardInterrupt:
    pass
