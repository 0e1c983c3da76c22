"""The direct road from a Python value to its output against the generic road.

Every value below goes through both roads of the engine (_enginetest links the same code as
_native): where the direct road answers, its answer must be the generic road's result exactly
(same types all the way down, same values, same key order); where the generic road raises, the
direct road must not answer. Whole records go through both roads too, so that the error a record
raises first is the same.
"""

import datetime as dt
import decimal
import enum
import random
import uuid
import zoneinfo

import pytest

enginetest = pytest.importorskip("_enginetest")

D = decimal.Decimal


class StrSub(str):
    pass


class IntSub(int):
    pass


class Color(enum.IntEnum):
    RED = 1


class FloatSub(float):
    pass


class DecimalSub(decimal.Decimal):
    pass


class DateSub(dt.date):
    pass


class TimeSub(dt.time):
    pass


class DateTimeSub(dt.datetime):
    pass


class UuidSub(uuid.UUID):
    pass


class BytesSub(bytes):
    pass


class FixedOffset(dt.tzinfo):
    """A tzinfo answering whatever offset it was given, even nonsense."""

    def __init__(self, offset):
        self.offset = offset

    def utcoffset(self, when):
        if isinstance(self.offset, Exception):
            raise self.offset
        return self.offset

    def dst(self, when):
        return None

    def tzname(self, when):
        return "fixed"


UTC = dt.timezone.utc
TZINFOS = [
    None,
    UTC,
    dt.timezone(dt.timedelta(hours=5, minutes=30)),
    dt.timezone(-dt.timedelta(hours=23, minutes=59)),
    dt.timezone(dt.timedelta(seconds=30)),
    dt.timezone(dt.timedelta(microseconds=1)),
    zoneinfo.ZoneInfo("Europe/Paris"),
    FixedOffset(dt.timedelta(hours=-3)),
    FixedOffset(dt.timedelta(hours=25)),
    FixedOffset(dt.timedelta(days=-2)),
    FixedOffset(dt.timedelta(days=999999999)),
    FixedOffset(None),
    FixedOffset(3600),
    FixedOffset(RuntimeError("no offset")),
]

DECIMAL_TEXTS = [
    "0", "-0", "1.50", "-0.00", "0.05", "-1234567.89", "0.000001", "0.0000001", "0E-8",
    "5.0E-7", "1E+2", "0E+3", "123E-30", "1." + "0" * 27, "1." + "0" * 28, "1." + "0" * 29,
    "79228162514264337593543950335", "79228162514264337593543950336",
    "7922816251426433759354395033.5", "12345678901234567890.12345678",
    "NaN", "-NaN", "sNaN", "Infinity", "-Infinity",
]


def temporal_values(rng):
    values = []
    for tz in TZINFOS:
        for args in [(2024, 1, 5, 10, 30), (2024, 1, 5, 0, 0, 0, 120000), (1, 1, 1),
                     (9999, 12, 31, 23, 59, 59, 999999), (2000, 2, 29, 23, 30, 0, 1)]:
            values.append(dt.datetime(*args, tzinfo=tz))
        values.append(dt.datetime(2024, 3, 31, 2, 30, fold=1, tzinfo=tz))
        values.append(dt.time(10, 30, 0, 5, tzinfo=tz))
        values.append(DateTimeSub(2024, 1, 5, 10, 30, tzinfo=tz))
    for _ in range(40):
        values.append(dt.datetime(rng.randint(1, 9999), rng.randint(1, 12), rng.randint(1, 28),
                                  rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59),
                                  rng.choice([0, 1000, 123456, rng.randint(0, 999999)]),
                                  tzinfo=rng.choice(TZINFOS[:7])))
    values += [dt.date(1, 1, 1), dt.date(9999, 12, 31), dt.date(2024, 2, 29), DateSub(2024, 1, 1)]
    values += [dt.time(0, 0), dt.time(23, 59, 59, 999999), dt.time(1, 2, 3, 4000), TimeSub(1, 2)]
    return values


