#!/usr/bin/python3
"""BitTorrent peer double that serves a file correctly but wraps the data in
what a careless or hostile peer sends. Listens on --address:--port; every
connection gets a valid handshake for the --torrent, a full bitfield and an
unchoke, then the --mode decides the rest:

  malformed   before every answer: a have past the pieces, a short have, a
              request off a block boundary, a piece without data, a piece at a
              wrong offset with garbage; the real piece follows
  huge        a message length of 0xffffffff once the first request arrived
  trickle     everything one byte per write
  flood       600 requests for distinct blocks, then serving as usual
  header      an HTTP header that never ends, instead of a handshake
"""
import argparse
import hashlib
import socket
import struct
import threading
import time

import libtorrent


def message(msg_id, payload=b""):
    return struct.pack(">IB", len(payload) + 1, msg_id) + payload


def read_exactly(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


class Peer(threading.Thread):
    def __init__(self, conn, args, content):
        super().__init__(daemon=True)
        self.conn, self.args, self.content = conn, args, content

    def send(self, data):
        if self.args.mode == "trickle":
            for i in range(len(data)):
                self.conn.sendall(data[i:i + 1])
                if i % 64 == 0:
                    time.sleep(0.0005)
        else:
            self.conn.sendall(data)

    def read_handshake(self):
        head = read_exactly(self.conn, 1)
        if head != b"\x13":
            # A disguise header: read up to its blank line.
            while not head.endswith(b"\r\n\r\n"):
                head += read_exactly(self.conn, 1)
            head = read_exactly(self.conn, 1)
        return head + read_exactly(self.conn, 67)

    def run(self):
        try:
            self.serve()
        except (ConnectionError, OSError):
            pass
        finally:
            self.conn.close()

    def serve(self):
        args = self.args
        if args.mode == "header":
            self.conn.sendall(b"HTTP/1.0 200 OK\r\n")
            for _ in range(2000):
                self.conn.sendall(b"X-Filler: 0123456789abcdef\r\n")
                time.sleep(0.001)
            return
        theirs = self.read_handshake()
        info_hash = args.info_hash
        if theirs[28:48] != info_hash:
            return
        pieces = (len(self.content) + args.piece_length - 1) // args.piece_length
        bits = bytearray((pieces + 7) // 8)
        for i in range(pieces):
            bits[i // 8] |= 0x80 >> (i % 8)
        peer_id = b"-HD0001-" + hashlib.sha1(args.mode.encode()).digest()[:12]
        self.send(b"\x13BitTorrent protocol" + bytes(8) + info_hash + peer_id)
        self.send(message(5, bytes(bits)) + message(1))
        if args.mode == "flood":
            flood = b"".join(message(6, struct.pack(">III", 0, 0, n)) for n in range(1, 601))
            self.send(flood)
        buffered = b""
        while True:
            while len(buffered) < 4:
                buffered += self.recv()
            length = struct.unpack(">I", buffered[:4])[0]
            while len(buffered) < 4 + length:
                buffered += self.recv()
            body, buffered = buffered[4:4 + length], buffered[4 + length:]
            if length == 0 or body[0] != 6:
                continue
            index, begin, size = struct.unpack(">III", body[1:13])
            self.answer(index, begin, size, pieces)

    def recv(self):
        chunk = self.conn.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        return chunk

    def answer(self, index, begin, size, pieces):
        mode = self.args.mode
        if mode == "huge":
            self.send(b"\xff\xff\xff\xff\x07")
            return
        start = index * self.args.piece_length + begin
        data = self.content[start:start + size]
        prelude = b""
        if mode == "malformed":
            prelude = (message(4, struct.pack(">I", pieces + 5)) + message(4, b"\x00\x01") +
                       message(6, struct.pack(">III", 0, 100, 16384)) + message(7, struct.pack(">I", index)) +
                       message(7, struct.pack(">II", index, begin + 100) + bytes(len(data))))
        self.send(prelude + message(7, struct.pack(">II", index, begin) + data))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--file", required=True)
    parser.add_argument("--torrent", required=True)
    parser.add_argument("--mode", required=True,
                        choices=["malformed", "huge", "trickle", "flood", "header"])
    args = parser.parse_args()
    info = libtorrent.torrent_info(args.torrent)
    args.info_hash = info.info_hash().to_bytes()
    args.piece_length = info.piece_length()
    with open(args.file, "rb") as f:
        content = f.read()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((args.address, args.port))
    server.listen(16)
    while True:
        conn, _ = server.accept()
        Peer(conn, args, content).start()


if __name__ == "__main__":
    main()
