#!/usr/bin/env python3
"""End-to-end runs of archives fetched by entries: the real Update.exe under Wine against
nginx, which counts in its access log what it sent (e2e_support.py lays the runs out)."""
import io
import os
import random
import re
import shutil
import subprocess
import time
import zipfile

import e2e_support as e2e
from e2e_support import Nginx, make_zip, wine

KIB = 1024


def release(changed=(), added=(), seed=b"new"):
    """An archive of 24 incompressible entries of 64 KiB and a folder; changed entries and
    added ones differ by their seed."""
    entries = [("maps/", None)]
    for i in range(24):
        entries.append(("maps/%02d.bin" % i if i % 3 == 0 else "%02d.bin" % i,
                        _random(seed if i in changed else b"old", i)))
    entries += [("added%d.bin" % i, _random(b"add", i)) for i in added]
    return make_zip(entries), dict(e for e in entries if e[1] is not None)


def _random(seed, i):
    return random.Random(seed + b"%d" % i).randbytes(64 * KIB)


class EntriesRun(e2e.Installation):
    def serve(self, archive, **options):
        root = self.path("www")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "Torvel"))
        with open(os.path.join(root, "Torvel", "pack.zip"), "wb") as f:
            f.write(archive)
        self.nginx = Nginx(root, self.folder, gzip=False, **options)
        self.addCleanup(self.nginx.stop)
        self.write_hand_over([("pack.zip", len(archive), 0, 0)], url=self.nginx.base_url)

    def unpack(self, archive):
        with zipfile.ZipFile(io.BytesIO(archive)) as z:
            z.extractall(self.folder)

    def answers(self):
        """(status, bytes sent, range asked) of each answer for pack.zip."""
        return [(int(s), int(n), r) for s, n, r in re.findall(
            r'pack\.zip HTTP/1\.1 (\d+) - (\d+) "([^"]*)"', self.nginx.access_log())]

    def assert_installed(self, files):
        for name, data in files.items():
            self.assertEqual(data, self.read(*name.split("/")), name)
        self.assertEqual([], os.listdir(self.path("DownLoad")))
        with open(self.path("UpdateClient.txt")) as f:
            self.assertIn("[pack.zip]", f.read())

    def test_only_the_entries_that_differ_come(self):
        # Each row: what the installation holds against what is served, and whether the
        # archive comes by entries (a tail and ranges that carry a fraction of it) or whole.
        old, _ = release()
        new, files = release(changed=(3, 17), added=(0,))
        damaged = dict(files, **{"maps/03.bin": b"x" * (64 * KIB)})
        rows = [
            ("two entries changed and one added", old, new, {}, True),
            ("a file damaged on the player's disk", damaged, new, {}, True),
            ("a server that ignores ranges", damaged, new, {"ranges": False}, False),
        ]
        for fault, installed, served, options, by_entries in rows:
            with self.subTest(fault):
                if isinstance(installed, dict):
                    for name, data in installed.items():
                        self.write(name, data)
                else:
                    self.unpack(installed)
                self.remove("UpdateClient.txt", "lobby-started.txt")
                self.serve(served, **options)
                self.run_update()
                self.assert_installed(files)
                self.assertEqual(["Quillon.exe"], self.lobby_starts())
                answers = self.answers()
                sent = sum(n for _, n, _ in answers)
                if by_entries:
                    self.assertEqual(206, answers[0][0])
                    self.assertRegex(answers[0][2], r"^bytes=-\d+$")
                    self.assertTrue(all(s == 206 for s, _, _ in answers), answers)
                    self.assertLess(sent, len(served) // 4, answers)
                    # An entry left in place has the times unpacking gives it.
                    stamp = time.mktime((2021, 6, 1, 12, 0, 0, 0, 0, -1))
                    self.assertEqual(stamp, os.path.getmtime(self.path("01.bin")))
                else:
                    self.assertIn(200, [s for s, _, _ in answers])
                    self.assertLessEqual(sent, len(served) + 65536, answers)

    def test_a_signed_release_by_entries_takes_only_what_was_signed(self):
        key = re.search(r"ReleaseKey=(\S+)", self.mkhandover("--keygen", "one.key")).group(1)
        self.write("UpdateConfig.txt", b"[Setting]\r\nReleaseKey=%s\r\n" % key.encode())
        old, _ = release()
        new, files = release(changed=(5,))
        self.unpack(old)
        self.sign({"pack.zip": new}, "one.key", 7)
        self.serve(new)
        shutil.copytree(self.path("Torvel"), self.path("www", "Torvel"), dirs_exist_ok=True)
        self.run_update()
        self.assert_installed(files)
        self.assertTrue(all(s == 206 for s, _, _ in self.answers()), self.answers())
        # The same release with one entry altered on the server after signing: the changed
        # entry is never installed, and the run waits.
        altered, _ = release(changed=(5,), seed=b"bad")
        self.unpack(old)
        self.remove("UpdateClient.txt", "lobby-started.txt")
        with open(self.path("www", "Torvel", "pack.zip"), "wb") as f:
            f.write(altered)
        self.write_hand_over([("pack.zip", len(altered), 0, 0)], url=self.nginx.base_url)
        with self.running() as proc:
            with self.assertRaises(subprocess.TimeoutExpired):
                proc.wait(timeout=8)
        self.assertEqual(_random(b"old", 5), self.read("05.bin"))
        self.assertIn(200, [s for s, _, _ in self.answers()], "fetched whole after the entry")
        self.assertEqual([], self.lobby_starts())


if __name__ == "__main__":
    e2e.main()
