#!/usr/bin/python3
"""HTTP tracker double: answers every announce with the same compact list of
peers, so that real BitTorrent clients find the peer under test without a
real tracker. Listens on 127.0.0.1 (port 0: the system picks one, written to
--port-file).
"""
import argparse
import http.server
import os
import socket
import struct


def compact(peers):
    out = b""
    for peer in peers:
        host, port = peer.rsplit(":", 1)
        out += socket.inet_aton(host) + struct.pack(">H", int(port))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--peer", action="append", default=[], help="a.b.c.d:port")
    args = parser.parse_args()
    peers = compact(args.peer)
    answer = b"d8:intervali60e5:peers" + str(len(peers)).encode() + b":" + peers + b"e"

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *unused):
            pass

    server = http.server.HTTPServer(("127.0.0.1", args.port), Handler)
    if args.port_file:
        with open(args.port_file + ".part", "w") as f:
            f.write(str(server.server_address[1]))
        os.rename(args.port_file + ".part", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
