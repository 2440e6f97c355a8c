#!/usr/bin/python3
"""Checks of the reference reader on small documents built here.

The corpus comparisons trust reference.py; these cases pin what it must
produce for documents whose pixels are known by construction, and that a
one-byte fault in a plug-in's output is reported where it lies.
"""

import os
import struct
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402


def packbits(row):
    """Literal runs only: enough for the reader, simple to check."""
    out = b''
    for i in range(0, len(row), 128):
        chunk = row[i:i + 128]
        out += bytes([len(chunk) - 1]) + chunk
    return out


def repeat_run(value, count):
    return bytes([257 - count, value])


def section(body):
    return struct.pack('>I', len(body)) + body


def layer_record(rect, channels):
    """rect = (top, left, bottom, right); channels = [(id, data bytes)]."""
    rec = struct.pack('>4iH', *rect, len(channels))
    for cid, data in channels:
        rec += struct.pack('>hI', cid, len(data))
    extra = struct.pack('>II', 0, 0) + b'\0\0\0\0'  # no mask, ranges, name
    rec += b'8BIMnorm' + bytes([255, 0, 0, 0]) + section(extra)
    return rec


def psd(mode, depth, width, height, planes, compression=0, layers=(),
        colour_data=b'', resources=b'', rows=None):
    """A version 1 document. `planes` are the merged channels as stored
    (raw bytes, or for compression 1 the packed rows given in `rows` as a
    list of lists per channel)."""
    head = b'8BPS' + struct.pack('>H6xHIIHH', 1, len(planes), height, width,
                                 depth, mode)
    body = section(colour_data) + section(resources)
    if layers:
        info = struct.pack('>h', len(layers))
        info += b''.join(layer_record(r, ch) for r, ch in layers)
        info += b''.join(d for _, ch in layers for _, d in ch)
        if len(info) % 2:
            info += b'\0'
        body += section(section(info) + struct.pack('>I', 0))
    else:
        body += section(b'')
    if compression == 1:
        counts = b''.join(struct.pack('>H', len(r)) for ch in rows for r in ch)
        data = counts + b''.join(r for ch in rows for r in ch)
    else:
        data = b''.join(planes)
    return head + body + struct.pack('>H', compression) + data


def raw_channel(data):
    return struct.pack('>H', 0) + data


def rle_channel(rows):
    return (struct.pack('>H', 1) +
            b''.join(struct.pack('>H', len(r)) for r in rows) + b''.join(rows))


class Docs(unittest.TestCase):
    def load(self, data):
        fd, path = tempfile.mkstemp(suffix='.psd')
        os.write(fd, data)
        os.close(fd)
        self.addCleanup(os.remove, path)
        return reference.Document(path)


