"""Reading Windows BMP files as the plug-ins write them.

A BMP here is a 14-byte file header, a 40-byte BITMAPINFOHEADER, the palette
(0, 2 or 256 four-byte entries) and the pixel rows, bottom-up, each padded to
a multiple of 4 bytes.
"""

import struct


class BmpError(Exception):
    pass


class Bmp(object):
    def __init__(self, data):
        if len(data) < 54:
            raise BmpError('%d bytes, shorter than the headers' % len(data))
        (magic, self.bf_size, r1, r2, self.off_bits) = struct.unpack(
            '<2sIHHI', data[:14])
        if magic != b'BM':
            raise BmpError('no "BM" signature')
        if r1 or r2:
            raise BmpError('reserved file header fields not 0')
        (self.bi_size, self.width, self.height, self.planes, self.bit_count,
         self.compression, self.size_image, self.x_ppm, self.y_ppm,
         self.clr_used, self.clr_important) = struct.unpack(
             '<IiiHHIIiiII', data[14:54])
        if self.bi_size != 40:
            raise BmpError('biSize %d' % self.bi_size)
        self.data = data
        self.palette = data[54:self.off_bits]
        self.pixels = data[self.off_bits:]

    @property
    def stride(self):
        return ((self.width * self.bit_count + 31) // 32) * 4

    def palette_entries(self):
        """[(red, green, blue, reserved)] of the palette."""
        p = self.palette
        return [(p[i + 2], p[i + 1], p[i], p[i + 3])
                for i in range(0, len(p) - 3, 4)]

    def check_layout(self):
        """Problems with the header fields' agreement; [] when consistent."""
        problems = []
        n = len(self.data)
        if self.bf_size != n:
            problems.append('bfSize %d, file %d bytes' % (self.bf_size, n))
        # A palette of exactly 2 ** bit count entries up to 8 bits. Deeper
        # layer pictures keep their document's palette (none, 2 or 256
        # entries) in front of the pixels; bfOffBits steps over it.
        if self.bit_count <= 8:
            palettes = (4 << self.bit_count,)
        else:
            palettes = (0, 8, 1024)
        if self.off_bits - 54 not in palettes:
            problems.append('bfOffBits %d for %d-bit pixels' %
                            (self.off_bits, self.bit_count))
        if self.planes != 1:
            problems.append('biPlanes %d' % self.planes)
        if self.compression != 0:
            problems.append('biCompression %d' % self.compression)
        if self.bit_count not in (1, 8, 24, 32):
            problems.append('biBitCount %d' % self.bit_count)
        if self.width <= 0 or self.height <= 0:
            problems.append('size %d x %d' % (self.width, self.height))
        want = self.stride * abs(self.height)
        if self.size_image != want:
            problems.append('biSizeImage %d, rows need %d' %
                            (self.size_image, want))
        if len(self.pixels) != want:
            problems.append('%d pixel bytes, rows need %d' %
                            (len(self.pixels), want))
        return problems


def read(path):
    with open(path, 'rb') as f:
        return Bmp(f.read())
