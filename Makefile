# Thin wrappers over the CMake presets. `make test` and `make demo` work on a
# fresh Debian machine: they install what they need first.
.PHONY: all deps native test unit-test demo bench clean

all: native

deps:
	bash scripts/deps.sh native

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

unit-test: native
	ctest --test-dir build/native --output-on-failure -j2

test: unit-test

clean:
	rm -rf build