def forged_uuid(number):
    """A UUID whose int slot holds what UUID() itself would refuse."""
    value = uuid.UUID(int=1)
    object.__setattr__(value, "int", number)
    return value


def all_values():
    rng = random.Random(9)
    values = [None, "", "abc", "\u00e9t\u00e9", "\u65e5\u672c", "\U0001F600", "\ud800", "a\udfff",
              "x" * 300 + "\ud83d", StrSub("sub"), 0, -1, 2**30, 2**31, 2**63 - 1, 2**63,
              -2**63, -2**63 - 1, 2**100, True, False, IntSub(5), Color.RED, 0.0, -0.0, 1.5,
              1e308, 5e-324, float("nan"), float("inf"), float("-inf"), FloatSub(2.5),
              b"", b"abc", b"\x00\xff" * 40, bytearray(b"xy"), memoryview(b"mv"), [1, 2, 255],
              [256], BytesSub(b"sub"), (1, 2), {"a": 1}, object()]
    values += [D(text) for text in DECIMAL_TEXTS] + [DecimalSub("1.25"), DecimalSub("1E+2")]
    values += [D(rng.randint(-10**15, 10**15)).scaleb(-rng.randint(0, 12)) for _ in range(40)]
    values += [uuid.uuid4(), uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), UuidSub(int=7),
               str(uuid.uuid4())]
    values += [uuid.UUID(int=(1 << bit) | rng.getrandbits(bit)) for bit in (29, 30, 59, 60, 120)]
    values += [forged_uuid(number) for number in (2**128, 2**150, -1, IntSub(9), 2**30)]
    values += temporal_values(rng)
    return values


VALUES = all_values()
KINDS = ["str", "int", "float", "bool", "Decimal", "datetime", "date", "time", "UUID", "list",
         "dict", "bytes"]
DJANGO_TYPES = ["CharField", "IntegerField", "BigIntegerField", "FloatField", "DecimalField",
                "BooleanField", "DateField", "TimeField", "DateTimeField", "UUIDField",
                "JSONField", "BinaryField"]


