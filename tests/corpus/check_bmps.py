#!/usr/bin/python3
"""Every BMP the plug-ins produce from the corpus is a valid BMP.

For every .psd: the merged picture (`psdhost picture flatview.so`) and every
entry extracted by layerpack.so, into a directory and through memory output,
must open in Pillow at the size their header gives, with header fields that
agree with the file (bfSize, bfOffBits, biSizeImage); the two extraction
modes must give the same bytes; and each entry's listed size must equal the
size of the file extracted for it.

usage: check_bmps.py BUILD_DIR CORPUS_DIR [FILTER...]
"""

import os
import shutil
import sys
import warnings

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpfile  # noqa: E402
import harness  # noqa: E402

warnings.simplefilter('ignore')
Image.MAX_IMAGE_PIXELS = None


def check_file(tally, rel, name, path):
    """Header consistency and a full Pillow decode of one BMP file."""
    try:
        bmp = bmpfile.read(path)
    except bmpfile.BmpError as e:
        tally.fault(rel, '%s: %s' % (name, e))
        return
    problems = bmp.check_layout()
    if problems:
        tally.fault(rel, '%s: %s' % (name, '; '.join(problems)))
        return
    try:
        with Image.open(path) as im:
            im.load()
            size = im.size
    except Exception as e:
        tally.fault(rel, '%s: Pillow cannot open it: %s' % (name, e))
        return
    if size != (bmp.width, abs(bmp.height)):
        tally.fault(rel, '%s: Pillow reads %dx%d, header says %dx%d' %
                    (name, size[0], size[1], bmp.width, bmp.height))
        return
    tally.add('valid')


def main(argv):
    return harness.each_document(
        argv, ['flatview.so', 'layerpack.so'], 'BMP files from the corpus',
        run, ['pictures', 'entries', 'valid', 'empty'])


def run(setup, tally, rel, work):
    src = setup.path(rel)
    picture = os.path.join(work, 'picture.bmp')
    if os.path.exists(picture):
        os.remove(picture)
    status, out, err = setup.run(['picture', setup.plugins['flatview.so'], src,
                                  '-o', picture])
    if status is None or harness.result_code(status, out, err) != 0:
        tally.fault(rel, 'picture failed: %s' % err.strip())
    else:
        tally.add('pictures')
        check_file(tally, rel, 'picture', picture)

    layerpack = setup.plugins['layerpack.so']
    status, out, err = setup.run(['list', layerpack, src])
    if status is None or harness.result_code(status, out, err) != 0:
        tally.fault(rel, 'list failed: %s' % err.strip())
        return
    entries = harness.parse_listing(out)
    if not entries:
        tally.fault(rel, 'empty listing')
        return
    dirs = {}
    for mode, extra in (('file', []), ('memory', ['--memory-output'])):
        d = os.path.join(work, mode)
        if os.path.exists(d):
            shutil.rmtree(d)
        os.mkdir(d)
        dirs[mode] = d
        status, out, err = setup.run(['extract', layerpack, src, '-o', d] +
                                     extra)
        results = harness.all_results(status, out, err)
        if status is None or any(r != 0 for r in results):
            tally.fault(rel, 'extract (%s output) failed: results %s %s' %
                        (mode, results, err.strip()))

    if os.path.exists(picture):
        compound = os.path.join(dirs['file'], 'compound.bmp')
        if os.path.exists(compound) and \
                open(compound, 'rb').read() != open(picture, 'rb').read():
            tally.fault(rel, 'compound.bmp differs from the decoded picture')

    for num, kind, size, packed, name in entries:
        tally.add('entries')
        path = os.path.join(dirs['file'], name)
        if not os.path.exists(path) and name.endswith('.bmp'):
            path = path[:-3] + 'dat'
        if not os.path.exists(path):
            tally.fault(rel, 'entry %d (%s) not extracted' % (num, name))
            continue
        actual = os.path.getsize(path)
        if actual != size:
            tally.fault(rel, 'entry %d (%s) listed with %d bytes, extracted '
                        '%d' % (num, name, size, actual))
        mem = os.path.join(dirs['memory'], name)
        if not os.path.exists(mem) or \
                open(mem, 'rb').read() != open(path, 'rb').read():
            tally.fault(rel, 'entry %d (%s): memory output differs from the '
                        'file' % (num, name))
        if path.endswith('.dat'):
            if actual:
                tally.fault(rel, '%s has %d bytes' % (name, actual))
            else:
                tally.add('empty')
            continue
        check_file(tally, rel, name, path)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
