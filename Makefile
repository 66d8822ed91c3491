# Convenience targets; everything is CMake underneath.
BUILD ?= build
JOBS ?= $(shell nproc)
# Extra CMake settings, e.g. CMAKE_FLAGS=-DPIXAVANT_WERROR=ON as CI builds.
CMAKE_FLAGS ?=

.PHONY: deps configure build display run test test-sanitize test-thread bench package mutate clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts Pixavant on the desktop; without a display it says so before installing or building.
run: display build
	./$(BUILD)/app/pixavant

display:
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    echo "make run: there is no display (DISPLAY and WAYLAND_DISPLAY are unset)." >&2; \
	    echo "Start Pixavant from a desktop session." >&2; exit 1; fi

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPIXAVANT_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The threaded parts under ThreadSanitizer: the RAW pass and the windows' workers (test_browser),
# the extractor (test_shell) and the viewer's read-ahead (test_viewer). A report fails the run.
TSAN_TESTS = browser/test_browser shell/test_shell viewer/test_viewer
# Optimised: unoptimised, Qt's queued-call template reads the sender's stack after the call,
# past the point where the hand-off to the waiting thread can be told to the checker.
test-thread: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXAVANT_THREAD_SANITIZE=ON \
	    $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	set -e; for t in $(TSAN_TESTS); do echo "--- $$t"; \
	    QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp" \
	    build-tsan/tests/$$t --gtest_brief=1; done

bench:
	PIXAVANT_BENCH_DEPS=1 ./scripts/install-deps.sh
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPIXAVANT_BENCH=ON
	cmake --build build-bench -j $(JOBS)

package: build
	cd $(BUILD) && cpack -G DEB

# Plants single faults in the sources and reports which ones the tests miss (not part of test).
MUTATE_PATHS ?= browser viewer about controls thumbs decoder shell platform
mutate:
	PIXAVANT_MUTATE_DEPS=1 ./scripts/install-deps.sh
	python3 scripts/mutate $(MUTATE_PATHS)

clean:
	rm -rf $(BUILD) build-sanitize build-tsan build-bench build-mutate build-mutate-sanitize
