#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Serves a folder on 127.0.0.1 the way web hosts differ: the first part of
the path names the charset of the Content-Type sent with HTML files
("/UTF-8/a.html", "/Shift_JIS/a.html"), "/none/a.html" sends none. Prints the
port on the first line of standard output, then serves until killed.

    page_server.py FOLDER
"""
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    charset = None

    def translate_path(self, path):
        parts = path.split("/", 2)
        rest = parts[2] if len(parts) > 2 else ""
        self.charset = None if parts[1] == "none" else parts[1]
        return super().translate_path("/" + rest)

    def guess_type(self, path):
        kind = super().guess_type(path)
        if kind == "text/html" and self.charset:
            return kind + "; charset=" + self.charset
        return kind

    def log_message(self, *args):
        pass


def main():
    handler = functools.partial(Handler, directory=sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
