#!/usr/bin/python3
"""Reference reading of PSD documents through psd-tools.

Everything here comes from psd-tools' low-level records (psd_tools.psd.PSD):
the merged channels stored in the Image Data section and the channels of
each record of the layer info, in file order. No compositing is done. Samples
are reduced to one byte the way the plug-ins keep them: the most significant
byte of a 16-bit sample, a 32-bit float through the sRGB transfer curve.

Run as a script it prints a summary of a document:
    reference.py FILE.psd [--layers]
"""

import io
import os
import struct
import sys
import warnings
import logging

import numpy as np

warnings.simplefilter('ignore')
logging.disable(logging.CRITICAL)

from psd_tools.psd import PSD  # noqa: E402
from psd_tools.psd.image_data import ImageData  # noqa: E402
from psd_tools.compression import rle_impl  # noqa: E402

MODE_BITMAP, MODE_GRAY, MODE_INDEXED, MODE_RGB, MODE_CMYK = 0, 1, 2, 3, 4
MODE_MULTICHANNEL, MODE_DUOTONE, MODE_LAB = 7, 8, 9


class Unreadable(Exception):
    """psd-tools cannot give the reference for this document or channel."""


def srgb_bytes(values):
    """Linear-light floats -> bytes through the sRGB transfer curve."""
    v = np.nan_to_num(values.astype(np.float64), nan=0.0)
    v = np.clip(v, 0.0, 1.0)
    curve = np.where(v <= 0.0031308, 12.92 * v,
                     1.055 * np.power(v, 1.0 / 2.4) - 0.055)
    return np.floor(curve * 255.0 + 0.5).astype(np.uint8)


def reduce_samples(data, depth, count):
    """Big-endian samples of `depth` bits -> `count` bytes, one a sample."""
    if depth == 8:
        out = np.frombuffer(data, dtype=np.uint8, count=count)
    elif depth == 16:
        out = np.frombuffer(data, dtype='>u2', count=count) >> 8
        out = out.astype(np.uint8)
    elif depth == 32:
        out = srgb_bytes(np.frombuffer(data, dtype='>f4', count=count))
    else:
        raise Unreadable('depth %d has no byte reduction' % depth)
    return out.copy()


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


def version_info_flag(raw):
    """Offset of the hasRealMergedData byte of the version info resource
    (1057: a 4-byte version, then that byte), or None."""
    (cmd,) = struct.unpack('>I', raw[26:30])
    pos = 30 + cmd
    (length,) = struct.unpack('>I', raw[pos:pos + 4])
    pos, end = pos + 4, pos + 4 + length
    while pos + 12 <= end:
        rid = struct.unpack('>H', raw[pos + 4:pos + 6])[0]
        name = (raw[pos + 6] + 2) & ~1
        (size,) = struct.unpack('>I', raw[pos + 6 + name:pos + 10 + name])
        data = pos + 10 + name
        if rid == 1057 and size >= 5:
            return data + 4
        pos = data + size + (size & 1)
    return None


class Layer(object):
    """One layer record of the layer info, with its decoded channels."""

    def __init__(self, index, record, channel_data, depth, version):
        self.index = index
        self.top, self.left = record.top, record.left
        self.bottom, self.right = record.bottom, record.right
        self.width = record.right - record.left
        self.height = record.bottom - record.top
        # The low byte of the identifier, signed, as the plug-ins keep it.
        self.channel_ids = [struct.unpack('b', struct.pack('B',
                                                          int(c.id) & 0xFF))[0]
                            for c in record.channel_info]
        self.channel_lengths = [c.length for c in record.channel_info]
        self.compressions = [int(c.compression) for c in channel_data]
        self.name = record.name
        self._record = record
        self._data = channel_data
        self._depth = depth
        self._version = version
        self._planes = {}

    def plane(self, position):
        """Bytes (width x height, top row first) of channel `position`."""
        if position not in self._planes:
            self._planes[position] = self._decode(position)
        return self._planes[position]

    def _decode(self, position):
        w, h = max(self.width, 0), max(self.height, 0)
        cd = self._data[position]
        try:
            raw = cd.get_data(w, h, self._depth, self._version)
        except Exception as e:  # psd-tools refuses malformed data
            raise Unreadable('layer %d channel %d: %s' %
                                 (self.index, position, e))
        return reduce_samples(raw, self._depth, w * h)


