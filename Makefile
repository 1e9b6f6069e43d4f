# A thin front for CMake's presets: `make example` and `make test` are all a newcomer needs.
JOBS ?= $(shell nproc)
EXAMPLE ?= examples/state_space_run.log
# The makes that CMake runs would announce every directory they enter ("Entering directory").
MAKEFLAGS += --no-print-directory

.PHONY: example release test debug asan tsan clean

example: release
	@./build/release/sift_runlog -header
	@./build/release/sift_runlog $(EXAMPLE)

release:
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)

debug:
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)

test: debug
	ctest --preset debug -j $(JOBS)

asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Only the tests of what runs threads (the companion, reading ahead): the rest has none.
tsan:
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

clean:
	rm -rf build
