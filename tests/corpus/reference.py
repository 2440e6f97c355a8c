#!/usr/bin/python3
"""Reference outputs of PSD documents: what the plug-ins should hand out.

The documents are read by reference_document.py (through psd-tools, no
compositing); this module turns their planes into the expected DIB pixel
blocks, palettes and listing sizes, and re-exports the reader's names, so
that `reference.Document`, `reference.MODE_GRAY` and the like keep working.

Run as a script it prints a summary of a document:
    reference.py FILE.psd [--layers]
"""

import os
import sys

import struct

import numpy as np

import reference_colour
from reference_colour import cmyk_to_bgr, lab_to_srgb

from reference_document import (  # noqa: F401 (re-exported)
    MODE_BITMAP, MODE_GRAY, MODE_INDEXED, MODE_RGB, MODE_CMYK,
    MODE_MULTICHANNEL, MODE_DUOTONE, MODE_LAB, Document, Layer, Unreadable,
    reduce_samples, srgb_bytes, version_info_flag)


def output_bits(mode, depth):
    """Bit count of the merged picture's DIB."""
    if mode == MODE_CMYK:
        return 32
    if depth in (8, 16, 32):
        return 8 if mode in (MODE_GRAY, MODE_INDEXED) else 24
    return 1


def palette_bytes(mode, depth):
    """Bytes of the output palette: 4 for each of 2 ** bits entries."""
    bits = output_bits(mode, depth)
    return 4 << bits if bits <= 8 else 0


def expected_or_skip(tally, make, *args):
    """(True, make(*args)), or (False, None) after counting why the
    reference has nothing to compare with."""
    try:
        return True, make(*args)
    except NotCompared as e:
        tally.skip(str(e))
    except Unreadable as e:
        tally.skip('reference cannot read: %s' % e)
    return False, None


def dib_stride(row_bytes):
    return (row_bytes + 3) & ~3


def pixels_per_metre(fixed_16_16):
    """16.16 dots per inch -> pixels per metre, rounded to nearest."""
    num = fixed_16_16 * 10000
    den = 254 * 65536
    return (2 * num + den) // (2 * den)


# -- expected DIB pixel blocks ----------------------------------------------

class Expected(object):
    """A pixel block as the plug-ins should hand it out.

    `block` is the whole bottom-up pixel block, padding included; `tolerance`
    is the largest difference allowed per byte (0 but for the colour space
    conversion of Lab documents); `dark_levels`, the share of the distinct
    colour values below 40 that must be found among the picture's, where
    there are 16 or more (a gradient in the shadows).
    """

    def __init__(self, width, height, bytes_per_pixel, rows, tolerance=0,
                 row_bytes=None, mean_limit=None, dark_levels=None):
        self.width, self.height = width, height
        self.bytes_per_pixel = bytes_per_pixel
        self.row_bytes = row_bytes if row_bytes is not None else \
            width * bytes_per_pixel
        self.stride = dib_stride(self.row_bytes)
        self.tolerance = tolerance
        self.mean_limit = mean_limit
        self.dark_levels = dark_levels
        block = np.zeros((height, self.stride), np.uint8)
        block[:, :self.row_bytes] = rows.reshape(height, self.row_bytes)
        self.block = block[::-1].tobytes()

    def compare(self, got):
        """None when `got` matches, else a description of the first fault."""
        if len(got) != len(self.block):
            return 'pixel block %d bytes, expected %d' % (len(got),
                                                            len(self.block))
        a = np.frombuffer(got, np.uint8).astype(np.int16)
        b = np.frombuffer(self.block, np.uint8).astype(np.int16)
        diff = np.abs(a - b)

        def colour(block):  # the colour bytes (not alpha, fourth, padding)
            rows = block.reshape(self.height, self.stride)[:, :self.row_bytes]
            return rows.reshape(self.height, self.width,
                                self.bytes_per_pixel)[:, :, :3]
        if self.mean_limit is not None:
            mean = colour(diff).mean() if diff.size else 0.0
            if mean > self.mean_limit:
                return 'mean difference %.3f, at most %.1f' % (
                    mean, self.mean_limit)
        if self.dark_levels is not None and diff.size:
            want, have = (set(np.unique(v[v < 40]).tolist()) for v in
                          (colour(b), colour(a)))
            if len(want) >= 16 and \
                    len(want & have) < self.dark_levels * len(want):
                return '%d of the %d levels below 40 kept' % (
                    len(want & have), len(want))
        bad = np.nonzero(diff > self.tolerance)[0]
        if len(bad) == 0:
            return None
        first = int(bad[0])
        dib_row, col = divmod(first, self.stride)
        y = self.height - 1 - dib_row
        if col >= self.row_bytes:
            return ('%d bytes differ; first in the padding of row %d: '
                    'got %d, expected %d' % (len(bad), y, a[first], b[first]))
        if self.bytes_per_pixel:
            x = col // self.bytes_per_pixel
            p0 = dib_row * self.stride + x * self.bytes_per_pixel
            p1 = p0 + self.bytes_per_pixel
            where = 'pixel (%d, %d)' % (x, y)
        else:
            x = col * 8
            p0, p1 = first, first + 1
            where = 'byte %d of row %d (pixels %d..%d)' % (col, y, x, x + 7)
        return ('%d bytes differ; first at %s: got %s, expected %s' %
                (len(bad), where, bytes(got[p0:p1]).hex(' '),
                 self.block[p0:p1].hex(' ')))


