#!/usr/bin/env python3
"""Runs updatebench under Wine next to what it needs and prints its table.

Writes the benchmark's archives and release into the work folder (kept between runs of the
same sizes), times the distribution's `unzip` natively on the same large archive, serves the
download files from a loopback HTTP server, puts Update.exe and the stand-in lobby into the
work folder for the whole runs, runs the benchmark once and removes what the run unpacked.
Exits with the benchmark's status.
"""
import argparse
import io
import os
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from loopback import Served, Server  # noqa: E402

FULL = dict(reps=3, big_mb=64, many="5000,10000,20000", download_mb=64, downloads=200,
            passes=2000, budget_s=20, release_files=200, release_mb=100, release_reps=5,
            link_kib=1024, drop_kib=4096, line_files=200, line_mb=20, small_files=200,
            small_kib=19251, line_reps=1)
TINY = dict(reps=1, big_mb=2, many="10,20", download_mb=1, downloads=10, passes=20,
            budget_s=10, release_files=20, release_mb=2, release_reps=1,
            link_kib=8192, drop_kib=256, line_files=20, line_mb=2, small_files=20,
            small_kib=2048, line_reps=1)
OUTPUTS = ("out", "step", "res", "unzip", "disk", "whole", "kit", "signed", "exit")
GENERATOR = 7
# The player's line of figure 12: before each answer's first byte, and the rate all share.
LINE_RTT_MS = 60
LINE_KIB = 2048
MANIFEST = "~updater-release-manifest-signed-by-the-operator.txt"


def small_file(name):
    """The bytes served for a small download: plain files, or archives of two entries."""
    stem, ext = os.path.splitext(name)
    if ext == ".zip":
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(stem + "_a.txt", ("entry a of %s\n" % stem) * 40)
            z.writestr(stem + "_b.txt", ("entry b of %s\n" % stem) * 25)
        return buf.getvalue()
    return (("%s " % stem) * 400).encode()[: 1000 + 7 * int(stem[1:] or 0)]


def release(download_mb, archives, link_kib, drop_kib, signed, line):
    """What the benchmark's server answers: /Torvel/big.bin (download_mb MiB), the same
    bytes as cut.bin over a link that drops every drop_kib KiB, as paced.bin over a link of
    link_kib KiB/s and as paced-cut.bin over one that also drops; the small files, big.zip
    and the whole-run releases from the archives folder, a range only as "bytes=N-" (so that
    Update.exe fetches every archive whole); figure 14's archive of each version as
    /Torvel/entries-VERSION/Torvel/entries.zip, with every range (fetched by entries), and
    as /Torvel/whole-VERSION/Torvel/entries.zip with "bytes=N-" alone (fetched whole); the
    release manifest updatebench signs into the signed folder; as /Torvel/~sent/N/NAME, how
    many answers the line's server (line[0], once it runs) gave for NAME and their bodies'
    bytes ("answers bytes"); anything else is missing."""
    big = Served(os.urandom(download_mb * 1024 * 1024))
    links = {"cut.bin": dict(drop_every=drop_kib * 1024), "paced.bin": dict(rate=link_kib * 1024),
             "paced-cut.bin": dict(rate=link_kib * 1024, drop_every=drop_kib * 1024)}
    generated, read = {}, {}

    def from_archives(path, any_range=False):
        if (path, any_range) not in generated:
            if path not in read:
                with open(path, "rb") as f:
                    read[path] = f.read()
            generated[path, any_range] = Served(read[path], any_range=any_range)
        return generated[path, any_range]

    # Figure 14's archives are read now: read in a run's first request, they would delay it.
    entries = os.path.join(archives, "entries")
    for version in os.listdir(entries) if os.path.isdir(entries) else ():
        for any_range in (False, True):
            from_archives(os.path.join(entries, version), any_range)

    def resolve(name):
        if name.startswith("~sent/") and line:
            asked = name.split("/", 2)[-1]
            sent = [b for n, _, _, b in list(line[0].ranges) if n == asked]
            return Served(("%d %d\n" % (len(sent), sum(sent))).encode())
        folder, _, listed = name.partition("/Torvel/")
        kind, _, version = folder.partition("-")
        if kind in ("entries", "whole") and listed == "entries.zip":
            path = os.path.join(entries, version + ".zip")
            if not (version.isalnum() and os.path.isfile(path)):
                return None
            return from_archives(path, any_range=kind == "entries")
        if name == "big.bin":
            return big
        if name in links:
            return Served(big.body, **links[name])
        if name == "big.zip":
            return from_archives(os.path.join(archives, "big.zip"))
        if name == "stall.bin":
            return Served(bytes(1 << 20), faults=["stall"], stall_s=10)
        if name == MANIFEST:
            path = os.path.join(signed, name)
            return from_archives(path) if os.path.isfile(path) else None
        if name[:1] == "r" and name[1:4].isdigit() and name[4:] in (".bin", ".zip"):
            return Served(small_file(name))
        path = os.path.join(archives, "release", name)
        if name.replace(".", "").isalnum() and os.path.isfile(path):
            return from_archives(path)
        return None
    return resolve


