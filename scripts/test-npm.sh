#!/usr/bin/env bash
# The npm package as a user gets it: `npm pack` of the built page's module,
# installed offline into a scratch project and used from node; its types
# checked with a pinned TypeScript compiler from the npm registry.
#   scripts/test-npm.sh          (after scripts/build-web.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
web="$root/build/web"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TYPESCRIPT=typescript@5.4.5

version=$(sed -n 's/^project(qrxc VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
packaged=$(node -p "require('$web/package.json').version")
[ "$version" = "$packaged" ] || { echo "test-npm: web/package.json says $packaged, the project $version" >&2; exit 1; }

(cd "$web" && npm pack --silent --pack-destination "$work") >/dev/null
tarball="$work/qrxc-$version.tgz"
echo "packed $(basename "$tarball") ($(stat -c %s "$tarball") bytes): $(tar tzf "$tarball" | sed 's|package/||' | paste -sd' ')"
# Every module the package's own files load must be in it (the SIMD and the plain build alike).
packed=$(tar tzf "$tarball" | sed 's|package/||')
for m in $(cat "$web"/qrxc.mjs "$web"/player.mjs | grep -o "import('\./[^']*')\|from '\./[^']*'" | grep -o "\./[^']*" | sort -u); do
  grep -qx "${m#./}" <<<"$packed" || { echo "test-npm: the package lacks ${m#./}, which it loads" >&2; exit 1; }
done
mkdir "$work/app"
cd "$work/app"
echo '{ "name": "qrxc-user", "version": "0.0.0", "private": true, "type": "module" }' > package.json
npm install --offline --no-audit --no-fund --silent "$tarball"

# The same program with and without types: node runs it, tsc checks it.
sed -e 's/: Qrxc\b//; s/: StreamInfo\b//; s/: Uint8Array\b//; s/(f: number)/(f)/; s/(s: Int16Array)/(s)/' \
    -e '/^import type/d' "$root/tests/npm/use.ts" > use.mjs
out=$(node use.mjs)
echo "node: $out"
node -e '
const f = JSON.parse(process.argv[1]);
const ok = f.version === process.argv[2] && f.frames === 10 && f.samples === 2400 && f.sliced === 2400 &&
  f.rate === 8000 && f.wavBytes === 46 + 4800 && f.sameWav && f.coder && f.played > 1200 && f.played < 2400 &&
  f.ratio === 0.75 && f.refused < 0 && f.text.length > 0;
if (!ok) { console.error("test-npm: unexpected results"); process.exit(1); }' "$out" "$version"

if npm install --no-audit --no-fund --silent --prefix "$work/tsc" "$TYPESCRIPT" 2>/dev/null; then
  cp "$root/tests/npm/use.ts" .
  "$work/tsc/node_modules/.bin/tsc" --noEmit --strict --target es2022 --module nodenext --moduleResolution nodenext use.ts
  echo "tsc: the declarations check ($TYPESCRIPT)"
else
  echo "test-npm: $TYPESCRIPT not reachable; the node run above exercised every declared function"
fi
