#!/usr/bin/env python3
"""Draws a floor plan of the stand-in's default room as a PNG (standard
library only), for the picture of a calibrated floor plan in docs/user-guide.md.

The image covers world x -100..1100 cm and y -100..900 cm at 2 cm a pixel:
its top-left corner lies at world (-100, 900), which is what the settings
file's BGImage-OffsetX/Y and BGImage-Factor say."""
import struct
import sys
import zlib

CM_PER_PX = 2
X0, Y_TOP = -100, 900
W, H = 600, 500

img = [bytearray(b'\xff\xff\xff' * W) for _ in range(H)]


def px(x_cm, y_cm):
    return int((x_cm - X0) / CM_PER_PX), int((Y_TOP - y_cm) / CM_PER_PX)


def rect(x1, y1, x2, y2, rgb):
    (a, b), (c, d) = px(x1, y2), px(x2, y1)
    for row in range(max(0, b), min(H, d)):
        for col in range(max(0, a), min(W, c)):
            img[row][3 * col:3 * col + 3] = bytes(rgb)


WALL = (70, 70, 80)
FLOOR = (246, 240, 228)
TABLE = (200, 185, 160)
# the room's floor and its outer walls (25 cm thick), a door gap in the south wall
rect(-50, -50, 1050, 850, FLOOR)
for x1, y1, x2, y2 in [(-75, -75, 1075, -50), (-75, 850, 1075, 875), (-75, -75, -50, 875), (1050, -75, 1075, 875)]:
    rect(x1, y1, x2, y2, WALL)
rect(420, -75, 520, -50, FLOOR)
# an inner wall with a door, splitting off a meeting room in the east
rect(700, -50, 712, 350, WALL)
rect(700, 450, 712, 850, WALL)
# furniture: desks along the west wall, a meeting table
for y in (100, 300, 500):
    rect(0, y, 160, y + 80, TABLE)
rect(800, 500, 980, 640, TABLE)


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)


raw = b''.join(b'\x00' + bytes(row) for row in img)
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 2, 0, 0, 0))
       + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
with open(sys.argv[1], 'wb') as f:
    f.write(png)
