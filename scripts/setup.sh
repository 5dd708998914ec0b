#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the benchmarks need
# and is missing. Idempotent; prints nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev libcurl4-openssl-dev libjsoncpp-dev libtinyxml2-dev libminiupnpc-dev
  nginx-light mktorrent aria2 python3 curl zlib1g-dev
  vsftpd python3-pyftpdlib opentracker transmission-cli python3-libtorrent
  miniupnpd-nftables miniupnpc nftables
  iptables
  qt6-base-dev xvfb xdotool fonts-wqy-microhei
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/quarrowlight-setup.log 2>&1; then
  "${sudo_cmd[@]}" apt-get update -q >>/tmp/quarrowlight-setup.log 2>&1
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/quarrowlight-setup.log 2>&1 || {
    echo "setup: apt-get failed; see /tmp/quarrowlight-setup.log" >&2
    tail -20 /tmp/quarrowlight-setup.log >&2
    exit 1
  }
fi
