#!/usr/bin/env python3
"""Writes resources/HAND-M.CUR: our own pointing-hand cursor (32x32, hot spot on the fingertip)."""
import struct
import sys

# '#' outline, '.' fill, ' ' transparent. 32 columns, top row first.
ART = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#.#
 #...#..........#
  #.............#
  #.............#
   #............#
   #...........#
    #..........#
    #.........#
     #........#
     #........#
     ##########
"""

def build():
    rows = [line.ljust(32)[:32] for line in ART.strip("\n").split("\n")]
    rows += [" " * 32] * (32 - len(rows))
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        bits = 0
        for x, ch in enumerate(row):
            if ch == "#":
                pixels += bytes((0, 0, 0, 255))
            elif ch == ".":
                pixels += bytes((255, 255, 255, 255))
            else:
                pixels += bytes((0, 0, 0, 0))
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + bytes(pixels) + bytes(mask)
    hot_x, hot_y = 7, 1
    icondir = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    return icondir + entry + image

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/HAND-M.CUR"
    with open(out, "wb") as f:
        f.write(build())
