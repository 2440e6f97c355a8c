#!/usr/bin/python3
"""The wine suite for one Windows build: psdhost.exe with the build's
plug-ins, run under wine, must print the same bytes, exit alike and write
the same files as the native psdhost with the .so plug-ins, command by
command, and the plug-ins' logs must hold the same lines.

    compare.py --repo REPO --native DIR --windows DIR --build win32|win64
               --wine LOADER --work DIR [--keep]

Every command of the suite goes into one psdhost script, so each side is
one process: starting a Windows program can cost far more than its work
(the 32-bit build under an emulator). The documents are every .psd and .psb
file under REPO/../shared/corpus and corpus-extra (one in N with
WINE_SAMPLE=N; left out, saying so, when absent), the test document writer's documents and the malformed documents
of write_hostile_documents; a new kind of document joins by being among
them, a new command by a line in CHECKS.
"""

import argparse
import difflib
import filecmp
import os
import re
import shutil
import subprocess
import sys
import time

import checks
from suite_documents import (Failure, composited_documents, log,
                             suite_documents, written_documents)

SUFFIX = {"win32": ".spi", "win64": ".sph"}
RUN_TIMEOUT = 2400

# NAME, PLUGIN, the command's words ({docs}, {malformed}, {composited},
# {sample}, {panorama}, {sparse} and {plugin} filled in), and what the native output
# must contain so that two runs that both did nothing cannot agree.
CHECKS = [
    ("about-flatview", "flatview", ["about", "{plugin}"],
     r'GetPluginInfo 0: "00IN" \(4\)'),
    ("about-layerpack", "layerpack", ["about", "{plugin}"],
     r'GetPluginInfo 0: "00AM" \(4\)'),
    ("probe-flatview", "flatview", ["probe", "{plugin}", "--files", "{docs}"],
     r"IsSupported memory 1 handle 1"),
    ("probe-layerpack", "layerpack",
     ["probe", "{plugin}", "--files", "{docs}"], r"IsSupported memory 1 handle 1"),
    ("info", "flatview", ["info", "{plugin}", "--files", "{docs}"],
     r"result 0\n"),
    ("info-memory", "flatview",
     ["info", "{plugin}", "--files", "{docs}", "--memory"], r"result 0\n"),
    ("picture", "flatview",
     ["picture", "{plugin}", "--files", "{docs}", "--batch", "-o", "out"],
     r"GetPicture.* result 0\n"),
    ("picture-memory", "flatview",
     ["picture", "{plugin}", "--files", "{docs}", "--batch", "-o", "out",
      "--memory"], r"GetPicture.* result 0\n"),
    ("list", "layerpack", ["list", "{plugin}", "--files", "{docs}"],
     r"PSD lay"),
    ("list-memory", "layerpack",
     ["list", "{plugin}", "--files", "{docs}", "--memory"], r"PSD lay"),
    ("fileinfo", "layerpack",
     ["fileinfo", "{plugin}", "{sample}", "compound.bmp", "layer0001.bmp",
      "layer0002.dat", "layer9999.bmp", "Compound.bmp"],
     r"GetFileInfo result 0\n"),
    # Extraction decodes the whole document once for every entry, and every
    # decode logs a few lines per layer, each through an open of the log
    # file, which wine makes slow: documents with hundreds of layers give
    # at most 16 entries, spread from the first to the last.
    ("extract", "layerpack",
     ["extract", "{plugin}", "--files", "{docs}", "--batch", "--limit", "16",
      "-o", "out"], r"layer0001\.bmp: result 0"),
    ("extract-memory-output", "layerpack",
     ["extract", "{plugin}", "--files", "{docs}", "--batch", "--limit", "16",
      "-o", "out", "--memory-output"], r"layer0001\.bmp: result 0"),
    ("malformed-info", "flatview",
     ["info", "{plugin}", "--files", "{malformed}", "--memory"], r"result 0"),
    ("malformed-picture", "flatview",
     ["picture", "{plugin}", "--files", "{malformed}", "--batch", "-o", "out",
      "--memory"], r"result 0"),
    ("malformed-list", "layerpack",
     ["list", "{plugin}", "--files", "{malformed}", "--memory"],
     r"compound\.bmp"),
    ("malformed-extract", "layerpack",
     ["extract", "{plugin}", "--files", "{malformed}", "--batch", "-o", "out",
      "--memory-output", "--limit", "4"], r"compound\.bmp"),
    # Corpus documents as saved without a merged picture: the composite of
    # their layers, every blend mode, mask and fill the corpus holds.
    ("composited", "flatview",
     ["picture", "{plugin}", "--files", "{composited}", "--batch", "-o", "out",
      "--memory"], r"GetPicture.* result 0\n"),
    # A 40000 x 2000 picture of the large-document format (240 MB).
    ("panorama", "flatview",
     ["picture", "{plugin}", "{panorama}", "-o", "panorama.bmp"],
     r"GetPicture result 0\n"),
    # 8000 x 8000 with 24 layers left as holes of a sparse file (4.6 GB):
    # the 32-bit plug-ins read only the merged picture's part of it.
    ("sparse", "flatview",
     ["picture", "{plugin}", "{sparse}", "-o", "sparse.bmp"],
     r"GetPicture result 0\n"),
    # One decode each from a private copy of the plug-in, so that its log
    # holds exactly that decode's lines.
    ("log-flatview", "log/flatview",
     ["picture", "{plugin}", "{sample}", "-o", "sample.bmp"],
     r"GetPicture result 0\n"),
    ("log-layerpack", "log/layerpack",
     ["extract", "{plugin}", "{sample}", "1", "-o", "out"],
     r"layer0001\.bmp: result 0"),
]


