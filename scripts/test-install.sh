#!/usr/bin/env bash
# Installs a configured, built tree into a temporary prefix and checks it as
# a user would: consumers built with find_package and with pkg-config decode
# a vector, the installed programs (and the GStreamer plugin, found by
# gst-inspect-1.0) run without LD_LIBRARY_PATH, the library
# exports what the built one does; then builds the Debian packages, inspects
# their contents and dependencies and runs lintian (errors fail).
#   scripts/test-install.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
vectors=$src/tests/data/conformance

fail() { echo "test-install: $*" >&2; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/qrxcConfigVersion.cmake")
[ -n "$version" ] || fail "no version in $build/qrxcConfigVersion.cmake"
major_minor=${version%.*}
libdir=$(cache CMAKE_INSTALL_LIBDIR)
echo "== install qrxc $version into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
# The Python module (component python) is installed into the interpreter's
# folder and is not one of the Debian packages.
(cd "$prefix" && find . ! -type d | grep -v -- '-packages/qrxc/' | sort) > "$work/installed.list"

echo "== installed programs find the library through their RUNPATH"
programs=()
[ -x "$prefix/bin/qrx" ] && programs+=("$prefix/bin/qrx")
[ -x "$prefix/bin/QRXConvertor" ] && programs+=("$prefix/bin/QRXConvertor")
for p in "${programs[@]}"; do
  readelf -d "$p" | grep -q 'RUNPATH.*\$ORIGIN/' || fail "$p has no \$ORIGIN RUNPATH"
  resolved=$(env -u LD_LIBRARY_PATH ldd "$p" | sed -n 's/.*libqrxc\.so\.1 => \([^ ]*\).*/\1/p')
  [ "$(realpath "$resolved")" = "$(realpath "$prefix/$libdir/libqrxc.so.1")" ] ||
    fail "$p resolves libqrxc.so.1 to '$resolved'"
done
if [ -x "$prefix/bin/qrx" ]; then
  env -u LD_LIBRARY_PATH "$prefix/bin/qrx" decode "$vectors/decode/OVERC63_RCO.QRX" -o "$work/qrx.wav" -q
  tail -c +47 "$work/qrx.wav" | cmp -s - "$vectors/decode/OVERC63_RCO.pcm" || fail "installed qrx decodes wrongly"
fi

plugin=$(cd "$prefix" && find . -name libgstqrxc.so | sed 's|^\./||')
if [ -n "$plugin" ]; then
  echo "== the installed GStreamer plugin loads with the installed library"
  readelf -d "$prefix/$plugin" | grep -q 'RUNPATH.*\$ORIGIN/' || fail "$plugin has no \$ORIGIN RUNPATH"
  resolved=$(env -u LD_LIBRARY_PATH ldd "$prefix/$plugin" | sed -n 's/.*libqrxc\.so\.1 => \([^ ]*\).*/\1/p')
  [ "$(realpath "$resolved")" = "$(realpath "$prefix/$libdir/libqrxc.so.1")" ] ||
    fail "$plugin resolves libqrxc.so.1 to '$resolved'"
fi
# gst-inspect-1.0 finds the plugin in a plugin folder of its own, as the
# system's would hold it.
gst_inspect() {
  env -u GST_PLUGIN_PATH GST_PLUGIN_SYSTEM_PATH="$1" GST_REGISTRY="$work/gst-registry-$2.bin" gst-inspect-1.0 qrxc \
    > "$work/gst-inspect-$2.txt" 2>&1 || { cat "$work/gst-inspect-$2.txt"; fail "gst-inspect-1.0 does not find qrxc in $1"; }
  grep -q 'qrxdemux: QRX demuxer' "$work/gst-inspect-$2.txt" || fail "gst-inspect-1.0 qrxc shows no qrxdemux"
}
[ -z "$plugin" ] || gst_inspect "$(dirname "$prefix/$plugin")" prefix

echo "== the installed library exports what the built one does"
exports() { nm -D --defined-only "$1" | awk '{print $3}' | sort; }
diff <(exports "$build/libqrxc.so") <(exports "$prefix/$libdir/libqrxc.so.1") || fail "exports differ"
echo "exports: $(exports "$prefix/$libdir/libqrxc.so.1" | tr '\n' ' ')"

echo "== a CMake consumer: find_package(qrxc $major_minor REQUIRED)"
mkdir -p "$work/cmake-consumer"
cat > "$work/cmake-consumer/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(qrxc $major_minor REQUIRED)
add_executable(decode_to_raw "$src/examples/decode_to_raw.c")
target_link_libraries(decode_to_raw PRIVATE qrxc::qrxc)
EOF
cmake -S "$work/cmake-consumer" -B "$work/cmake-consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
found=$(sed -n 's/^qrxc_DIR:PATH=//p' "$work/cmake-consumer/build/CMakeCache.txt")
[ "$found" = "$prefix/$libdir/cmake/qrxc" ] || fail "find_package found qrxc in '$found'"
cmake --build "$work/cmake-consumer/build" >/dev/null
"$work/cmake-consumer/build/decode_to_raw" "$vectors/decode/OVERC63_RCO.QRX" "$work/cmake.raw" 2>/dev/null
cmp -s "$work/cmake.raw" "$vectors/decode/OVERC63_RCO.pcm" || fail "find_package consumer decodes wrongly"

echo "== a pkg-config consumer: pkg-config --cflags --libs qrxc"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion qrxc)" = "$version" ] || fail "pkg-config reports $(pkg-config --modversion qrxc)"
[ "$(realpath "$(pkg-config --variable=libdir qrxc)")" = "$(realpath "$prefix/$libdir")" ] || fail "pkg-config libdir is wrong"
# shellcheck disable=SC2046
cc -std=c11 -o "$work/decode_pc" "$src/examples/decode_to_raw.c" $(pkg-config --cflags --libs qrxc) \
  -Wl,-rpath,"$prefix/$libdir"
