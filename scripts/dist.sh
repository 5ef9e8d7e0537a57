#!/usr/bin/env bash
# Builds what a release carries and packs it into one archive under
# build/dist/: a static Linux zelp (x86-64), zelp.exe, the dialog program,
# the man page, the README and the licence.
# Usage: scripts/dist.sh   (ZELP_STUB=path, as for cmake, or DIST_STUB=path
#                           names another dialog program)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh native
bash scripts/deps.sh windows
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
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target zelp

version=$(build/dist-linux/src/cli/zelp --version | sed -n '1s/^zelp \([^ ]*\).*/\1/p')
name="zelp-$version"
stage="build/dist/$name"
rm -rf build/dist
mkdir -p "$stage"
cp build/dist-linux/src/cli/zelp "$stage/zelp"
strip "$stage/zelp"
cp build/win64/src/cli/zelp.exe "$stage/zelp.exe"
cp "$stub" "$stage/zelp-stub.exe"
cp build/dist-linux/src/cli/zelp.1 "$stage/zelp.1"
cp README.md "$stage/README.md"
licence=$(ls LICENSE* LICENCE* COPYING* 2>/dev/null | head -1 || true)
if [ -n "$licence" ]; then
  cp "$licence" "$stage/"
else
  echo "dist: warning: no LICENSE/COPYING file in the checkout; the archive has none" >&2
fi
# One archive that both Windows and Linux users can open.
(cd build/dist && cmake -E tar cf "$name.zip" --format=zip "$name")
if readelf -d "$stage/zelp" | grep -q NEEDED; then
  echo "dist: zelp is not statically linked" >&2
  exit 1
fi
echo "dist: build/dist/$name.zip"
(cd build/dist && cmake -E tar tf "$name.zip")
