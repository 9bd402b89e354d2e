#!/usr/bin/env python3
"""Writes a small land-use file (USGS composite theme grid, CTG) for landimport, where no real one
is at hand: ROWS x COLUMNS cells over a box of longitudes and latitudes, each cell's land-use code
taken from an elevation grid when one is given (the sea, low land, forest, bare rock by height),
else from a repeating list of codes, a test pattern. The land use is made up; only the format is
real.

    make_landuse.py FILE LONG_MIN LONG_MAX LAT_MIN LAT_MAX ROWS COLUMNS [ELEVATIONS]

ELEVATIONS is a headerless grid of signed 16-bit little-endian metres, ROWS records of COLUMNS
values, the northern record first and values from west to east: gridforge's input, such as
terraintools/data/pnw_48n49n_124w123w_46x30.i16 (46 rows, 30 columns).
"""
import argparse
import math
import os
import struct
import sys


class Ctg:
    """A land-use file of 80-character records: five header records, then one per cell."""

    def __init__(self, rows=4, columns=6, cell_size=200, cells=None, **bounds):
        self.rows, self.columns, self.cell_size = rows, columns, cell_size
        self.x0, self.y0, self.zone = 500000, 5320000, 10
        # Record 3's bounds, in units of 0.0001 degree, longitudes positive to the west.
        self.south, self.west, self.north, self.east = 480000, 1230100, 480100, 1230000
        for k, v in bounds.items():
            setattr(self, k, v)
        self.cells = cells or []

    def at(self, k, m, code):
        """The data cell of row k (1: the northern-most) and column m (1: the western-most)."""
        return (self.x0 + (m - 1) * self.cell_size + self.cell_size // 2,
                self.y0 - (k - 1) * self.cell_size - self.cell_size // 2, code)

    def fill(self, codes):
        self.cells = [self.at(k, m, codes[((k - 1) * self.columns + m - 1) % len(codes)])
                      for k in range(1, self.rows + 1) for m in range(1, self.columns + 1)]
        return self

    @staticmethod
    def put(record, first, last, value):
        t = str(value)
        record[last - len(t):last] = t

    def bytes(self):
        r = [[' '] * 80 for _ in range(5)]
        self.put(r[0], 1, 10, self.rows)
        self.put(r[0], 21, 30, self.columns)
        self.put(r[0], 36, 40, self.cell_size)
        self.put(r[0], 51, 55, self.zone)
        self.put(r[1], 1, 5, 1)
        self.put(r[1], 6, 10, 1)
        if self.columns < 100000 and self.rows < 100000:
            self.put(r[1], 11, 15, self.columns)
            self.put(r[1], 16, 20, self.rows)
        self.put(r[2], 1, 10, self.south)
        self.put(r[2], 11, 20, self.west)
        self.put(r[2], 61, 70, self.north)
        self.put(r[2], 71, 80, self.east)
        self.put(r[3], 41, 50, self.x0)
        self.put(r[3], 51, 60, self.y0)
        out = ''.join(''.join(x) for x in r)
        for x, y, code in self.cells:
            c = [' '] * 80
            self.put(c, 1, 3, self.zone)
            self.put(c, 4, 11, x)
            self.put(c, 12, 19, y)
            self.put(c, 21, 30, code)
            out += ''.join(c)
        return out.encode('latin-1')


# Urban, cropland, forest, water, bare rock and a few more, as the program tests use them.
PATTERN = [17, 11, 21, 42, 51, 75, 91, 0, 17, 11, 21, 42, 51, 75, 91, 0, 17, 11, 21, 42, 51, 75,
           91, 5]


def code_for_elevation(metres):
    """Bays and estuaries at and below 0 m, cropland and pasture below 100 m, evergreen forest
    below 1000 m, bare exposed rock above."""
    if metres <= 0:
        return 54
    if metres < 100:
        return 21
    if metres < 1000:
        return 42
    return 74


MAX_CELLS_PER_SIDE = 4096  # landimport's limit


def main(argv):
    parser = argparse.ArgumentParser(prog='make_landuse.py', description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('file')
    for name in ('long_min', 'long_max', 'lat_min', 'lat_max'):
        parser.add_argument(name, type=float)
    parser.add_argument('rows', type=int)
    parser.add_argument('columns', type=int)
    parser.add_argument('elevations', nargs='?')
    a = parser.parse_args(argv)
    if not all(math.isfinite(v) for v in (a.long_min, a.long_max, a.lat_min, a.lat_max)) or \
            not (-180 <= a.long_min < a.long_max <= 180 and -90 <= a.lat_min < a.lat_max <= 90):
        parser.error('the box must lie on the globe, long_min < long_max and lat_min < lat_max')
    if not (1 <= a.rows <= MAX_CELLS_PER_SIDE and 1 <= a.columns <= MAX_CELLS_PER_SIDE):
        parser.error('rows and columns must lie within 1..%d' % MAX_CELLS_PER_SIDE)

    if a.elevations:
        count = a.rows * a.columns
        try:
            with open(a.elevations, 'rb') as f:
                data = f.read(2 * count)
        except OSError as e:
            parser.error("cannot read '%s': %s" % (a.elevations, e.strerror))
        if len(data) < 2 * count:
            parser.error("'%s' holds fewer than %d x %d values" % (a.elevations, a.rows,
                                                                   a.columns))
        codes = [code_for_elevation(v) for v in struct.unpack('<%dh' % count, data)]
    else:
        codes = PATTERN

    ctg = Ctg(rows=a.rows, columns=a.columns, south=round(a.lat_min * 10000),
              north=round(a.lat_max * 10000), west=round(-a.long_min * 10000),
              east=round(-a.long_max * 10000))
    data = ctg.fill(codes).bytes()
    try:
        with open(a.file, 'wb') as f:
            f.write(data)
    except OSError as e:
        if os.path.isfile(a.file):
            os.remove(a.file)  # no half-written file left behind
        parser.error("cannot write '%s': %s" % (a.file, e.strerror))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
