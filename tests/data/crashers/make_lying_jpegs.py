#!/usr/bin/env python3
"""Writes the hostile JPEG files of this folder from ../jpeg/testorig.jpg
(227 x 149, baseline). Each is named after what it breaks;
tests/imageio/jpeg_reader_test.cpp says what each must give."""
import os

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, '..', 'jpeg', 'testorig.jpg'), 'rb') as f:
    original = f.read()


def write(name, data):
    with open(os.path.join(here, name), 'wb') as f:
        f.write(data)


def with_frame(width, height):
    sof = original.index(b'\xff\xc0')
    data = bytearray(original)
    data[sof + 5:sof + 9] = bytes([height >> 8, height & 255, width >> 8, width & 255])
    return bytes(data)


# The frame header claims 16000 x 16000; the coded data holds 227 x 149.
write('frame_claims_16000_squared.jpg', with_frame(16000, 16000))
# The end-of-image marker comes halfway through the coded data.
sos = original.index(b'\xff\xda')
middle = sos + (len(original) - sos) // 2
write('end_marker_mid_scan.jpg', original[:middle] + b'\xff\xd9')
