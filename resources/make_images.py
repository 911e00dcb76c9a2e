#!/usr/bin/env python3
"""Draws the program's toolbar strips, header arrows and icons.

Run it from this folder after changing a drawing; the .bmp and .ico files it
writes are kept in the source tree, so building needs no Python.
"""
import struct

MAGENTA = (255, 0, 255)


class Canvas:
    def __init__(self, w, h, bg):
        self.w, self.h = w, h
        self.px = [[bg] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c); self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c); self.put(x1, y, c)

    def poly(self, pts, c):
        ys = [p[1] for p in pts]
        for y in range(min(ys), max(ys) + 1):
            for x in range(self.w):
                if inside(pts, x + 0.5, y + 0.5):
                    self.put(x, y, c)

    def line(self, x0, y0, x1, y1, c, width=1):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = round(x0 + (x1 - x0) * i / n)
            y = round(y0 + (y1 - y0) * i / n)
            r = width // 2
            self.rect(x - r, y - r, x - r + width - 1, y - r + width - 1, c)

    def disc(self, cx, cy, r, c):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, c)


def inside(pts, x, y):
    res = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]; xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            res = not res
        j = i
    return res


def page(c, x, y, w, h, fill=(255, 255, 255), edge=(70, 90, 120)):
    c.rect(x, y, x + w, y + h, fill)
    c.frame(x, y, x + w, y + h, edge)
    for ly in range(y + 4, y + h - 2, 3):
        c.line(x + 3, ly, x + w - 3, ly, (150, 170, 200))


def folder(c, x, y, w, h, body=(240, 200, 80), edge=(160, 120, 30)):
    c.rect(x, y, x + w // 2, y + 3, body)
    c.frame(x, y, x + w // 2, y + 3, edge)
    c.rect(x, y + 3, x + w, y + h, body)
    c.frame(x, y + 3, x + w, y + h, edge)


def draw_button(c, ox, kind, hot):
    oy = 0
    if hot:
        c.rect(ox + 2, 2, ox + 33, 32, (214, 232, 252))
        c.frame(ox + 2, 2, ox + 33, 32, (120, 170, 230))
    if kind == 'up':
        folder(c, ox + 6, oy + 14, 24, 14)
        c.poly([(ox + 18, oy + 4), (ox + 26, oy + 12), (ox + 21, oy + 12), (ox + 21, oy + 20),
                (ox + 15, oy + 20), (ox + 15, oy + 12), (ox + 10, oy + 12)], (30, 130, 40))
    elif kind == 'copy':
        page(c, ox + 6, oy + 5, 15, 19)
        page(c, ox + 14, oy + 11, 15, 19)
    elif kind == 'cut':
        c.line(ox + 12, oy + 5, ox + 22, oy + 21, (90, 90, 100), 2)
        c.line(ox + 24, oy + 5, ox + 14, oy + 21, (90, 90, 100), 2)
        c.disc(ox + 12, oy + 25, 4, (200, 40, 40)); c.disc(ox + 12, oy + 25, 2, MAGENTA if not hot else (214, 232, 252))
        c.disc(ox + 24, oy + 25, 4, (200, 40, 40)); c.disc(ox + 24, oy + 25, 2, MAGENTA if not hot else (214, 232, 252))
    elif kind == 'delete':
        page(c, ox + 7, oy + 5, 16, 21)
        c.line(ox + 16, oy + 15, ox + 28, oy + 27, (210, 30, 30), 3)
        c.line(ox + 28, oy + 15, ox + 16, oy + 27, (210, 30, 30), 3)
    elif kind == 'newfolder':
        folder(c, ox + 5, oy + 9, 24, 17)
        c.rect(ox + 24, oy + 4, ox + 26, oy + 14, (30, 130, 40))
        c.rect(ox + 20, oy + 8, ox + 30, oy + 10, (30, 130, 40))
    elif kind == 'paste':
        c.rect(ox + 7, oy + 6, ox + 25, oy + 29, (190, 140, 80))
        c.frame(ox + 7, oy + 6, ox + 25, oy + 29, (120, 80, 40))
        c.rect(ox + 12, oy + 4, ox + 20, oy + 8, (130, 130, 140))
        page(c, ox + 15, oy + 13, 14, 17)


def write_bmp(path, c):
    row = (c.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(c.h - 1, -1, -1):
        line = bytearray()
        for x in range(c.w):
            r, g, b = c.px[y][x]
            line += bytes((b, g, r))
        line += b'\0' * (row - len(line))
        data += line
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def icon_image(c, transparent):
    """32-bit BGRA DIB with an AND mask, as an .ico image entry."""
    xor = bytearray()
    for y in range(c.h - 1, -1, -1):
        for x in range(c.w):
            r, g, b = c.px[y][x]
            a = 0 if (r, g, b) == transparent else 255
            xor += bytes((b, g, r, a))
    mrow = ((c.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(c.h - 1, -1, -1):
        bits = bytearray(mrow)
        for x in range(c.w):
            if c.px[y][x] == transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, canvases, transparent=MAGENTA):
    images = [icon_image(c, transparent) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, 'wb') as f:
        f.write(out)


def app_icon(size):
    c = Canvas(size, size, MAGENTA)
    s = size / 32.0
    def S(v): return int(round(v * s))
    # A closed box with a keyhole.
    c.rect(S(3), S(9), S(28), S(29), (70, 110, 170))
    c.frame(S(3), S(9), S(28), S(29), (30, 50, 90))
    c.poly([(S(3), S(9)), (S(8), S(3)), (S(29), S(3)), (S(28), S(9))], (120, 160, 220))
    c.frame(S(3), S(9), S(28), S(14), (30, 50, 90))
    c.disc(S(16), S(19), max(1, S(3)), (250, 215, 90))
    c.rect(S(15), S(19), S(17), S(25), (250, 215, 90))
    return c


def folder_icon(size):
    c = Canvas(size, size, MAGENTA)
    if size == 16:
        folder(c, 1, 2, 14, 11)
    else:
        folder(c, 2, 5, 28, 22)
    return c


def question_icon(size):
    c = Canvas(size, size, MAGENTA)
    r = size // 2 - 1
    c.disc(size // 2, size // 2, r, (40, 90, 190))
    s = size / 32.0
    def S(v): return int(round(v * s))
    white = (255, 255, 255)
    c.rect(S(11), S(8), S(20), S(10), white)
    c.rect(S(19), S(8), S(21), S(16), white)
    c.rect(S(15), S(15), S(20), S(17), white)
    c.rect(S(15), S(15), S(17), S(20), white)
    c.rect(S(15), S(23), S(17), S(25), white)
    return c


def main():
    kinds = ['up', 'copy', 'cut', 'delete', 'newfolder', 'paste']
    for name, hot in (('toolbar.bmp', False), ('toolbar_hot.bmp', True)):
        c = Canvas(36 * len(kinds), 35, MAGENTA)
        for i, k in enumerate(kinds):
            draw_button(c, i * 36, k, hot)
        write_bmp(name, c)
    # Header sort arrows: 12x16 each, white is the mask colour.
    c = Canvas(24, 16, (255, 255, 255))
    c.poly([(6, 5), (10, 10), (2, 10)], (90, 90, 90))
    c.poly([(14, 6), (22, 6), (18, 11)], (90, 90, 90))
    write_bmp('sortarrows.bmp', c)
    write_ico('hollowbox.ico', [app_icon(32), app_icon(16)])
    write_ico('folder.ico', [folder_icon(16), folder_icon(32)])
    write_ico('question.ico', [question_icon(32), question_icon(16)])


if __name__ == '__main__':
    main()
