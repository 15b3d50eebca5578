#!/usr/bin/env python3
"""The real Update.exe on the Xvfb screen while it downloads a file slowly, then waits.

The updater runs in a temporary installation folder against a loopback server that hands
out its one file in small pieces. While the download runs, the screen is grabbed twice
(the first grab is kept as a PNG under the build folder) and the window is looked for by
its colours: it must be 361x57 pixels and show a growing bar and the white status and
speed lines. The file's target is held open by another program, so the run then waits:
that grab is kept too, and its lines must say so. Once the file is free the run ends by
itself and the window goes.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from loopback import Served, Server, hand_over  # noqa: E402

ARGS = None
VERSION_KEY = r"HKCU\Software\Kestro\Halvora\FileVersion"
WIDTH, HEIGHT = 361, 57
UPPER_TOP = (86, 183, 220)
LOWER_TOP, LOWER_BOTTOM = (25, 114, 174), (14, 191, 223)
BAR_HIGHLIGHT = (160, 214, 164)
WHITE = (255, 255, 255)
TEXT_LIGHT = 200  # a text pixel, smoothed or not: every channel at least this light

FILE_NAME = "slow.bin"
FILE_SIZE = 320 * 1024
PAUSE = 0.1  # between 4 KiB pieces: about 40 KB a second, some eight seconds in all


class Screen:
    """One grab of the whole Xvfb screen as rows of (r, g, b)."""

    def __init__(self, png):
        subprocess.run(["import", "-display", os.environ["KIT_DISPLAY"], "-window", "root",
                        png], check=True, stdin=subprocess.DEVNULL)
        ppm = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], check=True,
                             capture_output=True).stdout
        magic, size, _, self.raw = ppm.split(b"\n", 3)
        self.width, self.height = map(int, size.split())
        assert magic == b"P6" and len(self.raw) == 3 * self.width * self.height

    def at(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        i = 3 * (y * self.width + x)
        return tuple(self.raw[i:i + 3])

    def find_window(self):
        """Top-left corner of the first row that starts a run of the top band's colour."""
        top = bytes(UPPER_TOP)
        for y in range(self.height):
            row = self.raw[3 * y * self.width:3 * (y + 1) * self.width]
            at = row.find(top * WIDTH)
            while at >= 0 and at % 3:
                at = row.find(top * WIDTH, at + 1)
            if at >= 0:
                return at // 3, y
        return None

    def count(self, left, top, right, bottom, match):
        return sum(match(self.at(x, y)) for y in range(top, bottom) for x in range(left, right))


