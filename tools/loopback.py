"""The loopback update server of the tests, the benchmark and the demo, and the hand-over
file the lobby writes.

Server serves "Torvel/<name>" (the updater's "Torvel\\" arrives as "Torvel/" or "Torvel%5C")
on 127.0.0.1 only, from its files dictionary or a resolve function, at full speed or slowed,
as a static file server does (a strong ETag, Last-Modified, byte ranges with If-Range), and
can misbehave on purpose (Served); or it relays every request to another server, cutting its
answers short. It can stand for a player's line: every answer's first byte comes a round
trip late, and all connections share one rate. hand_over builds the binary "~Update.tmp",
make_zip an archive in memory, zip64_zip one with zip64 records and sparse_stored_zip a
large one on disk. Nginx runs the distribution's nginx on a free loopback port, a real
server whose access log counts what it sent.
"""
import gzip
import hashlib
import http.client
import http.server
import io
import os
import re
import socket
import struct
import subprocess
import tempfile
import threading
import time
import urllib.parse
import zipfile
import zlib

# How a request can go wrong, one per request, before the file is served whole.
FAULTS = (
    "503-empty",      # 503 with Content-Length: 0
    "500-body",       # 500 with an error page
    "404-empty",      # 404 with Content-Length: 0
    "hangup",         # the connection closes before any answer
    "redirect-fail",  # 302 to a URL that answers 500 with no body
    "cut",            # half of the announced length, then the connection closes
    "stall",          # half of the body, then nothing while the connection stays open
    "range-elsewhere",  # a request for the rest is answered from byte 0, and says so
    "range-total",      # a request for the rest is answered with another total
    None,             # no fault for this request
)


