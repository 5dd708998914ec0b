#!/usr/bin/python3
"""Fetches a torrent with libtorrent from one given peer, on loopback only
(no DHT, LSD, UPnP, NAT-PMP, uTP or encryption); exits 0 once the download
is complete, 1 when it is not within --limit seconds.
"""
import argparse
import time

import libtorrent as lt


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--torrent", required=True)
    parser.add_argument("--save", required=True)
    parser.add_argument("--interface", required=True)
    parser.add_argument("--peer", required=True, help="a.b.c.d:port")
    parser.add_argument("--limit", type=int, default=100)
    args = parser.parse_args()
    session = lt.session({
        "listen_interfaces": args.interface + ":0",
        "outgoing_interfaces": args.interface,
        "enable_dht": False, "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        "enable_outgoing_utp": False, "enable_incoming_utp": False,
        "out_enc_policy": lt.enc_policy.disabled, "in_enc_policy": lt.enc_policy.disabled,
        "allow_multiple_connections_per_ip": True,
    })
    handle = session.add_torrent({"ti": lt.torrent_info(args.torrent), "save_path": args.save})
    host, port = args.peer.rsplit(":", 1)
    handle.connect_peer((host, int(port)))
    deadline = time.time() + args.limit
    while time.time() < deadline:
        status = handle.status()
        if status.is_seeding:
            print("complete: %d bytes" % status.total_done)
            return 0
        time.sleep(0.2)
    print("incomplete: %d bytes, %d peers" % (handle.status().total_done, handle.status().num_peers))
    return 1


if __name__ == "__main__":
    raise SystemExit(main())
