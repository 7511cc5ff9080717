#!/usr/bin/env bash
# Builds the page and tests it: the WebAssembly module in node (against the
# reference data, and against a native qrx when its path is given), then the
# page in headless Chromium.
#   scripts/test-web.sh [path/to/native/qrx]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build-web.sh"
if [ $# -gt 0 ]; then
  QRX_NATIVE=$(realpath "$1")
  export QRX_NATIVE
fi
cd "$root"
# A browser that stops answering must not hold up the whole test run.
timeout 300 node --test tests/web/qrxc.test.mjs tests/web/parts.test.mjs tests/web/transcription.test.mjs tests/web/page.test.mjs
# The npm package built from the same files, installed and used from node.
"$root/scripts/test-npm.sh"
echo "test-web: screenshots in $root/build/web/screenshots/"
