#!/usr/bin/env python3
"""Writes the zlib fixtures of the package tests: streams made by another compressor (Python's
zlib module) whose block layout is fixed by construction, so the tests can name the exact
progress reports each must give. Run from any folder; it writes next to itself. The outputs
are committed: regenerating them with another zlib may change bytes, not the layout."""
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def payload():
    # A file header (attributes, three FILETIMEs) and text with enough repetition to compress.
    rng = random.Random(1234)
    words = ["setup", "package", "entry", "stream", "block", "window", "list", "file",
             "progress", "bar", "folder", "program", "support", "bytes", "zlib"]
    text = " ".join(rng.choice(words) for _ in range(600)).encode()[:3000]
    head = struct.pack("<IQQQ", 0x20, 0x01D0000000000000, 0x01D0000000000001, 0x01D0000000000002)
    return head + text


def chunked(data, cuts, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    """Compresses data with a sync flush at each cut: every chunk ends one block, followed by
    the empty stored block the flush appends; the last chunk becomes the final block."""
    c = zlib.compressobj(level, zlib.DEFLATED, 15, 8, strategy)
    out, start = b"", 0
    for cut in cuts:
        out += c.compress(data[start:cut]) + c.flush(zlib.Z_SYNC_FLUSH)
        start = cut
    return out + c.compress(data[start:]) + c.flush(zlib.Z_FINISH)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


p = payload()
write("payload.bin", p)
write("stored_level0.zz", chunked(p, [300, 800], 0))
write("fixed_chunks.zz", chunked(p, [1000, 2000], 6, zlib.Z_FIXED))
write("dynamic_chunks.zz", chunked(p, [1500], 9))
write("empty.zz", zlib.compress(b""))
c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, zlib.Z_DEFAULT_STRATEGY, zdict=b"setup package entry")
write("dictionary.zz", c.compress(p) + c.flush())
# A package found by fuzzing (137 bytes): its list entry does not inflate, and its second
# entry declares 1,788,172,700 inflated and 1,651,010,408 stored bytes of which 34 are there,
# the rest read as zeros that its last Huffman code turns into output without end.
write("list_bad_then_zero_tail_bomb.001", bytes.fromhex(
    "5a4b0002960000005300000078da5360c00dbc532b0d6d79b98094118432865026"
    "10ca14429941287320159ca7646a686b686202611ad91a5958f072b965e6a416db"
    "1ae6219a87681ea27988e6809411843386502610ca14429941287320159c59956a"
    "686b686278da75c8b10d80300c044046f9d59cc8a0280622db144c6f8aafb9f2aa"
    "aa87010203"))
