#!/usr/bin/env python3
"""Generates the demo's sample release in FOLDER: an archive with folder entries and nested
files, a larger archive (a few MB, mostly incompressible, so the progress is visible), a plain
file with a server time stamp, and a new Update.exe (a copy of the given program)."""
import argparse
import os
import random
import shutil
import zipfile

STAMP = 1767225600  # 2026-01-01 00:00:00 UTC: the server's time stamp of every file


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--updater", required=True, help="the program to publish as Update.exe")
    args = parser.parse_args()
    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    when = (2026, 1, 1, 8, 0, 0)

    with zipfile.ZipFile(os.path.join(args.folder, "maps.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for name in ("maps/", "maps/river/"):
            info = zipfile.ZipInfo(name, when)
            info.external_attr = 0x10
            z.writestr(info, b"")
        for name, text in (("maps/plain.map", "plain " * 2000),
                           ("maps/river/delta.map", "delta " * 3000),
                           ("maps/river/source.map", "source " * 1000),
                           ("maps.txt", "maps/plain.map\nmaps/river/delta.map\n")):
            info = zipfile.ZipInfo(name, when)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode())

    rng = random.Random(7)
    with zipfile.ZipFile(os.path.join(args.folder, "media.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(3):
            info = zipfile.ZipInfo("media%d.pak" % i, when)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, rng.randbytes(1_200_000))

    with open(os.path.join(args.folder, "notice.txt"), "w") as f:
        f.write("Lobby 2.1: new maps and sounds.\n")
    shutil.copy(args.updater, os.path.join(args.folder, "Update.exe"))
    for name in os.listdir(args.folder):
        os.utime(os.path.join(args.folder, name), (STAMP, STAMP))


if __name__ == "__main__":
    main()
