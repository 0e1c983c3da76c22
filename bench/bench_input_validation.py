"""Times sorvel.django input plans against DRF, full_clean() and pydantic on request dicts.

Run with `python bench/bench_input_validation.py` where the package, Django and (optionally)
djangorestframework and pydantic are installed. Prints the best of a few runs per side and the
speed-ups (process CPU time). Not a test: nothing is asserted.
"""

import datetime
import decimal
import math
import random
import sys
import time
import uuid
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from django_app.environment import start_django  # noqa: E402

start_django()

from django.core import validators  # noqa: E402
from django.db import models  # noqa: E402

from sorvel.django import compile_input_plan  # noqa: E402

ROWS = 10_000


class BenchItem(models.Model):
    title = models.CharField(max_length=100)
    count = models.IntegerField(validators=[validators.MinValueValidator(0)])
    score = models.FloatField()
    active = models.BooleanField()
    price = models.DecimalField(max_digits=10, decimal_places=2)
    created = models.DateTimeField()
    ref = models.UUIDField()

    class Meta:
        app_label = "django_app"


FIELDS = ["title", "count", "score", "active", "price", "created", "ref"]


def request_rows(count):
    rng = random.Random(3)
    start = datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
    return [
        {
            "title": f"item {i}",
            "count": rng.randint(0, 1000),
            "score": rng.random() * 100,
            "active": rng.random() < 0.5,
            "price": f"{rng.randint(0, 99999)}.{rng.randint(0, 99):02d}",
            "created": (start + datetime.timedelta(seconds=i * 37)).isoformat(),
            "ref": str(uuid.UUID(int=rng.getrandbits(128))),
        }
        for i in range(count)
    ]


def best_of(runs, function, *args):
    # CPU time of this process: on a shared, loaded machine wall time mostly measures the
    # other processes' share of the cores.
    best = math.inf
    for _ in range(runs):
        began = time.process_time()
        function(*args)
        best = min(best, time.process_time() - began)
    return best


def full_clean_all(rows):
    errors = {}
    for index, row in enumerate(rows):
        instance = BenchItem(**row)
        try:
            instance.full_clean(validate_unique=False, validate_constraints=False)
        except Exception as error:  # noqa: BLE001
            errors[index] = error
    return errors


def main():
    rows = request_rows(ROWS)
    plan = compile_input_plan(BenchItem, FIELDS)
    assert plan.validate_many(rows).is_valid
    timings = {"sorvel validate_many": best_of(7, plan.validate_many, rows)}
    timings["full_clean()"] = best_of(2, full_clean_all, rows)
    try:
        from rest_framework import serializers

        class ItemSerializer(serializers.ModelSerializer):
            class Meta:
                model = BenchItem
                fields = FIELDS

        def drf(rows):
            serializer = ItemSerializer(data=rows, many=True)
            assert serializer.is_valid()

        timings["DRF is_valid()"] = best_of(2, drf, rows)
    except ImportError:
        print("djangorestframework not installed: DRF skipped")
    try:
        import pydantic

        class Item(pydantic.BaseModel):
            title: str = pydantic.Field(max_length=100)
            count: int = pydantic.Field(ge=0, le=2**63 - 1)
            score: float
            active: bool
            price: decimal.Decimal = pydantic.Field(max_digits=10, decimal_places=2)
            created: datetime.datetime
            ref: uuid.UUID

        adapter = pydantic.TypeAdapter(list[Item])
        timings["pydantic validate_python"] = best_of(5, adapter.validate_python, rows)
    except ImportError:
        print("pydantic not installed: pydantic skipped")
    ours = timings["sorvel validate_many"]
    print(f"validate {ROWS} request dicts of {len(FIELDS)} fields (best CPU time of runs)")
    for name, seconds in timings.items():
        print(f"  {name:28s} {seconds * 1e3:9.2f} ms  {seconds / ours:7.1f}x sorvel")


if __name__ == "__main__":
    main()
