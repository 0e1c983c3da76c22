"""Times the batch utilities of _native against the obvious pure-Python equivalents.

Run with `make bench` (or `python bench/bench_batches.py` where the package is installed).
Prints the best of a few runs for each side and the speed-up. Not a test: nothing is asserted.
"""

import math
import random
import re
import statistics
import time

import _native

ID_PATTERN = re.compile(r"^\d{8}-\d{4}$")


def best_of(runs, function, *args):
    best = math.inf
    for _ in range(runs):
        start = time.perf_counter()
        function(*args)
        best = min(best, time.perf_counter() - start)
    return best


def py_stats(values):
    return {
        "mean": statistics.fmean(values),
        "median": statistics.median(values),
        "stdev": statistics.pstdev(values),
        "min": min(values),
        "max": max(values),
        "count": len(values),
    }


def py_risk(records):
    scores = []
    for r in records:
        c = float(r.get("credit_score", 500.0))
        d = float(r.get("debt_to_income_ratio", 0.3))
        loan = float(r.get("loan_amount", 100000.0))
        a = float(r.get("age", 30.0))
        rate = float(r.get("interest_rate", 5.0))
        g = math.log(loan + 1)
        s = c / -10 + 100 + d * 50 + g + g - (5.0 if a >= 25 else 0.0) + rate * 0.5
        s += math.sqrt(max(c - 300, 0.0)) * -0.3
        scores.append(min(max(s, 0.0), 100.0))
    return scores


def py_ids(ids):
    return [ID_PATTERN.match(i) is not None and not i.endswith("\n") for i in ids]


def py_names(names):
    results = []
    for name in names:
        errors = []
        if len(name) > 120:
            errors.append("exceeds 120 characters")
        if " " not in name:
            errors.append("must contain a space")
        if any("0" <= ch <= "9" for ch in name):
            errors.append("must not contain digits")
        if any(not (ch.isalpha() or ch in " -") or ("0" <= ch <= "9") for ch in name):
            errors.append("contains invalid characters")
        results.append({"valid": not errors, "errors": errors})
    return results


def main():
    rng = random.Random(7)
    numbers = [rng.gauss(1000.0, 250.0) for _ in range(1_000_000)]
    loans = [
        {
            "credit_score": rng.randint(300, 850),
            "debt_to_income_ratio": rng.random(),
            "loan_amount": rng.uniform(1_000, 500_000),
            "age": rng.randint(18, 80),
            "interest_rate": rng.uniform(1, 15),
        }
        for _ in range(100_000)
    ]
    first = ["Jane", "José", "Jean-Luc", "Ana", "O'Brien", "Zoë", "Li"]
    last = ["Doe", "Núñez", "Picard", "Smith2", "", "Åberg"]
    names = [f"{rng.choice(first)} {rng.choice(last)}".strip() for _ in range(100_000)]
    ids = [f"{rng.randrange(10**8):08d}-{rng.randrange(10**4):04d}" for _ in range(100_000)]

    cases = [
        ("batch_stats, 1,000,000 numbers", _native.batch_stats, py_stats, numbers),
        ("compute_risk_batch, 100,000 loans", _native.compute_risk_batch, py_risk, loans),
        ("validate_ids_batch, 100,000 ids", _native.validate_ids_batch, py_ids, ids),
        ("validate_names_batch, 100,000 names", _native.validate_names_batch, py_names, names),
    ]
    print(f"{'case':40} {'native':>10} {'python':>10} {'speed-up':>9}")
    for label, native, python, data in cases:
        native_time = best_of(5, native, data)
        python_time = best_of(3, python, data)
        print(
            f"{label:40} {native_time * 1e3:8.1f}ms {python_time * 1e3:8.1f}ms "
            f"{python_time / native_time:8.1f}x"
        )


if __name__ == "__main__":
    main()
