# Thin wrappers over the CMake presets. `make deps` installs what is missing;
# `make test` and `make demo` do that first, so they work on a fresh Debian
# machine.
.PHONY: all deps native test unit-test demo bench clean win win-test wine-test dist install
.PHONY: stub release deb package-test
.PHONY: asan asan-test valgrind-test fuzz-build fuzz fuzz-smoke
.PHONY: web web-test web-demo web-bench format format-check

all: native

deps:
	bash scripts/deps.sh native windows web package

native:
	cmake --preset native >/dev/null
	cmake --build --preset native

unit-test: native
	ctest --preset native

# The Windows programs in both widths, cross-built; their tests run under
# Wine. The 32-bit patch program is the one authors ship.
WIDTHS = win32 win64
win:
	for w in $(WIDTHS); do cmake --preset $$w >/dev/null && cmake --build --preset $$w || exit; done

win-test: win native
	scripts/check-imports.sh $(foreach w,$(WIDTHS),build/$(w)/src/ui/zelp-stub.exe build/$(w)/src/cli/zelp.exe)
	scripts/check-stub-size.sh build/win32/src/ui/zelp-stub.exe build/win64/src/ui/zelp-stub.exe
	for w in $(WIDTHS); do scripts/run-win-unit.sh build/$$w/tests/win32/zelp_win32_tests.exe || exit; done
	for w in $(WIDTHS); do scripts/check-zelp-exe.sh build/native/src/cli/zelp build/$$w/src/cli/zelp.exe || exit; done

# The real dialog program under Wine and Xvfb, worked through window
# messages: every scenario against both widths.
# Where Wine cannot run 32-bit programs, the 32-bit scenarios are reported
# skipped; the second line tries that way on any machine.
wine-test: win native
	scripts/wine-env.sh run -- tests/wine/run.sh build/native $(foreach w,$(WIDTHS),build/$(w))
	tests/wine/skip_test.sh build/native build/win32 build/win64

# The 32-bit dialog program alone: the one that is shipped and installed.
stub:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 --target zelp-stub

# The page (build/web/page/): the engine in WebAssembly, with the dialog
# program that "patch program for Windows" packs onto copied beside it (the
# build makes the 32-bit one through the win32 preset).
web:
	cmake --preset web >/dev/null
	cmake --build --preset web

# The page in headless Chromium against the native zelp; screenshots in
# build/web/shots/.
web-test: web native
	/usr/bin/python3 tests/web/page_test.py build/native/src/cli/zelp build/web/page build/web/shots

# Serves the page on 127.0.0.1 (WEB_PORT, default 8014) until interrupted.
web-demo: web
	/usr/bin/python3 scripts/web-serve.py build/web/page $(or $(WEB_PORT),8014)

# Builds everything, makes a patch program from a sample ROM, applies it with
# zelp and through the dialog under Wine, and takes screenshots (build/demo/).
demo:
	bash scripts/demo.sh

# The same unit and command-line tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the test); the 5 GiB sparse-file
# tests are left to the optimised build.
asan:
	cmake --preset asan >/dev/null
	cmake --build --preset asan

asan-test: asan
	ctest --preset asan

# Every zelp run of the command-line tests under valgrind's memcheck: an error
# makes zelp exit 99, which fails the test. (Races and huge files excluded: slow.)
VALGRIND = valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
valgrind-test: native
	ZELP_WRAPPER="$(VALGRIND)" ctest --test-dir build/native --output-on-failure -j2 -L cli -E 'CliRace'

# libFuzzer targets (clang, ASan + UBSan). `make fuzz` runs each for
# FUZZ_SECONDS (60); `make test` runs each briefly.
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20
fuzz-build:
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

fuzz: fuzz-build
	scripts/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	scripts/fuzz.sh $(FUZZ_SMOKE_SECONDS)

# Ends with one line per reason for what could not run here (SKIPPED: ...).
test: deps
	rm -f build/skipped.txt
	$(MAKE) format-check unit-test win-test wine-test asan-test valgrind-test fuzz-smoke web-test package-test
	@bash scripts/wine-env.sh skipped

# Micro-benchmarks, then zelp against xdelta3 and bsdiff (never part of `make test`).
bench:
	bash scripts/deps.sh bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/bench/zelp_crc_bench
	build/bench/bench/zelp_apply_bench
	bench/compare.sh
	$(MAKE) --no-print-directory web-bench

# The page in headless Chromium against native zelp apply (128 MiB case).
web-bench: web
	bash scripts/deps.sh bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench --target zelp zelp_bench_gen
	/usr/bin/python3 bench/web_bench.py build/bench/src/cli/zelp build/bench/bench/zelp_bench_gen \
	  build/web/page build/bench-data

# The files a release carries, in one archive under build/dist/: the user
# guide, the licence, a static Linux zelp, the 32-bit zelp.exe, the dialog
# program, the man page, the page's folder and SHA256SUMS.
dist:
	bash scripts/dist.sh

# What is installed and packaged: zelp optimised, without tests.
release:
	cmake --preset release >/dev/null
	cmake --build --preset release

# zelp (stripped), its man page, the dialog program, the guide, the licence
# and the bash completion under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: release stub
	cmake --install build/release --prefix "$(PREFIX)" --strip

# build/dist/zelp_VERSION_amd64.deb, made by CPack from the same install.
deb: release stub
	bash scripts/deps.sh package
	cd build/release && cpack -B $(CURDIR)/build/dist
	rm -rf build/dist/_CPack_Packages

# The package installed into a temporary root and checked (lintian, the
# installed zelp on a program made with the installed dialog program), and
# the archive's list of files.
package-test: deb dist
	tests/package/deb_test.sh build/dist/zelp_*_amd64.deb
	tests/package/dist_test.sh build/dist/zelp-*.zip

# clang-format over the C++ sources and tests; `make test` checks it.
format:
	scripts/format.sh

format-check:
	scripts/format.sh --check

clean:
	rm -rf build
