#!/usr/bin/python3
"""Tracker double for answers no real tracker sends.

Listens on 127.0.0.1, one port per fault (the system picks them), and
writes "name port" lines to --port-file once all are open. Every answer
names one peer of its own, 127.0.0.N:600N, so a test sees which answers a
client took:

  nolength   HTTP: compact peers, no Content-Length, NUL bytes in the body,
             the close ends it                                  -> 127.0.0.11
  split      HTTP: Content-Length, the body sent in three parts with pauses
                                                                 -> 127.0.0.12
  gzip       HTTP: the body gzip-coded                           -> 127.0.0.13
  dict       HTTP: dictionary peers, one of them unusable        -> 127.0.0.14
  redirect   HTTP: 302 with a bencoded body naming a peer        (127.0.0.15,
             never to be taken)
  html       HTTP: 200 with an HTML page                         (no peer)
  udp        UDP: every fault of the exchange before the right answer:
             a connect answer one byte short, one with a foreign
             transaction id, one from another port; then the right one; to
             the announce an answer one byte short, then the right one
                                                                 -> 127.0.0.16
"""
import argparse
import gzip
import os
import socket
import socketserver
import struct
import threading
import time


def compact(n):
    return socket.inet_aton("127.0.0.%d" % n) + struct.pack(">H", 6000 + n)


def bencoded_compact(n):
    peers = compact(n)
    return b"d8:intervali900e5:peers" + str(len(peers)).encode() + b":" + peers + b"e"


def dictionary_peers():
    good = b"d2:ip10:127.0.0.144:porti6014e7:peer id20:-XX0001-abcdefghijkle"
    bad = b"d2:ip9:127.0.0.84:porti0ee"
    return b"d8:intervali900e5:peersl" + good + bad + b"ee"


def http_handler(fault):
    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            while True:
                line = self.rfile.readline(65536)
                if not line or line in (b"\r\n", b"\n"):
                    break
            try:
                self.answer()
            except (BrokenPipeError, ConnectionResetError):
                pass

        def send(self, data):
            self.wfile.write(data)
            self.wfile.flush()

        def answer(self):
            if fault == "nolength":
                self.send(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + bencoded_compact(11))
            elif fault == "split":
                body = bencoded_compact(12)
                self.send(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
                for part in (body[:9], body[9:25], body[25:]):
                    time.sleep(0.3)
                    self.send(part)
            elif fault == "gzip":
                body = gzip.compress(bencoded_compact(13))
                self.send(b"HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n\r\n" % len(body)
                          + body)
            elif fault == "dict":
                body = dictionary_peers()
                self.send(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            elif fault == "redirect":
                body = bencoded_compact(15)
                self.send(b"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:9/announce\r\nContent-Length: %d\r\n\r\n"
                          % len(body) + body)
            elif fault == "html":
                self.send(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>busy</body></html>")

    return Handler


def serve_udp(sock, other):
    connection_id = b"FAKECID!"
    while True:
        data, source = sock.recvfrom(2048)
        if len(data) == 16:
            tx = data[12:16]
            sock.sendto(struct.pack(">I", 0) + tx + connection_id[:7], source)
            sock.sendto(struct.pack(">I", 0) + bytes(b ^ 0xFF for b in tx) + connection_id, source)
            other.sendto(struct.pack(">I", 0) + tx + connection_id, source)
            time.sleep(0.05)
            sock.sendto(struct.pack(">I", 0) + tx + connection_id, source)
        elif len(data) >= 98 and data[:8] == connection_id:
            tx = data[12:16]
            sock.sendto(struct.pack(">I", 1) + tx + b"\0\0\3\x84\0\0\0\0\0\0\0", source)
            time.sleep(0.05)
            sock.sendto(struct.pack(">I", 1) + tx + b"\0\0\3\x84\0\0\0\0\0\0\0\1" + compact(16), source)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()
    lines = []
    for fault in ("nolength", "split", "gzip", "dict", "redirect", "html"):
        server = Server(("127.0.0.1", 0), http_handler(fault))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append("%s %d" % (fault, server.server_address[1]))
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 0))
    other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    other.bind(("127.0.0.1", 0))
    lines.append("udp %d" % udp.getsockname()[1])
    with open(args.port_file + ".part", "w") as out:
        out.write("\n".join(lines) + "\n")
    os.rename(args.port_file + ".part", args.port_file)
    serve_udp(udp, other)


if __name__ == "__main__":
    main()
