# `make test` is the one test command: it sets up everything it needs on a fresh machine
# (Debian packages, a .venv from Python 3.13, packages from the index), builds the extension
# through pip, and runs the C++ codec tests and the Python tests.

VENV      := .venv
PYTHON    := $(VENV)/bin/python
BUILD_DIR := build/test
APT_DEPS  := libtbb-dev

.PHONY: test build deps system-deps bench clean

test: build
	$(BUILD_DIR)/cpp_tests
	PYTHONPATH=$(BUILD_DIR)/testmodules $(PYTHON) -m pytest -q tests

build: deps
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps --force-reinstall \
	    -C build-dir=$(BUILD_DIR) -C cmake.define.SORVEL_BUILD_TESTS=ON .

deps: $(VENV)/.deps-installed

$(VENV)/.deps-installed: requirements-dev.txt | system-deps
	@python=$$(tools/find-python.sh) || exit 1; \
	  [ -x $(PYTHON) ] || $$python -m venv $(VENV)
	$(PYTHON) -m pip install --quiet --upgrade pip
	$(PYTHON) -m pip install --quiet -r requirements-dev.txt
	touch $@

system-deps:
	@missing=""; for pkg in $(APT_DEPS); do \
	  dpkg -s $$pkg >/dev/null 2>&1 || missing="$$missing $$pkg"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  sudo=""; [ "$$(id -u)" = 0 ] || sudo=sudo; \
	  $$sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq $$missing; \
	fi

bench: build
	$(PYTHON) bench/bench_batches.py

clean:
	rm -rf build $(VENV)
