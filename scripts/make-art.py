#!/usr/bin/env python3
"""Draws the program's icon (101) and wizard picture (106) in the 16-colour
VGA palette and writes them as resources/uninstal.ico and resources/wizard.bmp.
Run it again after changing the drawing; the outputs are committed."""
import struct, os

VGA = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),
       (192,192,192),(128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),
       (255,0,255),(0,255,255),(255,255,255)]
BLACK, DKBLUE, DKCYAN, LTGRAY, GRAY, BLUE, CYAN, WHITE, YELLOW, DKRED, RED = 0,4,6,7,8,12,14,15,11,1,9

def pack4(rows, width):
    """Bottom-up 4-bit rows, each padded to 4 bytes."""
    out = b""
    for row in reversed(rows):
        b = bytearray()
        for x in range(0, width, 2):
            hi = row[x]; lo = row[x+1] if x+1 < width else 0
            b.append((hi << 4) | lo)
        while len(b) % 4: b.append(0)
        out += bytes(b)
    return out

def palette():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA)

def box(px, x0, y0, x1, y1, c):
    for y in range(max(0,y0), min(len(px),y1)):
        for x in range(max(0,x0), min(len(px[0]),x1)):
            px[y][x] = c

def picture(w, h):
    px = [[0]*w for _ in range(h)]
    # Ordered dither from blue (top) to black (bottom), like the background.
    bayer = [[0,8,2,10],[12,4,14,6],[3,11,1,9],[15,7,13,5]]
    for y in range(h):
        for x in range(w):
            t = y * 32 // h              # 0..31 down the picture
            level = 31 - t
            if level >= 16:
                c = BLUE if (level - 16) > bayer[y%4][x%4] else DKBLUE
            else:
                c = DKBLUE if level > bayer[y%4][x%4] else BLACK
            px[y][x] = c
    # A product box being lifted out of a tray: a simple, calm motif.
    cx = w // 2
    box(px, cx-38, 150, cx+38, 206, GRAY)          # tray
    box(px, cx-34, 154, cx+34, 202, BLACK)
    box(px, cx-26, 70, cx+26, 128, LTGRAY)         # box
    box(px, cx-26, 70, cx+26, 76, WHITE)
    box(px, cx-22, 82, cx+22, 122, DKCYAN)
    box(px, cx-3, 82, cx+3, 122, CYAN)
    for i in range(14):                            # upward arrow
        box(px, cx-i, 36+i, cx+i+1, 37+i, YELLOW)
    box(px, cx-5, 50, cx+6, 64, YELLOW)
    box(px, 0, 0, w, 1, GRAY); box(px, 0, h-1, w, h, GRAY)
    box(px, 0, 0, 1, h, GRAY); box(px, w-1, 0, w, h, GRAY)
    return px

def write_bmp(path, w, h):
    bits = pack4(picture(w, h), w)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(bits), 2835, 2835, 16, 16)
    offset = 14 + len(info) + 64
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    open(path, "wb").write(head + info + palette() + bits)

def write_ico(path):
    n = 32
    px = [[0]*n for _ in range(n)]
    mask = [[1]*n for _ in range(n)]     # 1 = transparent
    def put(x0, y0, x1, y1, c):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = c; mask[y][x] = 0
    put(6, 12, 26, 30, BLACK); put(7, 13, 25, 29, LTGRAY); put(7, 13, 25, 15, WHITE)
    put(10, 17, 22, 27, DKBLUE); put(15, 17, 17, 27, BLUE)
    for i in range(7):
        put(16-i, 1+i, 17+i, 2+i, RED)
    put(14, 8, 19, 12, RED)
    bits = pack4(px, n)
    andbits = b""
    for row in reversed(mask):
        v = 0
        bs = bytearray()
        for x in range(n):
            v = (v << 1) | row[x]
            if x % 8 == 7: bs.append(v); v = 0
        andbits += bytes(bs)                  # 4 bytes a row: already aligned
    info = struct.pack("<IiiHHIIiiII", 40, n, 2*n, 1, 4, 0, len(bits)+len(andbits), 0, 0, 16, 0)
    img = info + palette() + bits + andbits
    head = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(img), 22)
    open(path, "wb").write(head + img)

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
write_bmp(os.path.join(here, "wizard.bmp"), 122, 262)
write_ico(os.path.join(here, "uninstal.ico"))
