"""The loopback update server of the tests, the benchmark and the demo, and the hand-over
file the lobby writes.

Server serves "Torvel/<name>" (the updater's "Torvel\\" arrives as "Torvel/" or "Torvel%5C")
on 127.0.0.1 only, from its files dictionary or a resolve function, at full speed or slowed,
and can misbehave on purpose (Served); hand_over builds the binary "~Update.tmp" and make_zip
an archive in memory.
"""
import gzip
import http.server
import io
import socket
import struct
import threading
import time
import urllib.parse
import zipfile

# How a request can go wrong, one per request, before the file is served whole.
FAULTS = (
    "503-empty",      # 503 with Content-Length: 0
    "500-body",       # 500 with an error page
    "404-empty",      # 404 with Content-Length: 0
    "hangup",         # the connection closes before any answer
    "redirect-fail",  # 302 to a URL that answers 500 with no body
    "cut",            # half of the announced length, then the connection closes
    "stall",          # half of the body, then nothing while the connection stays open
)


class Served:
    """One file on the server, how it is sent and how the first requests fail.

    mode: "length" (Content-Length), "close" (no length, ended by the close), "chunked" or
    "gzip" (compressed, with the compressed length). faults: a list from FAULTS, consumed one
    per request. fail/drop are shorthands for that many "503-empty"/"cut" faults."""

    def __init__(self, body, mode="length", faults=(), fail=0, drop=0, no_length=False,
                 trickle=0.0, rate=0, stall_s=60.0):
        self.body = body
        self.mode = "close" if no_length else mode
        self.faults = list(faults) + ["503-body"] * fail + ["cut"] * drop
        self.stall_s = stall_s
        # How the body goes out: pieces and the pause after each.
        if rate:
            self.piece = max(1024, rate // 20)
            self.pause = self.piece / rate
        else:
            self.piece = 4096 if trickle else 1 << 20
            self.pause = trickle


class Server:
    """files: name -> Served; resolve(name) -> Served or None is asked for other names."""

    def __init__(self, files=None, resolve=None, log=None):
        self.files = files if files is not None else {}
        self.resolve = resolve
        self.requests = []
        self.began = threading.Event()  # set when a file's body starts going out
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, fmt, *values):
                if log:
                    log.write("serve: " + fmt % values + "\n")

            def do_GET(self):
                path = urllib.parse.unquote(self.path).replace("\\", "/")
                if path.startswith("/failing/"):
                    return self.answer(500, b"")
                name = path[len("/Torvel/"):] if path.startswith("/Torvel/") else None
                outer.requests.append(name)
                served = outer.files.get(name)
                if served is None and outer.resolve is not None and name is not None:
                    served = outer.resolve(name)
                if served is None:
                    return self.answer(404, b"missing")
                fault = served.faults.pop(0) if served.faults else None
                try:
                    self.serve(name, served, fault)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def serve(self, name, served, fault):
                if fault == "hangup":
                    return self.hang_up()
                if fault == "redirect-fail":
                    self.send_response(302)
                    self.send_header("Location", "/failing/" + urllib.parse.quote(name))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if fault in ("503-empty", "404-empty", "500-body", "503-body"):
                    code = int(fault[:3])
                    return self.answer(code, b"" if fault.endswith("empty") else b"busy page")
                body = served.body
                if served.mode == "gzip":
                    body = gzip.compress(body)
                self.send_response(200)
                outer.began.set()
                if served.mode == "gzip":
                    self.send_header("Content-Encoding", "gzip")
                if served.mode in ("length", "gzip"):
                    self.send_header("Content-Length", str(len(body)))
                elif served.mode == "chunked":
                    self.send_header("Transfer-Encoding", "chunked")
                else:
                    self.send_header("Connection", "close")
                    self.close_connection = True
                self.end_headers()
                end = len(body) // 2 if fault in ("cut", "stall") else len(body)
                view = memoryview(body)
                for at in range(0, end, served.piece):
                    self.send_piece(served, view[at:min(at + served.piece, end)])
                    if served.pause:
                        self.wfile.flush()
                        time.sleep(served.pause)
                if fault == "stall":
                    self.wfile.flush()
                    time.sleep(served.stall_s)
                    return self.hang_up()
                if fault == "cut":
                    return self.hang_up()
                if served.mode == "chunked":
                    self.wfile.write(b"0\r\n\r\n")

            def send_piece(self, served, piece):
                if served.mode == "chunked":
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), bytes(piece)))
                else:
                    self.wfile.write(piece)

            def hang_up(self):
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)

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
    def port(self):
        return self.httpd.server_address[1]

    @property
    def base_url(self):
        return "http://127.0.0.1:%d/" % self.port

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def hand_over(url, records, version1=0x00020001, version2=0x80000002, declared=None):
    count = len(records) if declared is None else declared
    out = struct.pack("<HHII260s", 0x1234, count, version1, version2, url.encode("gbk"))
    for name, size, date, time_ in records:
        out += struct.pack("<36sIII", name.encode("gbk"), size, date, time_)
    return out


def make_zip(entries):
    """entries: (name, bytes or None for a folder entry)."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2021, 6, 1, 12, 0, 0))
            if data is None:
                info.external_attr = 0x10
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
    return buf.getvalue()


def damaged_zip(prefix, damage):
    """Three deflated entries named prefix + "-bad.txt", "-ok.txt", "-normal.txt", the first
    damaged: "crc" (a flipped CRC-32), "inflate" (data that does not inflate), "method"
    (method 12) or "encrypted" (the encryption flag), in both headers where a field is."""
    data = bytearray(make_zip([(prefix + "-bad.txt", b"bad " * 100), (prefix + "-ok.txt", b"new ok"),
                               (prefix + "-normal.txt", b"new normal")]))
    for header, flags, method, crc in ((0, 6, 8, 14), (data.find(b"PK\x01\x02"), 8, 10, 16)):
        if damage == "crc":
            data[header + crc] ^= 0xFF
        elif damage == "method":
            data[header + method:header + method + 2] = (12).to_bytes(2, "little")
        elif damage == "encrypted":
            data[header + flags] |= 1
    if damage == "inflate":
        start = 30 + int.from_bytes(data[26:28], "little") + int.from_bytes(data[28:30], "little")
        data[start] = 0xFF  # a deflate block of the reserved type
    return bytes(data)
