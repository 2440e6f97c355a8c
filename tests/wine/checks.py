"""Checks of the wine suite's outputs beyond their bytes: the lines of a
log, time stamps checked and addresses masked; and the picture of the sparse
large document (write_test_documents --sparse) against the pattern its
merged picture holds: squares of 64 pixels, channel c at (x, y) =
(x // 64 * 7 + y // 64 * 13 + c * 80) mod 256."""

import re
import struct

STAMP = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d $")
# Lines that show the low 32 bits of a memory address.
ADDRESS_LINES = [
    re.compile(rb"^(Layer #-?\d+: )[0-9a-f]+( .*)$"),
    re.compile(rb"^(mask error: )[0-9a-f]+()$"),
    re.compile(rb"^(Layer image: )[0-9a-f]+()$"),
    re.compile(rb"^(Compression error )[0-9a-f]+()$"),
]


def log_lines(path):
    """The lines of a log with stamps and addresses masked; ValueError when
    it is missing or a line is not whole."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        raise ValueError("no log %s" % path)
    if not data.endswith(b"\r\n"):
        raise ValueError("%s does not end in CR LF" % path)
    lines = []
    for line in data[:-2].split(b"\r\n"):
        stamp, message = line[:20], line[20:]
        if not STAMP.match(stamp):
            raise ValueError("%s: line without a time stamp: %r" % (path, line))
        for pattern in ADDRESS_LINES:
            message = pattern.sub(rb"\1ADDRESS\2", message)
        lines.append(b"YYYY-MM-DD hh:mm:ss " + message)
    return lines


def sparse_problems(path, side=8000):
    with open(path, "rb") as f:
        head = f.read(54)
        if len(head) < 54 or head[:2] != b"BM":
            return ["%s is no BMP file" % path]
        offset = struct.unpack("<I", head[10:14])[0]
        width, height = struct.unpack("<ii", head[18:26])
        bits = struct.unpack("<H", head[28:30])[0]
        if (width, height, bits) != (side, side, 24):
            return ["%s is %d x %d at %d bits" % (path, width, height, bits)]
        stride = (width * 3 + 3) // 4 * 4
        wrong = 0
        for y in (0, 63, 64, 1000, 4095, side - 1):
            f.seek(offset + (height - 1 - y) * stride)
            row = f.read(width * 3)
            for x in range(0, width, 37):
                for c in range(3):
                    want = (x // 64 * 7 + y // 64 * 13 + c * 80) % 256
                    if row[3 * x + 2 - c] != want:
                        wrong += 1
        return ["%d sampled samples of %s differ from the pattern" %
                (wrong, path)] if wrong else []
