#!/usr/bin/python3
"""pyftpdlib run as a library, for what its command line cannot do.

Serves --dir read-only to anonymous users on 127.0.0.1:--port, passive
ports from --passive LO-HI. --record appends one line per command received:
the client's control port, the command and its argument (the password
masked), so a test can tell which control connection asked for what.
--no-rest removes REST from the commands the server knows, as servers
without restart support answer it with 500. --rate paces every transfer to
that many bytes per second.
"""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--passive", required=True)
    parser.add_argument("--record")
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--rate", type=int, default=0)
    args = parser.parse_args()
    logging.basicConfig(level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(args.dir)
    record = open(args.record, "a", buffering=1) if args.record else None

    class Handler(FTPHandler):
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if not (args.no_rest and k == "REST")}

        def pre_process_command(self, line, cmd, arg):
            if record is not None:
                shown = "***" if cmd == "PASS" else (arg or "")
                record.write("%d %s %s\n" % (self.remote_port, cmd, shown))
            super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    if args.rate > 0:
        class Paced(ThrottledDTPHandler):
            write_limit = args.rate

        Handler.dtp_handler = Paced
    low, high = args.passive.split("-")
    Handler.passive_ports = range(int(low), int(high) + 1)
    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
