"""The demo project: its endpoints serve the same data, and its client measures only loopback."""

import importlib.util
import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("rest_framework")

DEMO = pathlib.Path(__file__).resolve().parent.parent / "demo"


def manage(database, *args):
    env = dict(
        os.environ, SORVEL_DEMO_DB=str(database), DJANGO_SETTINGS_MODULE="sorvel_demo.settings"
    )
    return subprocess.run(
        [sys.executable, "manage.py", *args],
        cwd=DEMO,
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )


def test_every_endpoint_serves_the_same_rows(tmp_path):
    database = tmp_path / "demo.sqlite3"
    for command in (["migrate", "--verbosity", "0"], ["seed", "--rows", "120"]):
        result = manage(database, *command)
        assert result.returncode == 0, result.stdout + result.stderr
    result = manage(database, "compare_endpoints", "--limit", "100")
    assert result.returncode == 0, result.stdout + result.stderr
    served = [line.split(":")[0] for line in result.stdout.splitlines()]
    assert set(served) == {
        "drf",
        "drf-sorvel",
        "sorvel",
        "sorvel-stream",
        "sorvel-django-batch",
        "sorvel-django-values",
        "django",
    }
    assert all(line.endswith("100 rows, same data") for line in result.stdout.splitlines())
    result = manage(database, "breakdown", "--limit", "20", "--rounds", "1")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "sorvel ArticleOut.dump_json" in result.stdout


@pytest.fixture(scope="module")
def measure():
    spec = importlib.util.spec_from_file_location("demo_measure", DEMO / "measure.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.mark.parametrize("url", ["http://127.0.0.1:8000", "http://localhost:9", "http://[::1]:80"])
def test_the_client_accepts_loopback(measure, url):
    assert measure.loopback_only(url).hostname in {"127.0.0.1", "localhost", "::1"}


@pytest.mark.parametrize("url", ["http://10.1.2.3:8000", "http://192.168.0.1", "http://8.8.8.8"])
def test_the_client_refuses_other_addresses(measure, url):
    with pytest.raises(SystemExit, match="not a loopback address"):
        measure.loopback_only(url)
