#!/usr/bin/python3
"""Moves N MiB of seeded bytes from a libtorrent seeder to a libtorrent
leecher over uTP alone (TCP switched off both ways), on 127.0.0.1, with the
data on tmpfs; no DHT, LSD, UPnP or NAT-PMP. Prints the leecher's rate as
"uTP: N bytes in S s: R MB/s"; exits 0 when the leecher completed within
--limit seconds, 1 otherwise.
"""
import argparse
import os
import random
import shutil
import tempfile
import time

import libtorrent as lt

PIECE = 1 << 18


def session(port):
    return lt.session({
        "listen_interfaces": "127.0.0.1:%d" % port,
        "outgoing_interfaces": "127.0.0.1",
        "enable_dht": False, "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        "enable_outgoing_tcp": False, "enable_incoming_tcp": False,
        "enable_outgoing_utp": True, "enable_incoming_utp": True,
        "out_enc_policy": lt.enc_policy.disabled, "in_enc_policy": lt.enc_policy.disabled,
        "allow_multiple_connections_per_ip": True,
        "alert_mask": 0,
    })


def make_torrent(folder, size):
    path = os.path.join(folder, "seed", "data.bin")
    os.makedirs(os.path.dirname(path))
    generator = random.Random(42)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            chunk = min(left, 1 << 20)
            out.write(generator.randbytes(chunk))
            left -= chunk
    files = lt.file_storage()
    lt.add_files(files, path)
    maker = lt.create_torrent(files, PIECE)
    lt.set_piece_hashes(maker, os.path.dirname(path))
    return lt.torrent_info(lt.bencode(maker.generate()))


def wait(predicate, deadline):
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--seed-port", type=int, required=True)
    parser.add_argument("--leech-port", type=int, required=True)
    parser.add_argument("--limit", type=int, default=600)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="ql_utp_", dir="/dev/shm")
    try:
        size = args.mib << 20
        info = make_torrent(folder, size)
        seeder = session(args.seed_port)
        seeding = seeder.add_torrent({"ti": info, "save_path": os.path.join(folder, "seed")})
        leecher = session(args.leech_port)
        leeching = leecher.add_torrent({"ti": lt.torrent_info(info), "save_path": os.path.join(folder, "leech")})
        deadline = time.time() + args.limit
        if not wait(lambda: seeding.status().is_seeding, deadline):
            print("the seeder never checked its data")
            return 1
        start = time.time()
        leeching.connect_peer(("127.0.0.1", args.seed_port))
        if not wait(lambda: leeching.status().is_seeding, deadline):
            status = leeching.status()
            print("incomplete: %d bytes, %d peers" % (status.total_done, status.num_peers))
            return 1
        seconds = time.time() - start
        print("uTP: %d bytes in %.3f s: %.1f MB/s" % (size, seconds, size / seconds / 1e6))
        return 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    raise SystemExit(main())
