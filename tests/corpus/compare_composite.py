#!/usr/bin/python3
"""Composites of the layers against the pictures the saving application made.

1. Every corpus document with layers whose version info (resource 1057) says
   it holds a real merged picture is copied as the application saves it
   without one: the flag cleared and the Image Data section white. The
   plug-in composites the copy's layers (`psdhost picture flatview.so`) and
   the result is compared with the stored merged picture of the original:
   the mean absolute difference per byte (0..255).
2. Every document saved without a merged picture is composited as it is
   and compared with its own thumbnail (resource 1036, a JPEG), the
   composite scaled down to the thumbnail's size.

A per-document report is printed, and how many 8-bit RGB documents come
within 2, 4 and 8 of their stored picture. composite_bounds_NAME.txt (NAME:
the collection's folder name) lists the documents the compositor's features
cover, each with the largest mean difference it may have: a listed document
over its bound, or not decoded, is a fault.

usage: compare_composite.py BUILD_DIR CORPUS_DIR [FILTER...]
"""

import io
import os
import shutil
import struct
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpfile  # noqa: E402
import harness  # noqa: E402
import reference  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
THUMBNAIL = 1036


def read_bounds(corpus):
    """{relative path: bound} from the collection's checked list."""
    name = os.path.basename(os.path.normpath(corpus))
    path = os.path.join(HERE, 'composite_bounds_%s.txt' % name)
    bounds = {}
    if not os.path.exists(path):
        return bounds
    with open(path) as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                bound, rel = line.split(None, 1)
                bounds[rel] = float(bound)
    return bounds


def white_image_data(doc):
    """A raw Image Data section of white planes for the document's header."""
    samples = doc.width * doc.height * doc.channels
    white = {8: b'\xff', 16: b'\xff\xff', 32: struct.pack('>f', 1.0)}
    return b'\0\0' + white[doc.depth] * samples


def without_merged(raw, flag, doc):
    """The document as saved without a merged picture."""
    pos = 26
    for width in (4, 4, 8 if doc.version == 2 else 4):
        length = int.from_bytes(raw[pos:pos + width], 'big')
        pos += width + length
    cleared = raw[:flag] + b'\0' + raw[flag + 1:pos]
    return cleared + white_image_data(doc)


def decode(setup, path, out):
    """The plug-in's merged picture of `path` as a BMP, or (None, why)."""
    if os.path.exists(out):
        os.remove(out)
    status, stdout, stderr = setup.run(
        ['picture', setup.plugins['flatview.so'], path, '-o', out])
    code = harness.result_code(status, stdout, stderr)
    if status is None or code != 0 or not os.path.exists(out):
        return None, 'result %s %s' % (code, stderr.strip())
    return bmpfile.read(out), None


def picture_bytes(bmp, width, height, row_bytes):
    """The rows of a bottom-up pixel block without padding, top row first."""
    block = np.frombuffer(bmp.pixels if hasattr(bmp, 'pixels') else bmp,
                          np.uint8)
    stride = reference.dib_stride(row_bytes)
    rows = block[:stride * height].reshape(height, stride)[::-1]
    return rows[:, :row_bytes].astype(np.int16)


def against_merged(setup, rel, work):
    """Mean difference of the flag-cleared copy's composite, or a reason."""
    raw = open(setup.path(rel), 'rb').read()
    flag = reference.version_info_flag(raw)
    if flag is None:
        return None, None
    doc = reference.Document(setup.path(rel))
    try:
        if not doc.layers():
            return None, None
        expected = reference.expected_merged(doc)
    except (reference.NotCompared, reference.Unreadable) as e:
        return None, 'no reference: %s' % e
    if doc.depth not in (8, 16, 32):
        return None, 'depth %d' % doc.depth
    copy = os.path.join(work, 'copy' + os.path.splitext(rel)[1])
    with open(copy, 'wb') as f:
        f.write(without_merged(raw, flag, doc))
    bmp, why = decode(setup, copy, os.path.join(work, 'c.bmp'))
    if bmp is None:
        return None, why
    if len(bmp.pixels) != len(expected.block):
        return None, 'pixel block of %d bytes, expected %d' % (
            len(bmp.pixels), len(expected.block))
    h, row = expected.height, expected.row_bytes
    got = picture_bytes(bmp, expected.width, h, row)
    want = picture_bytes(expected.block, expected.width, h, row)
    kind = RGB8 if doc.mode == reference.MODE_RGB and doc.depth == 8 and \
        rel.lower().endswith('.psd') else None
    return float(np.mean(np.abs(got - want))), kind


