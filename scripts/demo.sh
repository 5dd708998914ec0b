#!/usr/bin/env bash
# The demo: builds the downloader, makes a small game package (an installer
# script and five volumes of random data, with torrents), serves it from
# nginx on 127.0.0.1 (slowed, so that peers matter) and from two aria2c
# seeders on 127.0.0.2 and 127.0.0.3 holding the volumes, found through
# opentracker, stamps quarrowlight-cli with it and with a resource list its
# nginx serves, and downloads, verifies and installs it. Nothing leaves this
# machine and nothing keeps running afterwards. QL_DEMO_VOLUME_MIB sets the
# size of each volume (default 60);
# QL_DEMO_KEEP=1 keeps the work folder.
#
# --window does the same with the window, quarrowlight: on your desktop you
# click Start and Install yourself; without a DISPLAY it runs under Xvfb,
# xdotool clicks, and the screenshots are kept in
# build/release/test-artifacts/window/demo-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

window=0
case "${1:-}" in
  "") ;;
  --window) window=1 ;;
  *) echo "usage: scripts/demo.sh [--window]" >&2; exit 2 ;;
esac

volume_mib=${QL_DEMO_VOLUME_MIB:-60}
# Each connection to nginx is held to this, so that servers and peers both count.
server_kib=2048
[[ "$volume_mib" =~ ^[1-9][0-9]*$ ]] || { echo "demo: QL_DEMO_VOLUME_MIB must be a whole number of MiB" >&2; exit 2; }

echo "== set-up and build"
scripts/setup.sh
cmake --preset release >/dev/null
targets=(quarrowlight-cli qlpack)
[ "$window" = 1 ] && targets+=(quarrowlight qlscreengrab)
cmake --build --preset release -j "$(nproc)" --target "${targets[@]}" >/dev/null
bin="$repo/build/release"

work=$(mktemp -d /tmp/quarrowlight-demo.XXXXXX)
# Every server and peer the demo starts, stopped by its own id at the end.
pids=()
window_pid=
xvfb_pid=
cleanup() {
  for pid in $window_pid $xvfb_pid "${pids[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid"
      wait "$pid" 2>/dev/null || true
    fi
  done
  if [ "${QL_DEMO_KEEP:-}" = 1 ]; then
    echo "demo: work folder kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

echo "== making the package in $work/package"
package="$work/package"
mkdir -p "$package" "$work/save" "$work/data" "$work/desktop"
installer=VRNH_Setup_demo.sh
cat >"$package/$installer" <<'EOF'
#!/bin/sh
# The demo installer: says so and leaves a marker beside itself.
echo "Varnholm installer: all five volumes are in place, installing."
date >"$(dirname "$0")/installed.marker"
EOF
volumes=()
for i in 1 2 3 4 5; do
  name="VRNH_Data.7z.00$i"
  head -c "$((volume_mib * 1048576 + i * 4099))" /dev/urandom >"$package/$name"
  volumes+=("$name")
done

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
port=$(free_port)
base="http://127.0.0.1:$port"
tracker_port=$(free_port)
announce="http://127.0.0.1:$tracker_port/announce"

# The volumes' torrents announce to the demo's tracker; the seeders hold the
# same torrents. opentracker drops to nobody: its list must be readable.
mkdir -p "$work/torrents"
chmod 755 "$work" "$work/torrents"
for name in "${volumes[@]}"; do
  mktorrent -l 20 -a "$announce" -o "$work/torrents/$name.torrent" "$package/$name" >/dev/null
  aria2c -S "$work/torrents/$name.torrent" | awk '/^Info Hash:/ { print $3 }'
done >"$work/torrents/whitelist"
chmod 644 "$work/torrents/whitelist"
# The publisher's resource list, served beside the package: P2P on, the
# build not expired, no extra mirrors.
cat >"$package/resources.xml" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<project>
  <configs>
    <p2p-switch>on</p2p-switch>
    <expire-info><expired>false</expired></expire-info>
  </configs>
  <resources/>
</project>
EOF
{
  echo "[package]"
  echo "announce = $announce"
  echo "resource_list_url = $base/resources.xml"
  echo "[file0]"
  echo "name = $installer"
  echo "url = $base/$installer"
  echo "path = $installer"
  i=1
  for name in "${volumes[@]}"; do
    echo "[file$i]"
    echo "name = $name"
    echo "url = $base/$name"
    echo "path = $name"
    echo "torrent = $work/torrents/$name.torrent"
    i=$((i + 1))
  done
} >"$package/package.ini"

echo "== serving it from nginx on 127.0.0.1:$port at $server_kib KiB/s a connection"
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/client_body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $package;
    limit_rate ${server_kib}k;
  }
}
EOF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
pids+=($!)
for _ in $(seq 100); do
  curl -s -o /dev/null "$base/$installer" && break
  sleep 0.05
done

