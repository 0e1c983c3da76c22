# `make test` is the one test command: it sets up everything it needs on a fresh machine with a
# C++ compiler and Python 3.13 (a .venv, packages from the index, oneTBB among them), builds the
# extension through pip into build/test (kept between runs, ignored by git), and runs the C++
# codec tests and the Python tests.

VENV      := .venv
PYTHON    := $(VENV)/bin/python
BUILD_DIR := build/test

.PHONY: test build deps bench bench-full bench-instructions bench-deps demo demo-stop check-install sanitize clean

test: build
	$(BUILD_DIR)/cpp_tests
	PYTHONPATH=$(BUILD_DIR)/testmodules $(PYTHON) -m pytest -q tests

build: deps
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps --force-reinstall \
	    -C build-dir=$(BUILD_DIR) -C cmake.define.SORVEL_BUILD_TESTS=ON .

deps: $(VENV)/.deps-installed

$(VENV)/.deps-installed: requirements-dev.txt
	@python=$$(tools/find-python.sh) || exit 1; \
	  [ -x $(PYTHON) ] || $$python -m venv $(VENV)
	$(PYTHON) -m pip install --quiet --upgrade pip
	$(PYTHON) -m pip install --quiet -r requirements-dev.txt
	touch $@

# The benchmark (not a test): every contender in one process, interleaved; the tables are
# printed and saved to bench/RESULTS.md. The contenders are installed here only, never by
# `make test`. bench-full runs every size; bench-instructions counts instructions (valgrind).
bench: build bench-deps
	$(PYTHON) bench/run.py

bench-full: build bench-deps
	$(PYTHON) bench/run.py --full

bench-instructions: build bench-deps
	@command -v valgrind >/dev/null || { \
	  sudo=""; [ "$$(id -u)" = 0 ] || sudo=sudo; \
	  $$sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq valgrind; }
	$(PYTHON) bench/instructions.py

bench-deps: $(VENV)/.bench-installed

$(VENV)/.bench-installed: bench/requirements.txt | deps
	$(PYTHON) -m pip install --quiet -r bench/requirements.txt
	touch $@

# The demo project (demo/): the same list endpoint served by DRF, by sorvel and by Django,
# on gunicorn on loopback, measured over HTTP; the server keeps running afterwards.
demo: build
	$(PYTHON) -m pip install --quiet -r demo/requirements.txt
	PYTHON=$(PYTHON) demo/run.sh

demo-stop:
	demo/stop.sh

# A new user's install on this machine with the system's oneTBB hidden: `pip install .`, an sdist
# and its install, each in a fresh venv, and the error of a build that finds no oneTBB.
check-install:
	tools/check-fresh-install.sh

# The whole suite against a build instrumented with AddressSanitizer and UBSan, installed apart
# (build/sanitize/site) so that .venv keeps the ordinary build. The interpreter itself is not
# instrumented: the ASan runtime is preloaded, with libstdc++ (ASan must find its throw at start,
# and Python does not load it), Python allocates with malloc (so ASan sees every block), leak
# checking is off (the interpreter does not free everything at exit), and a huge allocation that
# fails returns null, as it does without ASan, so that the tests see the library's MemoryError.
# Any report ends the run with an error; pytest captures at the sys level only, so that a report
# written to the process's stderr is seen.
SANITIZE_DIR := build/sanitize
SANITIZE_ENV := ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 PYTHONMALLOC=malloc \
	LD_LIBRARY_PATH=$(abspath $(VENV))/lib

sanitize: deps
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps --upgrade \
	    --target $(SANITIZE_DIR)/site -C build-dir=$(SANITIZE_DIR)/build \
	    -C cmake.define.SORVEL_BUILD_TESTS=ON -C cmake.define.SORVEL_SANITIZE=ON .
	$(SANITIZE_ENV) $(SANITIZE_DIR)/build/cpp_tests
	$(SANITIZE_ENV) LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libstdc++.so)" \
	    PYTHONPATH=$(abspath $(SANITIZE_DIR))/site:$(abspath $(SANITIZE_DIR))/build/testmodules \
	    $(PYTHON) -m pytest -q -p no:cacheprovider --capture=sys tests

clean:
	rm -rf build $(VENV)
