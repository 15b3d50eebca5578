#!/usr/bin/env python3
"""End-to-end runs of signed releases: the real Update.exe under Wine against a loopback
server, with keys and manifests made by the operator's own tool (e2e_support.py lays the
runs out)."""
import os
import re
import shutil
import subprocess

import e2e_support as e2e
from e2e_support import OLD, VERSION_KEY, Served, hand_over, registry_versions, wine


class SignedRun(e2e.Installation):
    def keygen(self, name):
        return re.search(r"ReleaseKey=(\S+)", self.mkhandover("--keygen", name)).group(1)

    def config(self, key):
        return b"[Setting]\r\nReleaseKey=%s\r\n" % key.encode() if key else b"[Setting]\r\n"

    def waits(self, seconds=8, cwd=None):
        """Runs Update.exe for seconds; true when it was still running (it waited)."""
        with self.running(cwd) as proc:
            try:
                proc.wait(timeout=seconds)
            except subprocess.TimeoutExpired:
                return True
        return False

    def unsigned(self, files):
        self.server.files = {n: Served(d) for n, d in files.items()}
        self.write_hand_over([(n, len(d), 0, 0) for n, d in files.items()])

    def test_only_the_operators_signed_release_installs(self):
        # Each row: what the server serves against the installation's key; a row that must
        # not install waits (its old copies stay, nothing under a listed name in DownLoad\)
        # until it is closed. Keys are made here, with the operator's own tool.
        key1, key2 = self.keygen("one.key"), self.keygen("two.key")
        news = {"a.txt": b"new a", "big.bin": os.urandom(3 << 20), "z.txt": b"new z"}
        served = {**news, "UpdateConfig.txt": self.config(key2)}
        rows = [
            # (fault, signing key, serial, extra, server changes, whole)
            ("a signed release, its big file cut every 1 MiB and resumed", "one.key", 7, (),
             {"big.bin": {"drop_every": 1 << 20}}, True),
            ("a file altered on the server, same size", "one.key", 7, (), {"z.txt": b"bad z"},
             False),
            ("expired", "one.key", 7, ("--expires", "0"), {}, False),
        ]
        for fault, key, serial, extra, changes, whole in rows:
            with self.subTest(fault):
                olds = {**{name: OLD for name in news}, "UpdateConfig.txt": self.config(key1)}
                for name, data in olds.items():
                    self.write(name, data)
                shutil.rmtree(self.path("DownLoad"), ignore_errors=True)
                self.remove("lobby-started.txt", "UpdateClient.txt")
                wine("reg", "delete", VERSION_KEY, "/f")
                self.sign(served, key, serial, *extra)
                for name, change in changes.items():
                    self.server.files[name] = (Served(self.read("Torvel", name), **change)
                                               if isinstance(change, dict) else Served(change))
                # The key file goes in the list first: the run keeps the key it started with.
                names = ["UpdateConfig.txt", "a.txt", "big.bin", "z.txt"]
                self.write_hand_over([(n, len(served[n]), 0, 0) for n in names])
                self.waits(60 if whole else 8)
                listed = [n for n in os.listdir(self.path("DownLoad")) if not n.startswith("~")]
                self.assertEqual([], listed, "nothing under a listed name in DownLoad")
                if whole:
                    for name, data in served.items():
                        self.assertEqual(data, self.read(name), name)
                    self.assertEqual(serial, registry_versions().get("ReleaseSerial"))
                    continue
                self.assertEqual(OLD, self.read("z.txt"))
                self.assert_run_not_completed()
                if "altered" not in fault:
                    for name, data in olds.items():
                        self.assertEqual(data, self.read(name), name)

        # Key rotation: a release signed with key one brings key two; the next release is
        # signed with key two, and only that key is taken from then on.
        self.write("UpdateConfig.txt", self.config(key1))
        for key, serial in (("one.key", 9), ("two.key", 10)):
            self.sign(served, key, serial)
            self.write("a.txt", OLD)
            self.write_hand_over([(n, len(served[n]), 0, 0) for n in ("UpdateConfig.txt", "a.txt")])
            self.run_update()
            self.assertEqual(news["a.txt"], self.read("a.txt"))
            self.assertEqual(serial, registry_versions().get("ReleaseSerial"))

    def test_the_key_is_the_installations_wherever_the_run_starts(self):
        # The lobby starts the updater from a folder of its own, whose configuration names no
        # key; or the installation's configuration is held by another program for a while.
        key = self.keygen("one.key")
        self.write("UpdateConfig.txt", self.config(key))
        elsewhere = self.path("elsewhere")
        os.makedirs(elsewhere)
        self.write("elsewhere/UpdateConfig.txt", self.config(None))
        listed = hand_over(self.server.base_url, [("a.txt", 5, 0, 0)])
        self.write("elsewhere/~Update.tmp", listed)
        self.write("a.txt", OLD)
        self.unsigned({"a.txt": b"new a"})
        self.assertTrue(self.waits(cwd=elsewhere), "an unsigned release installed from elsewhere")
        self.assertEqual(OLD, self.read("a.txt"))
        self.assert_run_not_completed()

        self.sign({"a.txt": b"new a"}, "one.key", 5)
        self.write("elsewhere/~Update.tmp", listed)
        wine(self.path("Update.exe"), gui=True, cwd=elsewhere, timeout=120)
        self.assertEqual(b"new a", self.read("a.txt"))
        self.assertEqual(5, registry_versions().get("ReleaseSerial"))

        # Held: nothing installs while the key cannot be read; once it can, the run goes on.
        self.write("a.txt", OLD)
        self.write_hand_over([("a.txt", 5, 0, 0)])
        holder = self.hold("UpdateConfig.txt")
        with self.running() as proc:
            self.assertRaises(subprocess.TimeoutExpired, proc.wait, timeout=6)
            self.assertEqual(OLD, self.read("a.txt"), "installed while the key could not be read")
            self.write("UpdateConfig.txt.release", b"")
            holder.wait(timeout=30)
            proc.wait(timeout=90)
        self.assertEqual(b"new a", self.read("a.txt"))

    def test_a_release_cannot_drop_the_key_but_the_operators_none_can(self):
        # A signed release brings an old configuration that names no key: signing stays on.
        # Only a configuration that says ReleaseKey=none, signed, turns it off.
        key = self.keygen("one.key")
        self.write("UpdateConfig.txt", self.config(key))
        for config, serial in ((b"[Setting]\r\nbRunAppOnUpdate=1\r\n", 3),
                               (b"[Setting]\r\nReleaseKey=none\r\n", 4)):
            self.sign({"UpdateConfig.txt": config}, "one.key", serial)
            self.write_hand_over([("UpdateConfig.txt", len(config), 0, 0)])
            self.run_update()
            self.assertEqual(config, self.read("UpdateConfig.txt"))
            wine("reg", "delete", VERSION_KEY, "/v", "FileVersion1", "/f")
            self.remove("lobby-started.txt")
            self.write("a.txt", OLD)
            self.unsigned({"a.txt": b"new a"})
            if serial == 3:
                self.assertTrue(self.waits(), "a keyless configuration turned signing off")
                self.assertEqual(OLD, self.read("a.txt"))
                self.assert_run_not_completed()
        self.run_update()
        self.assertEqual(b"new a", self.read("a.txt"), "the operator's none keeps signing on")
        self.assertNotIn("ReleaseSerial", registry_versions())

    def test_an_accepted_serial_is_the_floor_and_a_release_is_bound_to_its_versions(self):
        # Rows: what the server answers with, where the installation is; none installs.
        key = self.keygen("one.key")
        self.write("UpdateConfig.txt", self.config(key))
        rows = [
            # (what, serial held, (serial, versions) signed, the hand-over's versions)
            ("release 10 served for the lobby's release 11", 9, (10, (3, 10)), (3, 11)),
            ("a serial verified by a run that never completed, then an older one", 0,
             (21, (3, 5)), (3, 5)),
        ]
        for what, held, (serial, versions), asked in rows:
            with self.subTest(what):
                wine("reg", "delete", VERSION_KEY, "/f")
                if held:
                    wine("reg", "add", VERSION_KEY, "/v", "ReleaseSerial", "/t", "REG_DWORD",
                         "/d", str(held), "/f")
                self.write("a.txt", OLD)
                self.sign({"a.txt": b"new a"}, "one.key", serial, versions=versions)
                records = [("a.txt", 5, 0, 0)]
                if serial == 21:
                    # b.txt never arrives: the run verifies 21 and waits.
                    records.append(("b.txt", 5, 0, 0))
                    self.write_hand_over(records, version1=asked[0], version2=asked[1])
                    self.assertTrue(self.waits())
                    self.assertEqual(21, registry_versions().get("ReleaseSerial"))
                    self.write("a.txt", OLD)
                    self.sign({"a.txt": b"new a", "b.txt": b"new b"}, "one.key", 20,
                              versions=versions)
                self.write_hand_over(records, version1=asked[0], version2=asked[1])
                self.assertTrue(self.waits())
                self.assertEqual(OLD, self.read("a.txt"))
                self.assertNotIn("FileVersion1", registry_versions())
        # The release asked for installs, and its versions are stored.
        self.sign({"a.txt": b"new a"}, "one.key", 22, versions=(3, 11))
        self.write_hand_over([("a.txt", 5, 0, 0)], version1=3, version2=11)
        self.run_update()
        self.assertEqual(b"new a", self.read("a.txt"))
        self.assertEqual({"FileVersion1": 3, "FileVersion2": 11, "ReleaseSerial": 22},
                         registry_versions())


if __name__ == "__main__":
    e2e.main()
