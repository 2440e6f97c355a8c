"""The documents the wine suite runs over: the shared collections (or a
sample of them), the test document writers' documents, the malformed ones,
and copies of the collections' documents saved without their merged picture.
"""

import os
import shutil
import subprocess
import sys

MALFORMED_PER_DOCUMENT = 6


class Failure(Exception):
    pass


def log(message):
    print(message, flush=True)


def corpus_documents(repo, collection="corpus"):
    corpus = os.path.realpath(os.path.join(repo, "..", "shared", collection))
    if not os.path.isdir(corpus):
        log("%s absent (%s): skipped" % (collection, corpus))
        return []
    found = []
    for root, dirs, files in os.walk(corpus):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith((".psd", ".psb")):
                found.append(os.path.join(root, name))
    log("%s: %d documents under %s" % (collection, len(found), corpus))
    return found


def suite_documents(repo):
    """The shared collections' documents; with WINE_SAMPLE=N in the
    environment (the quick tier), one in N of them."""
    found = corpus_documents(repo) + corpus_documents(repo, "corpus-extra")
    every = max(1, int(os.environ.get("WINE_SAMPLE", "1") or 1))
    if every > 1:
        found = found[::every]
        log("a sample: %d documents, one in %d" % (len(found), every))
    return found


def run_tool(tool, *args):
    if not os.access(tool, os.X_OK):
        raise Failure("%s is not built" % tool)
    subprocess.run([tool] + list(args), check=True, stdout=subprocess.DEVNULL)


def documents_in(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder)
                  if n.lower().endswith((".psd", ".psb")))


def written_documents(native, work):
    """The writer's documents with the sample, and the malformed ones."""
    docs = os.path.join(work, "docs")
    malformed = os.path.join(work, "malformed")
    for folder in (docs, malformed):
        shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(docs)
    tests = os.path.join(native, "tests")
    run_tool(os.path.join(tests, "write_test_documents"), docs)
    run_tool(os.path.join(tests, "make_sample"), os.path.join(docs, "sample.psd"))
    run_tool(os.path.join(tests, "write_test_documents"), "--panorama",
             os.path.join(work, "panorama.psb"))
    run_tool(os.path.join(tests, "write_test_documents"), "--sparse",
             os.path.join(work, "sparse.psb"))
    run_tool(os.path.join(tests, "hostile", "write_hostile_documents"),
             malformed, str(MALFORMED_PER_DOCUMENT))
    writer = documents_in(docs)
    bad = sorted(os.path.join(malformed, n) for n in os.listdir(malformed))
    if len(writer) < 2 or len(bad) < 10:
        raise Failure("the writers produced only %d and %d documents" %
                      (len(writer), len(bad)))
    log("writer: %d documents, malformed: %d documents" % (len(writer),
                                                          len(bad)))
    return writer, bad


def composited_documents(corpus, work):
    """Copies of the corpus documents that have a version info resource,
    saved without their merged picture (so the plug-ins composite them)."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(
        __file__)), "..", "corpus"))
    import compare_composite  # noqa: E402 (psd-tools and numpy)
    import reference  # noqa: E402
    folder = os.path.join(work, "composited")
    os.makedirs(folder)
    written = []
    for path in corpus:
        raw = open(path, "rb").read()
        flag = reference.version_info_flag(raw)
        if flag is None:
            continue
        doc = reference.Document(path)
        if doc.depth not in (8, 16, 32):
            continue
        copy = os.path.join(folder, "%04d-%s" % (len(written),
                                                os.path.basename(path)))
        with open(copy, "wb") as f:
            f.write(compare_composite.without_merged(raw, flag, doc))
        written.append(copy)
    log("composited: %d corpus documents saved without merged pictures"
        % len(written))
    return written
