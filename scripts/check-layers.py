#!/usr/bin/env python3
"""Checks that the folders of src/ depend on each other in one direction.

Usage: check-layers.py SRC_DIR

src/ holds two trees and the program's main.cpp on top of them:
  engine/  plain C++20 + POSIX, never Qt:
           platform -> res -> i18n -> desktop -> player -> settings -> media
           -> convert
  gui/     Qt Widgets over the engine:
           common -> widgets -> preview -> windows -> view -> shell
A file may include headers of its own folder and of the folders before it in
its tree; a gui/ file may also include any engine/ header; an engine/ file
never includes gui/ nor Qt. Every file of src/ must sit in one of these
folders (or be main.cpp). One namespace per folder: what engine/<folder>/
declares is in plexavo::<folder>, what gui/ declares in plexavo::gui (nested
namespaces inside those, and blocks that only forward-declare another
folder's classes, are fine). Prints every offending include and namespace;
exits 1 on any problem, and on a cycle in the folder graph.
"""
import os
import re
import sys

ORDER = {
    "engine": ["platform", "res", "i18n", "desktop", "player", "settings", "media", "convert"],
    "gui": ["common", "widgets", "preview", "windows", "view", "shell"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
QT_INCLUDE = re.compile(r"^\s*#\s*include\s*<Q", re.M)
NAMESPACE = re.compile(r"^namespace (plexavo[\w:]*) \{\n((?:(?:class|struct) \w+;\n)+\})?", re.M)
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")


def place(rel):
    """(tree, folder) of a path relative to src/, or None when it is not in a known folder."""
    parts = rel.split("/")
    if len(parts) == 1:
        return ("top", "") if parts[0] == "main.cpp" else None
    if len(parts) != 3 or parts[0] not in ORDER or parts[1] not in ORDER[parts[0]]:
        return None
    return parts[0], parts[1]


def allowed(own, other):
    if own[0] == "top":
        return True
    if own[0] == "engine":
        return other[0] == "engine" and ORDER["engine"].index(other[1]) <= ORDER["engine"].index(own[1])
    if other[0] == "engine":
        return True
    return other[0] == "gui" and ORDER["gui"].index(other[1]) <= ORDER["gui"].index(own[1])


def has_cycle(edges):
    state = {}

    def visit(node):
        state[node] = 1
        for nxt in edges.get(node, ()):
            if state.get(nxt) == 1 or (nxt not in state and visit(nxt)):
                return True
        state[node] = 2
        return False

    return any(node not in state and visit(node) for node in list(edges))


def main():
    src = os.path.abspath(sys.argv[1])
    problems = []
    edges = {}
    count = 0
    for dirpath, _, names in os.walk(src):
        for name in sorted(names):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            own = place(rel)
            count += 1
            if own is None:
                problems.append(f"{rel}: outside the known folders of src/")
                continue
            with open(path, encoding="utf-8") as f:
                text = f.read()
            if own[0] == "engine" and QT_INCLUDE.search(text):
                problems.append(f"{rel}: the engine includes Qt")
            expected = "plexavo::" + (own[1] if own[0] == "engine" else "gui")
            for name, forward_only in NAMESPACE.findall(text):
                if not forward_only and name != expected and not name.startswith(expected + "::"):
                    problems.append(f"{rel}: declares namespace {name}, not {expected}")
            for target in INCLUDE.findall(text):
                if not os.path.exists(os.path.join(src, target)):
                    continue  # the contract header or a generated one
                other = place(target)
                if other is None:
                    problems.append(f"{rel}: includes {target}, outside the known folders")
                    continue
                if other != own:
                    edges.setdefault("/".join(own), set()).add("/".join(other))
                if not allowed(own, other):
                    problems.append(f"{rel}: {'/'.join(own)}/ includes {target} "
                                    f"({'/'.join(other)}/ may not be used from there)")
    if has_cycle(edges):
        problems.append("the folder graph has a cycle")
    for p in problems:
        print(p)
    links = sum(len(v) for v in edges.values())
    print(f"check-layers: {count} files, {len(edges)} folders that use others, "
          f"{links} folder-to-folder dependencies, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