RGB8 = '8-bit RGB'


def against_thumbnail(setup, rel, work):
    """Mean difference of the composite from the document's thumbnail."""
    doc = reference.Document(setup.path(rel))
    if doc.psd is None:
        return None, 'psd-tools cannot read it'
    thumb = doc.psd.image_resources.get_data(THUMBNAIL)
    if thumb is None:
        return None, 'no thumbnail'
    from PIL import Image
    small = thumb.topil().convert('RGB')
    bmp, why = decode(setup, setup.path(rel), os.path.join(work, 't.bmp'))
    if bmp is None:
        return None, why
    e = bmp.bit_count // 8
    pix = picture_bytes(bmp, bmp.width, bmp.height, bmp.width * e)
    pix = pix.reshape(bmp.height, bmp.width, e).astype(np.uint8)
    rgb = np.repeat(pix, 3, 2) if e == 1 else pix[:, :, 2::-1]
    image = Image.fromarray(np.ascontiguousarray(rgb), 'RGB')
    scaled = np.asarray(image.resize(small.size, Image.BOX), np.int16)
    return float(np.mean(np.abs(scaled - np.asarray(small, np.int16)))), None


def main(argv):
    setup = harness.Setup(argv, ['flatview.so'])
    bounds = read_bounds(setup.corpus)
    tally = harness.Tally('composites against stored merged pictures and '
                          'thumbnails')
    measured = {}
    rgb8 = []
    work = tempfile.mkdtemp(prefix='corpus-composite-')
    try:
        for rel in setup.documents():
            raw = open(setup.path(rel), 'rb').read()
            flag = reference.version_info_flag(raw)
            if flag is not None and raw[flag] == 0:
                diff, why = against_thumbnail(setup, rel, work)
                kind = 'thumbnail'
            else:
                diff, why = against_merged(setup, rel, work)
                kind = 'merged'
            if diff is None:
                if why:
                    tally.skip(why.split(':')[0])
                    print('  %8s  %-9s  %s (%s)' % ('-', kind, rel, why))
                continue
            measured[rel] = diff
            if why == RGB8:
                rgb8.append(diff)
            print('  %8.3f  %-9s  %s' % (diff, kind, rel))
            tally.add('%s within 2' % kind if diff <= 2 else
                      '%s within 8' % kind if diff <= 8 else
                      '%s above 8' % kind)
    finally:
        shutil.rmtree(work)
    for rel, bound in sorted(bounds.items()):
        if setup.filters and not any(x in rel for x in setup.filters):
            continue
        if rel not in measured:
            tally.fault(rel, 'listed with bound %g but not composited' % bound)
        elif measured[rel] > bound:
            tally.fault(rel, 'mean difference %.3f over its bound %g' %
                        (measured[rel], bound))
    if rgb8:
        print('8-bit RGB .psd documents against their merged pictures: %d, %s' % (
            len(rgb8), ', '.join('%d within %d' % (
                sum(1 for d in rgb8 if d <= b), b) for b in (2, 4, 8))))
    return tally.finish(['merged within 2', 'merged within 8',
                         'merged above 8', 'thumbnail within 2',
                         'thumbnail within 8', 'thumbnail above 8'])


if __name__ == '__main__':
    sys.exit(main(sys.argv))
