# Thin wrappers over the CMake presets. `make test` and `make demo` work on a
# fresh Debian machine: they install what they need first.
.PHONY: all deps native test unit-test demo bench clean win win-test wine-test
.PHONY: asan asan-test valgrind-test fuzz-build fuzz fuzz-smoke
.PHONY: web web-stub web-test web-demo web-bench

all: native

deps:
	bash scripts/deps.sh native

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

unit-test: native
	ctest --test-dir build/native --output-on-failure -j2

# The Windows programs, cross-built; their tests run under Wine.
win:
	bash scripts/deps.sh windows
	cmake --preset win64 >/dev/null
	cmake --build --preset win64

win-test: win native
	scripts/check-imports.sh build/win64/src/ui/zelp-stub.exe build/win64/src/cli/zelp.exe
	scripts/run-win-unit.sh
	scripts/check-zelp-exe.sh

# The real dialog program under Wine and Xvfb, worked through window messages.
wine-test: win native
	scripts/wine-env.sh run -- tests/wine/run.sh build/native build/win64

# The page (build/web/page/): the engine in WebAssembly, with the dialog
# program that "patch program for Windows" packs onto copied beside it.
WEB_STUB_PRESET ?= win64
WEB_STUB = $(CURDIR)/build/$(WEB_STUB_PRESET)/src/ui/zelp-stub.exe
web-stub:
	bash scripts/deps.sh windows
	cmake --preset $(WEB_STUB_PRESET) >/dev/null
	cmake --build --preset $(WEB_STUB_PRESET) --target zelp-stub

web: web-stub
	bash scripts/deps.sh web
	cmake --preset web -DZELP_WEB_STUB=$(WEB_STUB) >/dev/null
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
asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

asan-test: asan
	ctest --test-dir build/asan --output-on-failure -j2 -LE huge

# Every zelp run of the command-line tests under valgrind's memcheck: an error
# makes zelp exit 99, which fails the test. (Races and huge files excluded: slow.)
VALGRIND = valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
valgrind-test: native
	ZELP_WRAPPER="$(VALGRIND)" ctest --test-dir build/native --output-on-failure -j2 -L cli -E 'CliRace'

# libFuzzer targets (clang, ASan + UBSan). `make fuzz` runs each for
# FUZZ_SECONDS (60); `make test` runs each briefly.
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20
fuzz-build: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

fuzz: fuzz-build
	scripts/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	scripts/fuzz.sh $(FUZZ_SMOKE_SECONDS)

test: unit-test win-test wine-test asan-test valgrind-test fuzz-smoke web-test

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

clean:
	rm -rf build
