#!/usr/bin/env python3
"""mkhandover under Wine: what it writes is what the updater reads, it refuses what the
updater could not place safely, and its check of a release against the loopback server says
what the updater would do."""
import argparse
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from loopback import Nginx, Served, Server, damaged_zip, hand_over, make_zip  # noqa: E402

ARGS = None
UNIX_EPOCH_AS_FILETIME = 116444736000000000
VERSIONS = ("--versions", "131073", "2147483650")  # those hand_over writes


def run(*args, cwd):
    proc = subprocess.run([ARGS.wine_run, "--console", ARGS.mkhandover, *args], cwd=cwd,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    return proc.returncode, proc.stdout.decode("gbk", "replace"), proc.stderr.decode("gbk", "replace")


class MkHandOver(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "release"))

    def put(self, name, data, mtime):
        path = os.path.join(self.dir, "release", name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (mtime, mtime))

    def test_round_trip_through_dump(self):
        self.put("b.zip", b"x" * 1000, 1600000000)
        self.put("a.txt", b"hello", 1500000000)
        code, out, err = run("--url", "http://h/u/", "--v1", "0x10002", "--v2", "4294967295",
                             "release", cwd=self.dir)
        self.assertEqual(0, code, err)
        with open(os.path.join(self.dir, "~Update.tmp"), "rb") as f:
            data = f.read()
        self.assertEqual(272 + 2 * 48, len(data))
        _, count, v1, v2, url = struct.unpack("<HHII260s", data[:272])
        self.assertEqual((2, 0x10002, 0xFFFFFFFF), (count, v1, v2))
        self.assertEqual(b"http://h/u/", url.rstrip(b"\0"))
        records = [struct.unpack("<36sIII", data[272 + 48 * i:320 + 48 * i]) for i in range(2)]
        expected = [(b"a.txt", 5, 1500000000), (b"b.zip", 1000, 1600000000)]
        for (name, size, high, low), (ename, esize, etime) in zip(records, expected):
            self.assertEqual(ename, name.rstrip(b"\0"))
            self.assertEqual(esize, size)
            filetime = (high << 32) | low
            self.assertEqual(etime, (filetime - UNIX_EPOCH_AS_FILETIME) // 10**7)

        code, out, err = run("--dump", "~Update.tmp", cwd=self.dir)
        self.assertEqual(0, code, err)
        self.assertIn("http://h/u/", out)
        self.assertIn("FileVersion2 4294967295", out)
        self.assertRegex(out, r"a\.txt\s+5\s+2017-07-14 02:40:00 UTC")
        self.assertRegex(out, r"b\.zip\s+1000\s+2020-09-13 12:26:40 UTC")

    def test_refusals(self):
        long_name = "n" * 36
        self.put(long_name, b"", 1500000000)
        self.put("ok.txt", b"", 1500000000)
        versions = ["--v1", "1", "--v2", "2"]
        cases = [
            ("name longer than 35 bytes", ["--url", "u", *versions, "release/" + long_name],
             "longer than 35"),
            ("missing file", ["--url", "u", *versions, "nothere.zip"], "no such file"),
            ("URL too long", ["--url", "u" * 260, *versions, "release/ok.txt"], "longer than 259"),
            ("version not a number", ["--url", "u", "--v1", "x", "--v2", "2"], "usage"),
            ("dump of a short file", ["--dump", "release/ok.txt"], "not a valid hand-over"),
            ("pack to a name moved as a plain file", ["--pack", "release", "OUT.ZIP"],
             "lower case"),
        ]
        for fault, args, message in cases:
            with self.subTest(fault):
                hand_over_file = os.path.join(self.dir, "~Update.tmp")
                if os.path.exists(hand_over_file):
                    os.remove(hand_over_file)
                code, out, err = run(*args, cwd=self.dir)
                self.assertNotEqual(0, code)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(hand_over_file))


