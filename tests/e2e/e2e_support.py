"""What the end-to-end runs of the real Update.exe under Wine share.

Each case lays out a temporary installation folder (Update.exe, a stand-in lobby, the
hand-over file "~Update.tmp"), serves the listed files from a loopback HTTP server that can
misbehave on purpose, runs the updater there as the lobby would, and looks at what it left:
files, "UpdateClient.txt", the registry values and whether the lobby was started.
"""
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from loopback import (Nginx, Served, Server, damaged_zip, hand_over, make_zip,  # noqa: E402
                      sparse_stored_zip, zip64_zip)

ARGS = None
VERSION_KEY = r"HKCU\Software\Kestro\Halvora\FileVersion"
FILETIME_2020 = 132223104000000000  # 2020-01-01 00:00:00 UTC
COMPLETED = {"FileVersion1": 0x00020001, "FileVersion2": 0x80000002}
OLD = b"old good copy"


def wine(*args, gui=False, **kw):
    return subprocess.run([ARGS.wine_run, "--gui" if gui else "--console", *args],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, **kw)


def registry_versions():
    out = wine("reg", "query", VERSION_KEY).stdout.decode("latin-1")
    values = dict(re.findall(r"(FileVersion[12]|ReleaseSerial)\s+REG_DWORD\s+0x([0-9a-fA-F]+)", out))
    return {k: int(v, 16) for k, v in values.items()}


class Installation(unittest.TestCase):
    """A temporary installation folder, a loopback server, and the registry cleared."""

    def setUp(self):
        self.server = Server()
        self.folder = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        shutil.copy(ARGS.update, os.path.join(self.folder, "Update.exe"))
        shutil.copy(ARGS.lobby, os.path.join(self.folder, "Quillon.exe"))
        wine("reg", "delete", VERSION_KEY, "/f")

    def tearDown(self):
        self.server.stop()
        # A key a signed run pinned would hold every later run in this prefix to it.
        wine("reg", "delete", VERSION_KEY, "/f")

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def write(self, name, data):
        with open(self.path(name), "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)

    def remove(self, *names):
        for name in names:
            if os.path.exists(self.path(name)):
                os.remove(self.path(name))

    def leftovers(self):
        return [n for n in os.listdir(self.folder) if n.startswith("~zp")]

    def hold(self, name):
        """Holds name open without sharing until name + ".release" appears."""
        holder = subprocess.Popen([ARGS.wine_run, "--console", ARGS.hold_open, self.path(name),
                                   "120"], cwd=self.folder, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL)
        self.wait_for(lambda: os.path.exists(self.path(name + ".held")), 60)
        return holder

    def write_hand_over(self, records, url=None, **kw):
        self.write("~Update.tmp", hand_over(url or self.server.base_url, records, **kw))

    def run_update(self, timeout=120):
        started = time.monotonic()
        wine(self.path("Update.exe"), gui=True, cwd=self.folder, timeout=timeout)
        return time.monotonic() - started

    def lobby_starts(self):
        if not os.path.exists(self.path("lobby-started.txt")):
            return []
        with open(self.path("lobby-started.txt")) as f:
            return [os.path.basename(line.strip().replace("\\", "/")) for line in f if line.strip()]

    def assert_run_not_completed(self):
        self.assertNotIn("FileVersion1", registry_versions())
        self.assertEqual([], self.lobby_starts())

    @contextlib.contextmanager
    def running(self, cwd=None):
        """Update.exe started as the lobby starts it (from cwd, by default its own folder);
        killed if still running at the end."""
        proc = subprocess.Popen([ARGS.wine_run, "--gui", self.path("Update.exe")],
                                cwd=cwd or self.folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            yield proc
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()

    def guard(self, name, new):
        """Gives name an old good copy and watches that only it or new is ever seen there."""
        self.write(name, OLD)
        return self.watch(name, (OLD, new))

    def watch(self, name, allowed):
        """Samples file name until stopped; returns the list of contents seen outside allowed."""
        seen, stop = [], threading.Event()

        def sample():
            while not stop.is_set():
                try:
                    data = self.read(name)
                except OSError:
                    data = None
                if data not in allowed and len(seen) < 3:
                    seen.append(data[:40] if data else data)
                time.sleep(0.005)

        thread = threading.Thread(target=sample, daemon=True)
        thread.start()

        def finish():
            stop.set()
            thread.join()
            return seen
        return finish

    def wait_for(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertLess(time.monotonic(), deadline, "waited in vain")
            time.sleep(0.1)

    def mkhandover(self, *args):
        done = wine(ARGS.mkhandover, *args, cwd=self.folder)
        self.assertEqual(0, done.returncode, args)
        return done.stdout.decode("latin-1")

    def sign(self, files, key, serial, *extra, versions=(COMPLETED["FileVersion1"],
                                                       COMPLETED["FileVersion2"])):
        """Lays files out as the served folder, signs it with key for the hand-over's versions
        and serves all of it."""
        shutil.rmtree(self.path("Torvel"), ignore_errors=True)
        os.makedirs(self.path("Torvel"))
        for name, data in files.items():
            self.write(os.path.join("Torvel", name), data)
        self.mkhandover("--sign", key, "Torvel", "--serial", str(serial),
                        "--versions", *map(str, versions), *extra)
        self.server.files = {n: Served(self.read("Torvel", n)) for n in os.listdir(self.path("Torvel"))}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--update", "--lobby", "--send-close", "--hold-open", "--mkhandover",
                 "--wine-run", "--work"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])