"$work/decode_pc" "$vectors/decode/OVERC63_RCO.QRX" "$work/pc.raw" 2>/dev/null
cmp -s "$work/pc.raw" "$vectors/decode/OVERC63_RCO.pcm" || fail "pkg-config consumer decodes wrongly"

if [ -f "$prefix/share/applications/qrxconvertor.desktop" ]; then
  echo "== desktop entry and MIME type"
  desktop-file-validate "$prefix/share/applications/qrxconvertor.desktop"
  update-mime-database "$prefix/share/mime" 2>/dev/null
  grep -q '^audio/x-qrx$' "$prefix/share/mime/types" || fail "audio/x-qrx not registered"
  # gio asks shared-mime-info the way file managers do: by name and by content.
  head -c 100 "$src/samples/hello.QRX" > "$work/unnamed.bin"
  for f in "$src/samples/hello.QRX" "$work/unnamed.bin"; do
    type=$(XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_DATA_HOME="$work/none" \
      gio info -a standard::content-type "$f" | sed -n 's/.*content-type: //p')
    [ "$type" = audio/x-qrx ] || fail "$f is '$type', not audio/x-qrx"
  done
fi

echo "== Debian packages"
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null)
deb() { ls "$work"/deb/"$1"_*.deb 2>/dev/null | head -1; }
expect() { # package, then paths (regular expressions) its contents must hold
  local pkg=$1 file; shift
  file=$(deb "$pkg")
  [ -n "$file" ] || fail "no $pkg package"
  dpkg-deb --contents "$file" | awk '{print $6}' > "$work/$pkg.contents"
  for path in "$@" "./usr/share/doc/$pkg/copyright" "./usr/share/doc/$pkg/changelog.gz"; do
    grep -Eq "^${path}\$" "$work/$pkg.contents" || fail "$pkg lacks $path"
  done
}
depends() { dpkg-deb --field "$(deb "$1")" Depends; }
expect libqrxc1 './usr/lib/(.*/)?libqrxc\.so\.1(\..*)?'
shlibs=$(dpkg-deb --ctrl-tarfile "$(deb libqrxc1)" | tar -xO ./shlibs)
[ "$shlibs" = "libqrxc 1 libqrxc1 (>= $version)" ] || fail "libqrxc1's shlibs entry is '$shlibs'"
expect libqrxc-dev './usr/include/qrxc\.h' './usr/include/qrxc_version\.h' './usr/lib/(.*/)?libqrxc\.so' './usr/lib/(.*/)?cmake/qrxc/qrxcConfig\.cmake' \
  './usr/lib/(.*/)?pkgconfig/qrxc\.pc'
