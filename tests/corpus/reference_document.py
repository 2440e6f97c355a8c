"""The document reader of the reference: PSD documents through psd-tools.

Everything here comes from psd-tools' low-level records (psd_tools.psd.PSD):
the merged channels stored in the Image Data section and the channels of
each record of the layer info, in file order. No compositing is done. Samples
are reduced to one byte the way the plug-ins keep them: the most significant
byte of a 16-bit sample, a 32-bit float through the sRGB transfer curve; or,
asked `wide`, 16-bit samples are kept whole (what a profile converts).

reference.py builds the expected outputs on this and re-exports its names.
"""

import io
import struct
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


def reduce_samples(data, depth, count, wide=False):
    """Big-endian samples of `depth` bits -> `count` bytes, one a sample
    (`wide`: 16-bit samples as 16-bit numbers)."""
    if depth == 16 and wide:
        out = np.frombuffer(data, dtype='>u2', count=count).astype(np.uint16)
    elif depth == 8:
        out = np.frombuffer(data, dtype=np.uint8, count=count)
    elif depth == 16:
        out = np.frombuffer(data, dtype='>u2', count=count) >> 8
        out = out.astype(np.uint8)
    elif depth == 32:
        out = srgb_bytes(np.frombuffer(data, dtype='>f4', count=count))
    else:
        raise Unreadable('depth %d has no byte reduction' % depth)
    return out.copy()


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

    def plane(self, position, wide=False):
        """Bytes (width x height, top row first) of channel `position`
        (`wide`: 16-bit samples whole)."""
        if (position, wide) not in self._planes:
            self._planes[position, wide] = self._decode(position, wide)
        return self._planes[position, wide]

    def _decode(self, position, wide):
        w, h = max(self.width, 0), max(self.height, 0)
        cd = self._data[position]
        try:
            raw = cd.get_data(w, h, self._depth, self._version)
        except Exception as e:  # psd-tools refuses malformed data
            raise Unreadable('layer %d channel %d: %s' %
                                 (self.index, position, e))
        return reduce_samples(raw, self._depth, w * h, wide)


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

    def merged_planes(self, wide=False):
        """The stored merged channels, one bytes-per-sample plane each.

        Depth 1 planes hold the packed rows as stored ((width + 7) / 8 bytes
        a row); deeper planes hold one byte per pixel (`wide`: 16-bit
        samples whole).
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
            return [reduce_samples(data[i * w * h * size:], self.depth, w * h,
                                   wide) for i in range(ch)]
        try:
            planes = img.get_data(self.psd.header if self.psd else
                                  _Header(self), split=True)
        except Exception as e:
            raise Unreadable('merged data: %s' % e)
        return [reduce_samples(p, self.depth, w * h, wide) for p in planes]

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


class _Header(object):
    """The file header fields that ImageData.get_data needs."""

    def __init__(self, doc):
        self.width, self.height = doc.width, doc.height
        self.channels, self.depth = doc.channels, doc.depth
        self.version = doc.version