def write_lines(path, lines):
    # Names go through list files: a Windows command line holds at most
    # 32767 characters.
    with open(path, "w") as f:
        f.write("".join(line + "\n" for line in lines))
    return path


def plugin_copies(args, side, folder):
    """Private copies of the plug-ins: their logs (named after the module
    file) then stay in the work folder, apart from other tests."""
    suffix = ".so" if side == "native" else SUFFIX[args.build]
    source = args.native if side == "native" else args.windows
    copies = {}
    for name in ("flatview", "layerpack"):
        path = os.path.join(source, name + suffix)
        if not os.path.exists(path):
            raise Failure("%s is not built" % path)
        for key in (name, "log/" + name):
            copy = os.path.join(folder, "plugins", key + suffix)
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copyfile(path, copy)
            copies[key] = copy
    return copies


def write_script(path, copies, fill, commands):
    lines = ["# written by tests/wine/compare.py"]
    for name, plugin, words, _ in commands:
        filled = [w.format(plugin=copies[plugin], **fill) for w in words]
        if any("\t" in w or "\n" in w for w in filled):
            raise Failure("%s: a tab or line break in %r" % (name, filled))
        lines.append("\t".join([name] + filled))
    write_lines(path, lines)


def start(command, cwd):
    """Output into files, not pipes: the first wine program started on a
    server also starts wine's own services, which inherit the standard
    handles and keep a pipe open long after the program has ended."""
    os.makedirs(cwd, exist_ok=True)
    with open(os.path.join(cwd, "script.out"), "wb") as out, \
            open(os.path.join(cwd, "script.err"), "wb") as err:
        process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
    return process, time.monotonic()


