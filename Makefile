# The two commands of the README: `make demo` and `make test`. Everything else is a helper.
PYTHON ?= python3
BUILD_DIR ?= build/dev
JOBS ?= $(shell nproc)
PYTHONPATH_BUILD := $(CURDIR)/$(BUILD_DIR):$(CURDIR)/python
# The interpreter that builds and tests use: $(PYTHON), or the project's venv where the
# distribution manages $(PYTHON) (scripts/install-deps makes it).
PY := $(shell PYTHON=$(PYTHON) bash scripts/project-python)

.PHONY: demo test deps build test-cpp test-python test-numpy1 test-debian12 test-debian13 bench install clean fuzz-deps fuzz fuzz-run test-asan

deps:
	PYTHON=$(PYTHON) bash scripts/install-deps

CONFIGURE = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PY)

# Everything: the library, the module and its type stubs, the C++ tests and the benchmark programs.
build: deps
	$(CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	$(MAKE) --no-print-directory test-cpp test-python

test-cpp:
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-python:
	PYTHONPATH=$(PYTHONPATH_BUILD) $(PY) -m pytest -q tests/python

test-numpy1: build
	bash scripts/test-numpy1 $(BUILD_DIR)

# The README's two commands in fresh Debian 12 and 13 roots kept in build/root-SUITE
# (needs root; CI runs both).
test-debian12:
	bash scripts/test-in-root bookworm

test-debian13:
	bash scripts/test-in-root trixie

# Only what the demo runs, so that a first run shows something soon: the library and the module.
demo:
	PYTHON=$(PYTHON) bash scripts/install-deps --demo
	$(CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target _vemo
	PYTHONPATH=$(PYTHONPATH_BUILD) $(PY) -m quorvantine.vemo demo

bench: build
	PYTHON=$(PY) bash scripts/run-benchmarks $(BUILD_DIR)

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
	  -DPython_EXECUTABLE=$(PY)
	cmake --build $(ASAN_DIR) -j $(JOBS) --target vemo_tests _vemo _vemo_testing
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)
	preload=$$(ldd $(ASAN_DIR)/_vemo.*.so | awk '/libasan/ { asan = $$3 } /libstdc\+\+/ { cxx = $$3 } END { print asan, cxx }'); \
	  case "$$preload" in *libasan*) ;; *) echo "test-asan: the module does not link the ASan runtime"; exit 1 ;; esac; \
	  LD_PRELOAD="$$preload" ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  PYTHONPATH=$(CURDIR)/$(ASAN_DIR):$(CURDIR)/python $(PY) -m pytest -q tests/python \
	  --deselect tests/python/test_python_niceties.py::test_stubs_are_built_and_mypy_checks_a_user_script

install: deps
	$(PY) -m pip install .

clean:
	rm -rf build
