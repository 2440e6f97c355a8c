#!/usr/bin/python3
"""Everything the plug-ins hand out, as one manifest of hashes, to tell
whether a change of the code changed any output byte.

    snapshot.py --native BUILD_DIR --work DIR --out MANIFEST.json
                [--windows BUILD_DIR --wine LOADER] [--compare OLD.json]
                [--quick]

The documents are every corpus document, their copies saved without a
merged picture (composited), the test writer's documents and the malformed
documents of write_hostile_documents, all written by the tools of the
native build. One psdhost script per run calls, on each document, the
picture information (file and memory), the picture (file and memory), the
listing and every entry's extraction (files and memory blocks). The
manifest maps every output file and every command's printed output to its
SHA-256; logs are left out. With --windows the Windows build's psdhost and
plug-ins run under wine instead (the same documents and commands).
--compare names the differing outputs and exits 1 when there are any.
--quick extracts at most 8 entries of a document.
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "corpus"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))


def documents(native, work):
    import compare  # the wine suite's document gathering
    corpus = compare.corpus_documents(os.path.join(HERE, ".."))
    writer, malformed = compare.written_documents(native, work)
    composited = compare.composited_documents(corpus, work) if corpus else []
    return {"docs": corpus + writer, "composited": composited,
            "malformed": malformed}


def commands(plugins, lists, quick):
    flat, pack = plugins["flatview"], plugins["layerpack"]
    limit = ["--limit", "8"] if quick else []
    rows = []
    for group, files in lists.items():
        memory = ["--memory"]
        rows += [
            (group + "-info", ["info", flat, "--files", files]),
            (group + "-info-memory", ["info", flat, "--files", files] + memory),
            (group + "-picture", ["picture", flat, "--files", files,
                                  "--batch", "-o", "out"]),
            (group + "-picture-memory", ["picture", flat, "--files", files,
                                         "--batch", "-o", "out"] + memory),
            (group + "-list", ["list", pack, "--files", files]),
            (group + "-list-memory", ["list", pack, "--files", files] + memory),
            (group + "-extract", ["extract", pack, "--files", files,
                                  "--batch", "-o", "out"] + limit),
            (group + "-extract-memory", ["extract", pack, "--files", files,
                                         "--batch", "-o", "out",
                                         "--memory-output"] + limit),
        ]
    return rows


def hash_tree(root):
    manifest = {}
    for base, dirs, names in os.walk(root):
        dirs.sort()
        for name in sorted(names):
            if name.upper().endswith(".LOG") or name.endswith(".exit"):
                continue
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            manifest[os.path.relpath(path, root)] = digest
    return manifest


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows")
    parser.add_argument("--wine")
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--compare")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    lists = {}
    for group, files in documents(args.native, work).items():
        path = os.path.join(work, group + ".txt")
        with open(path, "w") as f:
            f.write("".join(p + "\n" for p in files))
        lists[group] = path

    side = os.path.abspath(args.windows or args.native)
    suffix = ".so"
    host = [os.path.join(side, "psdhost")]
    if args.windows:
        suffix = ".spi" if "win32" in args.windows else ".sph"
        host = [args.wine, os.path.join(side, "psdhost.exe")]
    plugins = {}
    for name in ("flatview", "layerpack"):
        copy = os.path.join(work, "plugins", name + suffix)
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copyfile(os.path.join(side, name + suffix), copy)
        plugins[name] = copy
    script = os.path.join(work, "script.txt")
    with open(script, "w") as f:
        for name, words in commands(plugins, lists, args.quick):
            f.write("\t".join([name] + words) + "\n")
    run = os.path.join(work, "run")
    os.makedirs(run)
    subprocess.run(host + ["script", script], cwd=run, check=True,
                   stdout=subprocess.DEVNULL)
    manifest = hash_tree(run)
    with open(args.out, "w") as f:
        json.dump(manifest, f, indent=0, sort_keys=True)
    print("%d outputs hashed into %s" % (len(manifest), args.out))
    if not args.compare:
        return 0
    with open(args.compare) as f:
        old = json.load(f)
    changed = sorted(k for k in set(old) | set(manifest)
                     if old.get(k) != manifest.get(k))
    for name in changed[:40]:
        print("differs: %s" % name)
    print("%d of %d outputs differ from %s" % (len(changed), len(manifest),
                                               args.compare))
    return 1 if changed else 0


if __name__ == "__main__":
    sys.exit(main())
