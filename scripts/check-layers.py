#!/usr/bin/env python3
"""Checks that the engine's folders depend on each other in one direction.

Usage: check-layers.py SRC_DIR ENGINE_SOURCES_LIST

The engine (the plexengine library: its sources and every project header they
reach) is layered platform -> res -> app -> view -> media -> convert: a file
may include headers of its own folder and of the folders before it, never of
a folder after it. Window code (the plexgui library) is not part of the
engine and is not checked. Prints every offending include; exits 1 on any.
"""
import os
import re
import sys

RANK = {"platform": 0, "res": 1, "app": 2, "view": 3, "media": 4, "convert": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(src, path):
    rel = os.path.relpath(path, src)
    return rel.split(os.sep)[0]


def main():
    src = os.path.abspath(sys.argv[1])
    with open(sys.argv[2]) as f:
        pending = [os.path.abspath(os.path.join(src, p)) if not os.path.isabs(p) else p
                   for p in f.read().split("\n") if p.strip()]
    seen = set()
    problems = []
    while pending:
        path = pending.pop()
        if path in seen or not path.startswith(src + os.sep):
            continue
        seen.add(path)
        own = folder_of(src, path)
        if own not in RANK:
            problems.append(f"{path}: engine file outside the known folders")
            continue
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if re.search(r"^\s*#\s*include\s*<Q", text, re.M):
            problems.append(f"{os.path.relpath(path, src)}: the engine includes Qt")
        for name in INCLUDE.findall(text):
            target = os.path.join(src, name)
            if not os.path.exists(target):
                continue  # the contract header or a system-style include
            other = name.split("/")[0]
            if other in RANK and RANK[other] > RANK[own]:
                problems.append(f"{os.path.relpath(path, src)}: {own}/ includes {name} "
                                f"({other}/ is above {own}/)")
            pending.append(os.path.abspath(target))
    for p in problems:
        print(p)
    print(f"check-layers: {len(seen)} engine files, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
