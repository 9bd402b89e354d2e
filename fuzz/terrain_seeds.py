"""The terrain targets' seeds, and the small real inputs that terrain_cmdline puts in its scratch
folder (data/): pieces of the project's own DEM fixture, DEMs and land-use files in the layouts
the program tests write, and every input that found a fault in the terrain programs. seeds.py
calls write_all()."""
import lzma
import math
import os
import struct
import sys

from seed_layout import HERE, below, text, write

ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, 'terraintools'))
# The land-use files come from the project's one writer of them, the user tool beside landimport.
from make_landuse import Ctg, PATTERN  # noqa: E402

DEM_FIXTURE = os.path.join(ROOT, 'terraintools', 'tests', 'data', 'olympic_48n124w.dem.xz')
GRID_SAMPLE = os.path.join(ROOT, 'terraintools', 'data', 'pnw_48n49n_124w123w_46x30.i16')


def write_data(name, data):
    with open(os.path.join(HERE, 'data', name), 'wb') as f:
        f.write(data)


def double(v):
    return struct.pack('<d', v)


def int32(v):
    return struct.pack('<i', v)


# --- DEM ----------------------------------------------------------------------------------------

def field(value, width):
    return value.rjust(width)


# A DEM of 0.01 degree at 122 W, 37 N (tile 067_148), its records in 1024-character blocks or
# as lines, as demimport's tests write it.
SMALL_CORNERS = ['-0.439200000000000D+06', '0.133200000000000D+06', '-0.439200000000000D+06',
                 '0.133236000000000D+06', '-0.439164000000000D+06', '0.133236000000000D+06',
                 '-0.439164000000000D+06', '0.133200000000000D+06']


