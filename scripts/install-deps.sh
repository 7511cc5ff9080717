#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail
pkgs=(cmake g++ make pkg-config clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
      libsndfile1-dev libsoxr-dev libcli11-dev qt6-base-dev fonts-nanum ffmpeg
      python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
      emscripten nodejs chromium)
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