! grep -q 'libqrxc\.so$' "$work/libqrxc1.contents" || fail "libqrxc1 holds the development link"
packages=(libqrxc1 libqrxc-dev)
if [ -x "$prefix/bin/qrx" ]; then
  cli_paths=('./usr/bin/qrx')
  [ -f "$src/cli/qrx.1" ] && cli_paths+=('./usr/share/man/man1/qrx\.1\.gz')
  [ -f "$src/cli/qrx.bash-completion" ] && cli_paths+=('./usr/share/bash-completion/completions/qrx')
  expect qrx "${cli_paths[@]}"
  packages+=(qrx)
fi
if [ -x "$prefix/bin/QRXConvertor" ]; then
  expect qrxconvertor './usr/bin/QRXConvertor' './usr/share/applications/qrxconvertor\.desktop' \
    './usr/share/mime/packages/qrxconvertor\.xml' './usr/share/icons/hicolor/scalable/apps/qrxconvertor\.svg' \
    './usr/share/icons/hicolor/(16x16|32x32)/apps/qrxconvertor\.png'
  packages+=(qrxconvertor)
fi
if [ -n "$plugin" ]; then
  expect gstreamer1.0-qrxc './usr/lib/(.*/)?gstreamer-1\.0/libgstqrxc\.so'
  packages+=(gstreamer1.0-qrxc)
  # The package's plugin, with the library's package beside it.
  dpkg-deb -x "$(deb libqrxc1)" "$work/unpacked"
  dpkg-deb -x "$(deb gstreamer1.0-qrxc)" "$work/unpacked"
  gst_inspect "$(dirname "$(find "$work/unpacked" -name libgstqrxc.so)")" package
fi
# Every installed file belongs to one of the packages (an install rule
# without a component would fall out of them).
for pkg in "${packages[@]}"; do grep -v '/$' "$work/$pkg.contents"; done | sed 's|^\./usr/|./|' | sort > "$work/packaged.list"
diff "$work/installed.list" "$work/packaged.list" || fail "the packages do not hold exactly the installed files"
for pkg in "${packages[@]}"; do
  deps=$(depends "$pkg")
  echo "$pkg Depends: $deps"
  case $pkg in
    libqrxc1) want=('libstdc++6') ;;
    libqrxc-dev) want=("libqrxc1 (= $version)") ;;
    qrx) want=("libqrxc1 (= $version)" libsndfile1) ;;
    qrxconvertor) want=("libqrxc1 (= $version)" libqt6widgets6) ;;
    gstreamer1.0-qrxc) want=("libqrxc1 (= $version)" libgstreamer1.0-0 libgstreamer-plugins-base1.0-0) ;;
  esac
  for w in "${want[@]}"; do
    [[ $deps == *"$w"* ]] || fail "$pkg does not depend on $w"
  done
done

echo "== lintian"
rc=0
lintian --no-tag-display-limit "$work"/deb/*.deb > "$work/lintian.txt" 2>&1 || rc=$?
[ $rc -le 1 ] || { cat "$work/lintian.txt"; fail "lintian could not run (exit $rc)"; }
for level in E W I; do echo "lintian $level: $(grep -c "^$level: " "$work/lintian.txt" || true)"; done
grep -E '^(E|W): ' "$work/lintian.txt" || true
! grep -q '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
echo "install and package checks passed"
