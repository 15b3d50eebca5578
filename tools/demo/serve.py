#!/usr/bin/env python3
"""A slowed-down update server for the demo: serves FOLDER/NAME for GET /Torvel/NAME (the
updater's "Torvel\\" arrives as "Torvel/" or "Torvel%5C") at RATE bytes per second, with a
Content-Length, on 127.0.0.1 at a free port. Prints the base URL on its first line, then
serves until it is killed."""
import argparse
import http.server
import os
import sys
import time
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--rate", type=int, default=1 << 20, help="bytes per second")
    args = parser.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *values):
            sys.stderr.write("serve: " + fmt % values + "\n")

        def do_GET(self):
            path = urllib.parse.unquote(self.path).replace("\\", "/")
            if not path.startswith("/Torvel/"):
                return self.send_error(404)
            name = path[len("/Torvel/"):]
            file = os.path.join(args.folder, *name.split("/"))
            if ".." in name.split("/") or not os.path.isfile(file):
                return self.send_error(404)
            with open(file, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            piece = max(1024, args.rate // 20)
            try:
                for at in range(0, len(body), piece):
                    self.wfile.write(body[at:at + piece])
                    self.wfile.flush()
                    time.sleep(piece / args.rate)
            except (BrokenPipeError, ConnectionResetError):
                pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
