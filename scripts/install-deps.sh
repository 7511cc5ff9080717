#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
#   scripts/install-deps.sh          everything: tests, dialog, GStreamer plugin, benchmarks, fuzzers, packaging
#   scripts/install-deps.sh sample   only what building qrx needs (scripts/run-sample.sh)
set -euo pipefail
mode=${1:-all}
sample=(cmake g++ make pkg-config libsndfile1-dev libsoxr-dev libcli11-dev libpcap-dev)
case "$mode" in
  sample) pkgs=("${sample[@]}") ;;
  all) pkgs=("${sample[@]}" clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
             qt6-base-dev fonts-nanum ffmpeg tcpdump
             dpkg-dev file lintian desktop-file-utils shared-mime-info libglib2.0-bin
             python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
             emscripten nodejs chromium
             libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
             gstreamer1.0-plugins-good gstreamer1.0-plugins-base-apps) ;;
  *) echo "usage: $0 [all|sample]" >&2; exit 2 ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
