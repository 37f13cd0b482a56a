# The project's entry points. Each target installs what is missing first, so a fresh
# machine needs nothing by hand.
JOBS ?= 2

.PHONY: deps build test check demo bench format format-check clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default -j $(JOBS)

# AddressSanitizer + UndefinedBehaviorSanitizer build, all tests.
check: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

demo: build
	scripts/demo.sh

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target kw_bench
	build-release/bin/kw_bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-release out