def sizes_args(s):
    return ["--reps", str(s["reps"]), "--big-mb", str(s["big_mb"]), "--many", s["many"],
            "--download-mb", str(s["download_mb"]), "--downloads", str(s["downloads"]),
            "--passes", str(s["passes"]), "--budget-s", str(s["budget_s"]),
            "--release-files", str(s["release_files"]), "--release-mb", str(s["release_mb"]),
            "--release-reps", str(s["release_reps"]), "--link-kib", str(s["link_kib"]),
            "--drop-kib", str(s["drop_kib"]), "--line-files", str(s["line_files"]),
            "--line-mb", str(s["line_mb"]), "--small-files", str(s["small_files"]),
            "--small-kib", str(s["small_kib"]), "--line-reps", str(s["line_reps"])]


def time_unzip(work, reps):
    """Median milliseconds of the distribution's unzip on archives/big.zip, or None."""
    unzip = shutil.which("unzip")
    if unzip is None:
        return None
    times = []
    for r in range(reps):
        dest = os.path.join(work, "unzip", str(r))
        os.makedirs(dest, exist_ok=True)
        start = time.perf_counter()
        subprocess.run([unzip, "-qq", "-o", os.path.join(work, "archives", "big.zip"), "-d", dest],
                       check=True, timeout=600)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def time_disk(work, files, per_folder=500):
    """Microseconds per small file, natively on the work folder's disk: rewritten in place
    (what the bare loop does to an existing target), and replaced through a new file renamed
    over it (what a replacement that leaves the target old or new at every moment needs)."""
    root = os.path.join(work, "disk")
    paths = []
    for i in range(files):
        folder = os.path.join(root, "d%03d" % (i // per_folder))
        if i % per_folder == 0:
            os.makedirs(os.path.join(folder, "work"))
        paths.append(os.path.join(folder, "f%05d.dat" % i))
    data = os.urandom(1024)

    def rewrite(path):
        with open(path, "wb") as f:
            f.write(data)

    def replace(path):
        temporary = os.path.join(os.path.dirname(path), "work", "t")
        rewrite(temporary)
        os.replace(temporary, path)

    for path in paths:
        rewrite(path)
    costs = []
    for step in (rewrite, replace):
        start = time.perf_counter()
        for path in paths:
            step(path)
        costs.append((time.perf_counter() - start) * 1e6 / files)
    shutil.rmtree(root, ignore_errors=True)
    return costs


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--bench", required=True, help="updatebench.exe")
    p.add_argument("--wine-run", required=True, help="scripts/wine-run")
    p.add_argument("--work", required=True, help="folder for archives and outputs")
    p.add_argument("--update", required=True, help="Update.exe, for the whole runs")
    p.add_argument("--lobby", required=True, help="the stand-in lobby that records its start")
    p.add_argument("--tiny", action="store_true", help="tiny inputs: proves it runs")
    p.add_argument("--only", default=None, help="figures to measure, e.g. 11,12 (all by default)")
    for key in FULL:
        p.add_argument("--" + key.replace("_", "-"), default=None)
    a = p.parse_args()
    sizes = dict(TINY if a.tiny else FULL)
    for key in FULL:
        value = getattr(a, key)
        if value is not None:
            sizes[key] = value if key == "many" else int(value)

    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    for name in OUTPUTS:
        shutil.rmtree(os.path.join(work, name), ignore_errors=True)
    mode = "--gui" if os.environ.get("KIT_DISPLAY") else "--console"
    wine = [os.path.abspath(a.wine_run), mode, os.path.abspath(a.bench)]

    # The archives depend only on their sizes and the generator: a stamp keeps them across
    # runs. Raise GENERATOR when updatebench writes different archives for the same sizes.
    stamp = os.path.join(work, "archives", "sizes")
    wanted = "generator %d: %s %s %s %s %s %s %s %s" % (
        GENERATOR, sizes["big_mb"], sizes["many"], sizes["release_files"], sizes["release_mb"],
        sizes["line_files"], sizes["line_mb"], sizes["small_files"], sizes["small_kib"])
    if not os.path.exists(stamp) or open(stamp).read() != wanted:
        shutil.rmtree(os.path.join(work, "archives"), ignore_errors=True)
        print("bench: writing the archives (%s MB, %s entries) and a release of %s files, %s MB"
              % (sizes["big_mb"], sizes["many"], sizes["release_files"], sizes["release_mb"]),
              flush=True)
        subprocess.run(wine + ["--generate"] + sizes_args(sizes), cwd=work, check=True,
                       timeout=900)
        with open(stamp, "w") as f:
            f.write(wanted)

    only = [int(f) for f in a.only.split(",")] if a.only else None
    unzip_ms = time_unzip(work, sizes["reps"]) if not only or 5 in only else None
    disk_us = time_disk(work, int(sizes["many"].split(",")[0])) if not only or 2 in only else None
    # The whole runs copy the kit from a folder of the work folder: a relative Windows path.
    os.makedirs(os.path.join(work, "kit"))
    shutil.copy(a.update, os.path.join(work, "kit", "Update.exe"))
    shutil.copy(a.lobby, os.path.join(work, "kit", "Quillon.exe"))
    lines = []
    serve = release(sizes["download_mb"], os.path.join(work, "archives"), sizes["link_kib"],
                    sizes["drop_kib"], os.path.join(work, "signed"), lines)
    server = Server(resolve=serve)
    line = Server(resolve=serve, round_trip=LINE_RTT_MS / 1000, line_rate=LINE_KIB * 1024)
    lines.append(line)
    try:
        args = sizes_args(sizes) + ["--port", str(server.port), "--kit", "kit"]
        args += ["--line-port", str(line.port), "--line-rtt-ms", str(LINE_RTT_MS),
                 "--line-kib", str(LINE_KIB)]
        if disk_us is not None:
            args += ["--disk-us", "%.1f,%.1f" % tuple(disk_us)]
        if unzip_ms is not None:
            args += ["--unzip-ms", "%.1f" % unzip_ms]
        if only:
            args += ["--only", a.only]
        print("bench: running updatebench %s" % " ".join(args), flush=True)
        result = subprocess.run(wine + args, cwd=work, timeout=1800)
        # Whether the downloads kept their connections: the line charges its round trip per
        # request, not per connection.
        print("bench: the line's server answered %d requests on %d connections"
              % (len(line.requests), line.connections), flush=True)
    finally:
        server.stop()
        line.stop()
        for name in OUTPUTS:
            shutil.rmtree(os.path.join(work, name), ignore_errors=True)
    if unzip_ms is None and (not only or 5 in only):
        print("bench: unzip is not installed: no native figure")
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