class Check(unittest.TestCase):
    FOLDERED = make_zip([("maps/", None), ("maps/a.map", b"map " * 3000), ("top.txt", b"t")])

    def setUp(self):
        self.server = Server()
        self.dir = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def tearDown(self):
        self.server.stop()

    def check(self, served, records, *options):
        """served: name -> Served; records: (name, size) in hand-over order."""
        self.server.files = served
        with open(os.path.join(self.dir, "~Update.tmp"), "wb") as f:
            f.write(hand_over(self.server.base_url, [(n, size, 1, 2) for n, size in records]))
        return run("--check", "~Update.tmp", *options, cwd=self.dir)

    def test_release_that_installs_whole(self):
        plain = b"plain " * 20000
        code, out, err = self.check(
            {"pack.zip": Served(self.FOLDERED), "big.dat": Served(plain, mode="gzip"),
             "Update.exe": Served(b"MZ", mode="chunked"),
             "flat.txt": Served(plain, ranges=False)},
            [("pack.zip", len(self.FOLDERED)), ("big.dat", len(plain)), ("Update.exe", 2),
             ("flat.txt", len(plain))])
        self.assertEqual(0, code, out + err)
        self.assertNotIn("NO", out)
        self.assertIn("writes 2 file(s) and 1 folder(s), skips 0 entries", out)
        self.assertIn("waits in DownLoad", out)
        self.assertIn("[4/4] flat.txt", err)
        # Whether a cut download would go on from its piece, and why not.
        self.assertRegex(out, r"pack\.zip .* yes\s+yes")
        self.assertEqual(2, out.count("start over: no length announced"), "gzip and chunked")
        self.assertIn("start over: the server answers a range with the whole file", out)

    def test_releases_that_fail(self):
        cases = [
            ("missing file", {}, ("gone.txt", 5), "error answer 404"),
            ("error answer", {"a.txt": Served(b"abc", faults=["500-body"])}, ("a.txt", 3),
             "error answer 500"),
            ("record size wrong behind a compressed answer",
             {"a.txt": Served(b"abc" * 100, mode="gzip")}, ("a.txt", 301), "record says 301"),
            ("record size wrong behind a plain length",
             {"a.txt": Served(b"abc" * 100)}, ("a.txt", 301), "behind compression or chunking"),
            ("damaged entry", {"p.zip": Served(damaged_zip("p", "method"))}, ("p.zip", 0),
             "entry 0: unknown compression method 12: skipped, the old file stays"),
            ("name the code page cannot spell",
             {"p.zip": Served(make_zip([("\U0001F600.txt", b"e")]))}, ("p.zip", 0),
             "skipped ??.txt: unsafe name: a character"),
            ("archive without folder entries",
             {"p.zip": Served(make_zip([("maps/a.map", b"m")]))}, ("p.zip", 0),
             "skipped maps/a.map: no earlier folder entry makes its folder"),
            ("unsafe entry", {"p.zip": Served(make_zip([("../evil.txt", b"e")]))}, ("p.zip", 0),
             "skipped ../evil.txt: unsafe name"),
            ("upper-case archive name", {"P.ZIP": Served(self.FOLDERED)}, ("P.ZIP", 0),
             "moved as a plain file"),
            ("folders of a real installation", {"p.zip": Served(make_zip(
                [("maps/a.map", b"m"), ("gone/b.map", b"b")]))}, ("p.zip", 0),
             "does not exist in the installation\r\n  writes 1 file(s)", "--install", "install"),
        ]
        os.makedirs(os.path.join(self.dir, "install", "maps"))
        for fault, served, record, reason, *options in cases:
            with self.subTest(fault):
                code, out, err = self.check(served, [record], *options)
                self.assertEqual(1, code, out + err)
                self.assertRegex(out, r"\n0\s+%s .* NO " % record[0].replace(".", r"\."))
                self.assertIn(reason, out)

    def test_fetching_by_entries(self):
        old = {n: random.Random(n).randbytes(80000) for n in ("a", "b", "c", "d", "e")}
        new = make_zip(sorted({**old, "b": b"changed"}.items()))
        for folder, files in (("install", old), ("www/Torvel", {"p.zip": new})):
            os.makedirs(os.path.join(self.dir, folder))
            for name, data in files.items():
                with open(os.path.join(self.dir, folder, name), "wb") as f:
                    f.write(data)
        servers = {r: Nginx(os.path.join(self.dir, "www"), self.dir, ranges=r, gzip=False)
                   for r in (True, False)}
        for server in servers.values():
            self.addCleanup(server.stop)
        cases = [
            ("the release before installed", True, ["--install", "install"],
             r"by entries: 1 of 5 entries, \d+ of %d bytes" % len(new)),
            ("a server without ranges", False, ["--install", "install"],
             "whole: the server sends the whole file to a range"),
            ("nothing installed", True, [], "whole: nothing installed yet;"),
        ]
        for case, ranges, options, line in cases:
            with self.subTest(case):
                with open(os.path.join(self.dir, "~Update.tmp"), "wb") as f:
                    f.write(hand_over(servers[ranges].base_url, [("p.zip", len(new), 1, 2)]))
                code, out, err = run("--check", "~Update.tmp", *options, cwd=self.dir)
                self.assertEqual(0, code, out + err)
                self.assertRegex(out, r"\n  p\.zip: " + line)

    def test_unreadable_hand_over_is_a_usage_error(self):
        self.assertEqual(2, run("--check", "nothere.tmp", cwd=self.dir)[0])


