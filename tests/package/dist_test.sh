#!/usr/bin/env bash
# The release archive: exactly the files end users and authors need (no
# developers' files), checksums that match, a static Linux zelp and the
# 32-bit Windows programs.
# Usage: tests/package/dist_test.sh build/dist/zelp-VERSION.zip
set -uo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
name=$(basename "$zip" .zip)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelp-dist-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail=0
no() { echo "dist test: $*"; fail=1; }

expected="LICENSE
SHA256SUMS
dialog.png
guide.md
web/app.js
web/index.html
web/style.css
web/worker.js
web/zelp-stub.exe
web/zelp.js
web/zelp.wasm
zelp
zelp-stub.exe
zelp.1
zelp.exe"
listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sed "s|^$name/||" | LC_ALL=C sort)
diff <(echo "$expected") <(echo "$listed") || no "the archive holds other files than these (< expected, > archived)"

(cd "$tmp" && cmake -E tar xf "$zip")
d="$tmp/$name"
(cd "$d" && sha256sum --quiet -c SHA256SUMS) || no "SHA256SUMS does not match the files"
[ "$(sed 's/^[0-9a-f]*  //' "$d/SHA256SUMS" | LC_ALL=C sort)" = "$(grep -vx SHA256SUMS <<<"$expected")" ] ||
  no "SHA256SUMS does not list every file"
file "$d/zelp" | grep -q 'x86-64.*statically linked' || no "zelp is not a static x86-64 program: $(file -b "$d/zelp")"
"$d/zelp" --version >/dev/null || no "zelp does not run"
for exe in zelp.exe zelp-stub.exe; do
  file "$d/$exe" | grep -q 'PE32 executable.*Intel 80386' || no "$exe is not a 32-bit Windows program: $(file -b "$d/$exe")"
done
cmp -s "$d/zelp-stub.exe" "$d/web/zelp-stub.exe" || no "the page packs onto another dialog program than the archive's"

[ $fail -eq 0 ] && echo "dist test: $(basename "$zip"): $(wc -l <<<"$expected") files, checksums, a static zelp and 32-bit Windows programs: passed"
exit $fail