class MergedPicture(Docs):
    def test_bitmap_rows_are_stored_bits_bottom_up(self):
        # Width 10: 2 bytes a row, stride 4; packed rows.
        top, bottom = b'\xC0\x40', b'\x3F\xFF'
        rows = [[packbits(top), packbits(bottom)]]
        doc = self.load(psd(0, 1, 10, 2, [top + bottom], 1, rows=rows))
        exp = reference.expected_merged(doc)
        self.assertEqual(exp.block, bottom + b'\0\0' + top + b'\0\0')
        self.assertEqual(reference.merged_listing_size(doc), 54 + 8 + 8)

    def test_sixteen_bit_gray_keeps_high_byte(self):
        data = struct.pack('>6H', 0x1234, 0x5678, 0x9ABC, 1, 0xFF00, 0x80FF)
        doc = self.load(psd(1, 16, 3, 2, [data]))
        exp = reference.expected_merged(doc)
        self.assertEqual(exp.block,
                         bytes([0, 0xFF, 0x80, 0, 0x12, 0x56, 0x9A, 0]))
        self.assertEqual(reference.merged_listing_size(doc), 54 + 1024 + 8)

    def test_rgb_is_bgr_and_extra_channels_are_ignored(self):
        planes = [bytes([200, 1]), bytes([100, 2]), bytes([50, 3]),
                  bytes([7, 7])]
        rows = [[packbits(p)] for p in planes]
        doc = self.load(psd(3, 8, 2, 1, planes, 1, rows=rows))
        exp = reference.expected_merged(doc)
        self.assertEqual(exp.block, bytes([50, 100, 200, 3, 2, 1, 0, 0]))

    def test_packbits_repeat_runs(self):
        rows = [[repeat_run(0xAA, 3) + packbits(b'\x01\x02\x03')]]
        doc = self.load(psd(1, 8, 6, 1, [b'\xAA' * 3 + b'\x01\x02\x03'], 1,
                            rows=rows))
        self.assertEqual(reference.expected_merged(doc).block,
                         b'\xAA\xAA\xAA\x01\x02\x03\0\0')

    def test_truncated_raw_rows_stay_zero(self):
        # Red's two rows are whole; the one byte after them is not a row.
        data = b'\x01\x02\x03\x04\x05'
        doc = self.load(psd(3, 8, 2, 2, [data, b'', b'']))
        self.assertEqual(reference.expected_merged(doc).block,
                         bytes([0, 0, 3, 0, 0, 4, 0, 0,
                                0, 0, 1, 0, 0, 2, 0, 0]))
        # With one channel only, that plane fills all three colour bytes.
        doc = self.load(psd(3, 8, 2, 2, [data[:4]]))
        self.assertEqual(reference.expected_merged(doc).block,
                         bytes([3, 3, 3, 4, 4, 4, 0, 0,
                                1, 1, 1, 2, 2, 2, 0, 0]))

    def test_cmyk_conversion(self):
        planes = [bytes([0, 100, 255]), bytes([255, 255, 0]),
                  bytes([255, 255, 0]), bytes([255, 200, 0])]
        doc = self.load(psd(4, 8, 3, 1, planes))
        self.assertEqual(reference.expected_merged(doc).block,
                         bytes([255, 255, 0, 255, 200, 200, 79, 255,
                                0, 0, 0, 255]))

    def test_float_samples_take_the_srgb_curve(self):
        vals = [1.0, 0.5, float('nan'), -3.0, 0.002, 7.0]
        doc = self.load(psd(1, 32, 6, 1, [struct.pack('>6f', *vals)]))
        exp = reference.expected_merged(doc)
        self.assertEqual(exp.block[:6], bytes([255, 188, 0, 0, 7, 255]))

    def test_lab_white_and_black(self):
        planes = [bytes([255, 0]), bytes([128, 128]), bytes([128, 128])]
        doc = self.load(psd(9, 8, 2, 1, planes))
        block = reference.expected_merged(doc).block
        for got, want in zip(block[:6], [255, 255, 255, 0, 0, 0]):
            self.assertLessEqual(abs(got - want), 1)

    def test_indexed_palette_and_resolution(self):
        cmd = bytes(range(256)) + bytes(256) + bytes([9] * 256)
        res = (b'8BIM' + struct.pack('>H', 1005) + b'\0\0' +
               section(struct.pack('>IHHIHH', 72 << 16, 1, 1,
                                   300 << 16, 1, 1)))
        doc = self.load(psd(2, 8, 1, 1, [b'\x05'], colour_data=cmd,
                            resources=res))
        self.assertEqual(doc.indexed_palette()[5], (5, 0, 9))
        h, v = doc.resolution()
        self.assertEqual((reference.pixels_per_metre(h),
                          reference.pixels_per_metre(v)), (2835, 11811))

    def test_compare_reports_first_faulty_pixel(self):
        # Width 3: 9 bytes of pixels and 3 of padding a row.
        planes = [bytes(range(0, 9)), bytes(range(9, 18)),
                  bytes(range(18, 27))]
        doc = self.load(psd(3, 8, 3, 3, planes))
        exp = reference.expected_merged(doc)
        self.assertEqual(exp.stride, 12)
        self.assertIsNone(exp.compare(exp.block))
        bad = bytearray(exp.block)
        bad[exp.stride + 3 * 2 + 1] ^= 1  # DIB row 1 is file row 1; x = 2
        self.assertIn('1 bytes differ; first at pixel (2, 1)',
                      exp.compare(bytes(bad)))
        pad = bytearray(exp.block)
        pad[11] = 1  # padding of the last file row
        self.assertIn('padding of row 2', exp.compare(bytes(pad)))
        self.assertIn('35 bytes, expected 36', exp.compare(exp.block[:-1]))