class Signed(unittest.TestCase):
    MANIFEST = "~updater-release-manifest-signed-by-the-operator.txt"

    def setUp(self):
        self.server = Server()
        self.dir = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "Torvel", "sub"))
        os.makedirs(os.path.join(self.dir, "install"))

    def tearDown(self):
        self.server.stop()

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def keygen(self, name):
        code, out, err = run("--keygen", name, cwd=self.dir)
        self.assertEqual(0, code, err)
        self.assertIn("readable by its owner only", err)
        # Wine keeps no access list: it maps the one set onto the mode, which Linux shows.
        self.assertEqual(0, os.stat(os.path.join(self.dir, name)).st_mode & 0o007)
        return re.fullmatch(r"ReleaseKey=(ecdsa-p256:[0-9a-f]{128})\r?\n", out).group(1)

    def sign(self, *args, versions=VERSIONS):
        code, out, err = run("--sign", "release.key", "Torvel", *args, *versions, cwd=self.dir)
        self.assertEqual(0, code, err)
        torvel = os.path.join(self.dir, "Torvel")
        self.server.files = {n: Served(self.read("Torvel/" + n)) for n in os.listdir(torvel)
                             if os.path.isfile(os.path.join(torvel, n))}
        return out + err

    def test_signed_release(self):
        key, other = self.keygen("release.key"), self.keygen("other.key")
        kept = self.read("release.key")
        code, _, err = run("--keygen", "release.key", cwd=self.dir)
        self.assertEqual((1, kept), (code, self.read("release.key")))
        self.assertIn("exists: not overwritten", err)

        for name, data in {"a.txt": b"hello", "maps.zip": Check.FOLDERED, "sub/deep.dat": b"deep",
                           "n" * 36: b"long"}.items():
            self.write("Torvel/" + name, data)
        os.makedirs(os.path.join(self.dir, "outside"))
        self.write("outside/secret.dat", b"secret")
        # Wine shows a link to a folder as a reparse point, but not one to a file.
        os.symlink(os.path.join("..", "outside"), os.path.join(self.dir, "Torvel", "linked"))
        printed = self.sign("--serial", "2026120701", "--expires", "30")
        for note in ("left out %s: no hand-over record can hold it (longer than 35" % ("n" * 36),
                     "left out linked: a link", "no former manifest: all 3 file(s) added"):
            self.assertIn(note, printed)
        manifest = self.read("Torvel/" + self.MANIFEST)
        self.assertIn(b"\nfile 4 %s sub\\deep.dat\n" % hashlib.sha256(b"deep").hexdigest().encode(),
                      manifest)
        self.assertNotRegex(manifest, b"nnn|linked")
        # The archive's file entries, each with the hash of its content; no folder entry.
        self.assertIn(b"\nentry 12000 %s maps.zip:maps/a.map\nentry 1 %s maps.zip:top.txt\nsig" % (
            hashlib.sha256(b"map " * 3000).hexdigest().encode(),
            hashlib.sha256(b"t").hexdigest().encode()), manifest)
        self.write("install/UpdateConfig.txt", b"[Setting]\r\nReleaseKey=%s\r\n" % key.encode())
        self.write("~Update.tmp", hand_over(self.server.base_url, [
            ("a.txt", 5, 1, 2), ("maps.zip", len(Check.FOLDERED), 1, 2)]))
        code, out, err = run("--check", "~Update.tmp", "--install", "install", cwd=self.dir)
        self.assertEqual(0, code, out + err)
        self.assertIn("release manifest: serial 2026120701, versions 131073 2147483650, expires 20",
                      out)
        self.assertRegex(out, r"maps\.zip .* yes\s+yes\s+yes\s+\n")

        shutil.copy(os.path.join(self.dir, "release.key"), os.path.join(self.dir, "Torvel", "sub"))
        os.symlink("Torvel", os.path.join(self.dir, "TorvelLink"))
        inside = ("--serial", "2026120701", *VERSIONS)
        for key_file, folder, args, status, refusal in (
                ("release.key", "Torvel", ("--serial", "2026120700", *VERSIONS), 1,
                 "serials only grow"),
                ("release.key", "Torvel", ("--serial", "2026120701"), 2, "usage"),
                ("torvel/SUB/../sub/release.key", "Torvel", inside, 1, "off the server"),
                ("TorvelLink/sub/release.key", "Torvel", inside, 1, "off the server"),
                ("Torvel/sub/release.key", "TorvelLink", inside, 1, "off the server")):
            with self.subTest(key_file + " " + folder):
                code, out, err = run("--sign", key_file, folder, *args, cwd=self.dir)
                self.assertEqual(status, code)
                self.assertIn(refusal, err)
        os.remove(os.path.join(self.dir, "Torvel", "sub", "release.key"))

        unlisted = hand_over(self.server.base_url, [("b.txt", 5, 1, 2)])
        cases = [
            ("a file altered on the server", lambda: self.server.files.update(
                {"a.txt": Served(b"HELLO")}), key, "hash differs"),
            ("a file the manifest does not list", lambda: self.server.files.update(
                {"b.txt": Served(b"hello")}) or self.write("~Update.tmp", unlisted), key,
             "not in the manifest"),
            ("another key's manifest", lambda: self.sign("--serial", "2026120701"), other,
             "REFUSED: the signature does not hold with this key"),
            ("a manifest signed for other versions", lambda: self.sign(
                "--serial", "2026120701", versions=("--versions", "1", "2")), key,
             "REFUSED: signed for versions 1 2"),
            ("an expired manifest", lambda: self.sign("--serial", "2026120701", "--expires", "0"),
             key, "REFUSED: expired at 20"),
        ]
        for fault, change, with_key, reason in cases:
            with self.subTest(fault):
                change()
                code, out, err = run("--check", "~Update.tmp", "--key", with_key, cwd=self.dir)
                self.assertEqual(1, code, out + err)
                self.assertIn(reason, out)
                self.assertRegex(out, r"\n0\s+\S+ .* NO ")

        os.remove(os.path.join(self.dir, "Torvel", "sub", "deep.dat"))
        self.write("Torvel/a.txt", b"HELLO")
        self.write("Torvel/new.dat", b"new")
        self.assertIn("changed  a.txt\r\nadded    new.dat\r\nremoved  sub\\deep.dat\r\n",
                      self.sign("--serial", "2026120702"))
        self.assertIn("no file changed since the former manifest",
                      self.sign("--serial", "2026120702"))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--mkhandover", "--wine-run", "--work"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
