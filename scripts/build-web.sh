#!/usr/bin/env bash
# Builds the WebAssembly library and the page into build/web/.
# The library's sources are CMake's own list (cmake/qrxc_sources.cmake),
# compiled by Debian's emscripten with the project's warning flags.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/web"
obj="$root/build/web-obj"
mkdir -p "$out" "$obj"
# Debian's emscripten finds its JavaScript helpers through NODE_PATH when the
# node on PATH is not Debian's own.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
cd "$root"

# qrxc_version.h from its template and the project's version, as CMake makes it.
version=$(sed -n 's/^project(qrxc VERSION \([0-9]*\)\.\([0-9]*\)\.\([0-9]*\).*/\1 \2 \3/p' CMakeLists.txt)
read -r major minor patch <<<"$version"
mkdir -p "$obj/include"
sed -e "s/@PROJECT_VERSION_MAJOR@/$major/" -e "s/@PROJECT_VERSION_MINOR@/$minor/" -e "s/@PROJECT_VERSION_PATCH@/$patch/" \
  cmake/qrxc_version.h.in > "$obj/include/qrxc_version.h.new"
cmp -s "$obj/include/qrxc_version.h.new" "$obj/include/qrxc_version.h" || mv "$obj/include/qrxc_version.h.new" "$obj/include/qrxc_version.h"
rm -f "$obj/include/qrxc_version.h.new"

flags=(-O3 -flto -DQRXC_BUILDING -Iinclude -I"$obj/include" -I.
       -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror)
mapfile -t sources < <(sed -n '/^set(QRXC_LIBRARY_SOURCES/,/^)/s/^  \([^ #]*\)$/\1/p' cmake/qrxc_sources.cmake)
[ "${#sources[@]}" -gt 0 ] || { echo "build-web: no sources in cmake/qrxc_sources.cmake" >&2; exit 1; }
sources+=(web/qrxc_web.c)

# An object is rebuilt when its source or any header is newer.
newest_header=$(find include "$obj/include" api codec g723 speed web -name '*.h' -printf '%T@\n' | sort -n | tail -1)
exports=$(grep -o 'KEEP [^(]* \**qw_[a-z_]*' web/qrxc_web.c | grep -o 'qw_[a-z_]*' | sed 's/^/_/' | paste -sd,)

# build_module NAME [FLAGS...]: the library compiled with FLAGS into
# $out/NAME.mjs. Two modules: one with WebAssembly SIMD (-msimd128: the
# compiler vectorises the same loops it vectorises for x86, and -msse2 lets
# it run the library's hand-written SSE2 kernels, each intrinsic mapped onto
# WebAssembly SIMD by emscripten), and the plain one that qrxc.mjs loads
# where the engine has no SIMD. Both are built with link-time optimisation.
build_module() {
  local name=$1; shift
  local dir="$obj/$name" objects=() failed=0 o s
  mkdir -p "$dir"
  for s in "${sources[@]}"; do
    o="$dir/${s//\//_}.o"
    objects+=("$o")
    if [ -f "$o" ] && [ "$o" -nt "$s" ] && [ "$(stat -c %Y "$o")" -ge "${newest_header%.*}" ]; then continue; fi
    case "$s" in
      *.c) emcc -std=c11 "${flags[@]}" "$@" -c "$s" -o "$o" & ;;
      *) em++ -std=c++20 "${flags[@]}" "$@" -c "$s" -o "$o" & ;;
    esac
    while [ "$(jobs -rp | wc -l)" -ge "${JOBS:-2}" ]; do wait -n || failed=1; done
  done
  while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n || failed=1; done
  [ "$failed" -eq 0 ] || { echo "build-web: compilation failed" >&2; exit 1; }
  # One file for browsers, workers and node: with the module embedded, the
  # web loader only decodes it and never fetches a .wasm by path, which also
  # lets node run it.
  emcc -O3 -flto "$@" "${objects[@]}" -o "$out/$name.mjs" \
    -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createQrxcModule -sSINGLE_FILE=1 \
    -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB -sFILESYSTEM=0 -sENVIRONMENT=web,worker \
    -sEXPORTED_FUNCTIONS="_malloc,_free,$exports" -sEXPORTED_RUNTIME_METHODS=UTF8ToString
}
build_module qrxc_wasm
build_module qrxc_wasm_simd -msimd128 -msse2

cp web/index.html web/style.css web/icon.svg web/*.js web/*.mjs web/package.json web/qrxc.d.ts "$out/"
echo "build-web: $out"
