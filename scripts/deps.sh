#!/usr/bin/env bash
# Installs what the build, the tests, the demo and the benchmarks need.
# Idempotent: does nothing when every package is already present.
# Usage: scripts/deps.sh [native|windows|bench|web|package|all]...   (default: all)
set -euo pipefail

native=(cmake ninja-build g++ clang-14 libclang-rt-14-dev lld-14 googletest libgtest-dev
        libbenchmark-dev zlib1g-dev nettle-dev valgrind strace python3 git help2man clang-format
        btrfs-progs e2fsprogs)
# Both widths of the Windows programs: the win32 thread model's compilers (no
# thread library linked in), and Wine with its 32-bit half.
windows=(g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64-x86-64
         binutils-mingw-w64-i686 googletest wine wine64 wine32:i386 xvfb xdotool x11-utils
         imagemagick fonts-wqy-microhei fonts-wine)
bench=(xdelta3 bsdiff hyperfine time)
web=(emscripten chromium chromium-driver python3-selenium)
# The Debian package: CPack's dependency lookup (dpkg-shlibdeps, file), its checks.
package=(dpkg-dev file lintian bash-completion)

pkgs=()
for what in "${@:-all}"; do
  case "$what" in
    native) pkgs+=("${native[@]}") ;;
    windows) pkgs+=("${windows[@]}") ;;
    bench) pkgs+=("${native[@]}" "${bench[@]}") ;;
    web) pkgs+=("${web[@]}") ;;
    package) pkgs+=("${package[@]}") ;;
    all) pkgs+=("${native[@]}" "${windows[@]}" "${bench[@]}" "${web[@]}" "${package[@]}") ;;
    *) echo "usage: $0 [native|windows|bench|web|package|all]..." >&2; exit 2 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
# Packages of another architecture (wine32:i386) need it enabled first.
for p in "${missing[@]}"; do
  arch=${p##*:}
  [ "$arch" != "$p" ] || continue
  if [ "$arch" != "$(dpkg --print-architecture)" ] &&
     ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
  fi
done
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
