"""The four batch utilities of module _native against NumPy and plain Python loops."""


import math
import random
import re
import statistics

import _native

from cases_records import Lazy
from harness import Case, Contender


def numbers(n: int) -> list[float]:
    rng = random.Random(n)
    return [rng.gauss(1000.0, 250.0) for _ in range(n)]


def python_stats(values):
    return {"mean": statistics.fmean(values), "median": statistics.median(values),
            "stdev": statistics.pstdev(values), "min": min(values), "max": max(values),
            "count": len(values)}


def numpy_stats():
    import numpy as np

    def run(values):
        array = np.array(values, dtype=np.float64)  # the conversion from the list counts
        return {"mean": float(array.mean()), "median": float(np.median(array)),
                "stdev": float(array.std()), "min": float(array.min()),
                "max": float(array.max()), "count": len(values)}

    return run


def close_stats(a, b):
    return a.keys() == b.keys() and all(math.isclose(a[k], b[k], rel_tol=1e-9) for k in a)


def loans(n: int) -> list[dict]:
    rng = random.Random(n)
    return [{"credit_score": rng.randint(300, 850), "debt_to_income_ratio": rng.random(),
             "loan_amount": rng.uniform(1_000, 500_000), "age": rng.randint(18, 80),
             "interest_rate": rng.uniform(1, 15)} for _ in range(n)]


def python_risk(records):
    """The scoring formula written as a Python developer would, step for step."""
    log, sqrt = math.log, math.sqrt
    scores = []
    for r in records:
        c = float(r.get("credit_score", 500.0))
        d = float(r.get("debt_to_income_ratio", 0.3))
        loan = float(r.get("loan_amount", 100000.0))
        a = float(r.get("age", 30.0))
        rate = float(r.get("interest_rate", 5.0))
        g = log(loan + 1.0)
        s = (g + g) + (d * 50.0 + (c / -10.0 + 100.0))
        s = rate * 0.5 + (s - (5.0 if a >= 25.0 else 0.0))
        q = c - 300.0
        s = sqrt(q if q >= 0.0 else 0.0) * -0.3 + s
        scores.append(0.0 if s < 0.0 else 100.0 if s > 100.0 else s)
    return scores


def numpy_risk():
    import numpy as np

    keys = [("credit_score", 500.0), ("debt_to_income_ratio", 0.3),
            ("loan_amount", 100000.0), ("age", 30.0), ("interest_rate", 5.0)]

    def run(records):
        c, d, loan, a, r = (
            np.fromiter((rec.get(k, default) for rec in records), np.float64, len(records))
            for k, default in keys)
        g = np.log(loan + 1.0)
        s = (g + g) + (d * 50.0 + (c / -10.0 + 100.0))
        s = r * 0.5 + (s - np.where(a >= 25.0, 5.0, 0.0))
        s = np.sqrt(np.maximum(c - 300.0, 0.0)) * -0.3 + s
        return np.clip(s, 0.0, 100.0).tolist()

    return run


def close_lists(a, b):
    return len(a) == len(b) and all(math.isclose(x, y, rel_tol=1e-12) for x, y in zip(a, b))


def ids(n: int) -> list[str]:
    rng = random.Random(n)
    out = [f"{rng.randrange(10**8):08d}-{rng.randrange(10**4):04d}" for _ in range(n)]
    for i in range(0, n, 10):
        out[i] = out[i].replace("-", "_")
    return out


ID_PATTERN = re.compile(r"[0-9]{8}-[0-9]{4}")


def python_ids(values):
    return [ID_PATTERN.fullmatch(v) is not None for v in values]


def names(n: int) -> list[str]:
    rng = random.Random(n)
    first = ["Jane", "José", "Jean-Luc", "Ana", "O'Brien", "Zoë", "Li", "Mary Ann"]
    last = ["Doe", "Núñez", "Picard", "Smith2", "", "Åberg", "van der Berg"]
    return [f"{rng.choice(first)} {rng.choice(last)}".strip() for _ in range(n)]


def python_names(values):
    """The same four rules in plain Python (letters beyond ASCII by str.isalpha, which agrees
    with the native rule on these names)."""
    results = []
    for name in values:
        errors = []
        if len(name) > 120:
            errors.append("exceeds 120 characters")
        if " " not in name:
            errors.append("must contain a space")
        digit = invalid = False
        for ch in name:
            if "0" <= ch <= "9":
                digit = True
            elif not (ch == " " or ch == "-" or ch.isalpha()):
                invalid = True
        if digit:
            errors.append("must not contain digits")
        if invalid:
            errors.append("contains invalid characters")
        results.append({"valid": not errors, "errors": errors})
    return results


def batch_cases(full: bool) -> list[Case]:
    sizes = (1_000, 1_000_000) if full else (1_000_000,)
    record_sizes = (1_000, 100_000) if full else (100_000,)
    return [
        Case(
            title="batch_stats",
            make_input=numbers,
            sizes=sizes,
            unit="number",
            equal=close_stats,
            contenders=[
                Contender("_native.batch_stats", _native.batch_stats),
                Contender("NumPy, including np.array(list)", Lazy(numpy_stats), same=True),
                Contender("statistics module", python_stats, same=True),
            ],
        ),
        Case(
            title="compute_risk_batch",
            make_input=loans,
            sizes=record_sizes,
            unit="record",
            equal=close_lists,
            contenders=[
                Contender("_native.compute_risk_batch", _native.compute_risk_batch),
                Contender("Python loop", python_risk, same=True),
                Contender("NumPy from the dicts (np.fromiter per key)", Lazy(numpy_risk),
                          same=True),
            ],
        ),
        Case(
            title="validate_ids_batch",
            make_input=ids,
            sizes=record_sizes,
            unit="id",
            contenders=[
                Contender("_native.validate_ids_batch", _native.validate_ids_batch),
                Contender("Python loop with re.fullmatch", python_ids, same=True),
            ],
        ),
        Case(
            title="validate_names_batch",
            make_input=names,
            sizes=record_sizes,
            unit="name",
            contenders=[
                Contender("_native.validate_names_batch", _native.validate_names_batch),
                Contender("Python loop", python_names, same=True),
            ],
        ),
    ]
