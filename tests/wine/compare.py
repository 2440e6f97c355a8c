#!/usr/bin/python3
"""Runs one psdhost command with the native build and with a Windows build
under wine, and checks that both print the same bytes, exit alike and write
the same files.

    compare.py --repo REPO --native DIR --windows DIR --build win32|win64
               --check about|probe|info|picture|list|extract|log --work DIR

The documents are every .psd and .psb file under REPO/../shared/corpus (left
out, saying so, when the corpus is absent) and the documents of the test
document writer, written afresh into WORK/docs. Each run of psdhost takes
all documents at once, so wine starts only a few times per check.
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

PICTURE_SUFFIX = {"win32": ".spi", "win64": ".sph"}
RUN_TIMEOUT = 1200


class Failure(Exception):
    pass


def log(message):
    print(message, flush=True)


def corpus_documents(repo):
    corpus = os.path.realpath(os.path.join(repo, "..", "shared", "corpus"))
    if not os.path.isdir(corpus):
        log("corpus absent (%s): skipped, writer documents only" % corpus)
        return []
    found = []
    for root, dirs, files in os.walk(corpus):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith((".psd", ".psb")):
                found.append(os.path.join(root, name))
    log("corpus: %d documents under %s" % (len(found), corpus))
    return found


def writer_documents(native, work):
    docs = os.path.join(work, "docs")
    shutil.rmtree(docs, ignore_errors=True)
    os.makedirs(docs)
    writer = os.path.join(native, "tests", "write_test_documents")
    sample = os.path.join(native, "tests", "make_sample")
    for tool in (writer, sample):
        if not os.access(tool, os.X_OK):
            raise Failure("%s is not built: the writer's documents are missing"
                          % tool)
    subprocess.run([writer, docs], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([sample, os.path.join(docs, "sample.psd")], check=True,
                   stdout=subprocess.DEVNULL)
    found = sorted(os.path.join(docs, n) for n in os.listdir(docs)
                   if n.lower().endswith((".psd", ".psb")))
    if len(found) < 2:
        raise Failure("the writer produced only %d documents" % len(found))
    log("writer: %d documents in %s" % (len(found), docs))
    return found


def plugin_paths(args, name):
    """Private copies of the native and the Windows plug-in: their logs
    (named after the module file) then stay in the work folder, apart from
    other tests running at the same time."""
    copies = []
    for folder, file_name in ((args.native, name + ".so"),
                              (args.windows, name + PICTURE_SUFFIX[args.build])):
        path = os.path.join(folder, file_name)
        if not os.path.exists(path):
            raise Failure("%s is not built: the plug-in's exports do not exist "
                          "yet" % path)
        copy = os.path.join(args.work, "plugins", file_name)
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copyfile(path, copy)
        copies.append(copy)
    return copies


class Finished:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def start(command, cwd, wine, capture):
    """Starts a program with its output going to files CAPTURE.out and
    CAPTURE.err. Files, not pipes: the first wine program started on a
    server also starts wine's own services, which inherit the standard
    handles and keep a pipe open long after the program has ended."""
    env = dict(os.environ)
    if wine:
        env["WINEDEBUG"] = "-all"
        command = ["wine"] + command
    with open(capture + ".out", "wb") as out, open(capture + ".err",
                                                    "wb") as err:
        process = subprocess.Popen(command, cwd=cwd, env=env,
                                   stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err)
    return process, time.monotonic(), capture


def finish(started):
    process, began, capture = started
    try:
        process.wait(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise Failure("%s ran longer than %d s" % (process.args, RUN_TIMEOUT))
    with open(capture + ".out", "rb") as out, open(capture + ".err",
                                                    "rb") as err:
        done = Finished(process.returncode, out.read(), err.read())
    return done, time.monotonic() - began


def run(command, cwd, wine):
    # The capture files lie beside the folder, outside what is compared.
    return finish(start(command, cwd, wine, cwd.rstrip("/") + ".capture"))


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


class Comparison:
    """Runs psdhost pairs; each pair gets fresh directories of its own."""

    def __init__(self, args):
        self.args = args
        self.native_host = os.path.join(args.native, "psdhost")
        self.windows_host = os.path.join(args.windows, "psdhost.exe")
        for host in (self.native_host, self.windows_host):
            if not os.path.exists(host):
                raise Failure("%s is not built" % host)
        self.pairs = 0
        self.wine_seconds = 0.0
        self.problems = []

    def pair(self, label, native_args, windows_args, success):
        """Runs both; `success` is a regular expression that the native
        output must contain, so a comparison of two failures cannot pass."""
        self.pairs += 1
        base = os.path.join(self.args.work, "run%02d" % self.pairs)
        native_dir = os.path.join(base, "native")
        windows_dir = os.path.join(base, self.args.build)
        for d in (native_dir, windows_dir):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        # Both at once: the machine has two cores.
        windows_run = start([self.windows_host] + windows_args, windows_dir,
                            wine=True, capture=windows_dir + ".capture")
        native, native_time = run([self.native_host] + native_args,
                                  native_dir, wine=False)
        windows, windows_time = finish(windows_run)
        self.wine_seconds += windows_time
        log("%s: native %.1f s, wine %.1f s, %d stdout bytes" %
            (label, native_time, windows_time, len(native.stdout)))
        problems = []
        if native.returncode not in (0, 1):
            problems.append("native psdhost exited %d: %s" %
                            (native.returncode,
                             native.stderr.decode("utf-8", "replace").strip()))
        elif not re.search(success.encode(), native.stdout):
            problems.append("native output lacks %r: nothing succeeded" %
                            success)
        if native.returncode != windows.returncode:
            problems.append("exit status native %d, %s %d (%s)" %
                            (native.returncode, self.args.build,
                             windows.returncode,
                             windows.stderr.decode("utf-8", "replace")
                             .strip()[:400]))
        if native.stdout != windows.stdout:
            problems.append("standard output differs")
            show_difference(label, native.stdout, windows.stdout)
        native_files = tree(native_dir)
        windows_files = tree(windows_dir)
        only = sorted(set(native_files) ^ set(windows_files))
        if only:
            problems.append("%d files written by one build only, e.g. %s" %
                            (len(only), ", ".join(only[:5])))
        differing = [name for name in sorted(set(native_files) &
                                             set(windows_files))
                     if not filecmp.cmp(native_files[name],
                                        windows_files[name], shallow=False)]
        if differing:
            problems.append("%d of %d files differ, e.g. %s" %
                            (len(differing), len(native_files),
                             ", ".join(differing[:5])))
        if not problems:
            log("%s: same output, same %d files" % (label, len(native_files)))
            if not self.args.keep:
                shutil.rmtree(base, ignore_errors=True)
        for p in problems:
            self.problems.append("%s: %s" % (label, p))
            log("%s: FAILED: %s" % (label, p))


STAMP = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d $")
# Lines that show the low 32 bits of a memory address.
ADDRESS_LINES = [
    re.compile(rb"^(Layer #-?\d+: )[0-9a-f]+( .*)$"),
    re.compile(rb"^(mask error: )[0-9a-f]+()$"),
    re.compile(rb"^(Layer image: )[0-9a-f]+()$"),
    re.compile(rb"^(Compression error )[0-9a-f]+()$"),
]


def log_lines(path):
    """The lines of a log, time stamps checked and masked, addresses masked."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\r\n"):
        raise Failure("%s does not end in CR LF" % path)
    lines = []
    for line in data[:-2].split(b"\r\n"):
        stamp, message = line[:20], line[20:]
        if not STAMP.match(stamp):
            raise Failure("%s: line without a time stamp: %r" % (path, line))
        for pattern in ADDRESS_LINES:
            message = pattern.sub(rb"\1ADDRESS\2", message)
        lines.append(b"YYYY-MM-DD hh:mm:ss " + message)
    return lines


