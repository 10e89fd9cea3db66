#!/usr/bin/env python3
"""An echo peer written from the chunk format alone, to prove that the
console's echo client and server speak it.

A chunk is a 12-byte header of three unsigned 32-bit little-endian fields
(chunk id counting from 0, body length, CRC-32 of the body as zlib computes
it) followed by the body. The server sends each chunk back unchanged; the
client checks that every chunk comes back as it went out.

    echo_peer.py server <port path> <idle seconds>
    echo_peer.py client <port path> <total bytes> <largest chunk>
"""
import os
import random
import select
import struct
import sys
import time
import tty
import zlib

HEAD = struct.Struct("<III")


def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    # The test starts the other side only once the port is open.
    print("PY-READY", flush=True)
    return fd


def read_exact(fd, count, idle_seconds):
    data = b""
    while len(data) < count:
        ready, _, _ = select.select([fd], [], [], idle_seconds)
        if not ready:
            return None
        piece = os.read(fd, count - len(data))
        if not piece:
            return None
        data += piece
    return data


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def serve(path, idle_seconds):
    fd = open_raw(path)
    chunks = total = bad_crc = bare = 0
    ids_in_order = True
    # Body words read big-endian: with a start sequence they count up by one
    # across chunk borders.
    first_word = None
    previous_word = None
    counting = True
    while True:
        # The client may take a while to come; once it runs, silence ends the test.
        head = read_exact(fd, HEAD.size, idle_seconds if chunks else max(idle_seconds, 20))
        if head is None:
            break
        chunk_id, length, crc = HEAD.unpack(head)
        body = read_exact(fd, length, idle_seconds) if length else b""
        if body is None:
            break
        if zlib.crc32(body) != crc:
            bad_crc += 1
        if chunk_id != chunks:
            ids_in_order = False
        if length == 0:
            bare += 1
        for at in range(0, length - length % 4, 4):
            word = struct.unpack(">I", body[at:at + 4])[0]
            if first_word is None:
                first_word = word
            elif word != (previous_word + 1) & 0xFFFFFFFF:
                counting = False
            previous_word = word
        write_all(fd, head + body)
        chunks += 1
        total += HEAD.size + length
    first = "none" if first_word is None else f"{first_word:08X}"
    print(f"PY-SERVER echoed chunks={chunks} bytes={total} bad_crc={bad_crc} bare={bare} "
          f"ids_in_order={ids_in_order} first_word={first} counting={counting}", flush=True)
    return 0 if chunks > 0 and bad_crc == 0 else 1


def client(path, target, largest):
    fd = open_raw(path)
    rng = random.Random(1234)
    sent = chunk_id = 0
    while sent < target:
        size = rng.randint(HEAD.size, largest)
        body = bytes(rng.getrandbits(8) for _ in range(size - HEAD.size))
        chunk = HEAD.pack(chunk_id, len(body), zlib.crc32(body)) + body
        write_all(fd, chunk)
        back = read_exact(fd, len(chunk), 10)
        if back != chunk:
            print(f"PY-CLIENT mismatch at chunk {chunk_id}", flush=True)
            return 1
        sent += len(chunk)
        chunk_id += 1
    print(f"PY-CLIENT OK chunks={chunk_id} bytes={sent}", flush=True)
    return 0


def main(argv):
    if len(argv) >= 4 and argv[1] == "server":
        return serve(argv[2], float(argv[3]))
    if len(argv) >= 5 and argv[1] == "client":
        return client(argv[2], int(argv[3]), int(argv[4]))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
