"""Instruction counts of the record paths: `make bench-instructions`.

Wall-clock times on a small shared machine wander; instruction counts do not. Each contender of
each record case runs in its own process under `valgrind --tool=callgrind`, with collection
switched on only inside the measured calls (they run through sys.call_tracing, a C function
nothing else calls), after one warm-up call. The table gives instructions per object and the
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


def child(case_index: int, contender_index: int, size: int, repeats: int) -> None:
    from harness import Skip

    case = record_cases(size)[case_index]
    contender = case.contenders[contender_index]
    try:
        data = case.make_input(size)
        contender.run(data)
    except Skip as reason:
        print(f"skip: {reason}")
        raise SystemExit(3)

    def measured():
        for _ in range(repeats):
            contender.run(data)

    sys.call_tracing(measured, ())


def count(case_index, contender_index, size, repeats):
    command = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
               "--toggle-collect=sys_call_tracing", "--callgrind-out-file=/dev/null",
               sys.executable, os.path.abspath(__file__), "--child", str(case_index),
               str(contender_index), str(size), str(repeats)]
    environment = dict(os.environ, PYTHONHASHSEED="0", RAYON_NUM_THREADS="1")
    done = subprocess.run(command, capture_output=True, text=True, env=environment)
    if done.returncode == 3:
        return None, done.stdout.strip().removeprefix("skip: ")
    found = re.search(r"Collected : (\d+)", done.stderr)
    if done.returncode != 0 or not found:
        tail = done.stderr.strip().splitlines()[-3:]
        raise RuntimeError(f"callgrind run failed: {' / '.join(tail)}")
    return int(found.group(1)) / (repeats * size), ""


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=1000)
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--only", nargs="*", default=[])
    parser.add_argument("--output", default=os.path.join(HERE, "INSTRUCTIONS.md"))
    parser.add_argument("--child", nargs=4, type=int, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(*args.child)
        return
    if shutil.which("valgrind") is None:
        raise SystemExit("valgrind is not installed (apt-get install valgrind)")

    from harness import machine_text

    sections = []
    for case_index, case in enumerate(record_cases(args.size)):
        if args.only and not any(w.lower() in case.title.lower() for w in args.only):
            continue
        print(f"{case.title} …", flush=True)
        rows, skipped, base = [], [], None
        for contender_index, contender in enumerate(case.contenders):
            per_object, reason = count(case_index, contender_index, args.size, args.repeats)
            if per_object is None:
                skipped.append(f"Skipped: {contender.name} ({reason}).")
                if contender_index == 0:
                    break
                continue
            base = base or per_object
            print(f"  {contender.name}: {per_object:,.0f}", flush=True)
            rows.append(f"| {contender.name} | {per_object:,.0f} | **{per_object / base:.2f}×** |")
        lines = [f"### {case.title}", ""]
        if rows:
            lines += [f"| contender | instructions per {case.unit} | vs first row |",
                      "|---|---:|---:|"] + rows + [""]
        lines += skipped + [""]
        sections.append("\n".join(lines))
        print(sections[-1], flush=True)
    header = ["# Instruction counts of the record paths", "",
              f"Machine: {machine_text()}.",
              f"Run: `make bench-instructions`, {datetime.datetime.now(datetime.timezone.utc):"
              f"%Y-%m-%d %H:%M} UTC; N = {args.size:,} per call, {args.repeats} calls after a "
              "warm-up, callgrind counting only inside the calls (one thread).", ""]
    with open(args.output, "w") as out:
        out.write("\n".join(header + sections))
    print(f"saved {args.output}")


if __name__ == "__main__":
    main()
