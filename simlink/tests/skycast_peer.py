#!/usr/bin/env python3
"""Independent socket peer for the skycast Octave test.

  skycast_peer.py run OCTAVE MEXDIR SCRIPT   join the group, run SCRIPT in OCTAVE, then check
                                             every packet skycast sent, byte by byte
  skycast_peer.py send NAME STATE LON LAT ALT PITCH ROLL HEADING
                                             send one packet carrying these codes

Both run only inside the loopback-only network namespace.
"""
import fcntl
import math
import os
import socket
import struct
import subprocess
import sys

GROUP = "224.0.5.20"
PORT = 2267
PACKET_SIZE = 304


def require_loopback_only():
    """Refuses to run where an interface other than loopback is up in this network namespace."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    up = []
    for _, name in socket.if_nameindex():
        request = struct.pack("16sH14x", name.encode(), 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(probe, 0x8913, request))[1]  # SIOCGIFFLAGS
        if flags & 0x1 and not flags & 0x8:  # IFF_UP and not IFF_LOOPBACK
            up.append(name)
    probe.close()
    if up:
        sys.exit("skycast_peer: interfaces other than loopback are up (%s); refusing" % up)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def i32(u):
    u &= 0xFFFFFFFF
    return u - (1 << 32) if u & 0x80000000 else u


def code(x):
    return i32(math.trunc(x))


def longitude_factor(lat_code):
    return 1.0 - abs(lat_code * 1.130280671e-9 - 1.0)


class Sender:
    """The sending side as the packet format defines it, written from the format alone."""

    def __init__(self, name, craft, lon, lat, alt, count):
        self.name = name.encode()
        self.craft = craft
        self.count = count
        self.origin_lon = code((f32(lon) + 180.0) * 9830400.0)
        self.origin_lat = code((f32(lat) + 90.0) * 9830400.0)

    def codes(self, north, east, alt, roll, pitch, heading):
        lat = code(north * 26.91521512 + self.origin_lat)
        lon = code(east * 26.91521512 / longitude_factor(lat) + self.origin_lon)
        return dict(lon=lon, lat=lat, alt=code(f32(alt) * 26.91521512),
                    pitch=code(f32(pitch) * 182.0444444), roll=code(f32(roll) * 182.0444444),
                    heading=code(f32(heading) * -182.0444444))


def build_packet(name, craft, state, c, ident=0, rates=(0.0,) * 9):
    p = bytearray(PACKET_SIZE)
    p[4:4 + len(name)] = name
    p[36:40] = b"none"
    p[40:46] = bytes([p[5], p[4], p[39], p[38], p[37], p[36]])
    struct.pack_into(">H", p, 46, 20)
    struct.pack_into(">ii", p, 48, ident, ident)
    struct.pack_into(">i", p, 56, -1)
    struct.pack_into(">i", p, 76, craft)
    p[80] = state
    struct.pack_into(">i", p, 88, 0x7FFE07FF)
    struct.pack_into(">iii", p, 100, c["lon"], c["lat"], c["alt"])
    struct.pack_into(">6f", p, 112, *rates[:6])
    struct.pack_into(">iii", p, 136, c["pitch"], c["roll"], c["heading"])
    struct.pack_into(">3f", p, 148, *rates[6:])
    return bytes(p)


RATE_BYTES = set(range(112, 136)) | set(range(148, 160))
TICK_BYTE = 50  # high byte of the 16-bit identifier: the low byte of the tick count


def compare(label, got, want, skip=()):
    bad = [i for i in range(PACKET_SIZE) if i not in skip and got[i] != want[i]]
    if bad:
        print("FAIL %s: wire bytes %s differ: got %s want %s" % (
            label, bad[:8], got[bad[0]:bad[0] + 8].hex(), want[bad[0]:bad[0] + 8].hex()))
        return False
    return True


def check_rates(label, packet, before, after):
    """The interval is unknown to the peer: every rate must imply the same one."""
    lon_r, lat_r, alt_r, lon_a, lat_a, alt_a = struct.unpack_from(">6f", packet, 112)
    pitch_r, roll_r, head_r = struct.unpack_from(">3f", packet, 148)
    if lat_r == 0.0:
        print("FAIL %s: no latitude rate" % label)
        return False
    t = (after["lat"] - before["lat"]) / lat_r
    pairs = [(lon_r, (after["lon"] - before["lon"]) / t), (alt_r, (after["alt"] - before["alt"]) / t),
             (pitch_r, (after["pitch"] - before["pitch"]) / t),
             (roll_r, (after["roll"] - before["roll"]) / t),
             (head_r, (after["heading"] - before["heading"]) / t),
             (lon_a, lon_r / t), (lat_a, lat_r / t), (alt_a, alt_r / t)]
    ok = 0.0 < t < 30.0 and all(math.isclose(g, w, rel_tol=1e-5) for g, w in pairs)
    if not ok:
        print("FAIL %s: rates do not share one interval (t=%g): %s" % (label, t, pairs))
    return ok


def check_packets(packets):
    if len(packets) != 5:
        print("FAIL expected 5 packets from skycast, received %d" % len(packets))
        return False
    ok = True
    ident = packets[0][52:56]
    ok &= ident == packets[0][48:52] and ident[0:2] == b"\0\0" and ident[3] == 1
    if not ok:
        print("FAIL identifiers of the first vehicle: %s" % packets[0][48:56].hex())

    # skycast(1, 7, 3) then skycast(2, 7, [0 0 5000]): the reference position, rates 0.
    first = Sender("airhost_01", 3, -122.0634, 37.981523, 5000.0, 1)
    a = first.codes(0, 0, 5000, 0, 0, 0)
    ok &= a["lon"] == 569539950 and a["lat"] == 1258109550 and a["alt"] == 134576
    want_a = build_packet(first.name, 3, 0, a, i32(int.from_bytes(ident, "big")))
    ok &= compare("first send", packets[0], want_a)

    # skycast(2, 7, [100 200 6000 10 5 90 1 2 3 126.9 ...]): roll 10, pitch 5, heading 90.
    b = first.codes(100, 200, 6000, 10, 5, 90)
    want_b = build_packet(first.name, 3, 126, b, i32(int.from_bytes(ident, "big")))
    ok &= compare("second send", packets[1], want_b, RATE_BYTES)
    ok &= check_rates("second send", packets[1], a, b)

    # skycast(1, 7, [3 -100 40]) replaces the vehicle; skycast(2, 7, 100) moves it 100 ft north.
    second = Sender("airhost_02", 3, -100.0, 40.0, 5000.0, 2)
    c = second.codes(100, 0, 0, 0, 0, 0)
    ident2 = packets[2][52:56]
    want_c = build_packet(second.name, 3, 0, c, i32(int.from_bytes(ident2, "big")))
    ok &= ident2[3] == 2 and compare("replaced vehicle", packets[2], want_c, RATE_BYTES | {TICK_BYTE})

    # skycast(2.9, 7, [0 0]) sends on connection 7; six inputs open "airhost_03".
    names = (packets[3][4:15], packets[4][4:15])
    if names != (b"airhost_02\0", b"airhost_03\0"):
        print("FAIL names of the fourth and fifth packets: %r" % (names,))
        ok = False
    return ok


def run(octave, mexdir, script):
    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    rx.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    rx.bind(("", PORT))
    rx.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                  socket.inet_aton(GROUP) + socket.inet_aton("127.0.0.1"))
    env = dict(os.environ, SKYCAST_PEER=os.path.abspath(__file__))
    result = subprocess.run([octave, "--no-gui", "--norc", "--quiet", "--eval",
                             "addpath('%s'); addpath('%s'); run('%s');" % (
                                 mexdir, os.path.dirname(os.path.abspath(script)),
                                 os.path.abspath(script))], env=env)
    octave_ok = result.returncode == 0
    if not octave_ok:
        print("FAIL octave exited with status %d" % result.returncode)
    rx.setblocking(False)
    packets = []
    while True:
        try:
            data = rx.recv(2048)
        except BlockingIOError:
            break
        name = data[4:12]
        if len(data) == PACKET_SIZE and name.startswith(b"airhost_"):
            packets.append(data)
    return 0 if check_packets(packets) and octave_ok else 1


def send(name, state, lon, lat, alt, pitch, roll, heading):
    c = dict(lon=int(lon), lat=int(lat), alt=int(alt), pitch=int(pitch), roll=int(roll),
             heading=int(heading))
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    tx.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    tx.sendto(build_packet(name.encode(), 1, int(state), c, 0x0101), (GROUP, PORT))
    return 0


if __name__ == "__main__":
    require_loopback_only()
    if len(sys.argv) == 5 and sys.argv[1] == "run":
        sys.exit(run(*sys.argv[2:]))
    if len(sys.argv) == 10 and sys.argv[1] == "send":
        sys.exit(send(*sys.argv[2:]))
    sys.exit(__doc__)
