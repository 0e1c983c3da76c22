"""Sample field values for `Record` and the output they serialize to."""

import datetime
import decimal
import uuid

from django_app.models import Author, Record

PLUS_TWO = datetime.timezone(datetime.timedelta(hours=2))
SAMPLE_UUID = uuid.UUID("6f1c3b2a-9d4e-4f5a-8b7c-0123456789ab")


def record_values(**overrides):
    """A fresh dict of valid values for every stored field of `Record`, relations left out."""
    values = {
        "title": "Hello",
        "body": "Some text",
        "count": 5,
        "small": -3,
        "positive": 7,
        "positive_small": 8,
        "big": 2**40,
        "positive_big": 2**62,
        "ratio": 0.25,
        "price": decimal.Decimal("12.5"),
        "active": True,
        "day": datetime.date(2024, 1, 5),
        "clock": datetime.time(10, 30, 0, 120000),
        "stamp": datetime.datetime(2024, 1, 15, 10, 30, 0, 500000, tzinfo=PLUS_TWO),
        "uid": SAMPLE_UUID,
        "payload": {"b": 1, "a": [1, "x", None]},
        "blob": b"abc",
        "email": "ann@example.com",
        "site": "https://example.com/a",
        "slug": "hello-world",
        "note": None,
    }
    values.update(overrides)
    return values


# What a Record holding `record_values()` turns into once it has been stored and fetched back:
# the database hands the decimal back at its column's scale and the date-time in UTC.
STORED_OUTPUT = {
    "active": True,
    "big": 2**40,
    "blob": "YWJj",
    "body": "Some text",
    "clock": "10:30:00.120",
    "count": 5,
    "day": "2024-01-05",
    "email": "ann@example.com",
    "note": None,
    "payload": {"a": [1, "x", None], "b": 1},
    "positive": 7,
    "positive_big": 2**62,
    "positive_small": 8,
    "price": "12.50",
    "ratio": 0.25,
    "site": "https://example.com/a",
    "slug": "hello-world",
    "small": -3,
    "stamp": "2024-01-15T08:30:00.500+00:00",
    "title": "Hello",
    "uid": "6f1c3b2a-9d4e-4f5a-8b7c-0123456789ab",
}


def unsaved_record(**overrides):
    """A Record that was never stored: its attributes hold exactly the values given."""
    return Record(**record_values(**overrides))


def stored_record(**overrides):
    """Creates a Record (and its author) in the database and returns it as created."""
    author = Author.objects.create(name="Ann")
    return Record.objects.create(author=author, **record_values(**overrides))
