"""The reference reader's colour conversion: a document's embedded profile
(image resource 1039) applied with LittleCMS through PIL's ImageCms, into
sRGB, relative colorimetric with black point compensation. 16-bit samples
are converted at full precision: the library itself (through ctypes) with
16-bit input and output and no optimization, rounded to bytes as the
library rounds 16-bit values. Documents served without a profile's
conversion: the plain formulas of CMYK and Lab.

`converter(doc)` gives None for a document served as stored: no profile, a
profile that is sRGB (it maps every ramp onto itself within one level), one
the library refuses or of another colour space, 32-bit samples, and the
modes kept as they are (Lab, duotone, multichannel, bitmap).
"""

import ctypes
import ctypes.util
import io
import struct

import numpy as np
from PIL import Image, ImageCms

from reference_document import srgb_bytes

MODE_GRAY, MODE_INDEXED, MODE_RGB, MODE_CMYK = 1, 2, 3, 4
MAX_PROFILE_BYTES = 8 << 20
_SRGB = ImageCms.createProfile('sRGB')
_SPACE = {MODE_GRAY: 'GRAY', MODE_INDEXED: 'RGB', MODE_RGB: 'RGB',
          MODE_CMYK: 'CMYK'}
_PIL_MODE = {'GRAY': 'L', 'RGB': 'RGB', 'CMYK': 'CMYK'}


def profile_bytes(raw):
    """The bytes of the last resource 1039 that fits its section, or None."""
    pos = 26
    (cmd_length,) = struct.unpack('>I', raw[pos:pos + 4])
    pos += 4 + cmd_length
    if pos + 4 > len(raw):
        return None
    (length,) = struct.unpack('>I', raw[pos:pos + 4])
    cursor, end = pos + 4, min(pos + 4 + length, len(raw))
    found = None
    while cursor + 7 <= end:
        rid = struct.unpack('>H', raw[cursor + 4:cursor + 6])[0]
        name = raw[cursor + 6]
        size_at = cursor + 6 + ((1 + name + 1) & ~1)
        if size_at + 4 > end:
            break
        (size,) = struct.unpack('>I', raw[size_at:size_at + 4])
        data = size_at + 4
        if rid == 1039 and data + size <= end:
            found = raw[data:data + size]
        cursor = data + ((size + 1) & ~1)
    return found


# The library's 16-bit pixel types and flags (lcms2.h).
_TYPE_16 = {'GRAY': 3 << 16 | 1 << 3 | 2, 'RGB': 4 << 16 | 3 << 3 | 2,
            'CMYK': 6 << 16 | 4 << 3 | 2}
_FLAGS_16 = 0x2000 | 0x0100 | 0x0040  # black point, no optimization, cache
_lcms = None


def _library():
    global _lcms
    if _lcms is None:
        lib = ctypes.CDLL(ctypes.util.find_library('lcms2') or 'liblcms2.so.2')
        lib.cmsOpenProfileFromMem.restype = ctypes.c_void_p
        lib.cmsOpenProfileFromMem.argtypes = [ctypes.c_char_p, ctypes.c_uint32]
        lib.cmsCreate_sRGBProfile.restype = ctypes.c_void_p
        lib.cmsCreateTransform.restype = ctypes.c_void_p
        lib.cmsCreateTransform.argtypes = [ctypes.c_void_p, ctypes.c_uint32,
                                           ctypes.c_void_p, ctypes.c_uint32,
                                           ctypes.c_uint32, ctypes.c_uint32]
        lib.cmsDoTransform.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                       ctypes.c_void_p, ctypes.c_uint32]
        _lcms = lib
    return _lcms


class Wide(object):
    """16-bit samples (numpy uint16, as stored) to sRGB bytes."""

    def __init__(self, data, space):
        lib = _library()
        doc = lib.cmsOpenProfileFromMem(data, len(data))
        srgb = lib.cmsCreate_sRGBProfile()
        self.transform = lib.cmsCreateTransform(
            doc, _TYPE_16[space], srgb, _TYPE_16['RGB'], 1, _FLAGS_16)
        if not self.transform:
            raise ValueError('no 16-bit transform')

    def apply(self, planes):
        src = np.ascontiguousarray(np.stack(planes, 1).astype(np.uint16))
        out = np.zeros((len(src), 3), np.uint16)
        _library().cmsDoTransform(self.transform, src.ctypes.data,
                                  out.ctypes.data, len(src))
        rgb = ((out.astype(np.uint64) * 65281 + 8388608) >> 24)
        rgb = rgb.astype(np.uint8)
        return rgb[:, 0], rgb[:, 1], rgb[:, 2]