def check_log(args, comparison, sample):
    """One decode with each build from a private copy of the plug-in, so
    the log holds exactly that decode's lines."""
    for name, command in (("flatview", ["picture"]),
                          ("layerpack", ["extract"])):
        native_plugin = os.path.join(args.native, name + ".so")
        windows_plugin = os.path.join(args.windows,
                                      name + PICTURE_SUFFIX[args.build])
        for path in (native_plugin, windows_plugin):
            if not os.path.exists(path):
                raise Failure("%s is not built" % path)
        lines = {}
        for side, plugin in (("native", native_plugin),
                             (args.build, windows_plugin)):
            folder = os.path.join(args.work, "log-%s-%s" % (name, side))
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            copy = os.path.join(folder, os.path.basename(plugin))
            shutil.copyfile(plugin, copy)
            host = (comparison.native_host if side == "native"
                    else comparison.windows_host)
            rest = ([sample, "-o", "sample.bmp"] if name == "flatview"
                    else [sample, "1", "-o", "out"])
            done, _ = run([host] + command + [copy] + rest, folder,
                          wine=side != "native")
            if done.returncode != 0:
                raise Failure("%s %s exited %d: %s" %
                              (side, name, done.returncode,
                               done.stderr.decode("utf-8", "replace")))
            log_file = copy + ".LOG"
            if not os.path.exists(log_file):
                raise Failure("%s wrote no log %s" % (side, log_file))
            lines[side] = log_lines(log_file)
        comparison.pairs += 1
        native, windows = lines["native"], lines[args.build]
        log("%s log: %d lines native, %d lines %s" %
            (name, len(native), len(windows), args.build))
        if len(native) < 3:
            raise Failure("%s logged only %d lines for a decode" %
                          (name, len(native)))
        if native != windows:
            show_difference(name + ".LOG", b"\n".join(native) + b"\n",
                            b"\n".join(windows) + b"\n")
            comparison.problems.append("%s: log lines differ" % name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--build", choices=sorted(PICTURE_SUFFIX), required=True)
    parser.add_argument("--check", required=True,
                        choices=["about", "probe", "info", "picture", "list",
                                 "extract", "log"])
    parser.add_argument("--work", required=True)
    parser.add_argument("--keep", action="store_true",
                        help="keep the outputs of pairs that agree")
    args = parser.parse_args()
    for name in ("repo", "native", "windows", "work"):
        setattr(args, name, os.path.realpath(getattr(args, name)))
    started = time.monotonic()
    try:
        os.makedirs(args.work, exist_ok=True)
        comparison = Comparison(args)
        writer = writer_documents(args.native, args.work)
        sample = os.path.join(args.work, "docs", "sample.psd")
        documents = corpus_documents(args.repo) + writer
        # The names go through a list file: a Windows command line holds
        # at most 32767 characters.
        listing = os.path.join(args.work, "documents.txt")
        with open(listing, "w") as f:
            f.write("".join(d + "\n" for d in documents))
        docs = ["--files", listing]
        c = args.check
        pair = comparison.pair
        if c == "about":
            for name in ("flatview", "layerpack"):
                n, w = plugin_paths(args, name)
                pair("about " + name, ["about", n], ["about", w],
                     r'GetPluginInfo 0: "00(IN|AM)" \(4\)')
        elif c == "probe":
            for name in ("flatview", "layerpack"):
                n, w = plugin_paths(args, name)
                pair("probe " + name, ["probe", n] + docs, ["probe", w] + docs,
                     r"IsSupported memory 1 handle 1")
        elif c == "info":
            n, w = plugin_paths(args, "flatview")
            for extra in ([], ["--memory"]):
                pair(" ".join(["info"] + extra), ["info", n] + docs + extra,
                     ["info", w] + docs + extra, r"result 0\n")
        elif c == "picture":
            n, w = plugin_paths(args, "flatview")
            for extra in ([], ["--memory"]):
                rest = docs + ["--batch", "-o", "out"] + extra
                pair(" ".join(["picture"] + extra), ["picture", n] + rest,
                     ["picture", w] + rest, r"GetPicture.* result 0\n")
        elif c == "list":
            n, w = plugin_paths(args, "layerpack")
            for extra in ([], ["--memory"]):
                pair(" ".join(["list"] + extra), ["list", n] + docs + extra,
                     ["list", w] + docs + extra, r"PSD lay")
            names = [sample, "compound.bmp", "layer0001.bmp", "layer0002.dat",
                     "layer9999.bmp", "Compound.bmp"]
            pair("fileinfo", ["fileinfo", n] + names, ["fileinfo", w] + names,
                 r"GetFileInfo result 0\n")
        elif c == "extract":
            # Extraction decodes the whole document once for every entry,
            # and every decode logs a few lines per layer, each through an
            # open of the log file, which wine makes slow: documents with
            # hundreds of layers give at most 16 entries, spread from the
            # first to the last.
            n, w = plugin_paths(args, "layerpack")
            for extra in ([], ["--memory-output"]):
                rest = docs + ["--batch", "--limit", "16", "-o", "out"] + extra
                pair(" ".join(["extract"] + extra), ["extract", n] + rest,
                     ["extract", w] + rest, r"layer0001\.bmp: result 0")
        elif c == "log":
            check_log(args, comparison, sample)
    except (Failure, subprocess.SubprocessError, OSError) as e:
        log("FAILED: %s" % e)
        return 1
    log("%s %s: %d runs compared, %.1f s under wine, %.1f s in all" %
        (args.check, args.build, comparison.pairs, comparison.wine_seconds,
         time.monotonic() - started))
    if comparison.problems:
        log("FAILED:\n  " + "\n  ".join(comparison.problems))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
