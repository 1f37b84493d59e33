# The two commands of the README: `make demo` and `make test`. Everything else is a helper.
PYTHON ?= python3
BUILD_DIR ?= build/dev
JOBS ?= $(shell nproc)
PYTHONPATH_BUILD := $(CURDIR)/$(BUILD_DIR):$(CURDIR)/python

.PHONY: demo test deps build test-cpp test-python test-numpy1 bench install clean

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

demo: build
	PYTHONPATH=$(PYTHONPATH_BUILD) $(PYTHON) -m quorvantine.vemo demo

bench: build
	bash scripts/run-benchmarks $(BUILD_DIR)

install: deps
	$(PYTHON) -m pip install .

clean:
	rm -rf build
