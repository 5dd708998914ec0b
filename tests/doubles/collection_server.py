#!/usr/bin/python3
"""Collection-server double for the download report tests.

Listens on 127.0.0.1 (port 0: the system picks one, written to --port-file),
appends every POST to --record as one line "<path>\t<body>" (the bodies are
form-encoded ASCII), and answers by the first part of the path:

  /accept/...   {"error":0,...}: the batch is taken
  /reject/...   {"error":1,...}: the client must try its next URL
  /stall/...    answers only after 10 s, past the client's 6 s time-out
  /oversize/... 100 KiB of padding, then {"error":0}: past the client's cap
"""
import argparse
import http.server
import os
import threading
import time

ACCEPT = b'{"error":0,"msg":"ok"}'
REJECT = b'{"error":1,"msg":"rejected"}'


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("latin-1")
        with self.server.record_lock:
            with open(self.server.record_path, "a", encoding="latin-1") as record:
                record.write(self.path + "\t" + body + "\n")
        kind = self.path.strip("/").split("/")[0]
        if kind == "stall":
            time.sleep(10)
            answer = ACCEPT
        elif kind == "accept":
            answer = ACCEPT
        elif kind == "oversize":
            answer = b" " * (100 * 1024) + ACCEPT
        else:
            answer = REJECT
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        try:
            self.wfile.write(answer)
        except (BrokenPipeError, ConnectionResetError):
            pass


def exit_with_parent():
    """Ends the double when the test that started it is gone, even killed."""
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--record", required=True)
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.record_path = args.record
    server.record_lock = threading.Lock()
    open(args.record, "w").close()
    temp = args.port_file + ".tmp"
    with open(temp, "w") as out:
        out.write(str(server.server_address[1]))
    os.rename(temp, args.port_file)
    threading.Thread(target=exit_with_parent, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
