"""The loopback update server and the hand-over file the end-to-end tests share.

Server serves "Torvel/<name>" from its files dictionary on 127.0.0.1 only and can misbehave
on purpose (Served); hand_over builds the binary "~Update.tmp" the lobby writes.
"""
import http.server
import socket
import struct
import threading
import time
import urllib.parse


class Served:
    """One file on the server and how the server misbehaves with it."""

    def __init__(self, body, fail=0, drop=0, no_length=False, trickle=0.0):
        self.body = body
        self.fail = fail          # answer 503 this many times first
        self.drop = drop          # this many times, close after half of the announced length
        self.no_length = no_length
        self.trickle = trickle    # seconds between 4 KiB pieces


class Server:
    def __init__(self):
        self.files = {}
        self.requests = []
        self.began = threading.Event()  # set when a file's body starts going out
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = urllib.parse.unquote(self.path).replace("\\", "/")
                name = path[len("/Torvel/"):] if path.startswith("/Torvel/") else None
                outer.requests.append(name)
                served = outer.files.get(name)
                if served is None:
                    return self.answer(404, b"missing")
                if served.fail > 0:
                    served.fail -= 1
                    return self.answer(503, b"busy")
                body = served.body
                if served.drop > 0:
                    served.drop -= 1
                    self.send_response(200)
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body[: len(body) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                    self.connection.shutdown(socket.SHUT_RDWR)
                    return
                self.send_response(200)
                outer.began.set()
                if served.no_length:
                    self.send_header("Connection", "close")
                    self.close_connection = True
                else:
                    self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    for at in range(0, len(body), 4096):
                        self.wfile.write(body[at:at + 4096])
                        if served.trickle:
                            self.wfile.flush()
                            time.sleep(served.trickle)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def answer(self, code, body):
                self.send_response(code)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    @property
    def base_url(self):
        return "http://127.0.0.1:%d/" % self.httpd.server_address[1]

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def hand_over(url, records, version1=0x00020001, version2=0x80000002, declared=None):
    count = len(records) if declared is None else declared
    out = struct.pack("<HHII260s", 0x1234, count, version1, version2, url.encode("gbk"))
    for name, size, date, time_ in records:
        out += struct.pack("<36sIII", name.encode("gbk"), size, date, time_)
    return out