class Served:
    """One file on the server, how it is sent and how the first requests fail.

    mode: "length" (Content-Length), "close" (no length, ended by the close), "chunked" or
    "gzip" (compressed, with the compressed length). faults: a list from FAULTS, consumed one
    per request. fail/drop are shorthands for that many "503-empty"/"cut" faults. ranges:
    answer "Range: bytes=N-" with a 206, or a 416 when N is past the end, unless If-Range
    names another version (by its ETag or its Last-Modified); without, every answer is a 200.
    any_range: with ranges, "bytes=A-B" and the last N bytes, "bytes=-N", too, as fetching
    an archive by entries asks them (without, they get the whole file, so that a run fetches
    archives whole). drop_every: every answer's connection closes after that many bytes of
    body. replace: (after, body) makes body the file from the after-th request on."""

    def __init__(self, body, mode="length", faults=(), fail=0, drop=0, no_length=False,
                 trickle=0.0, rate=0, stall_s=60.0, ranges=True, drop_every=0, replace=None,
                 any_range=False):
        self.body = body
        self.ranges = ranges
        self.any_range = any_range
        self.drop_every = drop_every
        self.replace = replace
        self.served = 0
        self.mode = "close" if no_length else mode
        self.faults = list(faults) + ["503-body"] * fail + ["cut"] * drop
        self.stall_s = stall_s
        self.tagged = None  # the body the ETag in tag was computed for
        self.tag = None
        # How the body goes out: pieces and the pause after each.
        if rate:
            self.piece = max(1024, rate // 20)
            self.pause = self.piece / rate
        else:
            self.piece = 4096 if trickle else 1 << 20
            self.pause = trickle


class Line:
    """A link all connections share, at rate bytes a second: each portion of an answer takes
    the next free slot of the link's time and goes out at its end, so that connections in
    parallel share the rate as downloads over one player's line do."""

    def __init__(self, rate):
        self.rate = rate
        self.portion = max(1024, rate // 50)
        self.free_at = 0.0
        self.lock = threading.Lock()

    def send(self, wfile, data):
        view = memoryview(data)
        for at in range(0, len(view), self.portion):
            part = view[at:at + self.portion]
            with self.lock:
                self.free_at = max(self.free_at, time.monotonic()) + len(part) / self.rate
                due = self.free_at
            time.sleep(max(0.0, due - time.monotonic()))
            wfile.write(part)


class Listener(http.server.ThreadingHTTPServer):
    # Downloads in parallel connect at once: with the default backlog of 5 the kernel drops
    # the rest, and each of them waits a second for its connection to be tried again.
    request_queue_size = 64


class Server:
    """files: name -> Served; resolve(name) -> Served or None is asked for other names.
    round_trip: seconds before each answer's first byte; line_rate: bytes a second that all
    answers' bodies share (0: no cap)."""

    def __init__(self, files=None, resolve=None, log=None, upstream=None, drop_every=0,
                 round_trip=0.0, line_rate=0):
        self.files = files if files is not None else {}
        self.round_trip = round_trip
        self.line = Line(line_rate) if line_rate else None
        self.resolve = resolve
        self.requests = []
        self.ranges = []  # (name, Range header or None, status, body bytes sent) per answer
        self.upstream = upstream  # relay to this (host, port), cutting every drop_every bytes
        self.drop_every = drop_every
        self.began = threading.Event()  # set when a file's body starts going out
        self.connections = 0  # accepted so far: fewer than the requests when kept alive
        counting = threading.Lock()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"
            # As nginx does on kept-alive connections: without it a small answer's body
            # waits for the client's delayed acknowledgement of its headers (40 ms here).
            disable_nagle_algorithm = True

            def setup(self):
                super().setup()
                with counting:
                    outer.connections += 1

            def log_message(self, fmt, *values):
                if log:
                    log.write("serve: " + fmt % values + "\n")

            def do_GET(self):
                if outer.round_trip:
                    time.sleep(outer.round_trip)
                path = urllib.parse.unquote(self.path).replace("\\", "/")
                if path.startswith("/failing/"):
                    return self.answer(500, b"")
                name = path[len("/Torvel/"):] if path.startswith("/Torvel/") else None
                outer.requests.append(name)
                if outer.upstream is not None:
                    try:
                        return self.relay(name, path)
                    except (BrokenPipeError, ConnectionResetError):
                        return None
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
                served.served += 1
                if served.replace and served.served > served.replace[0]:
                    served.body = served.replace[1]
                whole = gzip.compress(served.body) if served.mode == "gzip" else served.body
                if served.tagged is not whole:  # a large file's hash would delay every answer
                    served.tag = '"%s"' % hashlib.sha1(whole).hexdigest()[:16]
                    served.tagged = whole
                tag = served.tag
                # A date of its own for each version, as a file's modification time would be.
                modified = self.date_time_string(1600000000 + int(tag[1:7], 16))
                part = self.part_asked(served, tag, modified, len(whole))
                if part is False:
                    outer.ranges.append((name, self.headers.get("Range"), 416, 0))
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % len(whole))
                    self.send_header("Content-Length", "0")
                    return self.end_headers()
                first = None if part is None else part[0]
                body = whole if part is None else whole[part[0]:part[1] + 1]
                self.send_response(200 if first is None else 206)
                outer.began.set()
                self.send_header("ETag", tag)
                self.send_header("Last-Modified", modified)
                if served.ranges:
                    self.send_header("Accept-Ranges", "bytes")
                if first is not None:
                    shown, total = first, len(whole)
                    if fault == "range-elsewhere":
                        shown = 0
                    elif fault == "range-total":
                        total += 1000
                    self.send_header("Content-Range", "bytes %d-%d/%d" %
                                     (shown, shown + len(body) - 1, total))
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
                if served.drop_every:
                    end = min(end, served.drop_every)
                outer.ranges.append((name, self.headers.get("Range"), 200 if first is None else 206,
                                     end))
                self.send_body(served, memoryview(body)[:end])
                if fault == "stall":
                    self.wfile.flush()
                    time.sleep(served.stall_s)
                    return self.hang_up()
                if end < len(body):
                    return self.hang_up()
                if served.mode == "chunked":
                    self.write(b"0\r\n\r\n")

            def part_asked(self, served, tag, modified, length):
                """What the answer carries: None for the whole file (no range it answers
                asked, or If-Range naming another version), else the first and last byte
                asked for, or False for a range that starts past the end or asks for none
                of the last bytes (a 416)."""
                asked = self.headers.get("Range", "")
                if not served.ranges:
                    return None
                if self.headers.get("If-Range") not in (None, tag, modified):
                    return None
                match = re.fullmatch(r"bytes=(\d*)-(\d*)", asked.strip())
                first, last = match.groups() if match else ("", "")
                # Without any_range, "bytes=N-" is the one form answered.
                if not (first or last) or (not served.any_range and (not first or last)):
                    return None
                if not first:  # the last bytes
                    count = min(int(last), length)
                    return (length - count, length - 1) if count else False
                if last and int(last) < int(first):  # no range at all: the whole file
                    return None
                first, last = int(first), int(last) if last else length - 1
                if first >= length:
                    return False
                return first, min(last, length - 1)

            def send_body(self, served, view):
                for at in range(0, len(view), served.piece):
                    self.send_piece(served, view[at:at + served.piece])
                    if served.pause:
                        self.wfile.flush()
                        time.sleep(served.pause)

            def relay(self, name, path):
                """Passes the request on upstream with its range, and the answer back, cut
                after drop_every bytes of body."""
                host, port = outer.upstream
                connection = http.client.HTTPConnection(host, port, timeout=30)
                asked = {k: self.headers[k] for k in ("Range", "If-Range") if self.headers.get(k)}
                connection.request("GET", path, headers=asked)
                upstream = connection.getresponse()
                # The body is relayed whole-read, so it goes out with its length rather than
                # in the upstream's chunks.
                body = upstream.read()
                connection.close()
                self.send_response(upstream.status)
                for key, value in upstream.getheaders():
                    if key.lower() not in ("connection", "keep-alive", "server", "date",
                                           "transfer-encoding", "content-length"):
                        self.send_header(key, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                end = min(len(body), outer.drop_every or len(body))
                outer.ranges.append((name, self.headers.get("Range"), upstream.status, end))
                self.write(body[:end])
                if end < len(body):
                    self.hang_up()

            def send_piece(self, served, piece):
                if served.mode == "chunked":
                    self.write(b"%x\r\n%s\r\n" % (len(piece), bytes(piece)))
                else:
                    self.write(piece)

            def write(self, data):
                if outer.line is None:
                    self.wfile.write(data)
                else:
                    outer.line.send(self.wfile, data)

            def hang_up(self):
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)

            def answer(self, code, body):
                self.send_response(code)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.write(body)

        self.httpd = Listener(("127.0.0.1", 0), Handler)
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


def zip64_zip(entries):
    """An archive as packers write one for streamed entries: zip64 extra fields, data
    descriptors and zip64 end records."""
    class Stream(io.BytesIO):
        def seekable(self):
            return False

        def seek(self, *args):
            raise io.UnsupportedOperation

    buf, limit = Stream(), zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP_FILECOUNT_LIMIT = 0  # the end records are zip64 whatever the count
    try:
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                with z.open(zipfile.ZipInfo(name, (2021, 6, 1, 12, 0, 0)), "w",
                            force_zip64=True) as f:
                    f.write(data)
    finally:
        zipfile.ZIP_FILECOUNT_LIMIT = limit
    return buf.getvalue()


def sparse_stored_zip(path, entries):
    """Writes a stored archive of (name, size) entries of zeros to path, the zeros as holes,
    with classic records: offsets past 2 GiB need no zip64 while under 4 GiB."""
    crc = {}
    for name, size in entries:
        if size not in crc:
            value, chunk, left = 0, bytes(1 << 24), size
            while left:
                value = zlib.crc32(chunk[:min(left, len(chunk))], value)
                left -= min(left, len(chunk))
            crc[size] = value
    central, at = b"", 0
    with open(path, "wb") as f:
        for name, size in entries:
            fields = struct.pack("<HHHHHIII", 10, 0, 0, 0, 0x5421, crc[size], size, size)
            f.write(struct.pack("<I", 0x04034b50) + fields + struct.pack("<HH", len(name), 0) +
                    name.encode())
            central += (struct.pack("<IH", 0x02014b50, 20) + fields +
                        struct.pack("<HHHHHII", len(name), 0, 0, 0, 0, 0, at) + name.encode())
            at = f.seek(size, os.SEEK_CUR)
        f.write(central + struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, len(entries), len(entries),
                                      len(central), at, 0))
        return f.tell()


