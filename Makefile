# The two commands of the README: `make demo` and `make test`. Everything else is a helper.
PYTHON ?= python3
BUILD_DIR ?= build/dev
JOBS ?= $(shell nproc)
PYTHONPATH_BUILD := $(CURDIR)/$(BUILD_DIR):$(CURDIR)/python

.PHONY: demo test deps build test-cpp test-python test-numpy1 test-debian13 bench install clean fuzz-deps fuzz fuzz-run test-asan

deps:
	bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$(command -v $(PYTHON))
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	$(MAKE) --no-print-directory test-cpp test-python

test-cpp:
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-python:
	PYTHONPATH=$(PYTHONPATH_BUILD) $(PYTHON) -m pytest -q tests/python

test-numpy1: build
	bash scripts/test-numpy1 $(BUILD_DIR)

# The library and the C++ tests against Debian 13's OpenCV 4.10, in a Debian 13 root kept in
# build/debian13 (needs root; CI runs it after `make test`).
test-debian13:
	JOBS=$(JOBS) PYTHON=$(PYTHON) bash scripts/test-debian13

demo: build
	PYTHONPATH=$(PYTHONPATH_BUILD) $(PYTHON) -m quorvantine.vemo demo

bench: build
	bash scripts/install-deps --bench
	bash scripts/run-benchmarks $(BUILD_DIR)

# Robustness helpers, not part of `make test`: the fuzz targets (clang's libFuzzer with
# AddressSanitizer and UBSan) and the C++ and Python tests under AddressSanitizer and UBSan.
FUZZ_DIR ?= build/fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= fuzz_npz fuzz_hand_eye_json fuzz_multi_camera_json fuzz_multi_camera_folders fuzz_hand_eye_dataset
ASAN_DIR ?= build/asan

fuzz-deps:
	bash scripts/install-deps --fuzz

fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVEMO_FUZZ=ON -DVEMO_SANITIZE=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz-run: fuzz
	bash scripts/run-fuzzers $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The Python tests load the sanitized module into an interpreter that is not: the ASan
# runtime the module links must be preloaded, and the C++ runtime with it (else ASan
# finds no __cxa_throw to intercept and aborts at the first exception). Python's own
# allocations are never freed at exit, so leak reports would only list those. The type
# stubs, which only the plain build writes, are checked there.
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMO_SANITIZE=ON -DVEMO_BUILD_BENCH=OFF \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON))
	cmake --build $(ASAN_DIR) -j $(JOBS) --target vemo_tests _vemo _vemo_testing
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)
	preload=$$(ldd $(ASAN_DIR)/_vemo.*.so | awk '/libasan/ { asan = $$3 } /libstdc\+\+/ { cxx = $$3 } END { print asan, cxx }'); \
	  case "$$preload" in *libasan*) ;; *) echo "test-asan: the module does not link the ASan runtime"; exit 1 ;; esac; \
	  LD_PRELOAD="$$preload" ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  PYTHONPATH=$(CURDIR)/$(ASAN_DIR):$(CURDIR)/python $(PYTHON) -m pytest -q tests/python \
	  --deselect tests/python/test_python_niceties.py::test_stubs_are_built_and_mypy_checks_a_user_script

install: deps
	$(PYTHON) -m pip install .

clean:
	rm -rf build
