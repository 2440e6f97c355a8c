#!/usr/bin/python3
"""The tree's folders are layers, at three levels: the tree's own folders,
engine/'s (serve -> compose -> channels -> psd -> base) and compose/'s (the
walk at its top -> effects -> adjust -> layer -> blend). A file includes
only files of its own folder or of folders below it at every level, only
serve/ and the memory interface of engine/ include the platform's Win32
surface, no source lies loose in engine/, and no chain of includes comes
back to where it started.

usage: check_layers.py REPO
"""

import os
import re
import sys

# Each level: the folder it orders, and its sub-folders from the bottom up.
# A file directly in an ordered folder (compose/'s walk) stands above all
# of its sub-folders; "" marks where such files stand in the tree.
LEVELS = [
    ("", ["platform", "common", "engine", "image_plugin", "archive_plugin",
          "host", "fuzz", "tests", "bench"]),
    ("engine", ["base", "psd", "channels", "compose", "serve"]),
    ("engine/compose", ["blend", "layer", "adjust", "effects", ""]),
]
PLATFORM_ALLOWED = ("engine/serve/", "engine/base/memory.cpp",
                    "engine/base/threads.cpp")
SOURCE = (".cpp", ".h")
INCLUDE = re.compile(r'^\s*#include "([^"]+)"', re.M)


def place(path, level, order):
    """The rank of `path` among `level`'s sub-folders, or None when it lies
    outside `level`."""
    prefix = level + "/" if level else ""
    if not path.startswith(prefix):
        return None
    rest = path[len(prefix):]
    sub = rest.split("/")[0] if "/" in rest else ""
    return order.index(sub) if sub in order else None


def sources(repo):
    for top in LEVELS[0][1]:
        for base, _, names in os.walk(os.path.join(repo, top)):
            for name in names:
                if name.endswith(SOURCE):
                    yield os.path.relpath(os.path.join(base, name), repo)


def resolve(repo, path, name):
    """The repo path an include names (from the root, or beside the file),
    or None for one outside the tree."""
    for candidate in (name, os.path.join(os.path.dirname(path), name)):
        candidate = os.path.normpath(candidate)
        if os.path.isfile(os.path.join(repo, candidate)):
            return candidate
    return None


def check_file(repo, path, problems):
    with open(os.path.join(repo, path)) as f:
        includes = [resolve(repo, path, i) for i in INCLUDE.findall(f.read())]
    includes = [i for i in includes if i is not None]
    if path.startswith("engine/"):
        parts = path.split("/")
        if len(parts) == 2 or parts[1] not in LEVELS[1][1]:
            problems.append("%s lies outside the layer folders" % path)
        for inc in includes:
            if inc.startswith("platform/") and \
                    not path.startswith(PLATFORM_ALLOWED):
                problems.append("%s includes %s" % (path, inc))
    for level, order in LEVELS:
        mine = place(path, level, order)
        if mine is None:
            continue
        for inc in includes:
            theirs = place(inc, level, order)
            if theirs is not None and theirs > mine:
                problems.append("%s includes %s from above it (in %s)" %
                                (path, inc, level + "/" if level else "the tree"))
    return includes


def main(repo):
    problems = []
    graph = {}
    for path in sorted(sources(repo)):
        graph[path] = check_file(repo, path, problems)
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                problems.append("include cycle: %s" %
                                " -> ".join(trail + [node, nxt]))
            elif nxt not in state:
                visit(nxt, trail + [node])
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [])
    for p in problems:
        print(p)
    engine = sum(1 for p in graph if p.startswith("engine/"))
    print("%d files (%d in engine/), %d problems" %
          (len(graph), engine, len(problems)))
    return 1 if problems or not engine else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
