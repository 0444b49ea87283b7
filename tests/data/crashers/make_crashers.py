#!/usr/bin/env python3
"""Writes the hostile TGA files of this folder. Each is named after what it
breaks; tests/imageio/tga_reader_test.cpp says what each must give."""
import struct


def header(image_type, width, height, depth, descriptor=0x20, map_length=0,
           entry_bits=0, id_length=0, map_type=0):
    return struct.pack('<BBBHHBHHHHBB', id_length, map_type, image_type, 0,
                       map_length, entry_bits, 0, 0, width, height, depth,
                       descriptor)


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


# 3 x 2 run-length 24-bit: one run packet of 128 pixels (past the 6 the image
# has), then bytes that must never be read as pixels.
write('rle_overrun.tga', header(10, 3, 2, 24) + bytes([0xFF, 0x30, 0x20, 0x10])
      + bytes([0x80, 1, 2, 3]) * 4)
# 3 x 2 run-length 24-bit: a raw packet of 128 values announced, only 6 needed
# and only 6 present.
write('raw_packet_overrun.tga', header(10, 3, 2, 24) + bytes([0x7F])
      + bytes(range(1, 19)))
# Width 0, height 5, run-length: nothing to decode, and no endless loop.
write('zero_width.tga', header(10, 0, 5, 24) + bytes([0x81, 1, 2, 3]))
# 65535 x 65535 x 32 bits claimed by a 22-byte file.
write('huge_header.tga', header(2, 65535, 65535, 32) + bytes(4))
# 16000 x 16000 run-length (under the pixel limit) with two packets of data.
write('huge_rle_header.tga', header(10, 16000, 16000, 24) + bytes([0xFF, 1, 2, 3]) * 2)
# A 65535-entry 32-bit colour map claimed by a tiny file.
write('huge_color_map.tga', header(1, 2, 2, 8, map_length=65535, entry_bits=32, map_type=1)
      + bytes(8))
# 3 x 1 palette image with 2 entries (red, blue); the middle pixel uses index 200.
write('palette_index_past_end.tga', header(1, 3, 1, 8, map_length=2, entry_bits=24, map_type=1)
      + bytes([0, 0, 255, 255, 0, 0]) + bytes([0, 200, 1]))
# A true-colour image that carries a colour map.
write('palette_with_24bit_pixels.tga', header(2, 1, 1, 24, map_length=2, entry_bits=24,
                                              map_type=1) + bytes(6) + bytes(3))
# Pixel depth 12 and colour-map entry size 20: neither is a size we decode.
write('depth_12.tga', header(2, 2, 1, 12) + bytes(6))
write('entry_size_20.tga', header(1, 1, 1, 8, map_length=1, entry_bits=20, map_type=1) + bytes(4))
