#!/usr/bin/python3
"""Documents written by ImageMagick's PSD writer against psd-tools.

ImageMagick ends every PackBits row one byte before its row byte count says.
Layered, gray, palette and transparent documents of odd sizes are written
with it afresh; their merged pictures and every layer must equal the
reference, as the corpus comparisons check them. Skipped where
/usr/bin/convert is missing.

usage: compare_imagemagick.py BUILD_DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_layers  # noqa: E402
import compare_merged  # noqa: E402
import harness  # noqa: E402

CONVERT = '/usr/bin/convert'

# name: arguments to convert before the output (the first picture is the
# merged one, each further picture a layer).
DOCUMENTS = {
    'layers_rgb.psd': [
        '-size', '61x33', 'gradient:red-blue',
        '(', '-size', '41x17', 'plasma:fractal', ')',
        '(', '-size', '29x45', 'xc:none', '-fill', 'green',
        '-draw', 'circle 14,22 14,5', ')',
        '(', '-size', '7x3', 'xc:orange', ')'],
    'layers_rgb_alpha.psd': [
        '-size', '53x21', 'gradient:yellow-navy', '-alpha', 'set',
        '-channel', 'A', '-evaluate', 'set', '70%', '+channel',
        '(', '-size', '13x37', 'plasma:', '-alpha', 'set', ')',
        '(', '-size', '53x21', 'gradient:white-black', ')'],
    'layers_gray.psd': [
        '-size', '45x19', 'gradient:', '-colorspace', 'Gray',
        '(', '-size', '31x11', 'plasma:', '-colorspace', 'Gray', ')'],
    'palette.psd': [
        '-size', '67x29', 'plasma:', '+dither', '-colors', '23',
        '-type', 'Palette'],
    'palette_layers.psd': [
        '-size', '37x27', 'gradient:red-green', '+dither', '-colors', '9',
        '(', '-size', '19x23', 'plasma:', ')', '-type', 'Palette'],
}


def write_documents(folder):
    for name, args in sorted(DOCUMENTS.items()):
        command = [CONVERT] + args + ['-depth', '8', '-compress', 'RLE',
                                      os.path.join(folder, name)]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: compare_imagemagick.py BUILD_DIR\n')
        return 2
    if not os.access(CONVERT, os.X_OK):
        print('%s (ImageMagick) missing: skipped' % CONVERT)
        return harness.SKIPPED
    work = tempfile.mkdtemp(prefix='imagemagick-')
    try:
        docs = os.path.join(work, 'docs')
        os.mkdir(docs)
        write_documents(docs)
        setup = harness.Setup([argv[0], argv[1], docs],
                              ['flatview.so', 'layerpack.so'])
        merged = harness.Tally('ImageMagick documents: merged pictures')
        layers = harness.Tally('ImageMagick documents: layers')
        for rel in setup.documents():
            compare_merged.compare(setup, setup.plugins['flatview.so'],
                                   merged, rel, os.path.join(work, 'p.bmp'))
            compare_layers.run(setup, setup.plugins['layerpack.so'], layers,
                               rel, os.path.join(work, 'out'))
        status = merged.finish(['decoded', 'matched', 'mismatched'])
        status |= layers.finish(['documents', 'layers', 'matched',
                                 'fallen back', 'mismatched'])
        # Every document and every layer must have been compared.
        if merged.counts.get('matched', 0) != len(DOCUMENTS) or \
                layers.counts.get('matched', 0) != layers.counts.get('layers'):
            print('FAIL: not every picture was compared')
            status = 1
        return status
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
