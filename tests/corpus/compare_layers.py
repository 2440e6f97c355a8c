#!/usr/bin/python3
"""Layer listings and extracted layers of the corpus against psd-tools.

For every .psd, `psdhost list layerpack.so` must give "compound.bmp" and one
entry per layer record, with the names and sizes the records imply, and
`psdhost extract` must write each layer as the record's channels placed into
a bottom-up DIB: channel 0, 1, 2 as red, green, blue, the transparency in the
fourth byte, fully transparent pixels white. Entries served as the merged
picture (fallback) are counted and reported.

usage: compare_layers.py BUILD_DIR CORPUS_DIR [FILTER...]
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpfile  # noqa: E402
import harness  # noqa: E402
import reference  # noqa: E402


def expected_listing(doc, layers):
    """[(kind, size, name)] the listing must show, fallbacks aside."""
    rows = [('PSD com', reference.merged_listing_size(doc), 'compound.bmp')]
    for layer in layers:
        size, is_bmp = reference.layer_listing_size(doc, layer)
        n = layer.index + 1
        rows.append(('PSD lay', size,
                     'layer%04d.%s' % (n, 'bmp' if is_bmp else 'dat')))
    return rows


def check_listing(tally, rel, doc, layers, entries):
    """Compares the listing; returns the entry numbers listed as fallbacks."""
    want = expected_listing(doc, layers)
    if len(entries) != len(want):
        tally.fault(rel, 'listing has %d entries, expected %d (%d layer '
                    'records)' % (len(entries), len(want), len(layers)))
        return None
    merged_size = want[0][1]
    fallbacks = set()
    for i, ((num, kind, size, packed, name), (wkind, wsize, wname)) in \
            enumerate(zip(entries, want)):
        if num != i or kind != wkind or packed != size:
            tally.fault(rel, 'entry %d listed as #%d "%s" packed %d size %d' %
                        (i, num, kind, packed, size))
        if (size, name) == (wsize, wname):
            continue
        if i > 0 and size == merged_size and name == wname[:-3] + 'bmp':
            fallbacks.add(i)
            continue
        tally.fault(rel, 'entry %d listed as %s of %d bytes, expected %s of '
                    '%d bytes' % (i, name, size, wname, wsize))
    return fallbacks


def compare_layer(tally, rel, doc, layer, path, compound, listed_fallback):
    n = layer.index + 1
    with open(path, 'rb') as f:
        data = f.read()
    found, exp = reference.expected_or_skip(tally, reference.expected_layer,
                                            doc, layer)
    if not found:
        return
    if exp is None:
        if data:
            tally.fault(rel, 'layer %d has no pixels, extracted %d bytes' %
                        (n, len(data)))
        else:
            tally.add('empty')
        return
    if data == compound and (listed_fallback or
                             exp.compare(data[-len(exp.block):]) is not None):
        tally.add('fallen back')
        print('fallback %s layer %d (%s)' % (rel, n, layer.name))
        return
    if listed_fallback:
        tally.fault(rel, 'layer %d listed as the merged picture but '
                    'extracted otherwise' % n)
    try:
        bmp = bmpfile.Bmp(data)
    except bmpfile.BmpError as e:
        tally.fault(rel, 'layer %d: BMP unreadable: %s' % (n, e))
        return
    palette = reference.palette_bytes(doc.mode, doc.depth)
    got = (bmp.width, bmp.height, bmp.bit_count, len(bmp.palette))
    want = (exp.width, exp.height, 8 * exp.bytes_per_pixel, palette)
    if got != want:
        tally.fault(rel, 'layer %d: %dx%d %d-bit, palette %d bytes; '
                    'expected %dx%d %d-bit, palette %d bytes' %
                    ((n,) + got + want))
        tally.add('mismatched')
        return
    fault = exp.compare(bmp.pixels)
    if fault:
        tally.fault(rel, 'layer %d (channels %s, compression %s): %s' %
                    (n, layer.channel_ids, layer.compressions, fault))
        tally.add('mismatched')
    else:
        tally.add('matched')


def main(argv):
    return harness.each_output(
        argv, 'layerpack.so', 'extracted layers against the layer records',
        run, 'out', ['documents', 'layers', 'extracted', 'matched', 'empty',
                     'fallen back', 'mismatched'])


def run(setup, plugin, tally, rel, out):
    doc = reference.Document(setup.path(rel))
    status, stdout, stderr = setup.run(['list', plugin, setup.path(rel)])
    if status is None or harness.result_code(status, stdout, stderr) != 0:
        tally.fault(rel, 'list failed: %s' % stderr.strip())
        return
    entries = harness.parse_listing(stdout)
    try:
        layers = doc.layers()
    except reference.Unreadable as e:
        tally.skip('reference cannot read: %s' % e)
        return
    tally.add('documents')
    tally.add('layers', len(layers))
    fallbacks = check_listing(tally, rel, doc, layers, entries)
    if fallbacks is None or not layers:
        return
    if os.path.exists(out):
        shutil.rmtree(out)
    os.mkdir(out)
    status, stdout, stderr = setup.run(['extract', plugin, setup.path(rel),
                                        '-o', out])
    results = harness.all_results(status, stdout, stderr)
    if status is None or any(r != 0 for r in results):
        tally.fault(rel, 'extract failed: results %s %s' %
                    (results, stderr.strip()))
    compound_path = os.path.join(out, 'compound.bmp')
    compound = open(compound_path, 'rb').read() \
        if os.path.exists(compound_path) else None
    for layer, entry in zip(layers, entries[1:]):
        path = os.path.join(out, entry[4])
        if not os.path.exists(path):
            # A layer listed as .bmp but without pixels is written as .dat.
            alt = path[:-3] + 'dat'
            if not os.path.exists(alt):
                tally.fault(rel, 'entry %s not extracted' % entry[4])
                continue
            path = alt
        tally.add('extracted')
        compare_layer(tally, rel, doc, layer, path, compound,
                      entry[0] in fallbacks)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
