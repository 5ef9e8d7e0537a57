#!/usr/bin/env bash
# The whole story on one machine: build only what it uses (zelp, the dialog
# program and the driver that works it), make a sample "ROM" and a modified
# copy, turn them into a Windows patch program, apply it with `zelp apply` and
# through the real dialog under Wine, check both results and take screenshots
# of the dialog. Everything lands in build/demo/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
demo=build/demo
# The 32-bit patch program is the one authors ship.
stub=build/win32/src/ui/zelp-stub.exe
zelp=build/native/src/cli/zelp
# shellcheck source=wine-env.sh
source scripts/wine-env.sh

step() { printf '\n== %s\n' "$*"; }

step "Installing what is missing"
bash scripts/deps.sh native windows

# Where Wine cannot run 32-bit programs, the dialog is shown by the 64-bit
# build of the same program.
wine_env_probe
shown=win32
case " $ZELP_WINE_WIDTHS " in *" win32 "*) ;; *) shown=win64 ;; esac
driver=build/$shown/tests/wine/zelp_wine_driver.exe

step "Building the zelp tool (Linux) and the Windows dialog program"
cmake --preset native >/dev/null
cmake --build --preset native --target zelp
for w in $(printf '%s\n' win32 $shown | sort -u); do
  cmake --preset $w >/dev/null
  cmake --build --preset $w --target zelp-stub zelp_wine_driver
done

step "Making a sample ROM (4 MiB) and a modified copy"
rm -rf "$demo"
mkdir -p "$demo"
python3 - "$demo" <<'EOF'
import random, sys
out = sys.argv[1]
rnd = random.Random(2007)
rom = bytearray(rnd.getrandbits(8) for _ in range(4 * 1024 * 1024))
mod = bytearray(rom)
# A "translated" title screen, a patched table, and 64 KiB of new data.
mod[0x1000:0x1000 + 32] = "示例游戏 中文版".encode("utf-8").ljust(32, b"\0")
for i in range(0x200000, 0x200000 + 4096, 16):
    mod[i] ^= 0x5A
mod += bytes(rnd.getrandbits(8) for _ in range(64 * 1024))
open(out + "/game.rom", "wb").write(rom)
open(out + "/game-translated.rom", "wb").write(mod)
EOF
# Lines end in CR LF, as the dialog's text box wants; no line break at the end.
python3 - "$demo/description.txt" <<'EOF'
import sys
lines = [
    "《示例游戏》中文化补丁 1.0",
    "Sample Game — Chinese translation patch 1.0",
    "",
    "使用方法：按“打补丁”，选择原版 game.rom。",
    "补丁会直接修改该文件，请先备份。",
    "",
    "Press 打补丁 (apply) and pick your game.rom;",
    "it is changed in place, so keep a backup.",
]
open(sys.argv[1], "wb").write("\r\n".join(lines).encode("utf-8"))
EOF
ls -l "$demo"/*.rom

step "Creating the patch program"
"$zelp" create "$demo/game.rom" "$demo/game-translated.rom" \
  --description "$demo/description.txt" --stub "$stub" -o "$demo/patch-demo.exe"
ls -l "$stub" "$demo/patch-demo.exe"
"$zelp" info "$demo/patch-demo.exe"

step "Applying it with zelp apply"
cp "$demo/game.rom" "$demo/by-zelp.rom"
"$zelp" apply "$demo/patch-demo.exe" "$demo/by-zelp.rom"
cmp "$demo/by-zelp.rom" "$demo/game-translated.rom"
echo "by-zelp.rom equals game-translated.rom"

step "Applying it through the dialog under Wine"
program="$demo/patch-demo.exe"
if [ $shown != win32 ]; then
  echo "Here the dialog runs as its 64-bit build, because $ZELP_WINE32_SKIP;"
  echo "patch-demo.exe (32-bit) is the program you would ship, patch-demo-64.exe the same patch."
  program="$demo/patch-demo-64.exe"
  "$zelp" create "$demo/game.rom" "$demo/game-translated.rom" --description "$demo/description.txt" \
    --stub build/win64/src/ui/zelp-stub.exe -o "$program"
fi
trap wine_env_cleanup EXIT
wine_env_setup "$root/build"
winpath() { printf 'Z:%s' "$(realpath "$1" | sed 's|/|\\|g')"; }
python3 - "$demo" <<'EOF'
import sys, zlib, os
d = sys.argv[1]
crc = zlib.crc32(open(d + "/game.rom", "rb").read())
size = os.path.getsize(d + "/game-translated.rom")
text = "补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: %08X\r\n打补丁后的文件大小: %d" % (crc, size)
open(d + "/summary.txt", "wb").write(text.encode("utf-8"))
EOF
args=(program="$(winpath "$program")" original="$(winpath "$demo/game.rom")"
      expected="$(winpath "$demo/game-translated.rom")" desc="$(winpath "$demo/description.txt")"
      summary="$(winpath "$demo/summary.txt")" work="$(winpath "$demo")")
# The apply scenario patches a copy of game.rom in the work folder.
"$ZELP_WINE" "$(winpath "$driver")" apply "${args[@]}" 2>/dev/null
mv "$demo/target-apply.rom" "$demo/by-dialog.rom"
cmp "$demo/by-dialog.rom" "$demo/game-translated.rom"
echo "by-dialog.rom equals game-translated.rom"

step "Screenshots"
shots="$demo/shots"
mkdir -p "$shots"
"$ZELP_WINE" "$(winpath "$driver")" info "${args[@]}" shots="$(winpath "$shots")" 2>/dev/null &
driver_pid=$!
for name in dialog summary; do
  for _ in $(seq 1 300); do [ -s "$shots/$name.ready" ] && break; sleep 0.1; done
  [ -s "$shots/$name.ready" ] || { echo "demo: the $name window did not appear" >&2; exit 1; }
  sleep 0.5  # let it finish painting
  geometry=$(tr -d '\r\n' <"$shots/$name.ready")
  /usr/bin/import -window root "$shots/screen.png"
  /usr/bin/convert "$shots/screen.png" -crop "$geometry" +repage "$demo/$name.png"
  touch "$shots/$name.done"
  echo "$demo/$name.png ($geometry)"
done
wait "$driver_pid"

step "Done"
ls -l "$demo"