class Converter(object):
    def __init__(self, transform, space, wide=None):
        self.transform = transform
        self.space = space
        self.wide = wide  # 16-bit documents' conversion

    def _apply(self, planes):
        n = len(planes[0])
        mode = _PIL_MODE[self.space]
        if mode == 'L':
            im = Image.frombytes('L', (n, 1), np.asarray(planes[0]).tobytes())
        else:
            stacked = np.stack([np.asarray(p, np.uint8) for p in planes], 1)
            im = Image.frombytes(mode, (n, 1), stacked.tobytes())
        out = ImageCms.applyTransform(im, self.transform)
        rgb = np.frombuffer(out.tobytes(), np.uint8).reshape(n, 3)
        return rgb[:, 0], rgb[:, 1], rgb[:, 2]

    def rgb(self, r, g, b):
        return self._apply([r, g, b])

    def cmyk(self, c, m, y, k):
        """Stored CMYK planes (255 is no ink) to red, green, blue."""
        return self._apply([255 - np.asarray(p, np.int16) for p in
                            (c, m, y, k)])

    def gray(self, v):
        return self._apply([v])

    def rgb16(self, r, g, b):
        return self.wide.apply([r, g, b])

    def cmyk16(self, c, m, y, k):
        """Stored 16-bit CMYK planes (65535 is no ink) to red, green, blue."""
        return self.wide.apply([65535 - np.asarray(p, np.int32)
                                for p in (c, m, y, k)])

    def gray16(self, v):
        """16-bit gray levels to their sRGB level (the green)."""
        return self.wide.apply([v])[1]

    def palette(self, entries):
        """(red, green, blue) entries through the profile."""
        a = np.array(entries, np.uint8).reshape(-1, 3)
        if self.space == 'GRAY':
            r, g, b = self.gray(a[:, 0])
        else:
            r, g, b = self.rgb(a[:, 0], a[:, 1], a[:, 2])
        return list(zip(r.tolist(), g.tolist(), b.tolist()))


def _is_srgb(conv):
    ramp = np.arange(256, dtype=np.uint8)
    zero = np.zeros(256, np.uint8)
    for planes in ((ramp, zero, zero), (zero, ramp, zero), (zero, zero, ramp),
                   (ramp, ramp, ramp)):
        got = conv.rgb(*planes)
        for want, have in zip(planes, got):
            if np.abs(want.astype(np.int16) - have).max() > 1:
                return False
    return True


def converter(doc):
    """The conversion of `doc` (a reference_document.Document), or None."""
    if doc.mode not in _SPACE or doc.depth not in (8, 16):
        return None
    data = profile_bytes(doc.raw)
    if not data or len(data) > MAX_PROFILE_BYTES:
        return None
    try:
        profile = ImageCms.ImageCmsProfile(io.BytesIO(data))
        space = profile.profile.xcolor_space.strip()
        if space != _SPACE[doc.mode]:
            return None
        transform = ImageCms.buildTransform(
            profile, _SRGB, _PIL_MODE[space], 'RGB', renderingIntent=1,
            flags=ImageCms.FLAGS['BLACKPOINTCOMPENSATION'])
    except (ImageCms.PyCMSError, OSError, ValueError):
        return None
    conv = Converter(transform, space)
    if space == 'RGB' and _is_srgb(conv):
        return None
    if doc.depth == 16:
        try:
            conv.wide = Wide(data, space)
        except (OSError, ValueError):
            return None
    return conv


def wide_layer_colours(doc, layer, conv, e, pix):
    """A 16-bit layer's colours (missing channels 0) from its 16-bit
    samples: a lone colour channel is gray; a gray document's are levels."""
    n = len(pix)
    wide = {c: layer.plane(j, True) for j, c in enumerate(layer.channel_ids)
            if 0 <= c <= 3}
    zero = np.zeros(n, np.uint16)
    if doc.mode == MODE_GRAY or e == 1:
        pix[:, :min(e, 3)] = conv.gray16(wide.get(0, zero))[:, None]
        return
    if doc.mode == MODE_CMYK:
        if sorted(wide) == [0, 1, 2, 3]:
            r, g, b = conv.cmyk16(wide[0], wide[1], wide[2], wide[3])
            pix[:, 0], pix[:, 1], pix[:, 2] = b, g, r
        return
    if sorted(wide) == [0]:
        wide[1] = wide[2] = wide[0]
    r, g, b = conv.rgb16(wide.get(0, zero), wide.get(1, zero),
                         wide.get(2, zero))
    pix[:, 0], pix[:, 1], pix[:, 2] = b, g, r


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
