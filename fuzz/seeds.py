#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets whose input is structured, in the byte
layout that support/FuzzTarget.h and support/FuzzArrays.cpp read. Run it from anywhere; it
rewrites the files it names in corpus/ and leaves every other corpus file alone.

    fuzz/seeds.py
"""
import struct
import sys

sys.dont_write_bytecode = True  # no __pycache__ beside the seeds
from seed_layout import below, byte, text, write  # noqa: E402
import terrain_seeds  # noqa: E402


def value(v):
    """TakeValue: small whole numbers -16..111 in one byte, anything else as a double."""
    if float(v).is_integer() and -16 <= v <= 111:
        return byte(int(v) + 16)
    return byte(0x80) + struct.pack('<d', v)


def matrix(rows, values):
    columns = len(values) // rows if rows else 0
    return byte(0) + below(rows) + below(columns) + b''.join(value(v) for v in values)


def scalar(v):
    return matrix(1, [v])


def char(s):
    return byte(2) + below(0) + below(0) + text(s)


def literal(s):
    return byte(3) + below(0) + below(0) + text(s)


def arrays(*items):
    return below(len(items)) + b''.join(items)


def skycast_call(nlhs, *items):
    return below(nlhs) + arrays(*items)


def skycast_seeds():
    calls = lambda *c: below(len(c) - 1) + b''.join(c)
    initial = matrix(1, [3, -122.0634, 37.981523, 5000.0])
    state = matrix(1, [100.0, 200.0, 15000.0, 5.0, 2.0, 90.0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0])
    write('skycast_args', 'open-transport.bin', calls(skycast_call(0, scalar(5))))
    write('skycast_args', 'open-send-receive.bin',
          calls(skycast_call(0, scalar(5)), skycast_call(0, scalar(1), scalar(1), initial),
                skycast_call(0, scalar(2), scalar(1), state), skycast_call(1, scalar(3))))
    write('skycast_args', 'send-without-connection.bin',
          calls(skycast_call(0, scalar(2), scalar(7), state)))
    write('skycast_args', 'vector-too-long.bin',
          calls(skycast_call(0, scalar(1), scalar(2), matrix(1, list(range(5))))))
    write('skycast_args', 'mode-not-a-number.bin',
          calls(skycast_call(0, scalar(float('nan'))), skycast_call(2, char('open'))))
    write('skycast_args', 'literal-inputs.bin',
          calls(skycast_call(0, literal('int32(1)'), literal('1'), literal('[1 2;3 4]'))))


def steps_of(count, values_per_step):
    return below(count) + b''.join(value(v) for _ in range(count) for v in values_per_step)


def sfun_seeds():
    skypush, cobridge, flightlog, flightcue = (below(i) for i in range(4))
    flight = [100.0, 200.0, 15000.0, 5.0, 2.0, 90.0, 0, 0, 0, 1]
    write('sfun_params', 'skypush.bin',
          skypush + arrays(char('drone'), scalar(20), scalar(3), scalar(37.6), scalar(-122.4),
                           scalar(5000), scalar(1)) + steps_of(3, flight))
    write('sfun_params', 'skypush-long-handle.bin',
          skypush + arrays(char('h' * 40), scalar(20), scalar(-3), scalar(91), scalar(200),
                           scalar(float('nan')), scalar(0)) + steps_of(1, flight))
    write('sfun_params', 'cobridge.bin',
          cobridge + arrays(scalar(3), scalar(2), scalar(4), scalar(3), scalar(0)) +
          steps_of(2, [1.5, -2.5]))
    write('sfun_params', 'cobridge-paced.bin',
          cobridge + arrays(scalar(5), scalar(1), scalar(6), scalar(1), scalar(1)) +
          steps_of(2, [7.0]))
    write('sfun_params', 'cobridge-too-wide.bin',
          cobridge + arrays(scalar(3), scalar(513), scalar(4), scalar(1), scalar(0)) + below(0))
    write('sfun_params', 'flightlog.bin',
          flightlog + arrays(char('run'), scalar(3), scalar(3)) + steps_of(2, [1.0, 1e6, -0.5]))
    write('sfun_params', 'flightlog-name-too-long.bin',
          flightlog + arrays(char('n' * 300), scalar(1), scalar(1)) + steps_of(1, [2.0]))
    write('sfun_params', 'flightcue.bin',
          flightcue + arrays(char('run.cfg'), char('run'), scalar(2)) + steps_of(1, []))
    write('sfun_params', 'wrong-parameter-count.bin', flightcue + arrays(char('run.cfg')))


def shm_seeds():
    private = byte(1)  # the namespace folder 0700
    entry, mutex, lock, backing = (below(i) for i in range(4))
    plain, record, link, folder, pipe, held = (below(i) for i in range(6))
    def channel(count, copies):
        return below(count) + byte(1) + below(copies) + struct.pack('<d', 1.5) * (count * copies)
    def plants(*items):
        return below(len(items)) + b''.join(items)
    live, gone = byte(1), byte(0)
    write('shm_channel', 'channel.bin', private + below(0) + plants() + channel(4, 2))
    write('shm_channel', 'entry-naming-another-users-file.bin',
          private + below(1) + plants(entry + record + byte(0) + text('') + live) + channel(3, 1))
    write('shm_channel', 'entry-naming-the-backing-file.bin',
          private + below(1) + plants(backing + held + below(4096) + live,
                                      entry + record + byte(1) + text('') + live) + channel(3, 1))
    write('shm_channel', 'backing-file-a-link.bin',
          private + below(2) + plants(backing + link + byte(0) + gone) + channel(2, 1))
    write('shm_channel', 'entry-a-link-held-live.bin',
          private + below(0) + plants(backing + held + below(100) + live,
                                      entry + link + byte(1) + live) + channel(5, 1))
    write('shm_channel', 'garbage-entry-held-live.bin',
          private + below(0) + plants(entry + plain + text('x' * 9) + struct.pack('<H', 0o600) +
                                      live) + channel(8, 1))
    write('shm_channel', 'namespace-open-to-others.bin',
          byte(0) + struct.pack('<H', 0o777) + below(0) + plants() + channel(4, 1))
    write('shm_channel', 'lock-files-folders-and-pipes.bin',
          private + below(1) + plants(mutex + folder, lock + pipe) + channel(4, 1))
    write('shm_channel', 'count-beyond-the-view.bin', private + below(0) + plants() +
          below(513) + byte(0) + below(512) + below(0))


if __name__ == '__main__':
    skycast_seeds()
    sfun_seeds()
    shm_seeds()
    terrain_seeds.write_all()
