"""Two builds of the library in one process, timed interleaved: this build against another.

    python bench/ab.py OTHER_SO [--n 10000] [--rounds 15] [case ...]

OTHER_SO is the _native library file of another build (for example one installed with
`pip install --target /tmp/other .` from another commit). Both are loaded side by side (a
library file is mapped once per path, so each keeps its own state), each case runs on the same
input through both, alternately, with the caches evicted before each sample, and the ratio of
the minimums is printed. On a noisy shared machine, where two processes run minutes apart can
differ by a quarter, this narrows the spread: two identical builds have given 0.98 to 1.00 for
serialize_many and 0.93 to 1.11 for validate_many here, so run it several times and read the
median. Not a test.
"""

import argparse
import datetime
import decimal
import gc
import importlib.machinery
import importlib.util
import os
import resource
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def load(name, path):
    loader = importlib.machinery.ExtensionFileLoader(name, path)
    spec = importlib.util.spec_from_file_location(name, path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def serialize_many(n, modules):
    import cases_plain

    objs = cases_plain.items(n)

    def run(module):
        schema = module.Schema({
            "title": module.Field(str, max_length=100), "count": module.Field(int, min_value=0),
            "score": module.Field(float), "active": module.Field(bool),
            "price": module.Field(decimal.Decimal, max_digits=10, decimal_places=2),
            "created": module.Field(datetime.datetime), "ref": module.Field(uuid.UUID)})
        return lambda: module.serialize_many(objs, schema)

    return {label: run(module) for label, module in modules.items()}


def validate_many(n, modules, literal=False):
    import cases_sorvel
    import sorvel.django.validation as validation

    # The input plan's field specs, as sorvel compiles them, compiled again by each build.
    specs = []
    compile_native = validation._compile_native
    validation._compile_native = lambda found: (specs.append(found), compile_native(found))[1]
    case = next(c for c in cases_sorvel.sorvel_cases((n,)) if c.title.startswith("validate_many"))
    rows = case.make_input(n)
    case.contenders[0].run(rows)
    validation._compile_native = compile_native
    if literal:
        # Keys shared with the model's field names, as literal dicts have them (the benchmark's
        # rows come through json.loads, which makes its own).
        rows = [{sys.intern(key): value for key, value in row.items()} for row in rows]

    def run(module):
        plan = module._compile_input_plan(specs[-1])
        return lambda: module._validate_rows(plan, rows)

    return {label: run(module) for label, module in modules.items()}


CASES = {
    "serialize_many": (serialize_many, "_native"),
    "validate_many": (validate_many, "sorvel_django"),
    "validate_many_literal": (lambda n, modules: validate_many(n, modules, literal=True),
                              "sorvel_django"),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("other")
    parser.add_argument("--n", type=int, default=10_000)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("cases", nargs="*", default=list(CASES))
    args = parser.parse_args()
    import django_setup

    django_setup.setup()
    junk = bytearray(48 << 20)
    for name in args.cases:
        make, module_name = CASES[name]
        this = importlib.import_module(module_name)
        other = load(module_name, args.other)
        runs = make(args.n, {"this": this, "other": other})
        for run in runs.values():
            run()
        best = dict.fromkeys(runs, float("inf"))
        # Minor page faults: the allocator maps fresh memory for what a call returns once the
        # previous result's arenas went back to the system, and on a VM each fault is costly.
        faults = dict.fromkeys(runs, 0)
        for round_index in range(args.rounds):
            for label in (list(runs) if round_index % 2 else list(runs)[::-1]):
                for i in range(0, len(junk), 64):
                    junk[i] = round_index & 0xFF
                gc.collect()
                before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
                start = time.perf_counter()
                for _ in range(3):
                    runs[label]()
                best[label] = min(best[label], (time.perf_counter() - start) / 3)
                faults[label] += resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before
        per = {label: f"{t / args.n * 1e9:.0f} ns" for label, t in best.items()}
        calls = 3 * args.rounds
        print(f"{name}, N = {args.n:,}: this {per['this']}, other {per['other']}, "
              f"this/other {best['this'] / best['other']:.3f}; page faults per call: "
              f"this {faults['this'] / calls:.0f}, other {faults['other'] / calls:.0f}")


if __name__ == "__main__":
    main()
