"""What seeds.py and terrain_seeds.py share: the byte layout that support/FuzzTarget.h reads
(numbers taken modulo a count, bytes, texts) and the writing of a seed into corpus/<target>/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def below(value):
    """FuzzInput::Below: a 32-bit little-endian number taken modulo the count."""
    return struct.pack('<I', value)


def byte(value):
    return struct.pack('<B', value)


def text(value):
    return value.encode('latin-1') + b'\0'


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)
