"""The installed modules' types, as type checkers see them after `pip install`.

stubtest compares the stubs with the modules at run time; mypy --strict checks an example that
uses every module, and must reject misuse, which it can only do if it found the stubs.
"""

import pathlib
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "examples" / "typed_usage.py"


def run(*args, cwd=ROOT):
    return subprocess.run(
        [sys.executable, *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    # Kept between runs beside the incremental build when there is one: mypy reads the standard
    # library's stubs once instead of on every run.
    build = ROOT / "build" / "test"
    return build / "mypy-cache" if build.is_dir() else tmp_path_factory.mktemp("mypy-cache")


def mypy(mypy_cache, *args):
    return run("-m", "mypy", "--strict", "--cache-dir", str(mypy_cache), *args)


def test_stubs_match_the_modules_at_run_time(tmp_path):
    # From a directory outside the source tree, so that only installed files are seen.
    result = run("-m", "mypy.stubtest", "_native", "sorvel_django", "sorvel_core", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success" in result.stdout


def test_the_example_type_checks_strictly(mypy_cache):
    result = mypy(mypy_cache, str(EXAMPLE))
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_example_runs():
    result = run(str(EXAMPLE))
    assert result.returncode == 0, result.stdout + result.stderr
    assert "all modules ran" in result.stdout


def test_mypy_rejects_misuse_of_each_module(mypy_cache, tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(
        textwrap.dedent(
            """\
            import _native
            import sorvel_django
            from sorvel_core import Field, Schema, serialize

            Field(str, max_length="100")
            serialize({"title": "Pen"})
            _native.batch_stats(["1.5"])
            sorvel_django.serialize_batch([], Schema({}))
            from sorvel_core import ModelSchema
            """
        )
    )
    result = mypy(mypy_cache, "--no-error-summary", str(misuse))
    output = result.stdout.splitlines()
    errors = [line.split(": error: ")[0] for line in output if ": error: " in line]
    lines = sorted(int(location.rsplit(":", 1)[1]) for location in errors)
    assert lines == [5, 6, 7, 8, 9], result.stdout
    assert "import-not-found" not in result.stdout and "import-untyped" not in result.stdout