class Layers(Docs):
    def layer_doc(self, mode, channels, width=2, height=1, planes=None):
        nplanes = {1: 1, 3: 3, 4: 4}[mode]
        dw, dh = max(width, 1), max(height, 1)
        planes = planes or [bytes(dw * dh)] * nplanes
        return self.load(psd(mode, 8, dw, dh, planes,
                             layers=[((0, 0, height, width), channels)]))

    def test_rgb_with_transparency(self):
        ch = [(-1, rle_channel([packbits(b'\xFF\x00')])),
              (0, raw_channel(b'\xC8\x11')), (1, raw_channel(b'\x64\x22')),
              (2, raw_channel(b'\x32\x33'))]
        doc = self.layer_doc(3, ch)
        layer = doc.layers()[0]
        self.assertEqual(layer.channel_ids, [-1, 0, 1, 2])
        exp = reference.expected_layer(doc, layer)
        self.assertEqual(exp.block,
                         bytes([50, 100, 200, 255, 255, 255, 255, 0]))
        self.assertEqual(reference.layer_listing_size(doc, layer), (62, True))

    def test_gray_layers(self):
        doc = self.layer_doc(1, [(-1, raw_channel(b'\x80\x00')),
                                 (0, raw_channel(b'\x10\x20'))])
        exp = reference.expected_layer(doc, doc.layers()[0])
        self.assertEqual(exp.block, bytes([16, 16, 16, 128, 255, 255, 255, 0]))
        doc = self.layer_doc(1, [(0, raw_channel(b'\x10\x20')),
                                 (-2, raw_channel(b''))])
        layer = doc.layers()[0]
        exp = reference.expected_layer(doc, layer)
        self.assertEqual(exp.block, bytes([16, 32, 0, 0]))
        self.assertEqual(reference.layer_listing_size(doc, layer),
                         (54 + 1024 + 4, True))
        doc = self.layer_doc(3, [(0, raw_channel(b'\x10\x20'))])
        exp = reference.expected_layer(doc, doc.layers()[0])
        self.assertEqual(exp.block, bytes([16, 16, 16, 32, 32, 32, 0, 0]))

    def test_mask_channel_makes_four_bytes_and_opaque(self):
        doc = self.layer_doc(3, [(0, raw_channel(b'\x01')),
                                 (1, raw_channel(b'\x02')),
                                 (2, raw_channel(b'\x03')),
                                 (-2, raw_channel(b''))], width=1)
        exp = reference.expected_layer(doc, doc.layers()[0])
        self.assertEqual(exp.block, bytes([3, 2, 1, 255]))

    def test_cmyk_layer(self):
        ch = [(-1, raw_channel(b'\xFF')), (0, raw_channel(b'\x64')),
              (1, raw_channel(b'\xFF')), (2, raw_channel(b'\xFF')),
              (3, raw_channel(b'\xC8'))]
        doc = self.layer_doc(4, ch, width=1)
        exp = reference.expected_layer(doc, doc.layers()[0])
        self.assertEqual(exp.block, bytes([200, 200, 79, 255]))

    def test_empty_layer(self):
        doc = self.layer_doc(3, [(-1, raw_channel(b'')),
                                 (0, raw_channel(b''))], width=0, height=0)
        layer = doc.layers()[0]
        self.assertIsNone(reference.expected_layer(doc, layer))
        self.assertEqual(reference.layer_listing_size(doc, layer), (0, False))

    def test_layer_rows_run_bottom_up_with_padding(self):
        ch = [(0, raw_channel(b'\x01\x02\x03\x04')),
              (1, raw_channel(b'\x05\x06\x07\x08')),
              (2, raw_channel(b'\x09\x0A\x0B\x0C'))]
        doc = self.layer_doc(3, ch, width=2, height=2)
        exp = reference.expected_layer(doc, doc.layers()[0])
        self.assertEqual(exp.block, bytes([11, 7, 3, 12, 8, 4, 0, 0,
                                           9, 5, 1, 10, 6, 2, 0, 0]))


if __name__ == '__main__':
    unittest.main()
