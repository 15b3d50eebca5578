#!/usr/bin/env python3
"""End-to-end runs of the real Update.exe under Wine.

Each case lays out a temporary installation folder (Update.exe, a stand-in lobby, the
hand-over file "~Update.tmp"), serves the listed files from a loopback HTTP server that can
misbehave on purpose, runs the updater there as the lobby would, and looks at what it left:
files, "UpdateClient.txt", the registry values and whether the lobby was started.
"""
import argparse
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback import Served, Server, hand_over  # noqa: E402

ARGS = None
VERSION_KEY = r"HKCU\Software\Kestro\Halvora\FileVersion"
FILETIME_2020 = 132223104000000000  # 2020-01-01 00:00:00 UTC


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


def wine(*args, gui=False, **kw):
    return subprocess.run([ARGS.wine_run, "--gui" if gui else "--console", *args],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, **kw)


def registry_versions():
    out = wine("reg", "query", VERSION_KEY).stdout.decode("latin-1")
    values = dict(re.findall(r"(FileVersion[12])\s+REG_DWORD\s+0x([0-9a-fA-F]+)", out))
    return {k: int(v, 16) for k, v in values.items()}


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


class UpdateRun(unittest.TestCase):
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

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def write_hand_over(self, records, **kw):
        with open(self.path("~Update.tmp"), "wb") as f:
            f.write(hand_over(self.server.base_url, records, **kw))

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
        self.assertEqual({}, registry_versions())
        self.assertEqual([], self.lobby_starts())

    # --- complete runs -------------------------------------------------------------------

    def test_archives_plain_files_and_records(self):
        pack = make_zip([
            ("maps/", None),
            ("maps/a.map", b"map data " * 1000),
            ("top.txt", b"top"),
            ("nofolder/b.txt", b"skipped: its folder is neither there nor listed"),
            ("../evil.txt", b"must not leave the folder"),
            ("maps/../../evil2.txt", b"nor this"),
        ])
        update_exe = b"MZ new updater"
        self.server.files = {
            "pack.zip": Served(pack),
            "readme.txt": Served(b"read me"),
            "Update.exe": Served(update_exe),
            "PATCH.ZIP": Served(b"PK not unpacked"),
            "empty.zip": Served(make_zip([])),
            "broken.zip": Served(b"not an archive at all"),
        }
        stamp = FILETIME_2020
        self.write_hand_over([
            ("pack.zip", 0x80000000, 0xFFFFFFFF, 5),
            ("readme.txt", 7, stamp >> 32, stamp & 0xFFFFFFFF),
            ("Update.exe", len(update_exe), 1, 2),
            ("PATCH.ZIP", 15, 3, 4),
            ("empty.zip", 22, 6, 7),
            ("broken.zip", 21, 8, 9),
        ], version1=0x00020001, version2=0x80000002)
        self.run_update()

        self.assertFalse(os.path.exists(self.path("~Update.tmp")), "hand-over consumed")
        self.assertEqual(b"map data " * 1000, self.read("maps", "a.map"))
        self.assertEqual(b"top", self.read("top.txt"))
        self.assertFalse(os.path.exists(self.path("nofolder")))
        self.assertFalse(os.path.exists(os.path.join(ARGS.work, "evil.txt")))
        self.assertFalse(os.path.exists(os.path.join(ARGS.work, "evil2.txt")))
        self.assertFalse(os.path.exists(self.path("DownLoad", "pack.zip")), "archive deleted")

        self.assertEqual(b"read me", self.read("readme.txt"))
        mtime = os.stat(self.path("readme.txt")).st_mtime
        self.assertAlmostEqual((stamp - 116444736000000000) / 1e7, mtime, delta=2)

        self.assertEqual(update_exe, self.read("DownLoad", "Update.exe"))
        self.assertNotEqual(update_exe, self.read("Update.exe"))
        self.assertEqual(b"PK not unpacked", self.read("PATCH.ZIP"))

        client = self.read("UpdateClient.txt").decode("latin-1")
        self.assertIn("[pack.zip]", client)
        self.assertIn("UpdateTorvelDate=-1", client)
        self.assertIn("UpdateTorvelTime=5", client)
        self.assertIn("UpdateTorvelSize=%d" % signed(0x80000000), client)
        self.assertIn("[empty.zip]", client)
        self.assertNotIn("[broken.zip]", client, "an archive that cannot be opened is not recorded")
        self.assertNotIn("PATCH.ZIP", client)
        self.assertFalse(os.path.exists(self.path("DownLoad", "broken.zip")))

        self.assertEqual({"FileVersion1": 0x00020001, "FileVersion2": 0x80000002},
                         registry_versions())
        self.assertEqual(["Quillon.exe"], self.lobby_starts())

    def test_launch_chain(self):
        cases = [
            ("no config starts Quillon.exe", None, [], ["Quillon.exe"]),
            ("bRunAppOnUpdate=0 starts nothing", "[Setting]\r\nbRunAppOnUpdate=0\r\n", [], []),
            ("AppGameName that exists", "[Setting]\r\nAppGameName=Game.exe\r\n", ["Game.exe"],
             ["Game.exe"]),
            ("AppGameName that does not exist falls back",
             "[Setting]\r\nAppGameName=Gone.exe\r\n", [], ["Quillon.exe"]),
        ]
        for fault, config, extra, expected in cases:
            with self.subTest(fault):
                for name in ("UpdateConfig.txt", "lobby-started.txt"):
                    if os.path.exists(self.path(name)):
                        os.remove(self.path(name))
                if config is not None:
                    with open(self.path("UpdateConfig.txt"), "w") as f:
                        f.write(config)
                for name in extra:
                    shutil.copy(ARGS.lobby, self.path(name))
                wine("reg", "delete", VERSION_KEY, "/f")
                self.write_hand_over([])
                self.run_update()
                self.assertEqual(expected, self.lobby_starts())
                self.assertEqual({"FileVersion1": 0x00020001, "FileVersion2": 0x80000002},
                                 registry_versions(), "an empty list completes at once")

    # --- downloads that fail --------------------------------------------------------------

    def test_failed_downloads_are_retried_until_whole(self):
        body = bytes(range(256)) * 400
        self.server.files = {
            "busy.bin": Served(b"busy then fine", fail=3),
            "cut.bin": Served(body, drop=2),
            "nolength.bin": Served(b"length unknown " * 5000, no_length=True),
        }
        self.write_hand_over([("busy.bin", 1, 0, 0), ("cut.bin", 2, 0, 0),
                              ("nolength.bin", 3, 0, 0)])
        self.run_update()
        self.assertEqual(b"busy then fine", self.read("busy.bin"))
        self.assertEqual(body, self.read("cut.bin"), "a short download is never installed")
        self.assertEqual(b"length unknown " * 5000, self.read("nolength.bin"))
        self.assertEqual(4, self.server.requests.count("busy.bin"))
        self.assertGreaterEqual(self.server.requests.count("cut.bin"), 3)
        self.assertEqual(["Quillon.exe"], self.lobby_starts())

    def test_second_run_gets_the_new_copy(self):
        self.server.files = {"same.txt": Served(b"first")}
        self.write_hand_over([("same.txt", 5, 0, 0)])
        self.run_update()
        self.assertEqual(b"first", self.read("same.txt"))
        self.server.files = {"same.txt": Served(b"second edition")}
        self.write_hand_over([("same.txt", 14, 0, 0)])
        self.run_update()
        self.assertEqual(b"second edition", self.read("same.txt"))

    # --- runs that must not complete -------------------------------------------------------

    def test_no_hand_over_closes_at_once(self):
        took = self.run_update(timeout=60)
        self.assertLess(took, 30)
        self.assert_run_not_completed()
        self.assertFalse(os.path.exists(self.path("DownLoad")))

    def test_malformed_hand_over_is_refused(self):
        self.server.files = {"a.txt": Served(b"a")}
        cases = [
            ("shorter than declared", hand_over(self.server.base_url, [("a.txt", 1, 0, 0)],
                                                declared=2)),
            ("name without terminator",
             hand_over(self.server.base_url, [("a.txt", 1, 0, 0)])[:272] + b"n" * 36 +
             struct.pack("<III", 1, 0, 0)),
            ("URL without terminator", struct.pack("<HHII", 0, 0, 1, 2) + b"h" * 260),
        ]
        for fault, data in cases:
            with self.subTest(fault):
                with open(self.path("~Update.tmp"), "wb") as f:
                    f.write(data)
                self.run_update(timeout=60)
                self.assertEqual([], self.server.requests)
                self.assert_run_not_completed()

    def test_unsafe_name_ends_the_run(self):
        self.server.files = {"first.txt": Served(b"1"), "last.txt": Served(b"3"),
                             "../evil.txt": Served(b"x"), "C:/evil.txt": Served(b"x")}
        for bad in ("..\\evil.txt", "C:\\evil.txt", "\\evil.txt"):
            with self.subTest(bad):
                self.server.requests.clear()
                self.write_hand_over([("first.txt", 1, 0, 0), (bad, 1, 0, 0),
                                      ("last.txt", 1, 0, 0)])
                self.run_update()
                self.assertEqual(["first.txt"], self.server.requests)
                self.assertFalse(os.path.exists(self.path("last.txt")))
                self.assert_run_not_completed()

    def test_closing_during_slow_download(self):
        # The hidden close button, Enter and Esc all end the dialog while the worker is
        # still downloading; the program must end cleanly without completing the run.
        # Each case fetches a name of its own, so no case sees what an earlier, aborted
        # download of the same URL left in the system's download cache.
        # A download that still reports progress sees the stop and the program ends cleanly
        # (0); one whose server has gone silent holds the worker, and the program is ended
        # 10 s after the dialog with its own code (3).
        for fault, command, pause, end in (("close command", "1000", 0.1, 0),
                                           ("Enter", "1", 0.1, 0), ("Esc", "2", 0.1, 0),
                                           ("server silent", "1000", 600, 3)):
            with self.subTest(fault):
                name = "slow%s-%d.bin" % (command, end)
                self.server.requests.clear()
                wine("reg", "delete", VERSION_KEY, "/f")
                # About 100 s of trickle: the close always arrives mid-download, however
                # slowly a loaded machine starts the programs.
                self.server.files = {name: Served(b"s" * 4000000, trickle=pause)}
                self.write_hand_over([(name, 4000000, 0, 0)])
                proc = subprocess.Popen([ARGS.wine_run, "--gui", self.path("Update.exe")],
                                        cwd=self.folder, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    deadline = time.monotonic() + 60
                    while name not in self.server.requests and time.monotonic() < deadline:
                        time.sleep(0.2)
                    time.sleep(1.0)
                    self.assertEqual(0, wine(ARGS.send_close, command, gui=True,
                                                 cwd=self.folder).returncode,
                                     "the update window was found")
                    # A download the moniker will not abort holds the worker; the program
                    # then ends 10 s after the dialog, so allow for that and a slow machine.
                    self.assertEqual(end, proc.wait(timeout=120), "which end the program took")
                finally:
                    if proc.poll() is None:
                        proc.kill()
                self.assertFalse(os.path.exists(self.path(name)))
                self.assert_run_not_completed()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--update", "--lobby", "--send-close", "--wine-run", "--work"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
