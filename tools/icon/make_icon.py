#!/usr/bin/env python3
"""Builds the program's icon from one source picture.

Writes quillmarsh.ico (seven images: 64x64 and 32x32 at 24 and 8 bits, 16x16 at 24, 8 and 4 bits,
each a BMP-encoded DIB with its AND mask) and hicolor PNGs at 16, 32 and 64 pixels. Standard
library only, so the build needs nothing beyond Python 3.
"""

import argparse
import os
import struct
import sys
import zlib

ICON_SIZES = (64, 32, 16)
# (size, bits per pixel) in the order the icon directory lists them.
ICO_IMAGES = ((64, 24), (64, 8), (32, 24), (32, 8), (16, 24), (16, 8), (16, 4))
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Below this alpha a pixel is transparent in the AND mask of an image without alpha.
ALPHA_CUT = 128


class Image:
    """Straight (not premultiplied) RGBA, 8 bits per channel, rows top to bottom."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels  # list of (r, g, b, a)

    def at(self, x, y):
        return self.pixels[y * self.width + x]


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """Decodes an 8-bit, non-interlaced RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError(f"{path}: not a PNG file")
    pos = len(PNG_SIGNATURE)
    header = None
    idat = bytearray()
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if zlib.crc32(kind + body) & 0xFFFFFFFF != struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]:
            raise ValueError(f"{path}: bad CRC in {kind!r} chunk")
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError(f"{path}: no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError(f"{path}: only 8-bit non-interlaced RGB/RGBA is supported")
    channels = 4 if colour == 6 else 3
    stride = width * channels
    raw = zlib.decompress(bytes(idat))
    if len(raw) != height * (stride + 1):
        raise ValueError(f"{path}: image data has the wrong length")
    previous = bytearray(stride)
    pixels = []
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        row = bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            upleft = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                row[i] = (row[i] + _paeth(left, up, upleft)) & 0xFF
            elif kind != 0:
                raise ValueError(f"{path}: unknown filter type {kind}")
        for x in range(width):
            p = row[x * channels:(x + 1) * channels]
            pixels.append((p[0], p[1], p[2], p[3] if channels == 4 else 255))
        previous = row
    return Image(width, height, pixels)


def png_bytes(image):
    """Encodes an RGBA image as PNG (filter type 0 on every row)."""
    raw = bytearray()
    for y in range(image.height):
        raw.append(0)
        for r, g, b, a in image.pixels[y * image.width:(y + 1) * image.width]:
            raw += bytes((r, g, b, a))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", image.width, image.height, 8, 6, 0, 0, 0)
    return PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def downscale(image, size):
    """Box filter to size x size; colour is weighted by alpha so transparent pixels don't darken edges."""
    if image.width != image.height or image.width % size:
        raise ValueError(f"source must be square with a side divisible by {size}")
    factor = image.width // size
    out = []
    for ty in range(size):
        for tx in range(size):
            sr = sg = sb = sa = 0
            for y in range(ty * factor, (ty + 1) * factor):
                base = y * image.width + tx * factor
                for r, g, b, a in image.pixels[base:base + factor]:
                    sr += r * a
                    sg += g * a
                    sb += b * a
                    sa += a
            n = factor * factor
            if sa == 0:
                out.append((0, 0, 0, 0))
            else:
                out.append((round(sr / sa), round(sg / sa), round(sb / sa), round(sa / n)))
    return Image(size, size, out)


def median_cut(colours, count):
    """An adaptive palette of at most `count` colours for the given (r, g, b) list."""
    if not colours:
        return [(0, 0, 0)]
    boxes = [list(colours)]
    while len(boxes) < count:
        # Split the box with the widest channel range; stop when none can be split.
        best, best_range, best_channel = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for c in range(3):
                values = [p[c] for p in box]
                spread = max(values) - min(values)
                if spread > best_range:
                    best, best_range, best_channel = i, spread, c
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda p: p[best_channel])
        middle = len(box) // 2
        boxes += [box[:middle], box[middle:]]
    palette = []
    for box in boxes:
        n = len(box)
        palette.append(tuple(round(sum(p[c] for p in box) / n) for c in range(3)))
    return palette


def nearest(palette, colour, cache):
    index = cache.get(colour)
    if index is None:
        r, g, b = colour
        index = min(range(len(palette)),
                    key=lambda i: (palette[i][0] - r) ** 2 + (palette[i][1] - g) ** 2 + (palette[i][2] - b) ** 2)
        cache[colour] = index
    return index


def _row_padded(row):
    return row + b"\0" * (-len(row) % 4)


def dib(image, bits):
    """One icon image: BITMAPINFOHEADER, palette (4 and 8 bits), XOR bitmap, AND mask; rows bottom up."""
    size = image.width
    opaque = [p[3] >= ALPHA_CUT for p in image.pixels]
    palette = []
    indices = None
    if bits in (4, 8):
        palette = median_cut([p[:3] for p, keep in zip(image.pixels, opaque) if keep], 1 << bits)
        # Index 0 stays black: it is what transparent pixels show through the AND mask.
        palette = [(0, 0, 0)] + palette[:(1 << bits) - 1]
        palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
        cache = {}
        indices = [nearest(palette[1:], p[:3], cache) + 1 if keep else 0
                   for p, keep in zip(image.pixels, opaque)]

    xor_rows = []
    and_rows = []
    for y in reversed(range(size)):
        row = bytearray()
        if bits == 24:
            for x in range(size):
                r, g, b, _ = image.pixels[y * size + x]
                row += bytes((b, g, r)) if opaque[y * size + x] else b"\0\0\0"
        elif bits == 8:
            row += bytes(indices[y * size:(y + 1) * size])
        else:
            line = indices[y * size:(y + 1) * size]
            for x in range(0, size, 2):
                row.append((line[x] << 4) | (line[x + 1] if x + 1 < size else 0))
        xor_rows.append(_row_padded(bytes(row)))
        mask = bytearray((size + 7) // 8)
        for x in range(size):
            if not opaque[y * size + x]:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(_row_padded(bytes(mask)))

    pixel_data = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(pixel_data), 0, 0,
                         len(palette), 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + colours + pixel_data


def ico_bytes(scaled):
    images = [(size, bits, dib(scaled[size], bits)) for size, bits in ICO_IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, body in images:
        colour_count = (1 << bits) if bits < 8 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, bits, len(body), offset)
        offset += len(body)
    return out + b"".join(body for _, _, body in images)


def write_file(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source", required=True, help="square RGBA PNG, side divisible by 64")
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--name", default="quillmarsh")
    args = parser.parse_args(argv)

    source = read_png(args.source)
    scaled = {size: downscale(source, size) for size in ICON_SIZES}
    for size in ICON_SIZES:
        write_file(os.path.join(args.out_dir, "hicolor", f"{size}x{size}", "apps", f"{args.name}.png"),
                   png_bytes(scaled[size]))
    write_file(os.path.join(args.out_dir, f"{args.name}.ico"), ico_bytes(scaled))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
