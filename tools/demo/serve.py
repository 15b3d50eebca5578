#!/usr/bin/env python3
"""A slowed-down update server for the demo: serves FOLDER/NAME for GET /Torvel/NAME at RATE
bytes per second, with a Content-Length, on 127.0.0.1 at a free port. Prints the base URL on
its first line, then serves until it is killed."""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from loopback import Served, Server  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--rate", type=int, default=1 << 20, help="bytes per second")
    args = parser.parse_args()

    def resolve(name):
        file = os.path.join(args.folder, *name.split("/"))
        if ".." in name.split("/") or not os.path.isfile(file):
            return None
        with open(file, "rb") as f:
            return Served(f.read(), rate=args.rate)

    server = Server(resolve=resolve, log=sys.stderr)
    print(server.base_url, flush=True)
    server.thread.join()


if __name__ == "__main__":
    main()
