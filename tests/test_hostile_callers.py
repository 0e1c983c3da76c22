"""What a hostile or unlucky caller can do to the process: fork while pooled work runs, exit
while daemon threads are inside a call, size the pool absurdly, call the library again from a
hook while it sets itself up, recurse through a value's __str__ on a small stack, lie about a
length. Each ends in a result or a clean exception, never a hang, an abort or PanicException.
The process-level cases run in subprocesses with a time limit."""

import subprocess
import sys
import textwrap

import pytest

from django_app.environment import start_django

start_django()

import _native  # noqa: E402
import sorvel_django  # noqa: E402
from _native import Field, Schema  # noqa: E402

from django_app.fakes import FakeField, fake_model  # noqa: E402

LIMIT = 60  # seconds; every case below finishes in a few


def run(code, env=None, limit=LIMIT):
    """Runs `code` in a fresh interpreter; a hang fails the test instead of stalling the run."""
    import os

    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    environment.update(env or {})
    try:
        return subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c",
                               textwrap.dedent(code)], env=environment, capture_output=True,
                              text=True, timeout=limit)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"hung for {limit} s:\n{expired.stdout}\n{expired.stderr}")


def succeeds(code, env=None):
    completed = run(code, env)
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


# --- fork ----------------------------------------------------------------------------------------

# Forks, and in the child makes pooled calls; prints the child's exit status (0: all correct).
FORK_AND_CHECK = textwrap.dedent("""
    import os, _native
    def fork_and_check():
        pid = os.fork()
        if pid == 0:
            stats = _native.batch_stats([float(i) for i in range(100_000)])
            names = _native.validate_names_batch(["Jane Doe", "x"] * 5000)
            ok = [n["valid"] for n in names[:2]] == [True, False]
            os._exit(0 if stats["count"] == 100_000 and ok else 3)
        print(os.waitpid(pid, 0)[1], flush=True)
""")


def test_fork_while_another_thread_is_inside_a_pooled_call():
    out = succeeds(FORK_AND_CHECK + textwrap.dedent("""
        import threading, time
        data = [float(i) for i in range(1_000_000)]
        def busy():
            while True:
                _native.batch_stats(data)
        threading.Thread(target=busy, daemon=True).start()
        time.sleep(0.2)
        for _ in range(3):
            fork_and_check()
    """))
    assert out.split() == ["0", "0", "0"]


def test_fork_while_pooled_work_outlasts_the_wait_runs_the_childs_work_inline():
    # The fork waits a while for the work to finish; this work does not, so the child cannot
    # trust its copy of the pool and runs pooled work on its own thread, faults included.
    out = succeeds(FORK_AND_CHECK + textwrap.dedent("""
        import threading, time, _frametest
        threading.Thread(target=_frametest.sleep_pooled, args=(4.0,), daemon=True).start()
        time.sleep(0.3)
        pid = os.fork()
        if pid == 0:
            try:
                _frametest.fault_on_worker()
            except BaseException as fault:
                print(type(fault).__name__, fault, flush=True)
            fork_and_check()  # and the grandchild too
            os._exit(0)
        os.waitpid(pid, 0)
        fork_and_check()
    """))
    assert out.split("\n")[:3] == ["PanicException fault on a worker", "0", "0"]


@pytest.mark.parametrize("when", ["before", "after"])
def test_fork_with_nothing_in_flight(when):
    out = succeeds(FORK_AND_CHECK + textwrap.dedent(f"""
        if "{when}" == "after":
            _native.batch_stats([float(i) for i in range(100_000)])
        fork_and_check()
    """))
    assert out.split() == ["0"]


def test_results_in_an_inline_child_are_those_of_the_pool():
    out = succeeds("""
        import os, threading, time, _native, _frametest
        values = [((i * 7919) % 10007) / 7.0 - 600 for i in range(100_001)]
        def answers():
            stats = _native.batch_stats(values)
            risk = _native.compute_risk_batch([{"credit_score": v} for v in values[:5000]])
            return repr((stats, risk[::97]))
        before = answers()
        threading.Thread(target=_frametest.sleep_pooled, args=(4.0,), daemon=True).start()
        time.sleep(0.3)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if answers() == before else 3)
        print(os.waitpid(pid, 0)[1])
    """)
    assert out.split() == ["0"]


# --- exit ----------------------------------------------------------------------------------------

@pytest.mark.parametrize("call", [
    "_native.batch_stats(data)",
    "_native.validate_names_batch(names)",
    "_native.compute_risk_batch(records)",
    "_native.validate(record, wide)",
    "_frametest.sleep_detached(0.001)",
])
def test_exit_while_daemon_threads_are_inside_calls(call):
    completed = run(f"""
        import threading, time, _native, _frametest
        data = [float(i) for i in range(300_000)]
        names = ["Jane Doe"] * 50_000
        records = [{{"credit_score": 700}}] * 50_000
        wide = _native.Schema({{f"f{{i}}": _native.Field(int) for i in range(300)}})
        record = {{f"f{{i}}": i for i in range(300)}}
        def busy():
            while True:
                {call}
        for _ in range(3):
            threading.Thread(target=busy, daemon=True).start()
        time.sleep(0.3)
        print("leaving", flush=True)
    """)
    assert (completed.returncode, completed.stdout) == (0, "leaving\n"), completed.stderr
    assert "terminate" not in completed.stderr


