#!/usr/bin/python3
"""The engine's folders are layers: a file includes only files of its own
folder or of folders below it (serve -> compose -> channels -> psd -> base),
only serve/ and the memory interface include the platform's Win32 surface,
no source lies loose in engine/, and no chain of includes comes back to
where it started.

usage: check_layers.py REPO
"""

import os
import re
import sys

ORDER = ["base", "psd", "channels", "compose", "serve"]
PLATFORM_ALLOWED = ("engine/serve/", "engine/base/memory.cpp",
                    "engine/base/threads.cpp")
INCLUDE = re.compile(r'^\s*#include "([^"]+)"', re.M)


def main(repo):
    engine = os.path.join(repo, "engine")
    problems = []
    graph = {}
    for base, _, names in os.walk(engine):
        for name in names:
            path = os.path.relpath(os.path.join(base, name), repo)
            folder = path.split("/")[1] if path.count("/") > 1 else None
            if folder not in ORDER:
                problems.append("%s lies outside the layer folders" % path)
                continue
            with open(os.path.join(repo, path)) as f:
                includes = INCLUDE.findall(f.read())
            graph[path] = [i for i in includes if i.startswith("engine/")]
            for inc in includes:
                if inc.startswith("platform/") and \
                        not path.startswith(PLATFORM_ALLOWED):
                    problems.append("%s includes %s" % (path, inc))
                parts = inc.split("/")
                if parts[0] == "engine" and len(parts) > 2 and \
                        parts[1] in ORDER and \
                        ORDER.index(parts[1]) > ORDER.index(folder):
                    problems.append("%s (%s) includes %s from above it" %
                                    (path, folder, inc))
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
    print("%d engine files, %d problems" % (len(graph), len(problems)))
    return 1 if problems or not graph else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