# Pictures converted through an embedded profile: the plug-ins' tables and
# the colour library's own 8-bit transforms round apart now and then. 16-bit
# samples are held to the library's exact conversion: matrix profiles match
# it, a cube (as the library's own optimized transforms) strays further, by
# up to 20, where a curve's kink or the sRGB gamut's edge crosses a cell;
# the shadows' levels are kept.
CONVERTED = dict(tolerance=8, mean_limit=1.0)
CONVERTED_WIDE = dict(tolerance=20, mean_limit=1.0, dark_levels=0.9)


def converted(conv):
    return CONVERTED_WIDE if conv.wide is not None else CONVERTED
_converters = {}


def colour_converter(doc):
    """The reference conversion of `doc`'s profile, or None (as stored)."""
    if doc.path not in _converters:
        _converters[doc.path] = reference_colour.converter(doc)
    return _converters[doc.path]


class NotCompared(Exception):
    """The reference does not cover this document or layer (reason)."""


def merged_alpha(doc, planes, colours):
    """The merged picture's transparency (a negative layer count), or None."""
    # Where the stored data falls short (the reader pads it with zeros),
    # the transparency is not known: the picture is shown as stored.
    if len(planes) <= colours or getattr(doc, 'read_error', None):
        return None
    try:
        info = doc.layer_info()
    except Exception:  # noqa: BLE001 - unreadable layers: no transparency
        return None
    if info is None or getattr(info, 'layer_count', 0) >= 0:
        return None
    alpha = np.array(planes[colours], np.int64)
    # Rows not stored (past a truncated section's end, or PackBits rows of
    # byte count 0) the reader counts as opaque.
    img = doc.image_data()
    if int(img.compression) == 0:
        # Rows past the end of a truncated raw section are not stored.
        h, w, size = doc.height, doc.width, doc.depth // 8
        alpha = alpha.reshape(h, -1)
        for y in range(h):
            if ((colours * h + y) + 1) * w * size > len(img.data):
                alpha[y] = 255
        alpha = alpha.ravel()
    if int(img.compression) == 1:
        width = 4 if doc.version == 2 else 2
        h = doc.height
        rows = h * doc.channels
        counts = struct.unpack('>%d%s' % (rows, 'I' if width == 4 else 'H'),
                               bytes(img.data[:width * rows]))
        alpha = alpha.reshape(h, -1)
        for y in range(h):
            if counts[colours * h + y] == 0:
                alpha[y] = 255
        alpha = alpha.ravel()
    return alpha


def onto_white(samples, alpha):
    """Samples blended onto white by alpha, rounded as 8-bit products are."""
    x = np.asarray(samples, np.int64) * alpha + 128
    return ((x + (x >> 8)) >> 8) + 255 - alpha


def unmatted(colour, alpha):
    """Whether colour lies below 255 - alpha somewhere: stored not blended
    onto white (as some writers store it), it is shown blended."""
    return alpha is not None and any(
        (np.asarray(c, np.int64) < 255 - alpha).any() for c in colour)


