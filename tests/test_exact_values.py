"""The standard library's own date, time, datetime and UUID objects are read from their fields
rather than through their text forms. Subclasses still take the text path, so comparing an exact
object with a subclass instance of the same value checks that both paths agree, errors included.
"""

import datetime as dt
import uuid
import zoneinfo

import pytest

import _native
import sorvel_django
from _native import Field, Schema


class SubDateTime(dt.datetime):
    pass


class SubDate(dt.date):
    pass


class SubTime(dt.time):
    pass


class SubUUID(uuid.UUID):
    pass


def twin(value):
    """The same value as an instance of a subclass (which takes the text path)."""
    if isinstance(value, dt.datetime):
        return SubDateTime(*value.timetuple()[:6], value.microsecond, value.tzinfo)
    if isinstance(value, dt.date):
        return SubDate(value.year, value.month, value.day)
    if isinstance(value, dt.time):
        return SubTime(value.hour, value.minute, value.second, value.microsecond, value.tzinfo)
    return SubUUID(int=value.int)


def tz(**offset):
    return dt.timezone(dt.timedelta(**offset))


PARIS = zoneinfo.ZoneInfo("Europe/Paris")

DATETIMES = [
    dt.datetime(2024, 1, 15, 10, 30),
    dt.datetime(2024, 1, 15, 10, 30, 0, 123456),
    dt.datetime(2024, 1, 15, 10, 30, tzinfo=dt.timezone.utc),
    dt.datetime(2024, 1, 15, 10, 30, 5, 500000, tzinfo=tz(hours=2)),
    dt.datetime(2024, 1, 1, 0, 30, tzinfo=tz(hours=2)),  # back into the previous year
    dt.datetime(2023, 12, 31, 22, 30, tzinfo=tz(hours=-5, minutes=-30)),  # into the next year
    dt.datetime(2024, 2, 28, 23, 59, 59, tzinfo=tz(hours=-14 + 1)),  # leap day
    dt.datetime(2024, 7, 1, 12, 0, tzinfo=PARIS),  # summer time
    dt.datetime(2024, 1, 1, 12, 0, tzinfo=PARIS),
    dt.datetime(1, 1, 1, 0, 30, tzinfo=tz(hours=1)),  # before year 1 in UTC
    dt.datetime(9999, 12, 31, 23, 59, 59, 999999),
    dt.datetime(2024, 1, 15, 10, 30, tzinfo=tz(hours=5, minutes=30, seconds=15)),  # refused
    dt.datetime(2024, 1, 15, 10, 30, tzinfo=tz(seconds=1, microseconds=5)),  # refused
]
DATES = [dt.date(2024, 1, 5), dt.date(1, 1, 1), dt.date(9999, 12, 31)]
TIMES = [
    dt.time(10, 30),
    dt.time(10, 30, 0, 120000),
    dt.time(23, 59, 59, 999999),
    dt.time(10, 30, tzinfo=tz(hours=2)),  # an aware time does not parse
]
UUIDS = [uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), uuid.uuid4()]

CASES = (
    [(dt.datetime, v) for v in DATETIMES]
    + [(dt.date, v) for v in DATES]
    + [(dt.time, v) for v in TIMES]
    + [(uuid.UUID, v) for v in UUIDS]
)


def outcome(call):
    try:
        return call()
    except Exception as error:  # the comparison covers the error's type and text
        return type(error), str(error)


@pytest.mark.parametrize("kind, value", CASES)
def test_engine_reads_exact_objects_as_their_text_would(kind, value):
    schema = Schema({"x": Field(kind)})
    exact = outcome(lambda: _native.serialize({"x": value}, schema))
    assert exact == outcome(lambda: _native.serialize({"x": twin(value)}, schema))
    assert outcome(lambda: _native.validate({"x": value}, schema)) == outcome(
        lambda: _native.validate({"x": twin(value)}, schema)
    )
    assert _native.validate_many([{"x": value}], schema) == _native.validate_many(
        [{"x": twin(value)}], schema
    )


@pytest.mark.parametrize("kind, value", CASES)
def test_dict_copies_hold_pythons_own_text_forms(kind, value):
    schema = Schema({"x": Field(kind)})
    expected = str(value) if kind is uuid.UUID else value.isoformat()
    assert _native.serialize_many([{"x": value}], schema) == [{"x": expected}]


DJANGO_TYPES = {dt.datetime: "DateTimeField", dt.date: "DateField", dt.time: "TimeField",
                uuid.UUID: "UUIDField"}


@pytest.mark.parametrize("kind, value", CASES)
def test_django_reads_exact_objects_as_their_text_would(kind, value):
    descriptors = [{"name": "x", "type": DJANGO_TYPES[kind], "nullable": False,
                    "has_default": False}]
    # A refusal quotes the text that failed, which is the same for both.
    assert outcome(lambda: sorvel_django.serialize_fields(descriptors, {"x": value})) == outcome(
        lambda: sorvel_django.serialize_fields(descriptors, {"x": twin(value)})
    )


def test_a_failing_tzinfo_is_reported_as_by_isoformat():
    class Broken(dt.tzinfo):
        def utcoffset(self, when):
            raise RuntimeError("no offset today")

    schema = Schema({"x": Field(dt.datetime)})
    value = dt.datetime(2024, 1, 15, tzinfo=Broken())
    with pytest.raises(RuntimeError, match="no offset today"):
        _native.serialize({"x": value}, schema)
    with pytest.raises(RuntimeError, match="no offset today"):
        _native.serialize_many([{"x": value}], schema)