class Document(object):
    """The parts of a PSD document that the plug-ins' output shows."""

    def __init__(self, path):
        self.path = path
        with open(path, 'rb') as f:
            self.raw = f.read()
        try:
            self.psd = PSD.read(io.BytesIO(self.raw))
            self.read_error = None
        except Exception as e:
            self.psd = None
            self.read_error = '%s: %s' % (type(e).__name__, e)
            # psd-tools accepts only "8BIM"/"8B64" as the signature of
            # additional layer information (some writers use "8ELE") and
            # only known blend keys (ImageMagick 6 writes "norm" reversed);
            # neither changes the pixels.
            mended = self.raw.replace(b'8ELE', b'8BIM').replace(
                b'8BIMmron', b'8BIMnorm')
            if mended != self.raw:
                try:
                    self.psd = PSD.read(io.BytesIO(mended))
                    self.read_error = None
                except Exception:
                    pass
        (self.version, self.channels, self.height, self.width, self.depth,
         self.mode) = struct.unpack('>4xH6xHIIHH', self.raw[:26])

    # -- merged picture ---------------------------------------------------

    def image_data(self):
        """psd-tools' Image Data record, also when the rest cannot be read.

        When psd-tools refuses a document for something in its layer
        information, the Image Data section is still found by the section
        lengths and handed to psd-tools' own Image Data reader.
        """
        if self.psd is not None:
            return self.psd.image_data
        pos = 26
        for _ in range(3):
            (length,) = struct.unpack('>I', self.raw[pos:pos + 4])
            pos += 4 + length
        if pos + 2 > len(self.raw):
            raise Unreadable('no Image Data section')
        return ImageData.read(io.BytesIO(self.raw[pos:]))

    def merged_planes(self):
        """The stored merged channels, one bytes-per-sample plane each.

        Depth 1 planes hold the packed rows as stored ((width + 7) / 8 bytes
        a row); deeper planes hold one byte per pixel.
        """
        img = self.image_data()
        comp = int(img.compression)
        w, h, ch = self.width, self.height, self.channels
        if self.depth == 1:
            row = (w + 7) // 8
            if comp == 0:
                data = img.data[:row * h * ch]
            elif comp == 1:
                data = self._unpack_rows(img.data, row, h * ch)
            else:
                raise Unreadable('merged compression %d' % comp)
            if len(data) < row * h * ch:
                raise Unreadable('merged data truncated')
            plane = row * h
            return [np.frombuffer(data, np.uint8)[i * plane:(i + 1) * plane]
                    for i in range(ch)]
        size = self.depth // 8
        if comp == 0 and len(img.data) < w * h * ch * size:
            # A truncated raw section: the rows that lie wholly inside the
            # file stand, every later row stays 0.
            data = img.data[:len(img.data) // (w * size) * (w * size)]
            data = data.ljust(w * h * ch * size, b'\0')
            return [reduce_samples(data[i * w * h * size:], self.depth, w * h)
                    for i in range(ch)]
        try:
            planes = img.get_data(self.psd.header if self.psd else
                                  _Header(self), split=True)
        except Exception as e:
            raise Unreadable('merged data: %s' % e)
        return [reduce_samples(p, self.depth, w * h) for p in planes]

    def _unpack_rows(self, data, row_size, rows):
        width = 4 if self.version == 2 else 2
        counts = struct.unpack('>%d%s' % (rows, 'I' if width == 4 else 'H'),
                               data[:width * rows])
        pos, out = width * rows, []
        for c in counts:
            try:
                out.append(rle_impl.decode(data[pos:pos + c], row_size))
            except Exception as e:
                raise Unreadable('merged PackBits row: %s' % e)
            pos += c
        return b''.join(out)

    def has_real_merged_data(self):
        """False when the version info (resource 1057) says the Image Data
        holds no real merged picture."""
        flag = version_info_flag(self.raw)
        return flag is None or self.raw[flag] != 0

    def indexed_palette(self):
        """The 256 (red, green, blue) entries of an Indexed document."""
        cmd = self.psd.color_mode_data.value if self.psd else b''
        cmd = bytes(cmd).ljust(768, b'\0')
        return [(cmd[i], cmd[256 + i], cmd[512 + i]) for i in range(256)]

    def resolution(self):
        """(horizontal, vertical) 16.16 dots per inch, or None."""
        if self.psd is None:
            return self._walk_resolution()
        res = self.psd.image_resources.get_data(1005)
        if res is None:
            return None
        return res.horizontal, res.vertical

    def _walk_resolution(self):
        """The last resolution block, for documents psd-tools refuses."""
        raw = self.raw
        (l1,) = struct.unpack('>I', raw[26:30])
        pos = 30 + l1
        (l2,) = struct.unpack('>I', raw[pos:pos + 4])
        pos, end, found = pos + 4, pos + 4 + l2, None
        while pos + 12 <= end:
            rid = struct.unpack('>H', raw[pos + 4:pos + 6])[0]
            name = (raw[pos + 6] + 2) & ~1
            (size,) = struct.unpack('>I', raw[pos + 6 + name:pos + 10 + name])
            data = raw[pos + 10 + name:pos + 10 + name + size]
            if rid == 1005 and len(data) >= 12:
                found = struct.unpack('>I4xI', data[:12])
            pos += 10 + name + size + (size & 1)
        return found

    # -- layers -----------------------------------------------------------

    def layer_info(self):
        """The layer info: the section's own, or when that is empty the one
        that 16- and 32-bit documents keep in an "Lr16"/"Lr32" block."""
        if self.psd is None:
            raise Unreadable('psd-tools cannot read: %s' % self.read_error)
        lmi = self.psd.layer_and_mask_information
        if lmi.layer_info is not None and lmi.layer_info.layer_records:
            return lmi.layer_info
        return self.psd._get_layer_info()

    def layers(self):
        info = self.layer_info()
        if info is None or not info.layer_records:
            return []
        return [Layer(i, rec, data, self.depth, self.version)
                for i, (rec, data) in enumerate(
                    zip(info.layer_records, info.channel_image_data))]

    def deep_layer_blocks(self):
        """Keys of the 16/32-bit layer blocks present."""
        if self.psd is None:
            return []
        tb = self.psd.layer_and_mask_information.tagged_blocks
        if tb is None:
            return []
        return [str(k.name) for k in tb.keys()
                if getattr(k, 'name', '') in ('LAYER_16', 'LAYER_32')]


# -- expected DIB pixel blocks ----------------------------------------------

# Bradford-adapted D50 -> D65 and XYZ (D65) -> linear sRGB.
_BRADFORD_D50_D65 = np.array([[0.9555766, -0.0230393, 0.0631636],
                              [-0.0282895, 1.0099416, 0.0210077],
                              [0.0122982, -0.0204830, 1.3299098]])
_XYZ_TO_SRGB = np.array([[3.2404542, -1.5371385, -0.4985314],
                         [-0.9692660, 1.8760108, 0.0415560],
                         [0.0556434, -0.2040259, 1.0572252]])
_D50 = np.array([0.96422, 1.0, 0.82521])


def lab_to_srgb(l_byte, a_byte, b_byte):
    """8-bit L*, a*, b* planes -> (red, green, blue) byte planes."""
    lum = l_byte.astype(np.float64) * 100.0 / 255.0
    a = a_byte.astype(np.float64) - 128.0
    b = b_byte.astype(np.float64) - 128.0
    fy = (lum + 16.0) / 116.0
    fx = fy + a / 500.0
    fz = fy - b / 200.0
    d = 6.0 / 29.0

    def finv(t):
        return np.where(t > d, t ** 3, 3 * d * d * (t - 4.0 / 29.0))

    xyz = np.stack([finv(fx), finv(fy), finv(fz)]) * _D50[:, None]
    rgb = _XYZ_TO_SRGB @ (_BRADFORD_D50_D65 @ xyz)
    return [srgb_bytes(rgb[i]) for i in range(3)]


def cmyk_to_bgr(c, m, y, k):
    """Stored C, M, Y, K bytes -> blue, green, red bytes (integer formula)."""
    k = k.astype(np.int32)
    k1 = k + 1

    def conv(v):
        return (k - ((255 - v.astype(np.int32)) * k1) // 256).astype(np.uint8)

    return conv(y), conv(m), conv(c)


class Expected(object):
    """A pixel block as the plug-ins should hand it out.

    `block` is the whole bottom-up pixel block, padding included; `tolerance`
    is the largest difference allowed per byte (0 but for the colour space
    conversion of Lab documents).
    """

    def __init__(self, width, height, bytes_per_pixel, rows, tolerance=0,
                 row_bytes=None):
        self.width, self.height = width, height
        self.bytes_per_pixel = bytes_per_pixel
        self.row_bytes = row_bytes if row_bytes is not None else \
            width * bytes_per_pixel
        self.stride = dib_stride(self.row_bytes)
        self.tolerance = tolerance
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
        bad = np.nonzero(np.abs(a - b) > self.tolerance)[0]
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


class NotCompared(Exception):
    """The reference does not cover this document or layer (reason)."""


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
    if mode in (MODE_GRAY, MODE_INDEXED):
        return Expected(w, h, 1, planes[0], tol)
    if mode == MODE_CMYK:
        if len(planes) < 4:
            raise NotCompared('CMYK with %d channels' % len(planes))
        if depth == 32:
            raise NotCompared('32-bit CMYK')
        b, g, r = cmyk_to_bgr(*planes[:4])
        pix = np.stack([b, g, r, np.full(w * h, 255, np.uint8)], axis=1)
        return Expected(w, h, 4, pix.ravel())
    if mode == MODE_BITMAP:
        raise NotCompared('bitmap mode at depth %d' % depth)
    colour = planes[:3] + [planes[-1]] * (3 - min(3, len(planes)))
    if mode == MODE_LAB:
        if len(planes) < 3:
            raise NotCompared('Lab with %d channels' % len(planes))
        colour = lab_to_srgb(*colour)
        tol = 1  # the matrices' last digits may differ
    pix = np.stack([colour[2], colour[1], colour[0]], axis=1)
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
    if e == 4:
        if 3 not in written:
            pix[:, 3] = 255
        clear = pix[:, 3] == 0
        pix[clear, :3] = 255
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


class _Header(object):
    """The file header fields that ImageData.get_data needs."""

    def __init__(self, doc):
        self.width, self.height = doc.width, doc.height
        self.channels, self.depth = doc.channels, doc.depth
        self.version = doc.version


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
