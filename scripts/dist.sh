#!/usr/bin/env bash
# Builds what a release carries and packs it into one archive for end users
# and authors, build/dist/zelp-VERSION.zip: the user guide with its
# screenshot, the licence, a static Linux zelp (x86-64), the 32-bit zelp.exe
# (it runs on every Windows), the dialog program, the man page, the page's
# folder (web/) and SHA256SUMS of all of them.
# Usage: scripts/dist.sh   (ZELP_STUB=path, as for cmake, or DIST_STUB=path
#                           names another dialog program)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh native windows web
# The Linux zelp: static, so that it runs on any x86-64 Linux.
cmake -S . -B build/dist-linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELP_TESTS=OFF \
  -DCMAKE_EXE_LINKER_FLAGS=-static ${ZELP_STUB:+-DZELP_STUB="$ZELP_STUB"} >/dev/null
cmake --build build/dist-linux --target zelp zelp_man
# The dialog program is the one `cmake --install` installs (ZELP_STUB); when
# it is a preset's build (build/PRESET/...), that preset builds it.
stub=$(sed -n 's/^ZELP_STUB:FILEPATH=//p' build/dist-linux/CMakeCache.txt)
stub=${DIST_STUB:-$stub}
case "$stub" in
  "$PWD"/build/*/src/ui/zelp-stub.exe)
    preset=${stub#"$PWD"/build/}
    preset=${preset%%/*}
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target zelp-stub ;;
esac
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target zelp
cmake --preset web >/dev/null
cmake --build --preset web

version=$(build/dist-linux/src/cli/zelp --version | sed -n '1s/^zelp \([^ ]*\).*/\1/p')
name="zelp-$version"
stage="build/dist/$name"
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
cp build/dist-linux/src/cli/zelp "$stage/zelp"
strip "$stage/zelp"
cp build/win32/src/cli/zelp.exe "$stage/zelp.exe"
cp "$stub" "$stage/zelp-stub.exe"
cp build/dist-linux/src/cli/zelp.1 "$stage/zelp.1"
cp docs/guide.md docs/dialog.png LICENSE "$stage/"
cp -r build/web/page "$stage/web"
if readelf -d "$stage/zelp" | grep -q NEEDED; then
  echo "dist: zelp is not statically linked" >&2
  exit 1
fi
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   xargs sha256sum >SHA256SUMS)
# One archive that both Windows and Linux users can open.
(cd build/dist && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "dist: build/dist/$name.zip"
(cd build/dist && cmake -E tar tf "$name.zip")
