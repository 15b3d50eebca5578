#!/usr/bin/env python3
"""End-to-end runs of the real Update.exe under Wine (e2e_support.py lays them out)."""
import os
import shutil
import subprocess
import sys
import time
import unittest

import e2e_support as e2e
from e2e_support import (COMPLETED, FILETIME_2020, OLD, VERSION_KEY, Nginx, Served, Server,
                         damaged_zip, hand_over, make_zip, registry_versions, sparse_stored_zip,
                         wine, zip64_zip)


def damaged_count_zip():
    """A stored entry, then a second whose central header's extra field runs past the end of
    the file, under an end record that claims 65,535 entries."""
    data = bytearray(make_zip([("first.txt", b"first"), ("second.txt", b"second")]))
    central = data.rfind(b"PK\x01\x02")
    data[central + 30:central + 32] = (0xFFFF).to_bytes(2, "little")
    end = data.rfind(b"PK\x05\x06")
    data[end + 8:end + 12] = (0xFFFF).to_bytes(2, "little") * 2
    return bytes(data)


class UpdateRun(e2e.Installation):
    # --- complete runs -------------------------------------------------------------------

    def test_packed_tree_installs_whole(self):
        tree = os.path.join(e2e.ARGS.work, "pack-tree")
        shutil.rmtree(tree, ignore_errors=True)
        files = {("readme.txt",): b"top", ("maps", "deep", "a.map"): b"map " * 5000,
                 ("\u5730\u56fe", "\u8bf4\u660e.txt"): b"a name in code page 936",
                 ("empty.dat",): b""}
        for parts, data in files.items():
            os.makedirs(os.path.join(tree, *parts[:-1]), exist_ok=True)
            with open(os.path.join(tree, *parts), "wb") as f:
                f.write(data)
            os.utime(os.path.join(tree, *parts), (1600000000, 1600000000))
        os.makedirs(os.path.join(tree, "bare"))
        packed = wine(e2e.ARGS.mkhandover, "--pack", "pack-tree", "packed.zip", cwd=e2e.ARGS.work)
        self.assertEqual(0, packed.returncode)
        with open(os.path.join(e2e.ARGS.work, "packed.zip"), "rb") as f:
            pack = f.read()
        self.server.files = {"packed.zip": Served(pack)}
        self.write_hand_over([("packed.zip", len(pack), 1, 2)])
        self.run_update()

        for parts, data in files.items():
            self.assertEqual(data, self.read(*parts))
            self.assertAlmostEqual(1600000000, os.stat(self.path(*parts)).st_mtime, delta=2)
        self.assertTrue(os.path.isdir(self.path("bare")))
        self.assertEqual(COMPLETED, registry_versions())

    def test_archives_plain_files_and_records(self):
        # Python's zipfile flags the names of names.zip as UTF-8. Code page 936 spells them;
        # 1252 cannot, so there they are skipped, never written under garbled names.
        names = make_zip([("\u533a\u57df/", None), ("\u533a\u57df/\u7701\u4efd.txt", b"provinces"),
                          ("plain.txt", b"plain")])
        pack = make_zip([
            ("maps/", None),
            ("maps/a.map", b"map data " * 1000),
            ("top.txt", b"top"),
            ("nofolder/b.txt", b"skipped: its folder is neither there nor listed"),
            ("../evil.txt", b"must not leave the folder"),
        ])
        # Each of these has a damaged first entry and two sound ones after it.
        damages = {d: damaged_zip(d, d) for d in ("crc", "inflate", "method", "encrypted")}
        for damage in damages:
            for part in ("bad", "ok", "normal"):
                self.write("%s-%s.txt" % (damage, part), OLD)
        self.server.files = {
            "pack.zip": Served(pack),
            "readme.txt": Served(b"read me"),
            "damaged.zip": Served(damaged_count_zip()),
            "names.zip": Served(names),
            **{d + ".zip": Served(data) for d, data in damages.items()},
        }
        stamp = FILETIME_2020
        self.write_hand_over([
            ("pack.zip", 0x80000000, 0xFFFFFFFF, 5),
            ("readme.txt", 7, stamp >> 32, stamp & 0xFFFFFFFF),
            ("damaged.zip", len(damaged_count_zip()), 10, 11),
            ("names.zip", len(names), 0, 0),
        ] + [(d + ".zip", len(data), 0, 0) for d, data in damages.items()],
            version1=0x00020001, version2=0x80000002)
        before = set(os.listdir(self.folder))
        took = self.run_update()
        self.assertLess(took, 60, "a damaged count does not hold the run")

        self.assertFalse(os.path.exists(self.path("~Update.tmp")), "hand-over consumed")
        self.assertEqual(b"map data " * 1000, self.read("maps", "a.map"))
        self.assertEqual(b"top", self.read("top.txt"))
        self.assertFalse(os.path.exists(self.path("nofolder")))
        self.assertFalse(os.path.exists(os.path.join(e2e.ARGS.work, "evil.txt")))
        self.assertFalse(os.path.exists(self.path("DownLoad", "pack.zip")), "archive deleted")

        self.assertEqual(b"read me", self.read("readme.txt"))
        mtime = os.stat(self.path("readme.txt")).st_mtime
        self.assertAlmostEqual((stamp - 116444736000000000) / 1e7, mtime, delta=2)

        client = self.read("UpdateClient.txt").decode("latin-1")
        self.assertIn("[pack.zip]", client)
        self.assertIn("UpdateTorvelDate=-1", client)
        self.assertIn("UpdateTorvelTime=5", client)
        self.assertIn("UpdateTorvelSize=%d" % (0x80000000 - (1 << 32)), client)
        self.assertNotIn("[damaged.zip]", client, "a damaged archive is not recorded")
        self.assertEqual(b"first", self.read("first.txt"), "what came before the damage stays")
        for damage in damages:
            # The damaged entry keeps its old file; the sound ones after it land.
            self.assertEqual([OLD, b"new ok", b"new normal"],
                             [self.read("%s-%s.txt" % (damage, p)) for p in ("bad", "ok", "normal")])
            self.assertNotIn("[%s.zip]" % damage, client)
        self.assertEqual([], self.leftovers())

        self.assertEqual(b"plain", self.read("plain.txt"))
        made = set(os.listdir(self.folder)) - before - {"DownLoad", "UpdateClient.txt",
                                                        "lobby-started.txt"}
        landed = {"maps", "top.txt", "readme.txt", "first.txt", "plain.txt"}
        if os.environ.get("KIT_LOCALE", "zh_CN.UTF-8").startswith("zh_CN"):
            self.assertEqual(b"provinces", self.read("\u533a\u57df", "\u7701\u4efd.txt"))
            self.assertEqual(landed | {"\u533a\u57df"}, made)
        else:
            self.assertEqual(landed, made)

        self.assertEqual(COMPLETED, registry_versions())
        self.assertEqual(["Quillon.exe"], self.lobby_starts())

    def test_missing_named_game_falls_back_to_the_lobby(self):
        # The chain's order is the unit tests'; here the real shell's "not found" moves it on,
        # and an empty list completes at once.
        self.write("UpdateConfig.txt", "[Setting]\r\nAppGameName=Gone.exe\r\n")
        self.write_hand_over([])
        self.run_update()
        self.assertEqual(["Quillon.exe"], self.lobby_starts())
        self.assertEqual(COMPLETED, registry_versions())

    # --- downloads that fail --------------------------------------------------------------

    def test_every_failed_answer_is_retried_until_whole(self):
        # Each row's first answer fails; only the whole answer that follows may replace the
        # old copy, and the run completes only then.
        body = bytes(range(256)) * 400
        cases = [
            ("503 with no body", "length", "503-empty"),
            ("500 with an error page", "length", "500-body"),
            ("connection closed with no answer", "length", "hangup"),
            ("redirect to a failing answer", "length", "redirect-fail"),
            ("announced length cut short", "length", "cut"),
            ("chunked body cut short", "chunked", "cut"),
            ("close-delimited body cut short", "close", "cut"),
            ("compressed body with a length cut short", "gzip", "cut"),
            ("stalled halfway", "length", "stall"),
        ]
        self.write("UpdateConfig.txt", "[Setting]\r\nDownloadStallSeconds=2\r\n")
        for fault, mode, kind in cases:
            with self.subTest(fault):
                name = "f%d.bin" % cases.index((fault, mode, kind))
                self.remove("lobby-started.txt")
                wine("reg", "delete", VERSION_KEY, "/f")
                self.server.files = {name: Served(body, mode=mode, faults=[kind], stall_s=30)}
                self.write_hand_over([(name, len(body), 0, 0)])
                finish = self.guard(name, body)
                took = self.run_update(timeout=90)
                self.assertEqual([], finish(), "only the old or the new copy is ever seen")
                self.assertEqual(body, self.read(name))
                self.assertEqual(2, self.server.requests.count(name), "retried once, after a pause")
                self.assertGreater(took, 1.0)
                if kind == "stall":
                    self.assertLess(took, 25, "aborted at the stall limit, not by the server")
                self.assertEqual(["Quillon.exe"], self.lobby_starts())
                self.assertEqual(0x00020001, registry_versions().get("FileVersion1"))
                self.assertEqual([], os.listdir(self.path("DownLoad")))

    def mount_small_disk(self, megabytes):
        """Makes the installation folder a file system of this size; False where it cannot."""
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % megabytes, "tmpfs",
                           self.folder], stderr=subprocess.DEVNULL).returncode != 0:
            return False
        self.addCleanup(subprocess.run, ["umount", "-l", self.folder])
        shutil.copy(e2e.ARGS.update, self.path("Update.exe"))
        shutil.copy(e2e.ARGS.lobby, self.path("Quillon.exe"))
        return True

    def test_what_is_not_in_place_waits_and_is_tried_again(self):
        # Local failures after a whole download: the run neither completes nor fetches the
        # file again until the obstacle goes, then finishes by itself.
        big = os.urandom(2 << 20)
        zeros = make_zip([("zeros.bin", bytes(2 << 20)), ("top.txt", b"new top")])
        cases = [
            ("disk full for the download", "big.bin", big, "big.bin", big),
            ("disk full while unpacking", "zeros.zip", zeros, "zeros.bin", bytes(2 << 20)),
            ("entry's target held open by a program", "held.zip",
             make_zip([("top.txt", b"new top"), ("zeros.bin", bytes(100))]), "top.txt",
             b"new top"),
            ("plain file's target held open by a program", "note.txt", b"new note",
             "note.txt", b"new note"),
        ]
        for fault, name, served, target, new in cases:
            with self.subTest(fault):
                held = "held open" in fault
                if not held and not self.mount_small_disk(6):
                    self.skipTest("no small file system can be mounted here")
                self.server.requests.clear()
                wine("reg", "delete", VERSION_KEY, "/f")
                self.server.files = {name: Served(served)}
                self.write_hand_over([(name, len(served), 0, 0)])
                finish = self.guard(target, new)
                if held:
                    holder = self.hold(target)
                else:
                    self.write("filler", bytes(4 << 20))
                with self.running() as proc:
                    self.wait_for(lambda: name in self.server.requests, 60)
                    time.sleep(6)
                    self.assertIsNone(proc.poll(), "the run waits for the obstacle to go")
                    self.assertEqual(OLD, self.read(target))
                    self.assertEqual({}, registry_versions())
                    if held:
                        open(self.path(target + ".release"), "w").close()
                        holder.wait(timeout=60)
                    else:
                        os.remove(self.path("filler"))
                    proc.wait(timeout=90)
                self.assertEqual([], finish(), "only the old or the new copy is ever seen")
                self.assertEqual(new, self.read(target))
                if name.endswith(".zip"):
                    self.assertEqual(1, self.server.requests.count(name),
                                     "a whole archive is kept, not fetched again")
                else:
                    self.assertLessEqual(self.server.requests.count(name), 8, "paced retries")
                self.assertEqual(0x00020001, registry_versions().get("FileVersion1"))
                self.assertEqual([], self.leftovers())

    def test_stopped_or_killed_mid_archive_then_run_again(self):
        # The archive's last target is held open, so the run stands in the middle of the
        # archive (its other entries written, the record not) when it is stopped or killed.
        entries = [("part%03d.bin" % i, os.urandom(20000)) for i in range(200)]
        entries.append(("held.txt", b"new held"))
        pack = make_zip(entries)
        self.server.files = {"pack.zip": Served(pack)}
        for how in ("Esc", "kill"):
            with self.subTest(how):
                for name, _ in entries:
                    self.write(name, b"old")
                holder = self.hold("held.txt")
                os.remove(self.path("held.txt.held"))
                self.write_hand_over([("pack.zip", len(pack), 0, 0)])
                try:
                    with self.running() as proc:
                        self.wait_for(lambda: self.read(entries[-2][0]) != b"old", 60)
                        if how == "kill":
                            proc.kill()
                        else:
                            wine(e2e.ARGS.send_close, "2", gui=True, cwd=self.folder)
                        proc.wait(timeout=30)
                finally:
                    open(self.path("held.txt.release"), "w").close()
                holder.wait(timeout=60)
                os.remove(self.path("held.txt.release"))
                for name, data in entries:
                    self.assertIn(self.read(name), (b"old", data), name)
                self.assert_run_not_completed()
                self.assertFalse(os.path.exists(self.path("UpdateClient.txt")), "no record")
                # A stop removes its temporary file; a kill can land while the held entry's
                # is written, and only the next run can sweep that.
                self.assertLessEqual(len(self.leftovers()), 0 if how == "Esc" else 1)
        # What a kill in the middle of an entry leaves behind.
        self.write("~zp0000ABCD.tmp", b"partial")
        self.write_hand_over([("pack.zip", len(pack), 0, 0)])
        self.run_update()
        for name, data in entries:
            self.assertEqual(data, self.read(name), name)
        self.assertEqual([], self.leftovers())
        self.assertEqual(["Quillon.exe"], self.lobby_starts())

    def test_nginx_with_compression_a_redirect_and_a_link_that_drops(self):
        if shutil.which("nginx") is None:
            self.skipTest("nginx is not installed")
        root = os.path.join(self.folder, "site")
        os.makedirs(os.path.join(root, "Torvel"))
        os.makedirs(os.path.join(root, "real"))
        text = b"".join(b"notice line %d\n" % i for i in range(5000))
        pack = make_zip([("maps/", None), ("maps/a.map", b"map " * 5000), ("b.txt", b"b")])
        big = os.urandom(3 << 20)
        files = {"Torvel/notice.txt": text, "Torvel/pack.zip": pack, "real/moved.txt": text[:999],
                 "Torvel/big.bin": big}
        for rel, data in files.items():
            with open(os.path.join(root, rel), "wb") as f:
                f.write(data)
        nginx = Nginx(root, self.folder)
        self.addCleanup(nginx.stop)
        # Everything goes through a relay that cuts every answer after 768 KiB: only big.bin,
        # served uncompressed, is long enough to be cut, and goes on from its pieces.
        relay = Server(upstream=("127.0.0.1", nginx.port), drop_every=768 * 1024)
        self.addCleanup(relay.stop)
        finish = self.guard("big.bin", big)
        self.write_hand_over([("notice.txt", len(text), 0, 0), ("pack.zip", len(pack), 0, 0),
                              ("moved.txt", 999, 0, 0), ("big.bin", len(big), 0, 0)],
                             url=relay.base_url)
        self.run_update()
        self.assertEqual([], finish())
        self.assertEqual(big, self.read("big.bin"))
        self.assertEqual([200, 206, 206, 206],
                         [status for name, _, status, _ in relay.ranges if name == "big.bin"])
        self.assertEqual(text, self.read("notice.txt"))
        self.assertEqual(text[:999], self.read("moved.txt"))
        self.assertEqual(b"map " * 5000, self.read("maps", "a.map"))
        self.assertEqual(["Quillon.exe"], self.lobby_starts())
        log = nginx.access_log()
        self.assertIn("gzip", log, "the answers were compressed")
        self.assertIn(" 301 ", log, "the redirect was followed")

    def test_a_cut_download_goes_on_where_it_stopped(self):
        # Each row: files served as a static file server serves them, cut in its own way, and
        # what must land; every target holds an old good copy, old or new at every sample.
        mib, r = 1 << 20, 512 * 1024
        big, part = os.urandom(3 * mib), os.urandom(2 * mib)
        pack = make_zip([("part.bin", part)])
        one, other = os.urandom(mib + 12345), os.urandom(mib + 12345)
        rows = [
            ("a link that drops every 512 KiB",
             {"big.bin": Served(big, drop_every=r), "pack.zip": Served(pack, drop_every=r)},
             {"big.bin": big, "part.bin": part}),
            ("a server that drops but has no ranges",
             {"f.bin": Served(one, drop_every=r, ranges=False)}, {"f.bin": one}),
            ("the file replaced on the server between two pieces",
             {"f.bin": Served(one, drop_every=r, replace=(1, other))}, {"f.bin": other}),
            ("a 206 that starts elsewhere",
             {"f.bin": Served(one, faults=["cut", "range-elsewhere"])}, {"f.bin": one}),
            ("a 206 of another total", {"f.bin": Served(one, faults=["cut", "range-total"])},
             {"f.bin": one}),
            ("a compressed answer cut short", {"f.bin": Served(one, mode="gzip", faults=["cut"])},
             {"f.bin": one}),
        ]
        for fault, files, news in rows:
            with self.subTest(fault):
                self.server.files, self.server.ranges[:] = files, []
                self.remove("lobby-started.txt", "UpdateClient.txt")
                shutil.rmtree(self.path("DownLoad"), ignore_errors=True)
                wine("reg", "delete", VERSION_KEY, "/f")
                finish = [self.guard(name, new) for name, new in news.items()]
                self.write_hand_over([(n, len(f.body), 0, 0) for n, f in files.items()])
                with self.running() as proc:
                    try:
                        ended = proc.wait(timeout=20 if "no ranges" in fault else 120)
                    except subprocess.TimeoutExpired:
                        ended = None
                self.assertEqual([[]] * len(finish), [f() for f in finish])
                log = self.server.ranges
                if "no ranges" in fault:
                    self.assertIsNone(ended, "a file that never comes whole holds the run")
                    self.assertLessEqual(len(log), 6, "and the pauses grow")
                    self.assertEqual(OLD, self.read("f.bin"))
                    self.assert_run_not_completed()
                    continue
                self.assertEqual(0, ended)
                for name, new in news.items():
                    self.assertEqual(new, self.read(name), name)
                self.assertEqual(["Quillon.exe"], self.lobby_starts())
                asked = [range_ for _, range_, _, _ in log]
                if "512 KiB" in fault:
                    self.assertLessEqual(sum(end for *_, end in log), 1.25 * (len(big) + len(pack)))
                    self.assertGreaterEqual(len([a for a in asked if a]), 6, log)
                if "206" in fault:
                    self.assertEqual([None, "bytes=%d-" % (len(one) // 2), None], asked,
                                     "refused, then from zero again")
                if "compressed" in fault:
                    self.assertEqual([None, None], asked, "started over, never continued")

    def test_closed_or_killed_mid_file_goes_on_in_the_next_run(self):
        # Esc or a kill in the middle of the updater's own new program file keeps what came,
        # never under the listed name where the lobby looks for it; the next start with the
        # same hand-over asks for the rest.
        body = os.urandom(3 << 20)
        download = self.path("DownLoad", "Update.exe")
        finish = self.watch(os.path.join("DownLoad", "Update.exe"), (None, body))
        for how in ("Esc", "kill"):
            self.server.files = {"Update.exe": Served(body, rate=400000)}
            self.server.began.clear()
            self.write_hand_over([("Update.exe", len(body), 0, 0)])
            with self.running() as proc:
                self.wait_for(lambda: self.server.began.is_set(), 60)
                time.sleep(2)
                if how == "kill":
                    proc.kill()
                else:
                    wine(e2e.ARGS.send_close, "2", gui=True, cwd=self.folder)
                    self.assertEqual(0, proc.wait(timeout=60))
            pieces = [n for n in os.listdir(self.path("DownLoad")) if n.endswith(".part")]
            self.assertGreaterEqual(len(pieces), 1, "what came is kept")
            self.assertFalse(os.path.exists(download), "nothing partial under the listed name")
            self.assert_run_not_completed()
        index = self.read("DownLoad", "~updater-pieces-of-cut-downloads.txt").decode()
        kept = int(index.split("\t")[6])
        self.assertTrue(0 < kept < len(body))
        self.server.files["Update.exe"] = Served(body)
        self.write_hand_over([("Update.exe", len(body), 0, 0)])
        self.run_update()
        self.assertEqual([], finish())
        self.assertEqual(body, self.read("DownLoad", "Update.exe"))
        self.assertEqual("bytes=%d-" % kept, self.server.ranges[-1][1])
        self.assertEqual(["Quillon.exe"], self.lobby_starts())

        # A piece lost while the run waits for its rest (an antivirus, a player clearing
        # DownLoad\) is no piece: the file comes again from byte 0.
        self.server.files = {"slow.bin": Served(body, drop_every=1 << 20)}
        self.write_hand_over([("slow.bin", len(body), 0, 0)])
        with self.running() as proc:
            def lose():
                parts = [n for n in os.listdir(self.path("DownLoad")) if n.endswith(".part")]
                for n in parts:
                    os.remove(self.path("DownLoad", n))
                return parts
            self.wait_for(lose, 60)
            self.assertEqual(0, proc.wait(timeout=90))
        self.assertEqual(body, self.read("slow.bin"))

        # A piece left for an item the next list does not name goes with that run.
        self.server.files = {"slow.bin": Served(body, drop_every=1 << 20), "b.txt": Served(b"b")}
        self.server.ranges[:] = []
        self.write_hand_over([("slow.bin", len(body), 0, 0)])
        with self.running():
            self.wait_for(lambda: len(self.server.ranges) >= 2, 60)
        self.assertTrue(any(n.endswith(".part") for n in os.listdir(self.path("DownLoad"))))
        self.write_hand_over([("b.txt", 1, 0, 0)])
        self.run_update()
        self.assertEqual(["Update.exe"], os.listdir(self.path("DownLoad")),
                         "the piece and its index went")

    def test_folders_follow_the_installation_wherever_it_is_started(self):
        # The lobby may start the updater from another working folder: the hand-over and the
        # record are there, everything installed goes below the updater's own folder. The
        # second archive is written as packers write streamed ones, with zip64 records.
        pack = make_zip([("maps/", None), ("maps/a.map", b"map data")])
        z64 = zip64_zip([("maps/b.map", b"zip64 " * 1000)])
        elsewhere = self.path("elsewhere")
        os.makedirs(elsewhere)
        self.server.files = {"pack.zip": Served(pack), "z64.zip": Served(z64)}
        with open(os.path.join(elsewhere, "~Update.tmp"), "wb") as f:
            f.write(hand_over(self.server.base_url, [("pack.zip", len(pack), 0, 0),
                                                     ("z64.zip", len(z64), 0, 0)]))
        wine(self.path("Update.exe"), gui=True, cwd=elsewhere, timeout=120)
        self.assertEqual(b"map data", self.read("maps", "a.map"))
        self.assertEqual(b"zip64 " * 1000, self.read("maps", "b.map"))
        self.assertEqual(["UpdateClient.txt"], os.listdir(elsewhere))
        self.assertEqual(COMPLETED, registry_versions())

    @unittest.skipUnless(os.environ.get("KIT_LARGE"), "the 2.2 GB run has a ctest label of its own")
    def test_an_archive_past_2_gib_installs_whole(self):
        # A stored archive of 2.2 GB with classic records, its zeros holes of a sparse file,
        # served by nginx: every offset past 2 GiB, one entry past 2 GiB itself. At loopback
        # speed the download reports nothing until it is whole: with a stall limit of 5 s it
        # is judged by what reaches the disk.
        if shutil.which("nginx") is None:
            self.skipTest("nginx is not installed")
        root = os.path.join(self.folder, "site")
        os.makedirs(os.path.join(root, "Torvel"))
        big = (2 << 30) + 12345
        size = sparse_stored_zip(os.path.join(root, "Torvel", "large.zip"),
                                 [("first.bin", 100), ("big.bin", big), ("last.bin", 200 << 20)])
        nginx = Nginx(root, self.folder)
        self.addCleanup(nginx.stop)
        self.write_hand_over([("large.zip", size, 0, 0)], url=nginx.base_url)
        self.write("UpdateConfig.txt", b"[Setting]\r\nDownloadStallSeconds=5\r\n")
        took = self.run_update(timeout=900)
        print("\n%.1f GB archive installed in %.0f s" % (size / 1e9, took), file=sys.stderr)
        for name, length in (("first.bin", 100), ("big.bin", big), ("last.bin", 200 << 20)):
            self.assertEqual(length, os.path.getsize(self.path(name)), name)
        with open(self.path("big.bin"), "rb") as f:
            f.seek(big - 4096)
            self.assertEqual(bytes(4096), f.read())
        self.assertIn("[large.zip]", self.read("UpdateClient.txt").decode("latin-1"))
        self.assertEqual(COMPLETED, registry_versions())
        shutil.rmtree(self.folder, ignore_errors=True)
        # The system's download cache keeps a copy of its own.
        for top, _, names in os.walk(os.path.join(os.environ["KIT_WINEPREFIX"], "drive_c")):
            for name in (n for n in names if "Cache" in top and n.endswith(".zip")):
                os.remove(os.path.join(top, name))

    # --- fetching ahead ------------------------------------------------------------------

    def test_fetching_ahead_over_a_players_line(self):
        # 40 files and two archives over a line with 60 ms before each answer's first byte and
        # 2 MiB/s shared: with downloads ahead (the default) the release installs in list
        # order and sooner than one at a time. The file at 3 is cut at its first request, and
        # replaced on the server before its turn: its turn judges the rest it asks for as any
        # answer, and the new version lands.
        names = ["f%02d.%s" % (i, "zip" if i in (10, 30) else "bin") for i in range(40)]
        bodies = {n: make_zip([("%s-in.txt" % n[:3], os.urandom(20000))]) if n.endswith(".zip")
                  else os.urandom(10000 + 1000 * i) for i, n in enumerate(names)}
        new = os.urandom(len(bodies["f03.bin"]))
        took = {}
        for ahead in ("0", None):
            with self.subTest(ahead=ahead):
                self.server.stop()
                self.server = Server(round_trip=0.06, line_rate=2 << 20)
                self.server.files = {n: Served(b) for n, b in bodies.items()}
                self.server.files["f03.bin"] = Served(bodies["f03.bin"], faults=["cut"],
                                                      replace=(1, new))
                self.write("UpdateConfig.txt", "[Setting]\r\n" +
                           ("DownloadsAhead=%s\r\n" % ahead if ahead else ""))
                shutil.rmtree(self.path("DownLoad"), ignore_errors=True)
                self.remove("lobby-started.txt", *names)
                wine("reg", "delete", VERSION_KEY, "/f")
                self.write_hand_over([(n, len(new if n == "f03.bin" else bodies[n]), 0, 0)
                                      for n in names])
                took[ahead] = self.run_update()
                self.assertEqual(["Quillon.exe"], self.lobby_starts())
                placed = [self.path(n) if n.endswith(".bin") else self.path(n[:3] + "-in.txt")
                          for n in names]
                self.assertEqual(new, self.read("f03.bin"))
                changed = [os.stat(p).st_ctime_ns for p in placed]
                self.assertEqual(sorted(changed), changed, "installed in list order")
                self.assertEqual([(False, 200), (True, 200)],
                                 [(r is not None, status) for n, r, status, _ in self.server.ranges
                                  if n == "f03.bin"], "the rest asked for, the new file sent")
        self.assertLess(took[None], took["0"], "fetching ahead is sooner: %s" % took)

    # --- runs that must not complete -------------------------------------------------------

    def test_refused_lists_end_the_run_unfinished(self):
        # The reader's and the name rule's cases are the unit tests'; here the program must
        # act on a refusal: no request (or none past the refused name), no version, no lobby.
        self.server.files = {"first.txt": Served(b"1"), "last.txt": Served(b"3")}
        cases = [
            ("no hand-over closes at once, making nothing", None, []),
            ("hand-over shorter than declared",
             hand_over(self.server.base_url, [("first.txt", 1, 0, 0)], declared=2), []),
            ("a climbing name ends the run there",
             hand_over(self.server.base_url, [("first.txt", 1, 0, 0), ("..\\evil.txt", 1, 0, 0),
                                              ("last.txt", 1, 0, 0)]), ["first.txt"]),
        ]
        for fault, data, requested in cases:
            with self.subTest(fault):
                self.server.requests.clear()
                if data is not None:
                    self.write("~Update.tmp", data)
                self.assertLess(self.run_update(timeout=60), 30)
                if data is None:
                    self.assertFalse(os.path.exists(self.path("DownLoad")))
                self.assertEqual(requested, self.server.requests)
                self.assertFalse(os.path.exists(self.path("last.txt")))
                self.assert_run_not_completed()

    def test_closing_during_slow_download(self):
        # The hidden close button, Enter and Esc all end the dialog mid-download; the stop
        # aborts the download at once, even one whose server has gone silent, so the program
        # ends cleanly (0), not by the forced end 10 s after the dialog (3). Each case fetches
        # a name of its own: none sees what an aborted download left in the system's cache.
        cases = (("close command", "1000", 0.1), ("Enter", "1", 0.1), ("Esc", "2", 0.1),
                 ("server silent", "1000", 600))
        for i, (fault, command, pause) in enumerate(cases):
            with self.subTest(fault):
                name = "slow%d.bin" % i
                self.server.requests.clear()
                wine("reg", "delete", VERSION_KEY, "/f")
                # About 100 s of trickle: the close always arrives mid-download, however
                # slowly a loaded machine starts the programs.
                self.server.files = {name: Served(b"s" * 4000000, trickle=pause)}
                self.write_hand_over([(name, 4000000, 0, 0)])
                with self.running() as proc:
                    self.wait_for(lambda: name in self.server.requests, 60)
                    time.sleep(1.0)
                    self.assertEqual(0, wine(e2e.ARGS.send_close, command, gui=True,
                                             cwd=self.folder).returncode,
                                     "the update window was found")
                    self.assertEqual(0, proc.wait(timeout=120), "which end the program took")
                self.assertFalse(os.path.exists(self.path(name)))
                self.assert_run_not_completed()


if __name__ == "__main__":
    e2e.main()