def expected_merged(doc):
    """Expected merged picture of `doc`, or NotCompared."""
    mode, depth, w, h = doc.mode, doc.depth, doc.width, doc.height
    if not doc.has_real_merged_data() and doc.layers():
        raise NotCompared('saved without a merged picture (composited)')
    if depth == 1:
        if mode != MODE_BITMAP:
            raise NotCompared('1-bit mode %d' % mode)
        plane = doc.merged_planes()[0]
        return Expected(w, h, 0, plane, row_bytes=(w + 7) // 8)
    if depth not in (8, 16, 32):
        raise NotCompared('depth %d' % depth)
    tol = 0
    planes = doc.merged_planes()
    conv = colour_converter(doc)
    # 16-bit documents with a profile convert from their 16-bit samples.
    wide = doc.merged_planes(True) if conv and conv.wide else None
    if mode in (MODE_GRAY, MODE_INDEXED):
        alpha = merged_alpha(doc, planes, 1) if mode == MODE_GRAY else None
        levels, extra = planes[0], {'tolerance': tol}
        if wide is not None:
            levels, extra = conv.gray16(wide[0]), CONVERTED_WIDE
        if unmatted(planes[:1], alpha):
            levels = onto_white(levels, alpha).astype(np.uint8)
        return Expected(w, h, 1, levels, **extra)
    if mode == MODE_CMYK:
        if len(planes) < 4:
            raise NotCompared('CMYK with %d channels' % len(planes))
        if depth == 32:
            raise NotCompared('32-bit CMYK')
        if wide is not None:
            r, g, b = conv.cmyk16(*wide[:4])
        elif conv is not None:
            r, g, b = conv.cmyk(*planes[:4])
        else:
            b, g, r = cmyk_to_bgr(*planes[:4])
        pix = np.stack([b, g, r, np.full(w * h, 255, np.uint8)], axis=1)
        return Expected(w, h, 4, pix.ravel(),
                        **(converted(conv) if conv is not None else {}))
    if mode == MODE_BITMAP:
        raise NotCompared('bitmap mode at depth %d' % depth)
    colour = planes[:3] + [planes[-1]] * (3 - min(3, len(planes)))
    if mode == MODE_LAB:
        if len(planes) < 3:
            raise NotCompared('Lab with %d channels' % len(planes))
        colour = lab_to_srgb(*colour)
        tol = 1  # the matrices' last digits may differ
    conv = conv if mode == MODE_RGB else None
    alpha = merged_alpha(doc, planes, 3) if mode == MODE_RGB else None
    blend = unmatted(colour[:3], alpha)
    if conv is not None and wide is not None:
        colour = conv.rgb16(*(wide[:3] + [wide[-1]] * (3 - min(3, len(wide)))))
    elif conv is not None:
        colour = conv.rgb(*colour[:3])
    if blend:
        colour = [onto_white(c, alpha).astype(np.uint8) for c in colour[:3]]
    pix = np.stack([colour[2], colour[1], colour[0]], axis=1)
    if conv is not None:
        return Expected(w, h, 3, pix.ravel(), **converted(conv))
    return Expected(w, h, 3, pix.ravel(), tol)


def layer_bytes_per_pixel(ids, palette):
    """Bytes per pixel of a layer picture with channel identifiers `ids`."""
    if not ids:
        return 0
    if -1 in ids or len(ids) >= 4:
        return 4
    if len(ids) == 3:
        return 3
    colour = [c for c in ids if c >= 0]
    return 1 if colour == [0] and palette == 1024 else 3


def expected_layer(doc, layer):
    """Expected picture of one layer, None for an empty one, or NotCompared."""
    w, h = layer.width, layer.height
    ids = layer.channel_ids
    e = layer_bytes_per_pixel(ids, palette_bytes(doc.mode, doc.depth))
    if w <= 0 or h <= 0 or e == 0:
        return None
    if doc.depth not in (8, 16, 32):
        raise NotCompared('depth %d layer' % doc.depth)
    if doc.mode not in (MODE_RGB, MODE_GRAY, MODE_INDEXED, MODE_CMYK,
                        MODE_LAB):
        raise NotCompared('mode %d layer' % doc.mode)
    n = w * h
    pix = np.zeros((n, e), np.uint8)
    written = set()
    tol = 0

    def plane(j):
        return layer.plane(j)

    conv = colour_converter(doc)
    cmyk = {}
    for j, c in enumerate(ids):
        if c == -1 and e == 4:
            pix[:, 3] = plane(j)
            written.add(3)
        elif doc.mode == MODE_CMYK and 0 <= c <= 3:
            cmyk[c] = plane(j)
        elif e == 1 and c == 0:
            pix[:, 0] = plane(j)
        elif e >= 3 and 0 <= c <= 2:
            pix[:, 2 - c] = plane(j)
            written.add(2 - c)
    if doc.mode == MODE_CMYK and cmyk:
        if sorted(cmyk) != [0, 1, 2, 3]:
            raise NotCompared('CMYK layer with channels %s' % ids)
        if conv is not None:
            pix[:, 2], pix[:, 1], pix[:, 0] = conv.cmyk(
                cmyk[0], cmyk[1], cmyk[2], cmyk[3])
        else:
            pix[:, 0], pix[:, 1], pix[:, 2] = cmyk_to_bgr(
                cmyk[0], cmyk[1], cmyk[2], cmyk[3])
        written.update((0, 1, 2))
    elif e >= 3 and written - {3} == {2}:
        pix[:, 1] = pix[:, 2]
        pix[:, 0] = pix[:, 2]
    elif doc.mode == MODE_LAB and e >= 3 and {0, 1, 2} <= written:
        r, g, b = lab_to_srgb(pix[:, 2], pix[:, 1], pix[:, 0])
        pix[:, 0], pix[:, 1], pix[:, 2] = b, g, r
        tol = 1  # the matrices' last digits may differ
    if conv is not None and conv.wide is not None:
        reference_colour.wide_layer_colours(doc, layer, conv, e, pix)
    elif conv is not None and e >= 3 and doc.mode in (MODE_RGB, MODE_GRAY):
        r, g, b = (conv.gray(pix[:, 2]) if doc.mode == MODE_GRAY else
                   conv.rgb(pix[:, 2], pix[:, 1], pix[:, 0]))
        pix[:, 0], pix[:, 1], pix[:, 2] = b, g, r
    if e == 4:
        if 3 not in written:
            pix[:, 3] = 255
        clear = pix[:, 3] == 0
        pix[clear, :3] = 255
    if conv is not None and (e >= 3 or conv.wide is not None):
        return Expected(w, h, e, pix.ravel(), **converted(conv))
    return Expected(w, h, e, pix.ravel(), tol)


def layer_listing_size(doc, layer):
    """Size the listing gives a layer entry, and whether it is a .bmp."""
    e = layer_bytes_per_pixel(layer.channel_ids,
                              palette_bytes(doc.mode, doc.depth))
    if layer.width <= 0 or layer.height <= 0 or e == 0:
        return 0, False
    return (54 + palette_bytes(doc.mode, doc.depth) +
            dib_stride(e * layer.width) * layer.height), True


def merged_listing_size(doc):
    bits = output_bits(doc.mode, doc.depth)
    return (54 + palette_bytes(doc.mode, doc.depth) +
            dib_stride((doc.width * bits + 7) // 8) * doc.height)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write('usage: reference.py FILE.psd [--layers]\n')
        return 2
    doc = Document(argv[1])
    print('%s: version %d mode %d depth %d channels %d %dx%d' %
          (os.path.basename(doc.path), doc.version, doc.mode, doc.depth,
           doc.channels, doc.width, doc.height))
    if doc.read_error:
        print('  psd-tools: %s' % doc.read_error)
    try:
        planes = doc.merged_planes()
        print('  merged compression %d, planes %d, first bytes %s' %
              (int(doc.image_data().compression), len(planes),
               ' '.join(bytes(p[:8]).hex() for p in planes)))
    except Unreadable as e:
        print('  merged: %s' % e)
    if '--layers' in argv:
        try:
            for layer in doc.layers():
                print('  layer %d (%d,%d)-(%d,%d) channels %s comp %s' %
                      (layer.index, layer.left, layer.top, layer.right,
                       layer.bottom, layer.channel_ids, layer.compressions))
        except Unreadable as e:
            print('  layers: %s' % e)
        for key in doc.deep_layer_blocks():
            print('  %s block present' % key)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