echo "== opentracker on 127.0.0.1:$tracker_port, aria2c seeders of the volumes on 127.0.0.2 and 127.0.0.3"
/usr/bin/opentracker -i 127.0.0.1 -p "$tracker_port" -P "$tracker_port" -w "$work/torrents/whitelist" \
  >"$work/opentracker.log" 2>&1 &
pids+=($!)
if ! python3 "$repo/scripts/demo_tracker_wait.py" loaded "$tracker_port" "$work/torrents/whitelist"; then
  echo "demo: opentracker did not take the torrents" >&2
  exit 1
fi
for n in 2 3; do
  /usr/bin/aria2c --dir="$package" --interface="127.0.0.$n" --listen-port="$(free_port)" --seed-ratio=0.0 \
    --bt-seed-unverified=true --bt-tracker-interval=1 --enable-dht=false --bt-enable-lpd=false \
    --enable-peer-exchange=false --quiet=true "$work"/torrents/*.torrent >"$work/seeder-$n.log" 2>&1 &
  pids+=($!)
done
# The probe is listed too, at 127.0.0.1, which the engine never dials.
if ! python3 "$repo/scripts/demo_tracker_wait.py" seeded "$tracker_port" "$work/torrents/whitelist"; then
  echo "demo: the seeders never reached the tracker" >&2
  exit 1
fi

echo "== stamping quarrowlight-cli with the package"
"$bin/tools/qlpack" "$package/package.ini" "$bin/cli/quarrowlight-cli" "$work/quarrowlight-cli"
chmod +x "$work/quarrowlight-cli"

# This machine's stand-in for the desktop's handler of a script that is not
# executable: the downloaded installer is handed to xdg-open.
cat >"$work/desktop/xdg-open" <<'EOF'
#!/bin/sh
exec sh "$1"
EOF
chmod +x "$work/desktop/xdg-open"

echo "== downloading, verifying and installing"
start=$(date +%s.%N)
status=0
if [ "$window" = 1 ]; then
  "$bin/tools/qlpack" "$package/package.ini" "$bin/ui/quarrowlight" "$work/quarrowlight" >/dev/null
  chmod +x "$work/quarrowlight"
  source scripts/demo_window.sh
  run_window || status=$?
else
  # The display (standard error) is kept for the summary; through tee it
  # prints a line every few seconds instead of redrawing one block.
  set +e
  (
    cd "$work"
    PATH="$work/desktop:$PATH" \
    QUARROWLIGHT_DATA_HOME="$work/data" \
    QUARROWLIGHT_FAKE_SHUTDOWN=1 \
    QUARROWLIGHT_RENDEZVOUS=off QUARROWLIGHT_LAN=off QUARROWLIGHT_UPNP=off \
      ./quarrowlight-cli --save-dir "$work/save" --verify --install
  ) 2>&1 | tee "$work/cli.log"
  status=${PIPESTATUS[0]}
  set -e
fi
end=$(date +%s.%N)

echo "== summary"
bytes=0
mismatches=0
for name in "$installer" "${volumes[@]}"; do
  bytes=$((bytes + $(stat -c %s "$package/$name")))
  want=$(md5sum <"$package/$name" | cut -d' ' -f1)
  got=$(md5sum <"$work/save/$name" 2>/dev/null | cut -d' ' -f1 || true)
  if [ "$want" = "$got" ]; then
    echo "  MD5 ok        $name  $want"
  else
    echo "  MD5 MISMATCH  $name  expected $want, got ${got:-nothing}"
    mismatches=$((mismatches + 1))
  fi
done
python3 - "$start" "$end" "$bytes" <<'EOF'
import sys
start, end, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
seconds = max(end - start, 1e-3)
print(f"  package {size / 1048576:.1f} MiB in {seconds:.1f} s (download and check), "
      f"average {size / 1048576 / seconds:.1f} MiB/s")
EOF
# The last total line says where the bytes came from (-a: the status texts
# are not ASCII, and grep would take the log for binary).
# The window shows them on screen only.
sources_ok=1
if [ "$window" = 0 ]; then
  total=$(grep -a '^total' "$work/cli.log" | tail -n 1 || true)
  from_servers=$(sed -n 's/.*  servers \(.*\)  peers .*/\1/p' <<<"$total")
  from_peers=$(sed -n 's/.*  peers \(.*\)$/\1/p' <<<"$total")
  echo "  bytes from servers: ${from_servers:-unknown}, from peers: ${from_peers:-unknown}"
  for amount in "$from_servers" "$from_peers"; do
    if [ -z "$amount" ] || [ "$amount" = "0 B" ]; then
      sources_ok=0
      echo "  one kind of source delivered nothing"
    fi
  done
fi
if [ -f "$work/save/installed.marker" ]; then
  echo "  installer ran: $work/save/installed.marker"
else
  echo "  installer did not run"
fi
if [ "$status" -ne 0 ] || [ "$mismatches" -ne 0 ] || [ ! -f "$work/save/installed.marker" ] ||
   [ "$sources_ok" -ne 1 ]; then
  echo "demo: FAILED (exit $status)"
  exit 1
fi
echo "demo: done"