def same(a, b):
    """Equal values of identical types, all the way down (NaN equal to NaN)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float) and a != a:
        return b != b
    return a == b and (not isinstance(a, float) or str(a) == str(b))


def outcome(call, *args):
    try:
        return ("ok", call(*args))
    except Exception as error:  # noqa: BLE001 - the error itself is what is compared
        return ("error", type(error), str(error))


def check_roads(direct, generic, kind, value):
    found, answer = direct(kind, value)
    expected = outcome(generic, kind, value)
    if not found:
        return False
    assert expected[0] == "ok", (kind, value, expected)
    assert same(answer, expected[1]), (kind, value, answer, expected[1])
    return True


@pytest.mark.parametrize("kind", KINDS)
def test_engine_direct_road_matches_generic(kind):
    for value in VALUES:
        if value is None:
            continue
        check_roads(enginetest.direct, enginetest.generic, kind, value)


@pytest.mark.parametrize("field_type", DJANGO_TYPES)
def test_django_direct_road_matches_generic(field_type):
    for value in VALUES:
        if value is None:
            continue
        check_roads(enginetest.django_direct, enginetest.django_generic, field_type, value)


@pytest.mark.parametrize(
    "kind, value",
    [("str", "abc"), ("str", "\u65e5\U0001F600"), ("int", 2**62), ("int", -5), ("float", 1.5),
     ("bool", False), ("Decimal", D("-1234.50")), ("Decimal", D("0.000001")),
     ("Decimal", D("12345678901234567890.12345678")),
     ("datetime", dt.datetime(2024, 1, 5, 10, 30, 0, 120000, tzinfo=UTC)),
     ("datetime", dt.datetime(2024, 1, 5, 0, 30, tzinfo=dt.timezone(dt.timedelta(hours=2)))),
     ("datetime", dt.datetime(2024, 1, 5)), ("date", dt.date(2024, 1, 5)),
     ("time", dt.time(1, 2, 3, 4)), ("UUID", uuid.UUID(int=12345)), ("bytes", b"abcd"),
     ("bytes", bytearray(b"abc"))],
)
def test_common_values_take_the_direct_road(kind, value):
    assert check_roads(enginetest.direct, enginetest.generic, kind, value)


def test_decimals_are_read_from_their_storage():
    # The self-test at first use passes on the interpreter the tests run on; if it ever stops
    # passing, Decimals silently take the slower road through str().
    assert enginetest.direct("Decimal", D("1.25")) == (True, "1.25")
    assert enginetest.decimal_storage_trusted()


@pytest.mark.parametrize(
    "kind, value, text",
    [("Decimal", D("-0.00"), "-0.00"), ("Decimal", D("7.1"), "7.1"),
     ("datetime", dt.datetime(2024, 1, 1, 0, 30, tzinfo=dt.timezone(dt.timedelta(hours=2))),
      "2023-12-31T22:30:00+00:00"),
     ("datetime", dt.datetime(2024, 1, 1, 0, 0, 0, 1000), "2024-01-01T00:00:00.001+00:00"),
     ("date", dt.date(5, 6, 7), "0005-06-07"), ("time", dt.time(9, 8, 7, 123456), "09:08:07.123456"),
     ("UUID", uuid.UUID(int=2**128 - 1), "ffffffff-ffff-ffff-ffff-ffffffffffff"),
     ("str", "abc", None), ("Decimal", D("1E+2"), None), ("datetime", DateTimeSub(2024, 1, 1), None),
     ("time", dt.time(1, tzinfo=UTC), None)],
)
def test_text_forms(kind, value, text):
    assert enginetest.text_form(kind, value) == text


def random_record(rng, fields):
    record = {}
    for name, kind, _ in fields:
        if rng.random() < 0.1:
            continue
        pool = [v for v in VALUES if rng.random() < 0.05] or VALUES
        record[name] = rng.choice(pool)
    return record


def test_records_raise_and_return_alike_on_both_roads():
    rng = random.Random(90)
    for _ in range(400):
        fields = [(f"f{i}", rng.choice(KINDS), rng.random() < 0.5)
                  for i in range(rng.randint(1, 6))]
        rng.shuffle(fields)
        record = random_record(rng, fields)
        generic = outcome(enginetest.record, fields, record, False)
        direct = outcome(enginetest.record, fields, record, True)
        assert generic[0] == direct[0], (fields, record, generic, direct)
        if generic[0] == "ok":
            assert same(generic[1], direct[1]), (fields, record)
        else:
            assert generic[1:] == direct[1:], (fields, record)


def test_dict_records_keep_python_text_forms():
    import _native

    schema = _native.Schema({"d": _native.Field(decimal.Decimal, nullable=True),
                             "u": _native.Field(uuid.UUID, nullable=True)})
    decimals = [v for v in VALUES if isinstance(v, D)]
    uuids = [v for v in VALUES if isinstance(v, uuid.UUID)]
    rows = [{"d": v} for v in decimals] + [{"u": v} for v in uuids]
    got = _native.serialize_many(rows, schema)
    assert got == [{key: str(value) for key, value in row.items()} for row in rows]
    assert all(type(value) is str for record in got for value in record.values())


@pytest.mark.parametrize("places", [None, 0, 2, 8, 28])
def test_decimal_digits_counted_alike_for_exact_values_and_subclasses(places):
    import _native

    schema = _native.Schema({"d": _native.Field(decimal.Decimal, max_digits=12,
                                                decimal_places=places)})
    for value in VALUES:
        if type(value) is not D or not value.is_finite():
            continue
        exact = _native.validate_many([{"d": value}], schema)
        subclass = _native.validate_many([{"d": DecimalSub(value)}], schema)
        assert exact == subclass, value


def json_values():
    rng = random.Random(5)
    scalars = [None, True, False, 0, -1, 2**63 - 1, -2**63, 2**63, 2**64, -2**63 - 1, 10**30,
               0.0, -0.0, 1.0, 0.1, 1e16, 1e-7, 5e-324, 1.7976931348623157e308, float("nan"),
               float("inf"), "", "a", "\u00e9", "\U0001F600", "\ud800", "quote\"back\\slash\n",
               IntSub(3), FloatSub(1.5), StrSub("s"), Color.RED, (1, 2), D("1.5"), b"x"]
    scalars += [rng.uniform(-1e6, 1e6) for _ in range(30)]
    scalars += [rng.random() * 10 ** rng.randint(-300, 300) for _ in range(30)]
    scalars += [rng.randint(-2**63, 2**63 - 1) for _ in range(10)]

    def tree(depth):
        if depth == 0 or rng.random() < 0.3:
            return rng.choice(scalars)
        if rng.random() < 0.5:
            return [tree(depth - 1) for _ in range(rng.randint(0, 4))]
        keys = ["b", "a", "\u00e9", "\U0001F600", "A", "", "key with space", "z" * 20]
        return {rng.choice(keys): tree(depth - 1) for _ in range(rng.randint(0, 5))}

    values = [tree(4) for _ in range(300)]
    values += [{1: "int key"}, {"a": 1, 2: "b"}, {StrSub("k"): 1}, {"\udc80": 1}, {None: 1}]
    for depth in (98, 99, 100, 101, 126, 127, 128, 200):
        nested = []
        for _ in range(depth - 1):
            nested = [nested]
        values.append(nested)
        mapping = {}
        for _ in range(depth - 1):
            mapping = {"k": mapping}
        values.append(mapping)
    cycle = []
    cycle.append(cycle)
    values.append(cycle)
    return values


JSON_VALUES = json_values()


@pytest.mark.parametrize("kind", ["list", "dict"])
def test_json_direct_road_matches_generic(kind):
    answered = sum(check_roads(enginetest.direct, enginetest.generic, kind, value)
                   for value in JSON_VALUES)
    assert answered > len(JSON_VALUES) // 2  # the common shapes do take the direct road


def test_jsonfield_direct_road_matches_generic():
    for value in JSON_VALUES:
        check_roads(enginetest.django_direct, enginetest.django_generic, "JSONField", value)


def test_json_direct_road_only_with_the_standard_json_module(monkeypatch):
    import builtins
    import json

    value = {"b": 1, "a": [1.5, "x"]}
    assert enginetest.direct("dict", value) == (True, {"a": [1.5, "x"], "b": 1})
    with monkeypatch.context() as patch:
        patch.setattr(json, "dumps", lambda v: '{"patched": true}')
        assert enginetest.direct("dict", value) == (False, None)
        assert enginetest.generic("dict", value) == {"patched": True}
    with monkeypatch.context() as patch:
        patch.setattr(json.JSONEncoder, "encode", lambda self, v: "[0]")
        assert enginetest.direct("dict", value) == (False, None)
        assert enginetest.generic("dict", value) == [0]
    with monkeypatch.context() as patch:
        patch.setattr(json._default_encoder, "iterencode", lambda *a, **k: iter(["[1]"]),
                      raising=False)
        assert enginetest.direct("dict", value) == (False, None)
    with monkeypatch.context() as patch:
        patch.setattr(json.encoder, "encode_basestring_ascii", lambda s: '"x"')
        assert enginetest.direct("dict", value) == (False, None)
    imported = []
    original = builtins.__import__

    def counting_import(name, *args, **kwargs):
        imported.append(name)
        return original(name, *args, **kwargs)

    with monkeypatch.context() as patch:
        patch.setattr(builtins, "__import__", counting_import)
        assert enginetest.direct("dict", value) == (False, None)
    assert enginetest.direct("dict", value) == (True, {"a": [1.5, "x"], "b": 1})
