"""Instruction counts of the record paths: `make bench-instructions`.

Wall-clock times on a small shared machine wander; instruction counts do not. Each record case
runs in its own process under `valgrind --tool=callgrind`, with collection switched on only
inside the measured calls (they run through sys.call_tracing, a C function nothing else calls)
and the profile dumped after each contender's calls; each contender has one warm-up call first. The table gives instructions per object and the
ratio to the case's first row; it is printed and saved to bench/INSTRUCTIONS.md.

    python bench/instructions.py [--size N] [--repeats R] [--only WORD ...]
"""

import argparse
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

RECORD_CASES = ["instances → dicts", "values_list", "JSON bytes", "validate_many of request",
                "serialize_many, plain", "validate_many, valid dicts",
                "validate_many, dicts with 10"]


def record_cases(size):
    import django_setup

    django_setup.setup()
    from cases_plain import plain_cases
    from cases_records import instance_cases, json_cases
    from cases_sorvel import sorvel_cases

    every = instance_cases((size,)) + sorvel_cases((size,)) + json_cases((size,)) \
        + plain_cases((size,))
    return [c for c in every if any(w in c.title for w in RECORD_CASES)]


def child(case_index: int, size: int, repeats: int) -> None:
    """Runs every contender of one case; prints the names of those measured, in order."""
    from harness import Skip

    case = record_cases(size)[case_index]
    data = case.make_input(size)
    for contender in case.contenders:
        try:
            contender.run(data)
        except Skip as reason:
            print(f"skip\t{contender.name}\t{reason}", flush=True)
            continue

        def measured():
            for _ in range(repeats):
                contender.run(data)

        sys.call_tracing(measured, ())
        print(f"measured\t{contender.name}", flush=True)


def count(case_index: int, size: int, repeats: int, scratch: str):
    """[(contender, instructions per object or None, reason)] for one case, from one process
    whose profile is dumped after each measured call."""
    out = os.path.join(scratch, f"case{case_index}.out")
    command = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
               "--toggle-collect=sys_call_tracing", "--dump-after=sys_call_tracing",
               f"--callgrind-out-file={out}", sys.executable, os.path.abspath(__file__),
               "--child", str(case_index), str(size), str(repeats)]
    environment = dict(os.environ, PYTHONHASHSEED="0", RAYON_NUM_THREADS="1")
    done = subprocess.run(command, capture_output=True, text=True, env=environment)
    if done.returncode != 0:
        tail = done.stderr.strip().splitlines()[-3:]
        raise RuntimeError(f"callgrind run failed: {' / '.join(tail)}")
    results, dump = [], 0
    for line in done.stdout.splitlines():
        kind, name, *reason = line.split("\t")
        if kind == "skip":
            results.append((name, None, reason[0]))
            continue
        dump += 1
        with open(f"{out}.{dump}") as profile:
            total = next(int(row.split()[1]) for row in profile
                         if row.startswith(("totals:", "summary:")))
        results.append((name, total / (repeats * size), ""))
    return results


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=1000)
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--only", nargs="*", default=[])
    parser.add_argument("--output", default=os.path.join(HERE, "INSTRUCTIONS.md"))
    parser.add_argument("--child", nargs=3, type=int, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(*args.child)
        return
    if shutil.which("valgrind") is None:
        raise SystemExit("valgrind is not installed (apt-get install valgrind)")

    from harness import machine_text

    sections = []
    with tempfile.TemporaryDirectory() as scratch:
        for case_index, case in enumerate(record_cases(args.size)):
            if args.only and not any(w.lower() in case.title.lower() for w in args.only):
                continue
            print(f"{case.title} …", flush=True)
            rows, skipped, base = [], [], None
            for name, per_object, reason in count(case_index, args.size, args.repeats, scratch):
                if per_object is None:
                    skipped.append(f"Skipped: {name} ({reason}).")
                    continue
                base = base or per_object
                rows.append(f"| {name} | {per_object:,.0f} | **{per_object / base:.2f}×** |")
            lines = [f"### {case.title}", ""]
            if rows:
                lines += [f"| contender | instructions per {case.unit} | vs first row |",
                          "|---|---:|---:|"] + rows + [""]
            lines += skipped + [""]
            sections.append("\n".join(lines))
            print(sections[-1], flush=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    header = ["# Instruction counts of the record paths", "",
              f"Machine: {machine_text()}.",
              f"Run: `make bench-instructions`, {now:%Y-%m-%d %H:%M} UTC; N = {args.size:,} per "
              f"call, {args.repeats} calls after a warm-up, callgrind counting only inside the "
              "calls (one thread).", ""]
    with open(args.output, "w") as out:
        out.write("\n".join(header + sections))
    print(f"saved {args.output}")


if __name__ == "__main__":
    main()
