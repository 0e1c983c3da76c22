"""Configures Django for the benchmarks (SQLite, aware datetimes) and builds sample items."""

import datetime
import decimal
import uuid

import django
from django.conf import settings


def start(database=":memory:"):
    if not settings.configured:
        settings.configure(
            USE_TZ=True,
            TIME_ZONE="UTC",
            INSTALLED_APPS=["sorvel_bench"],
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": database}},
            DEFAULT_AUTO_FIELD="django.db.models.AutoField",
        )
        django.setup()


def item_values(i):
    return {
        "title": f"item {i}",
        "body": "some longer text of the item, with a few words in it",
        "count": i,
        "score": i / 7,
        "active": i % 2 == 0,
        "price": decimal.Decimal(i % 100000) / 4 + decimal.Decimal("0.25"),
        "created": datetime.datetime(2024, 1, 15, 10, 30, i % 60, 1000 * (i % 1000),
                                     tzinfo=datetime.UTC),
        "day": datetime.date(2024, 1, 1 + i % 28),
        "ref": uuid.UUID(int=i),
    }


def items(count):
    """Instances as a query would give them (quantized decimals, UTC datetimes), unsaved."""
    from sorvel_bench.models import Item

    rows = []
    for i in range(count):
        values = item_values(i)
        values["price"] = values["price"].quantize(decimal.Decimal("0.01"))
        rows.append(Item(id=i + 1, **values))
    return rows
