"""Fixtures shared by the tests of module _native and the extension frame.

The native modules are imported by name: `make test` installs _native into the virtual
environment and puts the build's test modules (_frametest) on PYTHONPATH. They are imported
inside the fixtures, so that test files that need neither can still be collected without them.
"""

import gc
import os
import subprocess
import sys
import threading
import time

import pytest


def panic_classes():
    return [
        candidate
        for candidate in gc.get_objects()
        # type(), not isinstance(): isinstance asks a proxy for its __class__, and a lazy one
        # (such as django.contrib.admin.site, once DRF imported the admin) would set itself up.
        if issubclass(type(candidate), type)
        and issubclass(candidate, BaseException)
        and candidate.__name__ == "PanicException"
        and candidate.__dict__.get("__module__") == "pyo3_runtime"
    ]


@pytest.fixture(scope="session")
def frametest_panic_exception():
    """The PanicException class raised by faults of the test module _frametest."""
    import _frametest

    try:
        _frametest.fault_here("obtaining the class")
    except BaseException as caught:  # noqa: BLE001 - PanicException is a BaseException
        return type(caught)
    pytest.fail("fault_here() returned instead of raising")


@pytest.fixture(scope="session")
def panic_exception(frametest_panic_exception):
    """The PanicException class of the library that serves _native and sorvel_django.

    It is not exported, and the library cannot be made to fault on request, so make it fetch an
    ordinary error (which creates the class on first need) and find the class among the
    interpreter's objects. Other libraries linking their own copy of the frame (_frametest,
    _enginetest) have classes of their own: the library's is the one it resumes when a property
    raises it, where any other exception only makes the field missing.
    """
    import _native

    with pytest.raises(TypeError):
        _native.batch_stats(["not a number"])
    schema = _native.Schema({"amount": _native.Field(int, nullable=True)})

    def resumed(cls):
        class Raising:
            @property
            def amount(self):
                raise cls("which class")

        try:
            _native.validate(Raising(), schema)
        except cls:
            return True
        return False

    ours = [c for c in panic_classes() if c is not frametest_panic_exception and resumed(c)]
    assert len(ours) == 1, ours
    return ours[0]


@pytest.fixture(scope="session")
def run_python():
    """Runs a snippet in a fresh interpreter with the same import path.

    Returns the completed process; `env` entries replace (or, given as None, remove) variables.
    """

    def run(code, env=None, check=True):
        environment = dict(os.environ)
        environment["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = value
        completed = subprocess.run(
            [sys.executable, "-c", code],
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
        )
        if check and completed.returncode != 0:
            pytest.fail(f"subprocess failed ({completed.returncode}):\n{completed.stderr}")
        return completed

    return run


@pytest.fixture
def lock_probe():
    """Measures how far another Python thread gets while a call runs.

    The helper thread counts and naps briefly between counts, so it hands the interpreter lock
    back at once whenever the main thread wants it. The switch interval is raised for the
    test, so the helper can never force the main thread to give the lock up: the helper only
    advances while the main thread has released the lock of its own accord. A call that keeps
    the lock throughout therefore shows no progress at all.
    """
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0.0002)

    saved_interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    helper = threading.Thread(target=count, daemon=True)
    helper.start()
    try:
        while counter[0] == 0:
            time.sleep(0.001)

        def progress_during(call, repeat=1):
            before = counter[0]
            for _ in range(repeat):
                call()
            return counter[0] - before

        yield progress_during
    finally:
        stop.set()
        helper.join()
        sys.setswitchinterval(saved_interval)
