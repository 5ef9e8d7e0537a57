#!/usr/bin/env bash
# The Debian package as a user gets it: its files, its dependencies, lintian's
# verdict, and, unpacked into a temporary root, the installed zelp making a
# program with the installed dialog program and applying it; the completion
# and the man page that come with it.
# Usage: tests/package/deb_test.sh zelp_VERSION_amd64.deb
set -uo pipefail
deb=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/zelp-deb-test.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail=0
no() { echo "deb test: $*"; fail=1; }

expected="./usr/bin/zelp
./usr/share/bash-completion/completions/zelp
./usr/share/doc/zelp/changelog.gz
./usr/share/doc/zelp/copyright
./usr/share/doc/zelp/dialog.png
./usr/share/doc/zelp/guide.md
./usr/share/man/man1/zelp.1.gz
./usr/share/zelp/zelp-stub.exe"
diff <(echo "$expected") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort) ||
  no "the package holds other files than these (< expected, > packaged)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6 (>= ' <<<"$depends" || no "Depends has no versioned libc6: '$depends'"
lintian --fail-on error "$deb" 2>&1 | grep -v "root privileges" >&2; [ "${PIPESTATUS[0]}" -eq 0 ] || no "lintian reports errors"

dpkg -x "$deb" "$root"
zelp="$root/usr/bin/zelp"
file -L "$zelp" | grep -q ', stripped' || no "zelp is not stripped"
w="$root/work"
mkdir "$w"
head -c 300000 /dev/urandom >"$w/game.rom"
cp "$w/game.rom" "$w/new.rom"
printf 'NEW' | dd of="$w/new.rom" bs=1 seek=1000 conv=notrunc 2>/dev/null
head -c 5000 /dev/urandom >>"$w/new.rom"
printf 'test patch\n' >"$w/readme.txt"
made=$("$zelp" create "$w/game.rom" "$w/new.rom" -o "$w/game-patch.exe" --description "$w/readme.txt")
grep -qF "(dialog program $root/usr/bin/../share/zelp/zelp-stub.exe)" <<<"$made" ||
  no "create did not use the installed dialog program: $made"
[ "$(head -c 2 "$w/game-patch.exe")" = MZ ] || no "the program is not a Windows program"
cp "$w/game.rom" "$w/target.rom"
"$zelp" check "$w/game-patch.exe" "$w/target.rom" >/dev/null || no "check refuses the original"
"$zelp" apply "$w/game-patch.exe" "$w/target.rom" >/dev/null || no "apply failed"
cmp -s "$w/target.rom" "$w/new.rom" || no "the applied file differs from the modified one"
"$zelp" check "$w/game-patch.exe" "$w/target.rom" >/dev/null 2>&1
[ $? -eq 3 ] || no "check does not refuse the patched file with 3"

zcat "$root/usr/share/man/man1/zelp.1.gz" | grep -q '^\.SH "EXIT STATUS"' || no "no EXIT STATUS in the man page"
# What the completion offers for "zelp ap" and "zelp apply x --b".
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
           COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && COMP_LINE="$*" &&
           COMP_POINT=${#COMP_LINE} && _zelp && echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/zelp" "$@"
}
[ "$(complete_words zelp ap)" = apply ] || no "the completion of 'zelp ap' is '$(complete_words zelp ap)'"
[ "$(complete_words zelp apply x --b)" = "--base --backup" ] ||
  no "the completion of 'zelp apply x --b' is '$(complete_words zelp apply x --b)'"

[ $fail -eq 0 ] && echo "deb test: $(basename "$deb"): files, Depends ($depends), lintian, and the installed zelp with the installed dialog program: passed"
exit $fail
