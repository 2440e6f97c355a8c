#!/usr/bin/python3
"""psdhost driving the stand-in plug-ins (test_plugin.cpp), whose answers
are known: checks what psdhost prints, the files it writes, its exit status
and that it frees every block it receives.

    host_cli_test.py PSDHOST PICTURE_PLUGIN ARCHIVE_PLUGIN INCOMPLETE_PLUGIN
"""

import os
import struct
import subprocess
import sys
import tempfile

HOST, PICTURE, ARCHIVE, INCOMPLETE = (os.path.abspath(a) for a in sys.argv[1:5])
failures = []


def run(*args, cwd):
    done = subprocess.run([HOST] + list(args), cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    if b"not freed" in done.stderr:
        failures.append("%s: blocks left unfreed: %s" % (args, done.stderr))
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(name, actual, wanted):
    if actual != wanted:
        failures.append("%s:\n--- wanted\n%s\n--- got\n%s" % (name, wanted,
                                                             actual))


def toy_bmp(width, height):
    """The BMP the stand-in's picture makes, built from its rules."""
    stride = (width * 3 + 3) & ~3
    pixels = bytes(k % 251 for k in range(stride * height))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + 40 + len(pixels), 0, 0, 54)
    return head + info + pixels


def main():
    work = tempfile.mkdtemp(prefix="psdhost_cli_")
    with open(os.path.join(work, "toy.psd"), "wb") as f:
        f.write(b"8BPS\x05\x03\x03")  # 5 x 3, three layers
    with open(os.path.join(work, "sig.bin"), "wb") as f:
        f.write(b"8BPS\x02\x02\x00")
    with open(os.path.join(work, "other.psd"), "wb") as f:
        f.write(b"GIF89a\x00")
    with open(os.path.join(work, "other.txt"), "wb") as f:
        f.write(b"GIF89a\x00")

    # Identity: both forms, the wide one converted to UTF-8.
    rc, out, _ = run("about", PICTURE, cwd=work)
    expect("about", (rc, out), (0,
        'GetPluginInfo 0: "00IN" (4)\n'
        'GetPluginInfo 1: "Stand-in plug-in" (16)\n'
        'GetPluginInfo 2: "*.PSD" (5)\n'
        'GetPluginInfo 3: "PSD" (3)\n'
        'GetPluginInfo 4: "*.PSB" (5)\n'
        'GetPluginInfo 5: "PSB" (3)\n'
        'GetPluginInfo 6: "" (0)\n'
        'GetPluginInfoW 0: "00IN" (4)\n'
        'GetPluginInfoW 1: "Stand-in plug-in\u00e9" (17)\n'
        'GetPluginInfoW 2: "*.PSD" (5)\n'
        'GetPluginInfoW 3: "PSD" (3)\n'
        'GetPluginInfoW 4: "*.PSB" (5)\n'
        'GetPluginInfoW 5: "PSB" (3)\n'
        'GetPluginInfoW 6: "" (0)\n'))

    # Probe: sig.bin is accepted only by its head, so the second handle
    # probe sees the head only if psdhost rewound the file in between.
    rc, out, err = run("probe", ARCHIVE, "toy.psd", "sig.bin", "other.psd",
                       "other.txt", "missing.psd", cwd=work)
    expect("probe", (rc, out), (1,
        "toy.psd: IsSupported memory 1 handle 1, IsSupportedW memory 1 handle 1\n"
        "sig.bin: IsSupported memory 1 handle 1, IsSupportedW memory 1 handle 1\n"
        "other.psd: IsSupported memory 1 handle 1, IsSupportedW memory 1 handle 1\n"
        "other.txt: IsSupported memory 0 handle 0, IsSupportedW memory 0 handle 0\n"))
    expect("probe error", "missing.psd" in err, True)

    # Picture information by name and in memory; a refused document.
    record = ("  left 0  top 0  width 5  height 3\n"
              "  x_density 72  y_density 72  color_depth 24  text_info null\n"
              "  GetPictureInfoW: the same\n")
    rc, out, _ = run("info", PICTURE, "toy.psd", "other.psd", cwd=work)
    expect("info", (rc, out), (1,
        "toy.psd: GetPictureInfo result 0\n" + record +
        "other.psd: GetPictureInfo result 3\n  GetPictureInfoW: the same\n"))
    rc, out, _ = run("info", PICTURE, "--memory", "toy.psd", cwd=work)
    expect("info --memory", (rc, out),
           (0, "toy.psd: GetPictureInfo (memory) result 0\n" + record))

    # The picture as a BMP file, alone and in a batch.
    for extra in ([], ["--memory"]):
        rc, out, _ = run("picture", PICTURE, "toy.psd", "-o", "toy.bmp",
                         *extra, cwd=work)
        expect("picture rc %s" % extra, rc, 0)
        expect("picture progress %s" % extra,
               "  progress (0/100) (100/100)\n" in out, True)
        expect("picture line %s" % extra,
               "  BMP bfSize 102 bfOffBits 54 -> toy.bmp\n" in out, True)
        with open(os.path.join(work, "toy.bmp"), "rb") as f:
            expect("picture bytes %s" % extra, f.read(), toy_bmp(5, 3))
    rc, out, _ = run("picture", PICTURE, "toy.psd", "other.psd", "toy.psd",
                     "--batch", "-o", "batch", cwd=work)
    expect("picture batch", (rc, sorted(os.listdir(os.path.join(work, "batch")))),
           (1, ["0000-toy.psd.bmp", "0002-toy.psd.bmp"]))

    # The listing.
    rc, out, _ = run("list", ARCHIVE, "toy.psd", cwd=work)
    expect("list", (rc, out), (0,
        "Archive:  toy.psd\n"
        "      #  Kind         Length      Packed  Name\n"
        "-------  -------  ----------  ----------  ----\n"
        "      0  PSD com         102         102  compound.bmp\n"
        "      1  PSD lay         102         102  layer0001.bmp\n"
        "      2  PSD lay           0           0  layer0002.dat\n"
        "      3  PSD lay         102         102  layer0003.bmp\n"
        "-------  -------  ----------  ----------  ----\n"
        "                         306              4 entries\n"))
    rc, out, _ = run("fileinfo", ARCHIVE, "toy.psd", "layer0002.dat", "x",
                     cwd=work)
    expect("fileinfo", (rc, out), (1,
        "toy.psd layer0002.dat: GetFileInfo result 0\n"
        "  kind \"PSD lay\"  entry_number 2  packed_size 102  unpacked_size 102\n"
        "  time_stamp 0  folder \"\"  name \"layer0002.bmp\"  checksum 0\n"
        "toy.psd x: GetFileInfo result 6\n"))

    # Extraction: the plug-in writes the files, or psdhost writes the
    # blocks; both give the same files.
    rc, out, _ = run("extract", ARCHIVE, "toy.psd", "-o", "files", cwd=work)
    expect("extract", (rc, out), (0,
        "toy.psd: extracting 4 of 4 entries into files (file output)\n"
        "  0 compound.bmp: result 0, progress (0/100) (50/100), file compound.bmp 102 bytes\n"
        "  1 layer0001.bmp: result 0, progress (0/100) (50/100), file layer0001.bmp 102 bytes\n"
        "  2 layer0002.dat: result 0, progress (0/100) (50/100), file layer0002.dat 0 bytes\n"
        "  3 layer0003.bmp: result 0, progress (0/100) (50/100), file layer0003.bmp 102 bytes\n"))
    rc, out, _ = run("extract", ARCHIVE, "toy.psd", "3", "layer0002.dat",
                     "compound.bmp", "-o", "blocks", "--memory-output",
                     cwd=work)
    expect("extract --memory-output", (rc, out), (0,
        "toy.psd: extracting 3 of 4 entries into blocks (memory output)\n"
        "  3 layer0003.bmp: result 0, progress (0/100) (50/100), block of 102 bytes -> layer0003.bmp\n"
        "  2 layer0002.dat: result 0, progress (0/100) (50/100), block of 0 bytes -> layer0002.dat\n"
        "  0 compound.bmp: result 0, progress (0/100) (50/100), block of 102 bytes -> compound.bmp\n"))
    for name in ("compound.bmp", "layer0002.dat", "layer0003.bmp"):
        with open(os.path.join(work, "files", name), "rb") as a, \
                open(os.path.join(work, "blocks", name), "rb") as b:
            expect("extracted " + name, b.read(), a.read())
    with open(os.path.join(work, "blocks", "compound.bmp"), "rb") as f:
        expect("extracted bytes", f.read(), toy_bmp(5, 3))
    rc, _, err = run("extract", ARCHIVE, "toy.psd", "4", "-o", "x", cwd=work)
    expect("extract unknown entry", (rc, "no entry 4" in err), (1, True))
    rc, out, _ = run("extract", ARCHIVE, "toy.psd", "toy.psd", "--batch",
                     "-o", "many", cwd=work)
    expect("extract batch", (rc, sorted(os.listdir(os.path.join(work, "many")))),
           (0, ["0000-toy.psd", "0001-toy.psd"]))

    # A plug-in that cannot serve the command, and bad command lines.
    with open(os.path.join(work, "text.so"), "w") as f:
        f.write("not a shared object\n")
    for args, said in (
            (["info", ARCHIVE, "toy.psd"], '"00AM"'),
            (["list", PICTURE, "toy.psd"], '"00IN"'),
            (["picture", INCOMPLETE, "toy.psd", "-o", "y.bmp"],
             "missing export GetPicture"),
            (["about", "nowhere.so"], "no such plug-in file"),
            (["about", "text.so"], "does not load"),
            (["paint", PICTURE], "unknown command"),
            (["picture", PICTURE, "toy.psd"], "-o OUT.bmp"),
            (["picture", PICTURE, "toy.psd", "--bogus"], "--bogus")):
        rc, out, err = run(*args, cwd=work)
        expect(" ".join(args[:1] + args[2:]),
               (rc, out, said in err, err.count("\n")), (2, "", True, 1))
    rc, out, _ = run("--help", cwd=work)
    expect("help", (rc, all(c in out for c in (
        "about", "probe", "info", "picture", "list", "fileinfo", "extract",
        "script", "--memory-output", "--batch", "--files"))), (0, True))
    rc, out, _ = run("--version", cwd=work)
    expect("version", (rc, out.startswith("psdhost ") and
                       out.strip().split(".")[0][-1].isdigit()), (0, True))
    check_script(work)

    for failure in failures:
        print("FAILED " + failure)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