# --- pool size -----------------------------------------------------------------------------------

@pytest.mark.parametrize("variable, value", [
    ("RAYON_NUM_THREADS", "2147483648"),  # wraps to a negative int
    ("RAYON_NUM_THREADS", "3000000000"),
    ("RAYON_NUM_THREADS", "4294967295"),
    ("RAYON_NUM_THREADS", "9" * 40),  # beyond 64 bits
    ("RAYON_RS_NUM_CPUS", "4294967296"),
])
def test_huge_pool_sizes_are_capped_and_the_pool_works(variable, value):
    out = succeeds("""
        import _native, _frametest
        print(_frametest.pool_size())
        for _ in range(3):
            print(_native.batch_stats([1.0] * 100_000)["count"])
    """, env={variable: value})
    assert out.split() == ["256"] + ["100000"] * 3


# --- re-entry during first use -------------------------------------------------------------------

def test_hook_calling_the_library_during_its_first_use_gets_an_error_instead_of_a_hang():
    out = succeeds("""
        import sys, _native
        Date = type("date", (), {"isoformat": lambda self: "2024-01-05"})
        schema = _native.Schema({"d": _native.Field(Date)})
        busy = []
        def hook(event, args):
            if event == "import" and not busy:
                busy.append(1)
                try:
                    _native.serialize({"d": Date()}, schema)
                    print("inner done")
                except RuntimeError as error:
                    print("inner", error)
                finally:
                    busy.pop()
        assert "datetime" not in sys.modules
        sys.addaudithook(hook)
        print("outer", _native.serialize({"d": Date()}, schema))
        print("again", _native.serialize({"d": Date()}, schema))
    """)
    lines = out.splitlines()
    assert lines[-2:] == ["outer {'d': '2024-01-05'}", "again {'d': '2024-01-05'}"]
    assert "inner reentrant call during the library's one-time initialization" in lines[0]


def test_first_use_from_several_threads_creates_once_and_waits_without_the_lock():
    out = succeeds("""
        import threading, _native, datetime
        schema = _native.Schema({"d": _native.Field(datetime.date)})
        results = []
        def use():
            results.append(_native.serialize({"d": datetime.date(2024, 1, 5)}, schema))
        threads = [threading.Thread(target=use) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        print(len(results), results[0])
    """)
    assert out.split("\n")[0] == "8 {'d': '2024-01-05'}"


# --- recursion -----------------------------------------------------------------------------------

def test_recursion_through_a_values_str_raises_recursion_error_on_a_small_stack():
    out = succeeds("""
        import decimal, threading, _native
        schema = _native.Schema({"v": _native.Field(decimal.Decimal)})
        class Again(decimal.Decimal):
            def __str__(self):
                return _native.serialize({"v": Again(1)}, schema)["v"]
        def run():
            try:
                _native.serialize({"v": Again(1)}, schema)
            except RecursionError:
                print("RecursionError")
        threading.stack_size(1 << 20)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
        print(_native.serialize({"v": decimal.Decimal(2)}, schema))
    """)
    assert out.split("\n")[:2] == ["RecursionError", "{'v': '2'}"]


def test_recursion_on_the_main_thread_raises_recursion_error():
    import decimal

    schema = Schema({"v": Field(decimal.Decimal)})

    class Again(decimal.Decimal):
        def __str__(self):
            return _native.serialize({"v": Again(1)}, schema)["v"]

    with pytest.raises(RecursionError):
        _native.serialize({"v": Again(1)}, schema)
    assert _native.serialize({"v": decimal.Decimal(2)}, schema) == {"v": "2"}


# --- lying lengths -------------------------------------------------------------------------------

class Liar:
    """A sequence of three bytes that claims to hold 2**62 items."""

    def __len__(self):
        return 2**62

    def __getitem__(self, index):
        if index < 3:
            return 65
        raise IndexError(index)


def test_a_lying_len_is_only_a_hint():
    schema = Schema({"b": Field(bytes)})
    assert _native.serialize({"b": Liar()}, schema) == {"b": "QUFB"}
    assert _native.validate({"b": Liar()}, schema)["is_valid"]
    descriptors = [{"name": "b", "type": "BinaryField", "nullable": False, "has_default": False}]
    assert sorvel_django.serialize_fields(descriptors, {"b": Liar()}) == {"b": "QUFB"}


class LyingFields:
    def __init__(self, fields):
        self.fields = fields

    def __len__(self):
        return 2**62

    def __getitem__(self, index):
        return self.fields[index]


def test_a_lying_len_of_get_fields():
    model = fake_model(LyingFields([FakeField("title", max_length=5)]))
    assert sorvel_django.ModelSchema(model).field_names_list == ["title"]
    assert [d["name"] for d in sorvel_django.extract_model_fields(model)] == ["title"]
