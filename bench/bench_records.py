"""Times record validation and serialization against straightforward pure-Python code.

Run with `python bench/bench_records.py` where the package is installed. Not a test.
"""

import datetime
import decimal
import time
import uuid

import _native
from _native import Field, Schema

SCHEMA = Schema(
    {
        "title": Field(str, max_length=100),
        "count": Field(int, min_value=0),
        "score": Field(float),
        "active": Field(bool),
        "price": Field(decimal.Decimal, max_digits=10, decimal_places=2),
        "created": Field(datetime.datetime),
        "ref": Field(uuid.UUID),
    }
)


class Item:
    def __init__(self, i):
        self.title = f"item {i}"
        self.count = i
        self.score = i / 7
        self.active = i % 2 == 0
        self.price = decimal.Decimal(i) / 4
        self.created = datetime.datetime(2024, 1, 15, 10, 30, tzinfo=datetime.timezone.utc)
        self.ref = uuid.UUID(int=i)


def py_serialize(item):
    return {
        "active": item.active,
        "count": item.count,
        "created": item.created.isoformat(),
        "price": str(item.price),
        "ref": str(item.ref),
        "score": item.score,
        "title": item.title,
    }


def py_validate(record):
    errors = []
    if len(record["title"]) > 100:
        errors.append("title")
    if record["count"] < 0:
        errors.append("count")
    float(record["score"])
    if type(record["active"]) is not bool:
        errors.append("active")
    sign, digits, exponent = record["price"].as_tuple()
    if len(digits) > 10 or -exponent > 2:
        errors.append("price")
    record["created"].isoformat()
    uuid.UUID(str(record["ref"]))
    return errors


def best_of(runs, work):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    items = [Item(i) for i in range(20_000)]
    dicts = [dict(vars(item)) for item in items]
    cases = [
        ("serialize, objects", lambda: [_native.serialize(i, SCHEMA) for i in items],
         lambda: [py_serialize(i) for i in items]),
        ("serialize_many, objects", lambda: _native.serialize_many(items, SCHEMA),
         lambda: [py_serialize(i) for i in items]),
        ("serialize_many, dicts", lambda: _native.serialize_many(dicts, SCHEMA),
         lambda: [{**d, "price": str(d["price"]), "created": d["created"].isoformat(),
                   "ref": str(d["ref"])} for d in dicts]),
        ("validate_many, dicts", lambda: _native.validate_many(dicts, SCHEMA),
         lambda: [py_validate(d) for d in dicts]),
        ("validate, objects", lambda: [_native.validate(i, SCHEMA) for i in items],
         lambda: [py_validate(vars(i)) for i in items]),
    ]
    print(f"{'case (20,000 records, 7 fields)':34} {'native':>9} {'python':>9} {'speed-up':>9}")
    for label, native, python in cases:
        n, p = best_of(5, native), best_of(5, python)
        print(f"{label:34} {n * 1e3:7.1f}ms {p * 1e3:7.1f}ms {p / n:8.1f}x")


if __name__ == "__main__":
    main()
