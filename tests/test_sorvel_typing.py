"""The sorvel package as type checkers see it: mypy --strict over the installed package and over
an example that uses it, and misuse that it must reject."""

import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("mypy")

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLE = pathlib.Path(__file__).resolve().parent / "sorvel_typed_example.py"


def mypy(cwd, *args):
    cache = ROOT / "build" / "test" / "mypy-cache"
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--config-file", str(ROOT / "pyproject.toml"),
         "--cache-dir", str(cache), *args],
        cwd=cwd, capture_output=True, text=True, timeout=300,
    )  # fmt: skip


def test_the_installed_package_and_the_example_type_check(tmp_path):
    # From outside the source tree, so that the installed package (with py.typed) is checked.
    package = mypy(tmp_path, "-p", "sorvel")
    assert package.returncode == 0, package.stdout + package.stderr
    example = mypy(tmp_path, str(EXAMPLE))
    assert example.returncode == 0, example.stdout + example.stderr


def test_mypy_rejects_misuse(tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(
        "from sorvel.django import ModelSerializer\n"
        "text: str = ModelSerializer.dump_json([])\n"
        "ModelSerializer.stream_json([], chunk_size='big')\n"
        "ModelSerializer.dump_one()\n"
    )
    result = mypy(tmp_path, "--no-error-summary", str(misuse))
    lines = sorted(
        int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error: " in line
    )
    assert lines == [2, 3, 4], result.stdout
