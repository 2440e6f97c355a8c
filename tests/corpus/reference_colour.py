"""The reference reader's colour conversion: a document's embedded profile
(image resource 1039) applied with LittleCMS through PIL's ImageCms, into
sRGB, relative colorimetric with black point compensation.

`converter(doc)` gives None for a document served as stored: no profile, a
profile that is sRGB (it maps every ramp onto itself within one level), one
the library refuses or of another colour space, 32-bit samples, and the
modes kept as they are (Lab, duotone, multichannel, bitmap).
"""

import io
import struct

import numpy as np
from PIL import Image, ImageCms

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


class Converter(object):
    def __init__(self, transform, space):
        self.transform = transform
        self.space = space

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
    return conv
