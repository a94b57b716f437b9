"""Small real image files for the demo comic site, made on the fly with the standard library only.

Every image is a grid of flat 8x8 tiles, so each encoder stays tiny: PNG (stored through zlib), GIF
(LZW with literal codes only), baseline JPEG (one DC coefficient per block, Annex K tables) and
lossless WebP (one colour, so every prefix code has a single symbol).
"""
import hashlib
import struct
import zlib

TILE = 8


def tiles(seed, width, height):
    """Rows of tile colours (r, g, b) that differ from seed to seed."""
    digest = hashlib.sha256(seed.encode("utf-8")).digest()
    out = []
    for ty in range(height // TILE):
        row = []
        for tx in range(width // TILE):
            i = (ty * 7 + tx * 3) % (len(digest) - 2)
            row.append((digest[i], digest[i + 1], digest[i + 2]))
        out.append(row)
    return out


def pixel_rows(grid):
    for row in grid:
        line = [c for c in row for _ in range(TILE)]
        for _ in range(TILE):
            yield line


# PNG -------------------------------------------------------------------------------------------

def _png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(grid):
    width, height = len(grid[0]) * TILE, len(grid) * TILE
    raw = b"".join(b"\0" + bytes(v for px in line for v in px) for line in pixel_rows(grid))
    return (b"\x89PNG\r\n\x1a\n"
            + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + _png_chunk(b"IDAT", zlib.compress(raw, 9))
            + _png_chunk(b"IEND", b""))


# GIF -------------------------------------------------------------------------------------------

def gif(grid):
    width, height = len(grid[0]) * TILE, len(grid) * TILE
    palette = []
    for row in grid:
        for c in row:
            if c not in palette:
                palette.append(c)
    bits = max(1, (len(palette) - 1).bit_length())
    while len(palette) < (1 << bits):
        palette.append((0, 0, 0))
    min_code = max(2, bits)
    clear, end = 1 << min_code, (1 << min_code) + 1

    # Literal codes only: the decoder still grows its table by one entry per code after the first,
    # so the code width follows that growth, and a clear code comes before the table is full.
    out, acc, nacc = bytearray(), 0, 0

    def emit(code, width):
        nonlocal acc, nacc
        acc |= code << nacc
        nacc += width
        while nacc >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nacc -= 8

    width_bits, next_code, first = min_code + 1, end + 1, True
    emit(clear, width_bits)
    for line in pixel_rows(grid):
        for px in line:
            emit(palette.index(px), width_bits)
            if first:
                first = False
                continue
            next_code += 1
            if next_code == (1 << width_bits) and width_bits < 12:
                width_bits += 1
            if next_code >= 4000:
                emit(clear, width_bits)
                width_bits, next_code, first = min_code + 1, end + 1, True
    emit(end, width_bits)
    if nacc:
        out.append(acc & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255]) for i in range(0, len(out), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (bits - 1), 0, 0)
            + b"".join(bytes(c) for c in palette)
            + b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
            + bytes([min_code]) + blocks + b"\0;")


# JPEG ------------------------------------------------------------------------------------------

_DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
_DC_VALS = list(range(12))
_AC_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D]
_AC_VALS = bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f02433627282090a161718191a25262728"
    "292a3435363738393a434445464748494a535455565758595a636465666768696a737475767778797a83848586878889"
    "8a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2"
    "e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa")


def _huffman_codes(bits, vals):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[vals[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def _segment(marker, data):
    return bytes([0xFF, marker]) + struct.pack(">H", len(data) + 2) + data


def jpeg(grid):
    width, height = len(grid[0]) * TILE, len(grid) * TILE
    dc, ac = _huffman_codes(_DC_BITS, _DC_VALS), _huffman_codes(_AC_BITS, _AC_VALS)
    out, acc, nacc = bytearray(), 0, 0

    def put(code, length):
        nonlocal acc, nacc
        acc = (acc << length) | code
        nacc += length
        while nacc >= 8:
            byte = (acc >> (nacc - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)
            nacc -= 8
        acc &= (1 << nacc) - 1

    pred = [0, 0, 0]
    for row in grid:
        for r, g, b in row:
            ycc = (0.299 * r + 0.587 * g + 0.114 * b,
                   128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
                   128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
            for comp, value in enumerate(ycc):
                # A flat block's only coefficient: 8 * (sample - 128), quantised by 1.
                coeff = int(round(8 * (min(255.0, max(0.0, value)) - 128)))
                diff, pred[comp] = coeff - pred[comp], coeff
                size = abs(diff).bit_length()
                put(*dc[size])
                if size:
                    put(diff if diff > 0 else diff + (1 << size) - 1, size)
                put(*ac[0x00])  # end of block
    if nacc:
        put((1 << (8 - nacc)) - 1, 8 - nacc)
    frame = struct.pack(">BHHB", 8, height, width, 3) + b"".join(bytes([i, 0x11, 0]) for i in (1, 2, 3))
    tables = (bytes([0x00]) + bytes(_DC_BITS) + bytes(_DC_VALS)
              + bytes([0x10]) + bytes(_AC_BITS) + _AC_VALS)
    scan = bytes([3]) + b"".join(bytes([i, 0x00]) for i in (1, 2, 3)) + bytes([0, 63, 0])
    return (b"\xff\xd8"
            + _segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
            + _segment(0xDB, b"\0" + b"\x01" * 64)
            + _segment(0xC0, frame)
            + _segment(0xC4, tables)
            + _segment(0xDA, scan) + bytes(out) + b"\xff\xd9")


def pad_jpeg(data, size):
    """data grown to exactly size bytes by comment segments after the start marker: readers skip
    them, so the picture is the same and a download is as large as a real page."""
    rest = size - len(data)
    if rest < 0 or 0 < rest < 4:
        raise ValueError("a JPEG of %d bytes cannot be padded to %d" % (len(data), size))
    segments = []
    while rest:
        n = min(rest, 4 + 65533)
        if 0 < rest - n < 4:
            n -= 4
        segments.append(_segment(0xFE, b"\0" * (n - 4)))
        rest -= n
    return data[:2] + b"".join(segments) + data[2:]


# WebP ------------------------------------------------------------------------------------------

def webp(grid):
    """Lossless WebP in the grid's first colour."""
    width, height = len(grid[0]) * TILE, len(grid) * TILE
    r, g, b = grid[0][0]
    acc, nacc = 0, 0

    def put(value, bits):
        nonlocal acc, nacc
        acc |= value << nacc
        nacc += bits

    put(width - 1, 14)
    put(height - 1, 14)
    put(0, 1)  # no alpha
    put(0, 3)  # version
    put(0, 1)  # no transform
    put(0, 1)  # no colour cache
    put(0, 1)  # no meta prefix codes
    for symbol in (g, r, b, 255):  # green, red, blue, alpha: one 8-bit symbol each
        put(1, 1)
        put(0, 1)
        put(1, 1)
        put(symbol, 8)
    put(1, 1)  # distance: one 1-bit symbol, 0
    put(0, 1)
    put(0, 1)
    put(0, 1)
    payload = b"\x2f" + acc.to_bytes((nacc + 7) // 8, "little")
    chunk = b"VP8L" + struct.pack("<I", len(payload)) + payload + b"\0" * (len(payload) % 2)
    return b"RIFF" + struct.pack("<I", 4 + len(chunk)) + b"WEBP" + chunk


ENCODERS = {"png": png, "gif": gif, "jpeg": jpeg, "webp": webp}


def make(fmt, seed, width=16, height=24):
    return ENCODERS[fmt](tiles(seed, width, height))
