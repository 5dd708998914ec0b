#!/usr/bin/python3
"""HTTP server double that misbehaves in ways no real server does.

Serves the bytes of --file on 127.0.0.1 (port 0: the system picks one,
written to --port-file) and appends one line per request to --record: the
path and the asked start ("-" without Range). The first part of the request
path picks the fault, which every request meets:

  /ignore-range/...   200 and the whole file for every request, kept alive
  /wrong-start/...    answers start 16 KiB after the asked byte, and say so
  /short/...          announces the rest of the file, sends 40000 bytes, closes
  /overlong/...       announces 48 KiB, sends them, then 200 KiB of zeros
  /stall/...          a correct head and 20000 bytes, then silence
  /endless-head/...   header lines that never end
  /bad-range/...      206 with a Content-Range that cannot be
  /gzip/...           the bytes labelled Content-Encoding: gzip
  /chunked/...        a correct chunked body with odd chunk sizes and a
                      Content-Range that names the size
  /redirect-chain/N   302 to /redirect-chain/N+1, for ever
  /no-length/...      200 and the whole file without a length, then closes
"""
import argparse
import os
import re
import socketserver
import threading
import time


def read_head(stream):
    lines = []
    while True:
        line = stream.readline(65536)
        if not line:
            return None
        if line in (b"\r\n", b"\n"):
            return lines
        lines.append(line.decode("latin-1").rstrip("\r\n"))


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        try:
            while self.answer_one():
                pass
        except (BrokenPipeError, ConnectionResetError):
            pass

    def send(self, data):
        self.wfile.write(data)
        self.wfile.flush()

    def head(self, status, lines):
        text = "HTTP/1.1 " + status + "\r\n" + "".join(l + "\r\n" for l in lines) + "\r\n"
        self.send(text.encode("latin-1"))

    def answer_one(self):
        lines = read_head(self.rfile)
        if not lines:
            return False
        path = lines[0].split(" ")[1] if " " in lines[0] else "/"
        fault = path.strip("/").split("/")[0]
        start = None
        for line in lines[1:]:
            match = re.match(r"(?i)range:\s*bytes=(\d+)-", line)
            if match:
                start = int(match.group(1))
        data = self.server.data
        size = len(data)
        with self.server.record_lock:
            with open(self.server.record_path, "a") as record:
                record.write("%s %s\n" % (path.strip("/"), "-" if start is None else start))

        if fault == "redirect-chain":
            hop = int(path.strip("/").split("/")[1]) if path.count("/") > 1 else 0
            self.head("302 Found", ["Location: /redirect-chain/%d" % (hop + 1), "Content-Length: 0"])
            return True
        if fault == "endless-head":
            self.send(b"HTTP/1.1 200 OK\r\n")
            for _ in range(4000):
                self.send(b"X-Padding: " + b"a" * 60 + b"\r\n")
            return False
        if fault == "chunked":
            begin = start or 0
            self.head("206 Partial Content" if start is not None else "200 OK",
                      ["Transfer-Encoding: chunked",
                       "Content-Range: bytes %d-%d/%d" % (begin, size - 1, size)])
            at, step = begin, 1
            while at < size:
                piece = data[at:at + step]
                self.send(b"%x;n=1\r\n" % len(piece) + piece + b"\r\n")
                at += len(piece)
                step = step * 3 + 7 if step < 60000 else 4099
            self.send(b"0\r\nX-Trailer: 1\r\n\r\n")
            return True
        if fault == "no-length":
            self.head("200 OK", ["Connection: close"])
            self.send(data)
            return False
        begin = start or 0
        if fault == "ignore-range":
            self.head("200 OK", ["Content-Length: %d" % size])
            self.send(data)
            return True
        if fault in ("short", "stall", "gzip"):
            lines = ["Content-Length: %d" % (size - begin)]
            if start is not None:
                lines.append("Content-Range: bytes %d-%d/%d" % (begin, size - 1, size))
            if fault == "gzip":
                lines.append("Content-Encoding: gzip")
            self.head("206 Partial Content" if start is not None else "200 OK", lines)
            if fault == "short":
                self.send(data[begin:begin + 40000])
                return False
            if fault == "stall":
                self.send(data[begin:begin + 20000])
                time.sleep(120)
                return False
            self.send(data[begin:])
            return True
        if fault == "wrong-start":
            begin = min(begin + 16384, size - 1)
            self.head("206 Partial Content", ["Content-Length: %d" % (size - begin),
                                              "Content-Range: bytes %d-%d/%d" % (begin, size - 1, size)])
            self.send(data[begin:])
            return True
        if fault == "overlong":
            end = min(begin + 49152, size)
            self.head("206 Partial Content", ["Content-Length: %d" % (end - begin),
                                              "Content-Range: bytes %d-%d/%d" % (begin, end - 1, size)])
            self.send(data[begin:end] + b"\0" * 204800)
            return False
        if fault == "bad-range":
            self.head("206 Partial Content", ["Content-Range: bytes 5-2/1", "Content-Length: 10"])
            self.send(b"0123456789")
            return True
        self.head("404 Not Found", ["Content-Length: 0"])
        return True


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def exit_with_parent():
    """Ends the double when the test that started it is gone, even killed."""
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--record", required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.record_path = args.record
    server.record_lock = threading.Lock()
    with open(args.file, "rb") as source:
        server.data = source.read()
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as out:
        out.write(str(server.server_address[1]))
    os.rename(temporary, args.port_file)
    threading.Thread(target=exit_with_parent, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