class UpdateWindowOnScreen(unittest.TestCase):
    def setUp(self):
        # A key an earlier run pinned would hold this unsigned run to it.
        subprocess.run([ARGS.wine_run, "--console", "reg", "delete", VERSION_KEY, "/f"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.server = Server()
        self.server.files = {FILE_NAME: Served(b"w" * FILE_SIZE, trickle=PAUSE)}
        self.folder = os.path.join(ARGS.work, "install")
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        shutil.copy(ARGS.update, os.path.join(self.folder, "Update.exe"))
        # Nothing to start once the run is complete: the lobby is not part of this test.
        with open(os.path.join(self.folder, "UpdateConfig.txt"), "w") as f:
            f.write("[Setting]\r\nbRunAppOnUpdate=0\r\n")
        with open(os.path.join(self.folder, "~Update.tmp"), "wb") as f:
            f.write(hand_over(self.server.base_url, [(FILE_NAME, FILE_SIZE, 0, 0)],
                              version2=0x00000002))

    def tearDown(self):
        self.server.stop()

    def bar_width(self, screen, left, top):
        row = top + 38
        return sum(screen.at(x, row) == BAR_HIGHLIGHT for x in range(left + 17, left + 343))

    def text_right_edge(self, screen, left, top, x0, x1):
        """The rightmost column of light text in the line from x0 to x1, or x0."""
        light = [x for x in range(x0, x1) for y in range(top + 10, top + 30)
                 if min(screen.at(left + x, y)) >= TEXT_LIGHT]
        return max(light, default=x0)

    def test_window_during_a_slow_download_then_a_wait(self):
        target = os.path.join(self.folder, FILE_NAME)
        with open(target, "wb") as f:
            f.write(b"old")
        holder = subprocess.Popen([ARGS.wine_run, "--console", ARGS.hold_open, target, "120"],
                                  cwd=self.folder, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not os.path.exists(target + ".held") and time.monotonic() < deadline:
            time.sleep(0.1)
        proc = subprocess.Popen([ARGS.wine_run, "--gui", os.path.join(self.folder, "Update.exe")],
                                cwd=self.folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(self.server.began.wait(60), "the download began")
            time.sleep(2.0)
            first = Screen(ARGS.shot)
            time.sleep(1.5)
            second = Screen(os.path.join(ARGS.work, "second.png"))

            corner = first.find_window()
            self.assertIsNotNone(corner, "a row of the top band's colour, 361 pixels long")
            left, top = corner
            light, white = lambda c: min(c) >= TEXT_LIGHT, lambda c: c == WHITE

            # Where the pixels come from is the paint pass's own test; here: the window's size
            # and place, centred as the dialog came up at another size and was resized.
            with self.subTest("centred on the screen"):
                self.assertLessEqual(abs(left - (first.width - WIDTH) // 2), 1, corner)
                self.assertLessEqual(abs(top - (first.height - HEIGHT) // 2), 1, corner)
            with self.subTest("361 pixels wide, nothing of the band either side"):
                self.assertNotEqual(UPPER_TOP, first.at(left - 1, top))
                self.assertNotEqual(UPPER_TOP, first.at(left + WIDTH, top))
            with self.subTest("57 rows: the last is the lower band's bottom, then no band"):
                self.assertEqual(LOWER_BOTTOM, first.at(left + 5, top + HEIGHT - 1))
                self.assertNotIn(first.at(left + 5, top + HEIGHT),
                                 (LOWER_BOTTOM, LOWER_TOP, UPPER_TOP))

            with self.subTest("status line in white from (17, 10)"):
                self.assertGreater(first.count(left + 17, top + 10, left + 219, top + 30, light),
                                   100)
            with self.subTest("speed line in white from (220, 10)"):
                self.assertGreater(first.count(left + 220, top + 10, left + WIDTH, top + 30, light),
                                   100)
            # The program's own font is used only on the screen: it must stay within the lines.
            with self.subTest("no text outside the upper band's lines"):
                self.assertEqual(0, first.count(left, top, left + WIDTH, top + 10, white))
                self.assertEqual(0, first.count(left, top + 30, left + WIDTH, top + HEIGHT, white))

            with self.subTest("the timer redraws: the bar grows without any repaint asked"):
                self.assertGreater(self.bar_width(first, left, top), 0)
                self.assertGreater(self.bar_width(second, left, top),
                                   self.bar_width(first, left, top))

            # The rest of the download, then the wait for the held target: the status line
            # names what it waits for and the speed line counts down to the next try.
            time.sleep(FILE_SIZE / 4096 * PAUSE + 2.5)
            waiting = Screen(ARGS.shot.replace(".png", "-waiting.png"))
            time.sleep(1.1)
            later = Screen(os.path.join(ARGS.work, "later.png"))
            left, top = waiting.find_window()
            left0, top0 = corner
            status = [self.text_right_edge(s, x, y, 17, 219)
                      for s, x, y in ((first, left0, top0), (waiting, left, top))]
            # "正在下载文件 slow.bin" against "文件被占用 slow.bin": one 12-pixel glyph less.
            self.assertTrue(8 <= status[0] - status[1] <= 16, status)
            region = lambda s, x0, x1: [s.at(left + x, top + y) for x in range(x0, x1)
                                        for y in range(10, 30)]
            self.assertEqual(region(waiting, 17, 219), region(later, 17, 219),
                             "the waiting line stays while the run waits")
            self.assertNotEqual(region(waiting, 220, WIDTH), region(later, 220, WIDTH),
                                "the seconds to the next try count down")
            self.assertIsNone(proc.poll(), "the run waits for the file")
            open(target + ".release", "w").close()
            holder.wait(timeout=60)
            self.assertEqual(0, proc.wait(timeout=120), "it ends by itself once the file is free")
        finally:
            for p in (proc, holder):
                if p.poll() is None:
                    p.kill()
        with open(target, "rb") as f:
            self.assertEqual(FILE_SIZE, len(f.read()))
        after = Screen(os.path.join(ARGS.work, "after.png"))
        self.assertIsNone(after.find_window(), "the window is gone")


    def test_a_target_it_may_not_write_is_named_so(self):
        # As root Wine ignores the read-only bit; an immutable file refuses the run as a file
        # of a folder the player may not write does: access denied, not "in use".
        target = os.path.join(self.folder, FILE_NAME)
        with open(target, "wb") as f:
            f.write(b"old")
        if subprocess.run(["chattr", "+i", target], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("no immutable files here")
        self.addCleanup(subprocess.run, ["chattr", "-i", target])
        proc = subprocess.Popen([ARGS.wine_run, "--gui", os.path.join(self.folder, "Update.exe")],
                                cwd=self.folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.assertTrue(self.server.began.wait(60), "the download began")
        time.sleep(2.0)
        downloading = Screen(os.path.join(ARGS.work, "denied-downloading.png"))
        time.sleep(FILE_SIZE / 4096 * PAUSE + 1.5)
        waiting = Screen(ARGS.shot.replace(".png", "-denied.png"))
        edges = [self.text_right_edge(s, *s.find_window(), 17, 219) for s in (downloading, waiting)]
        # "正在下载文件 slow.bin" against "无权写入 slow.bin": two 12-pixel glyphs less.
        self.assertTrue(20 <= edges[0] - edges[1] <= 28, edges)
        self.assertIsNone(proc.poll(), "the run waits, and tries again")
        subprocess.run(["chattr", "-i", target], check=True)
        self.assertEqual(0, proc.wait(timeout=120), "it ends by itself once it may write")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--update", "--wine-run", "--work", "--shot", "--hold-open"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