def check_script(work):
    """A script runs each command as a separate run would: the same output,
    error text, exit status and files, each in the command's own folder."""
    commands = [
        ["about", PICTURE],
        ["picture", PICTURE, "../../toy.psd", "-o", "toy.bmp", "--memory"],
        ["list", ARCHIVE, "../../toy.psd", "../../other.psd"],
        ["extract", ARCHIVE, "../../toy.psd", "-o", "out", "--memory-output"],
        ["extract", ARCHIVE, "../../toy.psd", "-o", "out"],
        ["info", ARCHIVE, "../../toy.psd"],
    ]
    script_dir = os.path.join(work, "script")
    os.makedirs(script_dir)
    with open(os.path.join(script_dir, "list.txt"), "w") as f:
        f.write("# one command a line\n\n")
        for k, words in enumerate(commands):
            f.write("\t".join(["run%d" % k] + words) + "\n")
        f.write("bad line without a tab\n")
    done = subprocess.run([HOST, "script", "list.txt"], cwd=script_dir,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=60)
    expect("script exit", done.returncode, 2)
    expect("script bad line", b"bad line without a tab" in done.stderr, True)
    for k, words in enumerate(commands):
        alone = os.path.join(work, "alone", "%d" % k)
        os.makedirs(alone)
        rc, out, err = run(*words, cwd=alone)
        name = os.path.join(script_dir, "run%d" % k)
        with open(name + ".out") as o, open(name + ".err") as e, \
                open(name + ".exit") as x:
            expect("script %s" % words[0], (o.read(), e.read(), x.read()),
                   (out, err, "%d\n" % rc))
        expect("script %s files" % words[0], sorted(os.listdir(name)),
               sorted(os.listdir(alone)))
        expect("script line %d" % k,
               ("run%d: exit %d\n" % (k, rc)).encode() in done.stdout, True)


if __name__ == "__main__":
    sys.exit(main())
