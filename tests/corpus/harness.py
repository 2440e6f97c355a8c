"""Shared parts of the corpus comparisons: arguments, the document list and
running psdhost.

Every script takes BUILD_DIR CORPUS_DIR [NAME_FILTER...]. A missing corpus
prints "corpus absent: skipped" and exits with SKIPPED (ctest's
SKIP_RETURN_CODE); a missing psdhost or plug-in is a failure.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
TIMEOUT = 120  # seconds for one psdhost run; a hang is a fault


class Setup(object):
    def __init__(self, argv, plugins):
        if len(argv) < 3:
            sys.stderr.write('usage: %s BUILD_DIR CORPUS_DIR [FILTER...]\n'
                             % os.path.basename(argv[0]))
            sys.exit(2)
        self.build = os.path.abspath(argv[1])
        self.corpus = os.path.abspath(argv[2])
        self.filters = argv[3:]
        if not os.path.isdir(self.corpus):
            print('corpus absent: skipped (%s)' % self.corpus)
            sys.exit(SKIPPED)
        self.psdhost = os.path.join(self.build, 'psdhost')
        nested = os.path.join(self.build, 'host', 'psdhost')
        if not os.access(self.psdhost, os.X_OK) and os.access(nested, os.X_OK):
            self.psdhost = nested
        self.plugins = {}
        missing = []
        if not os.access(self.psdhost, os.X_OK):
            missing.append(self.psdhost)
        for name in plugins:
            path = os.path.join(self.build, name)
            self.plugins[name] = path
            if not os.path.isfile(path):
                missing.append(path)
        if missing:
            print('FAIL: not built: %s' % ', '.join(missing))
            sys.exit(1)

    def documents(self):
        """Corpus documents (.psd and .psb), relative paths, sorted."""
        found = []
        for base, dirs, files in os.walk(self.corpus):
            dirs.sort()
            for f in files:
                if f.lower().endswith(('.psd', '.psb')):
                    rel = os.path.relpath(os.path.join(base, f), self.corpus)
                    if not self.filters or any(x in rel for x in self.filters):
                        found.append(rel)
        return sorted(found)

    def path(self, rel):
        return os.path.join(self.corpus, rel)

    def run(self, args):
        """Runs psdhost; returns (exit status, stdout, stderr) as text.
        A timeout gives status None."""
        try:
            p = subprocess.run([self.psdhost] + args, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return None, '', 'timed out after %d s' % TIMEOUT
        return (p.returncode, p.stdout.decode('utf-8', 'replace'),
                p.stderr.decode('utf-8', 'replace'))


_RESULT = re.compile(r'\bresult:?\s*(-?\d+)')


def result_code(status, out, err):
    """The plug-in's result code as psdhost reports it, or None."""
    found = _RESULT.findall(out) or _RESULT.findall(err)
    if found:
        return int(found[-1])
    return 0 if status == 0 else None


def all_results(status, out, err):
    """Every result code psdhost printed (one per extracted entry)."""
    found = [int(x) for x in _RESULT.findall(out)]
    if not found and status != 0:
        found = [None]
    return found


# One listing line: "%7llu  %-7s  %10llu  %10llu  name".
_ENTRY = re.compile(r'^\s*(\d+)  (.{7})  \s*(\d+)  \s*(\d+)  (.*)$')


def parse_listing(out):
    """[(entry_number, kind, unpacked, packed, name)] of `psdhost list`."""
    entries = []
    for line in out.splitlines():
        m = _ENTRY.match(line)
        if m:
            entries.append((int(m.group(1)), m.group(2).rstrip(),
                            int(m.group(3)), int(m.group(4)), m.group(5)))
    return entries


def each_document(argv, plugins, title, check, order):
    """Runs check(setup, tally, rel, work) over every document, `work` a
    scratch folder, and returns the status of the tally's summary."""
    setup = Setup(argv, plugins)
    tally = Tally(title)
    work = tempfile.mkdtemp(prefix='corpus-')
    try:
        for rel in setup.documents():
            check(setup, tally, rel, work)
    finally:
        shutil.rmtree(work)
    return tally.finish(order)


def each_output(argv, plugin, title, run, output, order):
    """each_document with one plug-in: run(setup, plugin path, tally, rel,
    output path in the scratch folder) for every document."""
    def check(setup, tally, rel, work):
        run(setup, setup.plugins[plugin], tally, rel,
            os.path.join(work, output))
    return each_document(argv, [plugin], title, check, order)


class Tally(object):
    """Counters and fault lines; prints the summary and gives the status."""

    def __init__(self, title):
        self.title = title
        self.counts = {}
        self.skips = {}
        self.faults = []

    def add(self, key, n=1):
        self.counts[key] = self.counts.get(key, 0) + n

    def skip(self, reason):
        self.skips[reason] = self.skips.get(reason, 0) + 1

    def fault(self, doc, text):
        line = '%s: %s' % (doc, text)
        self.faults.append(line)
        print('FAULT ' + line)
        sys.stdout.flush()

    def finish(self, order):
        print('--- %s' % self.title)
        for key in order:
            print('%-14s %d' % (key + ':', self.counts.get(key, 0)))
        print('%-14s %d' % ('skipped:', sum(self.skips.values())))
        for reason in sorted(self.skips):
            print('    %4d  %s' % (self.skips[reason], reason))
        print('%-14s %d' % ('faults:', len(self.faults)))
        if self.faults:
            print('FAIL')
            return 1
        print('PASS')
        return 0
