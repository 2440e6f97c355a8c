#!/usr/bin/python3
"""Merged pictures of the corpus against the stored merged channels.

For every document, `psdhost picture flatview.so` decodes the merged picture
into a BMP. Every document must decode (result 0). The BMP's header (size, bit count, resolution, palette) and its
pixel block, padding included, are compared with what psd-tools reads from
the Image Data section.

usage: compare_merged.py BUILD_DIR CORPUS_DIR [FILTER...]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpfile  # noqa: E402
import harness  # noqa: E402
import reference  # noqa: E402


def expected_palette(doc):
    """[(red, green, blue, reserved)] the header block must carry."""
    bits = reference.output_bits(doc.mode, doc.depth)
    if bits > 8:
        return []
    if bits == 1:
        if doc.mode == reference.MODE_BITMAP:
            return [(255, 255, 255, 0), (0, 0, 0, 0)]
        if doc.mode == reference.MODE_GRAY:
            return None  # the first entries of a ramp, the writer's choice
        if doc.mode == reference.MODE_INDEXED:
            return None
        return [(0, 0, 0, 0)] * 2  # no palette of its own: zeros
    if doc.mode == reference.MODE_GRAY:
        entries = [(i, i, i) for i in range(256)]
    else:
        entries = doc.indexed_palette()
    conv = reference.colour_converter(doc)
    # A 16-bit gray document's pixels are its sRGB levels: the ramp stays.
    if conv is not None and conv.wide is None:
        entries = conv.palette(entries)
    return [rgb + (0,) for rgb in entries]


def check_header(tally, rel, doc, bmp):
    bits = reference.output_bits(doc.mode, doc.depth)
    got = (bmp.width, bmp.height, bmp.bit_count)
    if got != (doc.width, doc.height, bits):
        tally.fault(rel, 'header %dx%d %d-bit, expected %dx%d %d-bit' %
                    (got + (doc.width, doc.height, bits)))
        return False
    res = doc.resolution()
    want = (3000, 3000) if res is None else \
        tuple(reference.pixels_per_metre(v) for v in res)
    if (bmp.x_ppm, bmp.y_ppm) != want:
        tally.fault(rel, 'pixels per metre %d x %d, expected %d x %d' %
                    ((bmp.x_ppm, bmp.y_ppm) + want))
    palette = expected_palette(doc)
    # A profile's palette may round differently by one level.
    slack = 1 if reference.colour_converter(doc) is not None else 0
    entries = bmp.palette_entries()

    def differs(a, b):
        return any(abs(x - y) > slack for x, y in zip(a, b))
    if palette is not None and (len(entries) != len(palette) or any(
            differs(a, b) for a, b in zip(entries, palette))):
        first = next((i for i, (a, b) in enumerate(zip(entries, palette))
                      if differs(a, b)), min(len(entries), len(palette)))
        tally.fault(rel, 'palette of %d entries, expected %d; first '
                    'difference at entry %d' % (len(entries), len(palette),
                                                first))
    return True


def main(argv):
    return harness.each_output(
        argv, 'flatview.so', 'merged pictures against the stored channels',
        compare, 'p.bmp', ['decoded', 'matched', 'matched (±1)', 'mismatched'])


def compare(setup, plugin, tally, rel, out):
    if os.path.exists(out):
        os.remove(out)
    status, stdout, stderr = setup.run(['picture', plugin, setup.path(rel),
                                        '-o', out])
    code = harness.result_code(status, stdout, stderr)
    if status is None:
        tally.fault(rel, 'psdhost ' + stderr)
        return
    if code != 0 or not os.path.exists(out):
        tally.fault(rel, 'result %s, expected 0 (%s)' %
                    (code, stderr.strip()))
        return
    tally.add('decoded')
    try:
        bmp = bmpfile.read(out)
    except bmpfile.BmpError as e:
        tally.fault(rel, 'BMP unreadable: %s' % e)
        return
    doc = reference.Document(setup.path(rel))
    if not check_header(tally, rel, doc, bmp):
        return
    found, exp = reference.expected_or_skip(tally, reference.expected_merged,
                                            doc)
    if not found:
        return
    fault = exp.compare(bmp.pixels)
    if fault:
        tally.fault(rel, '%d-bit mode %d: %s' % (doc.depth, doc.mode, fault))
        tally.add('mismatched')
    elif exp.tolerance:
        tally.add('matched (±%d)' % exp.tolerance)
    else:
        tally.add('matched')


if __name__ == '__main__':
    sys.exit(main(sys.argv))
