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


class Fixed(dt.tzinfo):
    """A tzinfo whose utcoffset() is any timedelta, in range or not."""

    def __init__(self, offset):
        self.offset = offset

    def utcoffset(self, when):
        return self.offset

    def dst(self, when):
        return None

    def tzname(self, when):
        return "fixed"


# Offsets of a day or more are refused by isoformat(); the huge ones once overflowed the
# conversion to microseconds and came out with the opposite sign.
OUT_OF_RANGE_OFFSETS = [
    dt.timedelta(hours=24),
    dt.timedelta(hours=-24),
    dt.timedelta(hours=25),
    dt.timedelta(days=999999999),
    dt.timedelta(days=-999999999),
    dt.timedelta(days=999999999, hours=23, minutes=59),
]

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
    dt.datetime(2024, 1, 15, 10, 30, tzinfo=Fixed(dt.timedelta(hours=23, minutes=59))),
    dt.datetime(2024, 1, 15, 10, 30, tzinfo=Fixed(dt.timedelta(hours=-23, minutes=-59))),
    dt.datetime(9999, 12, 31, 23, 30, tzinfo=tz(hours=-1)),  # after year 9999 in UTC
] + [dt.datetime(2024, 1, 15, 10, 30, tzinfo=Fixed(offset)) for offset in OUT_OF_RANGE_OFFSETS]
DATES = [dt.date(2024, 1, 5), dt.date(1, 1, 1), dt.date(9999, 12, 31)]
TIMES = [
    dt.time(10, 30),
    dt.time(10, 30, 0, 120000),
    dt.time(23, 59, 59, 999999),
    dt.time(10, 30, tzinfo=tz(hours=2)),  # an aware time does not parse
] + [dt.time(10, 30, tzinfo=Fixed(offset)) for offset in OUT_OF_RANGE_OFFSETS]
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
    expected = outcome(lambda: [{"x": str(value) if kind is uuid.UUID else value.isoformat()}])
    assert outcome(lambda: _native.serialize_many([{"x": value}], schema)) == expected
    assert outcome(lambda: _native.serialize_many([{"x": twin(value)}], schema)) == expected


class Row:
    def __init__(self, x):
        self.x = x


@pytest.mark.parametrize("kind, value", CASES)
def test_object_records_of_serialize_many_read_exact_objects_as_their_text_would(kind, value):
    schema = Schema({"x": Field(kind)})
    assert outcome(lambda: _native.serialize_many([Row(value)], schema)) == outcome(
        lambda: _native.serialize_many([Row(twin(value))], schema)
    )


@pytest.mark.parametrize("offset", OUT_OF_RANGE_OFFSETS, ids=str)
def test_offsets_of_a_day_or_more_raise_as_isoformat_does(offset):
    value = dt.datetime(2024, 1, 15, 10, 30, tzinfo=Fixed(offset))
    with pytest.raises(ValueError) as expected:
        value.isoformat()
    schema = Schema({"x": Field(dt.datetime)})
    for call in (_native.serialize, _native.validate):
        with pytest.raises(ValueError) as raised:
            call({"x": value}, schema)
        assert str(raised.value) == str(expected.value)
    with pytest.raises(ValueError):
        _native.serialize_many([{"x": value}], schema)
    with pytest.raises(ValueError):
        _native.serialize_many([{"x": dt.time(10, 30, tzinfo=Fixed(offset))}],
                               Schema({"x": Field(dt.time)}))


DJANGO_TYPES = {dt.datetime: "DateTimeField", dt.date: "DateField", dt.time: "TimeField",
                uuid.UUID: "UUIDField"}


@pytest.mark.parametrize("kind, value", CASES)
def test_django_reads_exact_objects_as_their_text_would(kind, value):
    descriptors = [{"name": "x", "type": DJANGO_TYPES[kind], "nullable": False,
                    "has_default": False}]
    # A refusal quotes the text that failed, which is the same for both, or the type's name.
    other = outcome(lambda: sorvel_django.serialize_fields(descriptors, {"x": twin(value)}))
    if isinstance(other, tuple):
        other = (other[0], other[1].replace(type(twin(value)).__name__, type(value).__name__))
    assert outcome(lambda: sorvel_django.serialize_fields(descriptors, {"x": value})) == other


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


# RFC 3339 has four-digit years: these instants have no text form once converted to UTC.
BEYOND_YEARS = [
    (dt.datetime(9999, 12, 31, 23, 30, tzinfo=tz(hours=-1)), 10000),
    (dt.datetime(1, 1, 1, 0, 1, tzinfo=tz(minutes=2)), 0),
    (dt.datetime(1, 1, 1, 0, 0, tzinfo=tz(hours=23, minutes=59)), 0),
]


@pytest.mark.parametrize("value, year", BEYOND_YEARS, ids=str)
def test_datetimes_outside_years_1_to_9999_in_utc_cannot_be_serialized(value, year):
    message = (f"serialization error on field 'when': datetime out of range: year {year} after "
               "conversion to UTC is outside 1 to 9999")
    schema = Schema({"when": Field(dt.datetime)})
    for given in (value, twin(value)):
        with pytest.raises(ValueError) as raised:
            _native.serialize({"when": given}, schema)
        assert str(raised.value) == message
        with pytest.raises(ValueError) as raised:
            _native.serialize_many([Row(given)], Schema({"x": Field(dt.datetime)}))
        assert "field 'x'" in str(raised.value)
        descriptors = [{"name": "when", "type": "DateTimeField", "nullable": False,
                        "has_default": False}]
        with pytest.raises(ValueError) as raised:
            sorvel_django.serialize_fields(descriptors, {"when": given})
        # The Django module wraps the engine's write errors, as for a non-finite float.
        assert str(raised.value) == "serialization error on field '<batch>': " + message
    # Validation reads the value and does not write it; Python's own form is still written.
    assert _native.validate({"when": value}, schema)["is_valid"]
    assert _native.serialize_many([{"when": value}], schema) == [{"when": value.isoformat()}]
