"""The benchmark: `make bench` (or `python bench/run.py`), `make bench-full` for every size.

Every contender of a case runs in this one process, interleaved and repeated; the table gives
the minimum and the median per object and the ratio of the minimums to the case's first row.
The tables are printed and saved to bench/RESULTS.md. Nothing here is a test: nothing is
asserted about speed.

    python bench/run.py [--full] [--only WORD ...] [--output FILE] [--repeats N]
"""

from __future__ import annotations

import argparse
import datetime
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--full", action="store_true",
                        help="every size (N = 1, 100, 10,000, 100,000) and more repeats")
    parser.add_argument("--only", nargs="*", default=[],
                        help="run only the cases whose title contains one of these words")
    parser.add_argument("--output", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--repeats", type=int, default=None)
    parser.add_argument("--stream-rows", type=int, default=1_000_000)
    args = parser.parse_args(argv)

    sizes = (1, 100, 10_000, 100_000) if args.full else (1, 100, 10_000)
    repeats = args.repeats or (9 if args.full else 5)
    sample_seconds = 0.05 if args.full else 0.02

    import django_setup

    django_setup.setup()
    from cases_batches import batch_cases
    from cases_plain import plain_cases
    from cases_records import instance_cases, json_cases
    from cases_sorvel import sorvel_cases, stream_memory

    cases = (instance_cases(sizes) + sorvel_cases(sizes) + json_cases(sizes)
             + plain_cases(sizes) + batch_cases(args.full))
    if args.only:
        cases = [c for c in cases if any(w.lower() in c.title.lower() for w in args.only)]

    started = time.time()
    sections = []
    for case in cases:
        print(f"{case.title} …", flush=True)
        result = harness.measure(case, repeats, sample_seconds)
        sections.append(harness.table(result))
        print(sections[-1], flush=True)
    if not args.only or any("stream" in w for w in args.only):
        with tempfile.TemporaryDirectory() as scratch:
            section = stream_memory(args.stream_rows, os.path.join(scratch, "stream.sqlite3"))
        sections.append(section)
        print(section, flush=True)

    header = [
        "# Benchmark results",
        "",
        f"Machine: {harness.machine_text()}.",
        f"Run: `{'make bench-full' if args.full else 'make bench'}`"
        f"{' (only: ' + ', '.join(args.only) + ')' if args.only else ''}, "
        f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC, "
        f"{repeats} interleaved rounds per size, {time.time() - started:.0f} s in all.",
        f"Packages: {versions()}.",
        "",
    ]
    with open(args.output, "w") as out:
        out.write("\n".join(header + sections))
    print(f"saved {args.output}")


def versions() -> str:
    from importlib import metadata

    names = ["sorvel", "Django", "djangorestframework", "msgspec", "pydantic", "marshmallow",
             "serpy", "numpy", "orjson"]
    found = []
    for name in names:
        try:
            found.append(f"{name} {metadata.version(name)}")
        except metadata.PackageNotFoundError:
            found.append(f"{name} absent")
    return ", ".join(found)


if __name__ == "__main__":
    main()
