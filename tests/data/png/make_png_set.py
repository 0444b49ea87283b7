#!/usr/bin/env python3
"""Writes the PNG test set and the image each file must give.

The files are encoded here, byte by byte, so that every colour type, bit
depth, filter and the Adam7 interlace appear exactly as intended; the expected
images are computed from the same pixel values, not by decoding. Pillow, when
present, decodes every good file too and must agree (16-bit samples compared
after rounding to 8 bits).

    /usr/bin/python3 tests/data/png/make_png_set.py    # rewrites tests/data/png/ (python3-pil checks it)
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filtered(rows, bpp):
    """Each row with a filter byte in front; the filter type cycles 0..4."""
    out = bytearray()
    prev = bytes(len(rows[0])) if rows else b""
    for y, row in enumerate(rows):
        kind = y % 5
        out.append(kind)
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
            out.append((x - pred) & 0xFF)
        prev = row
    return bytes(out)


def packed_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    per = 8 // depth
    out = bytearray()
    for i in range(0, len(samples), per):
        byte = 0
        for k in range(per):
            v = samples[i + k] if i + k < len(samples) else 0
            byte |= v << (8 - depth * (k + 1))
        out.append(byte)
    return bytes(out)


def encode(width, height, depth, ctype, pixels, interlace=False, plte=None, trns=None):
    """pixels[y][x] is a tuple of samples (one per channel)."""
    ch = CHANNELS[ctype]
    bpp = max(1, depth * ch // 8)
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    data = b""
    for x0, y0, dx, dy in passes:
        cols = list(range(x0, width, dx))
        lines = list(range(y0, height, dy))
        if not cols or not lines:
            continue
        rows = [packed_row([s for x in cols for s in pixels[y][x]], depth) for y in lines]
        data += filtered(rows, bpp)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, ctype, 0, 0, 1 if interlace else 0))
    if plte is not None:
        png += chunk(b"PLTE", b"".join(bytes(c) for c in plte))
    if trns is not None:
        png += chunk(b"tRNS", trns)
    compressed = zlib.compress(data, 9)
    # Two IDAT chunks where there is room, so that a split stream is read too.
    half = len(compressed) // 2
    png += chunk(b"IDAT", compressed[:half]) + chunk(b"IDAT", compressed[half:])
    return png + chunk(b"IEND", b"")


def to8(v, depth):
    if depth == 16:
        return (v + 128) // 257
    return v * 255 // ((1 << depth) - 1)


def expected(width, height, depth, ctype, pixels, plte=None, trns=None):
    """Rows of (R, G, B[, A]) 8-bit tuples, and whether there is alpha."""
    alpha = ctype in (4, 6) or trns is not None
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            s = pixels[y][x]
            if ctype == 3:
                r, g, b = plte[s[0]]
                a = trns[s[0]] if trns is not None and s[0] < len(trns) else 255
            elif ctype in (0, 4):
                r = g = b = to8(s[0], depth)
                a = to8(s[1], depth) if ctype == 4 else 255
                if ctype == 0 and trns is not None:
                    a = 0 if s[0] == struct.unpack(">H", trns)[0] else 255
            else:
                r, g, b = (to8(v, depth) for v in s[:3])
                a = to8(s[3], depth) if ctype == 6 else 255
                if ctype == 2 and trns is not None:
                    a = 0 if tuple(s) == struct.unpack(">HHH", trns) else 255
            row.append((r, g, b, a) if alpha else (r, g, b))
        rows.append(row)
    return rows, alpha


def netpbm(width, height, rows, alpha):
    body = bytes(v for row in rows for px in row for v in px)
    if alpha:
        head = f"P7\nWIDTH {width}\nHEIGHT {height}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    else:
        head = f"P6\n{width} {height}\n255\n"
    return head.encode() + body


def pattern(width, height, depth, ch, seed):
    """Gradients and a checker, so every sample value region is used."""
    top = (1 << depth) - 1
    px = []
    for y in range(height):
        row = []
        for x in range(width):
            vals = []
            for c in range(ch):
                v = (x * 37 + y * 53 + c * 101 + seed * 17 + ((x ^ y) & 3) * 29) % (top + 1) if depth < 16 else \
                    (x * 9973 + y * 7919 + c * 30011 + seed * 4099) % 65536
                vals.append(v)
            row.append(tuple(vals))
        px.append(row)
    return px


def cases():
    out = []
    for depth in (1, 2, 4, 8, 16):
        out.append((f"grey{depth}.png", 13, 11, depth, 0, {}))
    for depth in (8, 16):
        out.append((f"rgb{depth}.png", 17, 9, depth, 2, {}))
        out.append((f"grey_alpha{depth}.png", 10, 7, depth, 4, {}))
        out.append((f"rgba{depth}.png", 9, 12, depth, 6, {}))
    for depth in (1, 2, 4, 8):
        out.append((f"palette{depth}.png", 15, 10, depth, 3, {}))
    out.append(("palette8_trns.png", 15, 10, 8, 3, {"trns": True}))
    out.append(("grey8_trns.png", 12, 12, 8, 0, {"trns": True}))
    out.append(("rgb16_trns.png", 12, 12, 16, 2, {"trns": True}))
    for name, w, h, depth, ctype in (("rgb8_interlaced.png", 19, 13, 8, 2),
                                     ("palette4_interlaced.png", 11, 17, 4, 3),
                                     ("grey1_interlaced.png", 9, 9, 1, 0),
                                     ("rgba16_interlaced.png", 7, 10, 16, 6),
                                     ("rgb8_interlaced_1x1.png", 1, 1, 8, 2),
                                     ("rgb8_interlaced_3x2.png", 3, 2, 8, 2)):
        out.append((name, w, h, depth, ctype, {"interlace": True}))
    return out


def build(name, w, h, depth, ctype, opts, seed):
    ch = CHANNELS[ctype]
    pixels = pattern(w, h, depth, ch, seed)
    plte = trns = None
    if ctype == 3:
        entries = 1 << depth
        plte = [((i * 67) % 256, (i * 131 + 40) % 256, (255 - i * 29) % 256) for i in range(entries)]
        if opts.get("trns"):
            trns = bytes((i * 50) % 256 for i in range(entries // 2))
    elif opts.get("trns"):
        key = pixels[h // 2][w // 2]
        trns = struct.pack(">H", key[0]) if ctype == 0 else struct.pack(">HHH", *key)
    png = encode(w, h, depth, ctype, pixels, opts.get("interlace", False), plte, trns)
    rows, alpha = expected(w, h, depth, ctype, pixels, plte, trns)
    return png, netpbm(w, h, rows, alpha), rows, alpha


def hostile(good):
    """Damaged copies of a good file and headers that lie; each must be refused."""
    ihdr_end = 8 + 25
    idat = good.index(b"IDAT") - 4
    huge = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0))
    huge += good[ihdr_end:]
    # The first image data chunk's own checksum, one bit off.
    crc = bytearray(good)
    first_idat_length = struct.unpack(">I", good[idat:idat + 4])[0]
    crc[idat + 8 + first_idat_length] ^= 0x40
    # A decompression bomb: 400 million pixels of zeros in a few hundred
    # kilobytes, refused by its header alone.
    bomb = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 20000, 20000, 8, 0, 0, 0, 0))
    bomb += chunk(b"IDAT", zlib.compress(bytes(64 << 20), 9)) + chunk(b"IEND", b"")
    # All the image data in one chunk whose checksum is one bit off: the
    # library has the image before it reaches that checksum.
    chunks = []
    pos = 8
    while pos < len(good):
        length = struct.unpack(">I", good[pos:pos + 4])[0]
        chunks.append((good[pos + 4:pos + 8], good[pos + 8:pos + 8 + length]))
        pos += 12 + length
    data = b"".join(body for kind, body in chunks if kind == b"IDAT")
    one_idat = bytearray(good[:ihdr_end] + chunk(b"IDAT", data) + chunk(b"IEND", b""))
    one_idat[ihdr_end + 8 + len(data)] ^= 0x40
    # A 16-entry palette, and one pixel (row 3, column 4) that uses index 200.
    indices = [[((x + 3 * y) % 16,) for x in range(7)] for y in range(5)]
    indices[3][4] = (200,)
    sixteen = [(i * 16, 255 - i * 16, (i * 97) % 256) for i in range(16)]
    past_palette = encode(7, 5, 8, 3, indices, plte=sixteen)
    return [
        ("truncated.png", good[: idat + 8 + 20], "cut inside its image data"),
        ("crc_error.png", bytes(crc), "the first of two image data chunks with a checksum one bit off: "
         "\"Error reading PNG image: invalid chunk checksum (a checksum does not match: the file is damaged).\""),
        ("crc_error_last_idat.png", bytes(one_idat),
         "the only image data chunk's checksum one bit off, read after the image: "
         "\"Error reading PNG image: invalid chunk checksum (a checksum does not match: the file is damaged).\""),
        ("no_iend.png", good[:-12], "cut after its image data, before the end chunk: "
         "\"Error reading PNG image: end of stream (the file ends early).\""),
        ("palette_index_past_end.png", past_palette,
         "index 200 in a 16-entry palette: "
         "\"Error reading PNG image: palette index 200 past the palette's 16 entries.\""),
        ("huge_ihdr.png", huge, "a header claiming 100000 x 100000"),
        ("signature_only.png", good[:8], "nothing after the signature"),
        ("no_idat.png", good[:idat] + chunk(b"IEND", b""), "no image data at all"),
        ("bomb.png", bomb, "20000 x 20000 of zeros in a small file"),
    ]


def main():
    os.makedirs(os.path.join(HERE, "expected"), exist_ok=True)
    table = ["file\tresult\twidth\theight\texpected_ppm_or_reason"]
    good = {}
    for seed, (name, w, h, depth, ctype, opts) in enumerate(cases()):
        png, pbm, rows, alpha = build(name, w, h, depth, ctype, opts, seed)
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(png)
        ext = ".pam" if alpha else ".ppm"
        exp = "expected/" + name[:-4] + ext
        with open(os.path.join(HERE, exp), "wb") as f:
            f.write(pbm)
        table.append(f"{name}\tOK\t{w}\t{h}\t{exp}")
        good[name] = (rows, alpha)
    # Image data that goes on far past the image: the image is read, the rest
    # is never inflated.
    surplus = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 2, 0, 0, 0))
    surplus += chunk(b"IDAT", zlib.compress(bytes(64 * 65 * 3 + (64 << 20)), 9)) + chunk(b"IEND", b"")
    with open(os.path.join(HERE, "surplus_data.png"), "wb") as f:
        f.write(surplus)
    with open(os.path.join(HERE, "expected/surplus_data.ppm"), "wb") as f:
        f.write(netpbm(64, 64, [[(0, 0, 0)] * 64] * 64, False))
    table.append("surplus_data.png\tOK\t64\t64\texpected/surplus_data.ppm")
    with open(os.path.join(HERE, "rgb8.png"), "rb") as f:
        base = f.read()
    for name, data, why in hostile(base):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        table.append(f"{name}\tFAIL\t-\t-\t{why}")
    with open(os.path.join(HERE, "EXPECTED.tsv"), "w") as f:
        f.write("\n".join(table) + "\n")
    try:
        from PIL import Image
    except ImportError:
        return
    checked = 0
    for name, (rows, alpha) in good.items():
        im = Image.open(os.path.join(HERE, name))
        im.load()
        mode = "RGBA" if alpha else "RGB"
        if im.mode in ("I;16", "I;16B", "I"):
            key = im.info.get("transparency")
            grey = [(v + 128) // 257 for v in im.getdata()]
            raw = list(im.getdata())
            got = [(g, g, g, 0 if v == key else 255) if alpha else (g, g, g)
                   for g, v in zip(grey, raw)]
        elif "16" in name and im.mode in ("RGB", "RGBA", "LA"):
            continue  # Pillow narrows 16-bit colour by truncation; the values differ.
        else:
            got = list(im.convert(mode).getdata())
        want = [px for row in rows for px in row]
        assert got == want, name
        checked += 1
    print(f"Pillow {Image.__version__ if hasattr(Image, '__version__') else ''} agrees on {checked} files")

if __name__ == "__main__":
    main()