class Nginx:
    """nginx from the distribution on a free loopback port, serving root with keep-alive and
    its default ETags and ranges (none with ranges=False), every answer compressed but
    /Torvel/big.bin (none with gzip=False), and /Torvel/moved.txt redirected to
    /real/moved.txt. Its access log has a line per answer: request, status, encoding, body
    bytes sent and the range asked."""

    def __init__(self, root, folder, ranges=True, gzip=True):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.prefix = tempfile.mkdtemp(prefix="nginx-", dir=folder)
        conf = os.path.join(self.prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""
daemon off; master_process off; worker_processes 1;
pid %(p)s/nginx.pid; error_log %(p)s/error.log;
events { worker_connections 64; }
http {
  log_format encoded '$request $status $sent_http_content_encoding $body_bytes_sent "$http_range"';
  %(ranges)s
  access_log %(p)s/access.log encoded;
  client_body_temp_path %(p)s/body; proxy_temp_path %(p)s/proxy;
  fastcgi_temp_path %(p)s/fcgi; uwsgi_temp_path %(p)s/uwsgi; scgi_temp_path %(p)s/scgi;
  default_type application/octet-stream;
  keepalive_timeout 60;
  gzip %(gzip)s; gzip_types *; gzip_min_length 1; gzip_http_version 1.0;
  server {
    listen 127.0.0.1:%(port)d;
    root %(root)s;
    location = /Torvel/moved.txt { return 301 /real/moved.txt; }
    location = /Torvel/big.bin { gzip off; }
  }
}
""" % {"p": self.prefix, "port": port, "root": root, "ranges": "" if ranges else "max_ranges 0;",
       "gzip": "on" if gzip else "off"})
        self.proc = subprocess.Popen(["nginx", "-p", self.prefix, "-c", conf],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.port = port
        self.base_url = "http://127.0.0.1:%d/" % port
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)

    def access_log(self):
        with open(os.path.join(self.prefix, "access.log")) as f:
            return f.read()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