def make_dem(profiles, corners=SMALL_CORNERS, after_counts='', token4='0.0',
             profile_x='0.000000000000000D+00', lines=False, profile_count=None,
             elevation_count=None):
    a = 'synthetic.dem'.ljust(144)
    a += field('1', 6) + field('1', 6) + field('0', 6) + field('0', 6)
    for k in range(15):
        a += field(token4 if k == 0 else '0.0', 24)
    a += field('3', 6) + field('2', 6) + field('4', 6)
    for c in corners:
        a += field(c, 24)
    a += field('0.0', 24) + field('100.0', 24) + field('0.0', 24)
    a += field('0', 6) + '3.000000D+003.000000D+001.000000D+00'
    a += field('1', 6) + field(profile_count or str(len(profiles)), 6) + after_counts
    a = a + '\n' if lines else a.ljust(1024)
    for p, values in enumerate(profiles):
        count = elevation_count or str(len(values))
        b = field('1', 6) + field(str(p + 1), 6) + field(count, 6) + field('1', 6)
        b += field(profile_x, 24) + ''.join(field('0.000000000000000D+00', 24) for _ in range(4))
        b += ''.join(field(str(v), 6) for v in values)
        b = b + '\n' if lines else b.ljust((len(b) + 1023) // 1024 * 1024)
        a += b
    return a.encode('latin-1')


def olympic_piece(profiles, values):
    """Record A of the bundled DEM (48-49 N, 124-123 W) claiming `profiles` profiles, then its
    first profiles, each cut to its first `values` elevations."""
    dem = lzma.open(DEM_FIXTURE).read()
    record_a = bytearray(dem[:1024])
    at = record_a.find(b'     1  1201')
    assert at > 0
    record_a[at + 6:at + 12] = field(str(profiles), 6).encode()
    piece = bytes(record_a)
    for p in range(profiles):
        b = bytearray(dem[1024 + p * 8192:1024 + p * 8192 + 144 + 6 * values])
        b[12:18] = field(str(values), 6).encode()
        piece += bytes(b).ljust(1024, b' ')
    return piece


def dem_seeds():
    write('dem_reader', 'olympic-3-profiles.dem', olympic_piece(3, 40))
    small = make_dem([[11, 12, 13, 14], [21, 22, 23, 24], [-31, 32, 33, 34]])
    write_data('small.dem', small)
    write('dem_reader', 'small.dem', small)
    write('dem_reader', 'small-newer-fields.dem',
          make_dem([[11, 12], [21, 22]], after_counts='                       0 1 1       0'))
    write('dem_reader', 'small-lines.dem', make_dem([[11, 12], [21, 22]], lines=True))
    east = ['0.140400000000000D+06', '0.162000000000000D+06', '0.140400000000000D+06',
            '0.162036000000000D+06', '0.140436000000000D+06', '0.162036000000000D+06',
            '0.140436000000000D+06', '0.162000000000000D+06']
    write('dem_reader', 'east-of-39-degrees.dem', make_dem([[5]], corners=east))
    good = make_dem([[1, 2], [3, 4]])
    corner_at = good.find(b'-0.4392')
    write('dem_reader', 'ends-in-first-143.dem', good[:100])
    write('dem_reader', 'ends-in-white-space.dem', good[:corner_at - 3])
    write('dem_reader', 'ends-in-a-token.dem', good[:corner_at + 7])
    write('dem_reader', 'letter-among-header-tokens.dem', make_dem([[1, 2], [3, 4]], token4='X'))
    write('dem_reader', 'profile-ends-early.dem', good[:len(good) - 1024 + 144 + 6])
    write('dem_reader', 'token-longer-than-its-buffer.dem',
          make_dem([[1, 2], [3, 4]], profile_x=' ' + '7' * 300))
    # The long token joined to DEM_b_col: a count beyond the int range.
    write('dem_reader', 'dem-b-col-beyond-the-int-range.dem',
          make_dem([[1, 2], [3, 4]], profile_x='7' * 300))
    write('dem_reader', 'elevation-99999999999.dem',
          make_dem([[1, 2], [3, 55555]]).replace(b'55555', b'99999999999'))
    write('dem_reader', 'elevations-hexadecimal-and-octal.dem',
          make_dem([[1, 55555], [3, 44444]]).replace(b'55555', b'0x7FFFFFFF')
          .replace(b'44444', b'-010'))
    write('dem_reader', 'corner-token-with-escape-c.dem',
          make_dem([[1, 2], [3, 4]], ['-E\x1bc'] + SMALL_CORNERS[1:]))
    box_10_degrees = ['-439200', '133200', '-439200', '169200', '-403200', '169200', '-403200',
                      '133200']
    write('dem_reader', 'corners-10-by-10-degrees.dem', make_dem([[1, 2], [3, 4]], box_10_degrees))
    write('dem_reader', 'no-profile.dem', make_dem([[1, 2], [3, 4]], profile_count='0'))
    write('dem_reader', 'counts-far-beyond-the-file.dem',
          make_dem([[1, 2], [3, 4]], profile_count='99999', elevation_count='99999'))
    far_west = list(SMALL_CORNERS)
    far_west[0] = '-0.432000000000000D+13'  # -1.2e9 degrees
    write('dem_reader', 'corner-1.2e9-degrees-west.dem', make_dem([[1, 2], [3, 4]], far_west))
    far_north = list(SMALL_CORNERS)
    far_north[5] = '0.400000000000000D+06'  # 111 degrees
    write('dem_reader', 'corner-latitude-111.dem', make_dem([[1, 2], [3, 4]], far_north))


# --- CTG ----------------------------------------------------------------------------------------

def landimport_input(args, ctg):
    return b''.join(text(a) for a in args) + ctg


def ctg_seeds():
    land = Ctg().fill(PATTERN).bytes()
    write_data('land.ctg', land)
    plain = ['0', '0', '0', '1', '1']
    write('ctg_reader', 'land.bin', landimport_input(plain, land))
    write('ctg_reader', 'turned-shifted-scaled.bin',
          landimport_input(['30', '0.005', '-0.002', '2', '0.5'], land))
    write('ctg_reader', 'no-data-record.bin', landimport_input(plain, Ctg().bytes()))
    cut = Ctg()
    cut.cells = [cut.at(1, 1, 5), cut.at(9, 1, 5), cut.at(1, 99, 5), cut.at(-3, 2, 5),
                 cut.at(4, 6, 21), cut.at(2, 7, 9), cut.at(3, 0, 9), cut.at(2, 2, 5)]
    cut_bytes = bytearray(cut.bytes())
    cut_bytes[4 * 80 + 10] = 0xff
    cut_bytes[5 * 80 + 79] = 0xff
    write('ctg_reader', 'cells-outside-and-cut-short.bin',
          landimport_input(plain, bytes(cut_bytes[:-30])))
    small = Ctg(rows=1, columns=3, cell_size=20)
    small.x0, small.y0 = 1000, 2000
    small.cells = [(1010, 1990, 5), (1030, 1990, 21)]
    write('ctg_reader', 'cell-size-20.bin', landimport_input(plain, small.bytes()))
    box = Ctg(south=480000, north=490000, west=1240000, east=1220000)
    write('ctg_reader', 'box-doubled-and-moved.bin',
          landimport_input(['0', '0.5', '0', '2', '1'], box.bytes()))
    write('ctg_reader', 'header-cut-at-50.bin', landimport_input(plain, b' ' * 50))
    for name, rows, columns, size in [('rows-0', 0, 6, 200), ('columns-minus-1', 4, -1, 200),
                                      ('cell-size-0', 4, 6, 0)]:
        write('ctg_reader', name + '.bin',
              landimport_input(plain, Ctg(rows=rows, columns=columns, cell_size=size).bytes()))
    for rows, columns in [(99999, 99999), (32768, 32767), (4, 77777777), (4097, 4096),
                          (4096, 4096)]:
        write('ctg_reader', 'claims-%dx%d.bin' % (rows, columns),
              landimport_input(plain, Ctg(rows=rows, columns=columns).bytes()))
    write('ctg_reader', 'size-x-1e9.bin', landimport_input(['0', '0', '0', '1e9', '1'], land))
    write('ctg_reader', 'shift-x-1e9.bin', landimport_input(['0', '1e9', '0', '1', '1'], land))
    write('ctg_reader', 'size-y-inf.bin', landimport_input(['0', '0', '0', '1', 'inf'], land))
    write('ctg_reader', 'turn-nan.bin', landimport_input(['nan', '0', '0', '1', '1'], land))
    one_cell = Ctg(rows=1, columns=1, west=1330000, east=1230000, north=580000)
    one_cell.cells = [one_cell.at(1, 1, 5)]
    write('ctg_reader', 'one-cell-over-10-by-10-degrees.bin',
          landimport_input(plain, one_cell.bytes()))
    globe = Ctg(rows=1, columns=1, south=-900000, north=900000, west=1800000, east=-1800000)
    globe.cells = [globe.at(1, 1, 5)] * 3
    write('ctg_reader', 'one-cell-over-the-globe.bin', landimport_input(plain, globe.bytes()))
    write('ctg_reader', 'scaled-to-more-tiles-than-cells.bin',
          landimport_input(['0', '0', '0', '1000', '1000'], land))
    far = bytearray(land)
    far[2 * 80 + 10:2 * 80 + 20] = b'9999990000'  # 999,999 degrees west
    write('ctg_reader', 'bounds-far-west.bin', landimport_input(plain, bytes(far)))


# --- gridforge's grid ---------------------------------------------------------------------------

def gridforge_input(ncols, nrows, lat_min, lon_min, lat_step, lon_step, time_of_day, grid):
    return (int32(ncols) + int32(nrows) + int32(lat_min) + int32(lon_min) + below(lat_step + 1) +
            below(lon_step + 1) + double(time_of_day) + grid)


def gridforge_seeds():
    grid = open(GRID_SAMPLE, 'rb').read()
    write('gridforge_input', 'bundled-grid.bin', gridforge_input(46, 30, 48, -124, 1, 1, 14.5, grid))
    write('gridforge_input', 'bundled-grid-one-post.bin',
          gridforge_input(46, 30, 48, -124, 0, 0, 14.5, grid))
    write('gridforge_input', 'bundled-grid-one-row.bin',
          gridforge_input(46, 30, 48, -124, 0, 1, 6, grid))
    write('gridforge_input', 'bundled-grid-reversed.bin',
          gridforge_input(30, 46, 49, -123, -1, -1, 18, grid))
    four = struct.pack('<4h', 100, 200, 300, 400)
    write('gridforge_input', 'four-values-lat-1-2-lon-1-2.bin',
          gridforge_input(2, 2, 1, 1, 1, 1, 12, four))
    write('gridforge_input', 'no-data-values.bin',
          gridforge_input(2, 3, 0, 0, 1, 1, 12, struct.pack('<7h', -500, -501, -499, -1, 5, 10, 1)))
    for name, ncols, nrows in [('columns-minus-5', -5, 30), ('rows-0', 46, 0),
                               ('more-values-than-the-file', 460, 30), ('one-value-short', 2, 2)]:
        write('gridforge_input', name + '.bin',
              gridforge_input(ncols, nrows, 48, -124, 1, 1, 14.5,
                              grid if ncols != 2 else struct.pack('<3h', 1, 2, 3)))
    for name, lat, lon in [('latitude-minus-91', -91, -124), ('longitude-200', 48, 200),
                           ('longitude-int-min', 48, -2 ** 31), ('latitude-90', 90, -124),
                           ('longitude-180', 48, 180)]:
        write('gridforge_input', name + '.bin',
              gridforge_input(2, 2, lat, lon, 0, 0, 12, four))
    for name, t in [('time-nan', math.nan), ('time-inf', math.inf), ('time-minus-1e300', -1e300)]:
        write('gridforge_input', name + '.bin', gridforge_input(2, 2, 1, 1, 1, 1, t, four))


# --- a damaged tile database --------------------------------------------------------------------

PASSES = ['trn_elevation', 'trn_color', 'trn_shading', 'trn_elevation_post', 'trn_color_post',
          'trn_levels', 'trn_rasterfile', 'trn_levels_exiting', 'tileprint', 'tintshade']
REGION_RAW = 5  # the choice after the database's own regions: eight doubles


def damage(file_index, op, *args):
    return below(file_index) + below(op) + b''.join(args)


def database_input(pass_name, region, damages=(), arguments=b'', raw=None):
    data = below(PASSES.index(pass_name)) + below(region)
    if raw is not None:
        data += b''.join(double(v) for v in raw)
    return data + below(len(damages)) + b''.join(damages) + arguments


def patch_bytes(data):
    return below(len(data) - 1) + data


def patch(offset_choice, data):
    return below(offset_choice) + patch_bytes(data)


def flag(value):
    return struct.pack('<B', value)


def tile_database_seeds():
    # The pass's own arguments: grid dimensions; shade colours and time; gamma, flags and value.
    dims = below(7) + below(6)
    shade = bytes([0, 20, 55, 40, 0, 105, 180, 140]) + double(14.5)
    post = flag(1) + flag(1)  # gridforge's gamma and flags
    args = {'trn_elevation': dims, 'trn_color': dims, 'trn_shading': shade,
            'trn_color_post': post, 'tintshade': flag(1)}
    for p in PASSES:
        write('tile_database', p + '.bin', database_input(p, 0, arguments=args.get(p, b'')))
    # Files in name order of those the pass works on. Elevation tiles only: 066_161, 067_161.
    # Elevation tiles and level files: 066_161, 066_161_0..5, 067_161, 067_161_0..5.
    write('tile_database', 'shading-over-a-cut-elevation-tile.bin',
          database_input('trn_shading', 0, [damage(2, 0, below(5000))], shade))
    write('tile_database', 'levels-exiting-at-a-directory.bin',
          database_input('trn_levels_exiting', 0, [damage(5, 7)]))
    write('tile_database', 'levels-at-a-removed-tile.bin',
          database_input('trn_levels', 0, [damage(0, 6)]))
    write('tile_database', 'raster-with-a-palette-flag-patched.bin',
          database_input('trn_rasterfile', 4, [damage(0, 1, patch(1028, b'\x00\x00\x00\x00')),
                                                damage(1, 1, patch(2560, b'\xff\x10\x20\x30'))]))
    write('tile_database', 'tileprint-over-patched-posts.bin',
          database_input('tileprint', 0, [damage(1, 3, below(3), below(5), patch_bytes(b'\xfe' * 8))]))
    write('tile_database', 'color-post-illegal-flags.bin',
          database_input('trn_color_post', 0, arguments=flag(0) + flag(0) + int32(0x7)))
    write('tile_database', 'elevation-post-over-a-patched-trailer.bin',
          database_input('trn_elevation_post', 1, [damage(0, 2, patch(17, b'\x80' * 16))]))
    write('tile_database', 'elevation-grid-cut-and-columns-minus-1.bin',
          database_input('trn_elevation', 3, [damage(2, 0, below(7))], below(0) + below(8)))
    write('tile_database', 'color-over-a-directory-tile.bin',
          database_input('trn_color', 2, [damage(0, 7)], dims))
    write('tile_database', 'elevation-region-not-a-number.bin',
          database_input('trn_elevation', REGION_RAW, arguments=dims,
                         raw=[math.nan, 48.0, -122.8, 48.0, -122.83, 48.01, -122.8, 48.01]))
    write('tile_database', 'tintshade-with-levels-over-a-removed-colour-tile.bin',
          database_input('tintshade', 0, [damage(1, 6)], flag(0)))
    # Regions off the globe, each refused by the pass before any file; and one at its edge.
    one_post = 1 / 1200
    for pass_name, corners, arguments in [
            ('trn_shading', [-180.5, 48, -180.4, 48, -180.5, 48.0001, -180.4, 48.0001], shade),
            ('trn_levels', [-123, 90.1, -122.999, 90.1, -123, 90.2, -122.999, 90.2], b''),
            ('trn_rasterfile', [-123, 48, 1e300, 48, -123, 49, -122.9, 49], b''),
            ('trn_color_post', [-123, -math.inf, -122.9, 48, -123, 49, math.inf, 49], post),
            ('trn_elevation_post', [-180 - 0.02 * one_post, 48, -179.99, 48, -180, 48.01, -179.99,
                                    48.01], b''),
            ('trn_levels_exiting', [-123, 48, 400, 48, -123, -95, math.nan, 49], b''),
            ('trn_color', [-180, 48, -179.999, 48, -180, 48.001, -179.999, 48.001], dims)]:
        edge = 'at-the-edge' if pass_name == 'trn_color' else 'off-the-globe'
        write('tile_database', '%s-region-%s.bin' % (pass_name, edge),
              database_input(pass_name, REGION_RAW, arguments=arguments, raw=corners))


# --- the five programs' command lines -----------------------------------------------------------

PROGRAMS = ['demimport', 'gridforge', 'landimport', 'tintshade', 'tileprint']


def runs(*command_lines):
    data = below(len(command_lines) - 1)
    for words in command_lines:
        data += below(PROGRAMS.index(words[0])) + below(len(words) - 1)
        data += b''.join(text(w) for w in words[1:])
    return data


def cmdline_seeds():
    box = ['-122.0', '-121.99', '37.0', '37.01']
    seeds = {
        'demimport-then-tintshade-then-tileprint': runs(
            ['demimport', 'd.dem'], ['tintshade'] + box + ['1'], ['tileprint'] + box + ['d.bmp']),
        'landimport-then-tintshade': runs(
            ['landimport', 'l.ctg', '0', '0', '0', '1', '1'],
            ['tintshade', '-123.01', '-123.0', '48.0', '48.01', '0']),
        'gridforge-bundled': runs(['gridforge', 'g.i16', '48', '49', '-124', '-123', '46', '30',
                                   '14.5']),
        'gridforge-one-post': runs(['gridforge', 'g.i16', '48', '48', '-124', '-124', '46', '30',
                                    '14.5']),
        'gridforge-columns-minus-5': runs(['gridforge', 'g.i16', '48', '49', '-124', '-123', '-5',
                                           '30', '14.5']),
        'gridforge-rows-x-and-minus-2': runs(['gridforge', 'g.i16', '48', '49', '-124', '-123',
                                              'x', '-2', '14.5']),
        'gridforge-usage': runs(['gridforge', 'g.i16', '48', '49']),
        'gridforge-missing-input': runs(['gridforge', 'none', '48', '48', '-124', '-124', '1',
                                         '1', '1']),
        'demimport-usage-and-missing': runs(['demimport'], ['demimport', 'none.dem']),
        'demimport-of-a-grid': runs(['demimport', 'g.i16']),
        'landimport-usage-and-missing': runs(['landimport', 'l.ctg'],
                                             ['landimport', 'none.ctg', '0', '0', '0', '1', '1']),
        'tintshade-tileprint-usage': runs(['tintshade', '1', '1', '1', '1'],
                                          ['tileprint', '1', '1', '1', '1', '1', '1']),
        'tintshade-levels-none': runs(['tintshade', '-123.01', '-123.0', '48.0', '48.01', 'none']),
        'corners-of-the-globe': runs(['tintshade', '179.999', '180', '89.999', '90', '1']),
        'corner-south-west': runs(['tileprint', '-180', '-179.999', '-90', '-89.999', 'c.bmp']),
        # Words that are not numbers, good forms of numbers, and a grid larger than a pass loads.
        'tileprint-not-a-number': runs(['tileprint', '-124', '-l23', '48', '49', 'r.bmp']),
        'gridforge-not-a-number': runs(['gridforge', 'g.i16', '48', '49', '-124', '-123', '4b6',
                                        '30', '1x.5']),
        'tintshade-number-forms': runs(['tintshade', ' -123.01', '-1.23e2', '+48', '4801e-2',
                                        '0.75']),
        'gridforge-grid-too-large': runs(['gridforge', 'g.i16', '48', '49', '-124', '-123',
                                          '100000', '100000', '14.5']),
    }
    # Regions off the globe, as written or as whole degrees.
    for name, bounds in [('-2e9', ['48', '49', '-2e9', '-123']),
                         ('NaN', ['48', '49', 'NaN', '-123']),
                         ('inf', ['48', '49', 'inf', '-123']),
                         ('200', ['48', '49', '-124', '200']),
                         ('-91', ['-91', '49', '-124', '-123']),
                         ('181e-5', ['48', '49', '-124', '181e-5'])]:
        seeds['gridforge-off-the-globe-' + name] = runs(['gridforge', 'g.i16'] + bounds +
                                                        ['46', '30', '14.5'])
    for name, words in [('-1e9', ['tintshade', '-1e9', '0', '48', '48.0001', '0']),
                        ('-95', ['tintshade', '-124', '-123', '-95', '-91', '1']),
                        ('inf', ['tintshade', 'inf', '-inf', '48', '48.0001', '0']),
                        ('nan', ['tintshade', '-124', '-123', '48', 'nan', '1']),
                        ('-1e7', ['tileprint', '-124', '-123', '-1e7', '49', 'out.bmp']),
                        ('180.001', ['tileprint', '179.999', '180.001', '89.999', '90', 'o.bmp']),
                        ('size-1e9', ['landimport', 'l.ctg', '0', '0', '0', '1e9', '1']),
                        ('nan-turn', ['landimport', 'l.ctg', 'nan', '0', '0', '1', '1'])]:
        seeds[words[0] + '-off-the-globe-' + name] = runs(words)
    for name, data in seeds.items():
        write('terrain_cmdline', name + '.bin', data)


def write_all():
    os.makedirs(os.path.join(HERE, 'data'), exist_ok=True)
    dem_seeds()
    ctg_seeds()
    gridforge_seeds()
    tile_database_seeds()
    cmdline_seeds()