def finish(started, label):
    process, began = started
    try:
        process.wait(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise Failure("%s ran longer than %d s" % (label, RUN_TIMEOUT))
    seconds = time.monotonic() - began
    log("%s: psdhost script exited %d after %.1f s" % (label,
                                                       process.returncode,
                                                       seconds))
    return process.returncode


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def tree(root):
    files = {}
    for base, dirs, names in os.walk(root):
        dirs.sort()
        for name in names:
            path = os.path.join(base, name)
            files[os.path.relpath(path, root)] = path
    return files


def show_difference(label, native, windows):
    a = native.decode("latin-1").splitlines(keepends=True)
    b = windows.decode("latin-1").splitlines(keepends=True)
    diff = list(difflib.unified_diff(a, b, "native " + label,
                                     "windows " + label, n=1))
    log("".join(diff[:60]).rstrip("\n"))
    if len(diff) > 60:
        log("... %d more diff lines" % (len(diff) - 60))


def compare_files(native_dir, windows_dir):
    problems = []
    native_files, windows_files = tree(native_dir), tree(windows_dir)
    only = sorted(set(native_files) ^ set(windows_files))
    if only:
        problems.append("%d files written by one build only, e.g. %s" %
                        (len(only), ", ".join(only[:5])))
    differing = [n for n in sorted(set(native_files) & set(windows_files))
                 if not filecmp.cmp(native_files[n], windows_files[n],
                                    shallow=False)]
    if differing:
        problems.append("%d of %d files differ, e.g. %s" %
                        (len(differing), len(native_files),
                         ", ".join(differing[:5])))
    return problems, len(native_files)


def compare_check(name, success, native_root, windows_root, build):
    """The problems of one command, an empty list when both agree."""
    n, w = os.path.join(native_root, name), os.path.join(windows_root, name)
    native_exit, windows_exit = read(n + ".exit"), read(w + ".exit")
    if native_exit is None:
        return ["the native script did not run it"], 0
    if windows_exit is None:
        return ["the %s script did not run it (it stopped early?)" % build], 0
    native_out, windows_out = read(n + ".out"), read(w + ".out")
    problems = []
    if int(native_exit) not in (0, 1):
        problems.append("native psdhost exited %d: %s" %
                        (int(native_exit), read(n + ".err")[:400]))
    elif not re.search(success.encode(), native_out):
        problems.append("native output lacks %r: nothing succeeded" % success)
    if native_exit != windows_exit:
        problems.append("exit status native %d, %s %d (%s)" %
                        (int(native_exit), build, int(windows_exit),
                         read(w + ".err")[:400]))
    if native_out != windows_out:
        problems.append("standard output differs")
        show_difference(name, native_out, windows_out)
    file_problems, count = compare_files(n, w)
    return problems + file_problems, count


def compare_logs(args, copies):
    problems = []
    for name in ("flatview", "layerpack"):
        try:
            native = checks.log_lines(copies["native"]["log/" + name] + ".LOG")
            windows = checks.log_lines(
                copies[args.build]["log/" + name] + ".LOG")
        except ValueError as e:
            raise Failure(str(e))
        log("%s log: %d lines native, %d lines %s" %
            (name, len(native), len(windows), args.build))
        if len(native) < 3:
            problems.append("%s logged only %d lines for a decode" %
                            (name, len(native)))
        if native != windows:
            show_difference(name + ".LOG", b"\n".join(native) + b"\n",
                            b"\n".join(windows) + b"\n")
            problems.append("%s: log lines differ" % name)
    return problems


def run_suite(args):
    for path in (os.path.join(args.native, "psdhost"),
                 os.path.join(args.windows, "psdhost.exe")):
        if not os.path.exists(path):
            raise Failure("%s is not built" % path)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    writer, malformed = written_documents(args.native, args.work)
    corpus = suite_documents(args.repo)
    composited = composited_documents(corpus, args.work)
    # Without the corpus there is nothing to composite.
    commands = [c for c in CHECKS if composited or c[0] != "composited"]
    fill = {
        "docs": write_lines(os.path.join(args.work, "documents.txt"),
                            corpus + writer),
        "composited": write_lines(os.path.join(args.work, "composited.txt"),
                                  composited),
        "malformed": write_lines(os.path.join(args.work, "malformed.txt"),
                                 malformed),
        "sample": os.path.join(args.work, "docs", "sample.psd"),
        "panorama": os.path.join(args.work, "panorama.psb"),
        "sparse": os.path.join(args.work, "sparse.psb"),
    }
    copies, roots, runs = {}, {}, {}
    for side in ("native", args.build):
        folder = os.path.join(args.work, side)
        copies[side] = plugin_copies(args, side, folder)
        roots[side] = os.path.join(folder, "runs")
        write_script(os.path.join(folder, "script.txt"), copies[side], fill,
                     commands)
    # Both at once: the machine has two cores.
    runs[args.build] = start(
        [args.wine, os.path.join(args.windows, "psdhost.exe"), "script",
         "../script.txt"], roots[args.build])
    runs["native"] = start(
        [os.path.join(args.native, "psdhost"), "script", "../script.txt"],
        roots["native"])
    for side in ("native", args.build):
        finish(runs[side], side)

    problems = []
    for name, _, _, success in commands:
        found, count = compare_check(name, success, roots["native"],
                                     roots[args.build], args.build)
        if found:
            problems += ["%s: %s" % (name, p) for p in found]
            for p in found:
                log("%s: FAILED: %s" % (name, p))
        else:
            log("%s: same output, same exit, same %d files" % (name, count))
    problems += compare_logs(args, copies)
    problems += checks.sparse_problems(
        os.path.join(roots["native"], "sparse", "sparse.bmp"))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--build", choices=sorted(SUFFIX), required=True)
    parser.add_argument("--wine", required=True,
                        help="the wine loader that runs the build")
    parser.add_argument("--work", required=True)
    parser.add_argument("--keep", action="store_true",
                        help="keep the outputs of commands that agree")
    args = parser.parse_args()
    for name in ("repo", "native", "windows", "work"):
        setattr(args, name, os.path.realpath(getattr(args, name)))
    started = time.monotonic()
    try:
        problems = run_suite(args)
    except (Failure, subprocess.SubprocessError, OSError) as e:
        log("FAILED: %s" % e)
        return 1
    log("%s: %d commands compared in one start of psdhost.exe, %.1f s in all"
        % (args.build, len(CHECKS), time.monotonic() - started))
    if problems:
        log("FAILED:\n  " + "\n  ".join(problems))
        return 1
    if not args.keep:
        shutil.rmtree(args.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
