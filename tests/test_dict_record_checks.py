"""validate_many decides most dict values from the objects themselves (exact types, limits
prepared once, keys found where the previous dict held them) and hands the rest to the
dict-value rules. Every record list below goes through both roads of the engine (_enginetest
links the same code as _native) and must give the same report, error for error, or the same
exception."""

import datetime as dt
import decimal
import random
import uuid
import zoneinfo

import pytest

import _native
from test_batches import Failing, Sized
from test_direct_output import (BytesSub, DateSub, DateTimeSub, DecimalSub, FixedOffset,
                                FloatSub, IntSub, TimeSub, UuidSub)

enginetest = pytest.importorskip("_enginetest")

D = decimal.Decimal


class LongStr(str):
    def __len__(self):
        return 1000


class ListSub(list):
    pass


class DictSub(dict):
    def __getitem__(self, key):
        raise AssertionError("a dict record is read from its own storage")


class Key(str):
    """A str key of the same text as a field name, which dicts store in their general table."""


TZINFOS = [None, dt.timezone.utc, dt.timezone(dt.timedelta(hours=5, minutes=30)),
           dt.timezone(dt.timedelta(seconds=30)), zoneinfo.ZoneInfo("Europe/Paris"),
           FixedOffset(dt.timedelta(hours=-3)), FixedOffset(dt.timedelta(hours=25)),
           FixedOffset(None), FixedOffset(RuntimeError("no offset"))]


def forged_uuid(number):
    """A uuid.UUID whose int slot holds what its constructor would refuse."""
    value = uuid.UUID(int=1)
    object.__setattr__(value, "int", number)
    return value


def values():
    rng = random.Random(5)
    out = ["", "abc", "x" * 10, "\u00e9t\u00e9", "\U0001F600" * 3, LongStr("s"), Sized(3),
           Failing(), 0, 1, -1, 5, 10, 11, 2**30, 2**62, 2**63 - 1, 2**63, -2**63 - 1, 2**100,
           True, False, IntSub(7), 0.0, -0.0, 1.5, 10.0, 10.5, float("nan"), float("inf"),
           float("-inf"), FloatSub(2.5), b"", b"abc", b"x" * 20, bytearray(b"xy"), BytesSub(b"s"),
           memoryview(b"mv"), [1], ListSub(), (1,), {"a": 1}, DictSub(), object(), "2024-01-15",
           str(uuid.UUID(int=5)), uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), UuidSub(int=9)]
    out += [D(t) for t in ["0", "-0", "1.50", "-0.00", "0.05", "123.45", "0.000001",
                           "0.0000001", "0E-8", "1E+2", "99999999.99", "1" + "0" * 40,
                           "1." + "0" * 35, "NaN", "-Infinity", "sNaN"]]
    out += [DecimalSub("1.25"), DecimalSub("1E+2")]
    out += [uuid.UUID(int=rng.getrandbits(128)) for _ in range(4)]
    out += [forged_uuid(n) for n in [-1, 2**128, 2**200, 1.5, True, 2**64]]
    out += [uuid.UUID.__new__(uuid.UUID)]
    out += [D(rng.randint(-10**12, 10**12)).scaleb(-rng.randint(0, 9)) for _ in range(12)]
    for tz in TZINFOS:
        out += [dt.datetime(2024, 1, 15, 10, 30, tzinfo=tz), dt.time(10, 30, 5, tzinfo=tz)]
    out += [DateTimeSub(2024, 1, 1), dt.date(2024, 2, 29), DateSub(2024, 1, 1),
            dt.time(0, 0), TimeSub(1, 2)]
    return out


VALUES = values()

# Per kind, the limit pairs tried (see _enginetest.validate_dicts): none, and ones that some
# values above pass and others fail.
LIMITS = {
    "str": [(None, None), (3, None), (None, 2), (3, 5), (0, 0)],
    "int": [(None, None), (0, None), (None, 10), (-2**63, 2**63 - 1), (5, 5)],
    "float": [(None, None), (0.0, None), (None, 10.0), (float("nan"), float("nan")),
              (-1.0, float("inf"))],
    "bool": [(None, None)],
    "Decimal": [(None, None), (5, 2), (1, 0), (None, 1), (40, 40)],
    "datetime": [(None, None)], "date": [(None, None)], "time": [(None, None)],
    "UUID": [(None, None)], "list": [(None, None)], "dict": [(None, None)],
    "bytes": [(None, None), (3, None), (0, None)],
}


def outcome(fields, records, direct):
    try:
        return ("ok", enginetest.validate_dicts(fields, records, direct))
    except Exception as error:  # noqa: BLE001 - the error itself is what is compared
        return ("error", type(error), str(error))


def same_roads(fields, records):
    direct = outcome(fields, records, True)
    assert direct == outcome(fields, records, False)
    return direct


@pytest.mark.parametrize("kind", list(LIMITS))
def test_each_value_gives_the_dict_rules_report(kind):
    for first, second in LIMITS[kind]:
        for nullable, has_default in [(False, False), (True, False), (False, True)]:
            fields = [("f", kind, nullable, has_default, first, second)]
            records = [{"f": value} for value in VALUES] + [{}, {"f": None}]
            result = same_roads(fields, records)
            assert result[0] == "ok"
            # One record at a time as well: a report's counts follow its own records.
            for record in records[::7]:
                same_roads(fields, [record])


def record_layouts(rng):
    """Dicts of the same fields made in every way a list of records may hold them."""
    base = {"name": "Ada", "age": 36, "score": 1.5, "price": D("9.99"), "ref": uuid.UUID(int=3),
            "when": dt.datetime(2024, 1, 1)}
    shuffled = list(base.items())
    rng.shuffle(shuffled)

    class Plain:
        pass

    plain = Plain()
    plain.__dict__.update(base)
    many = {f"extra{i}": i for i in range(80)}
    many.update(base)
    deleted = dict(base, gone=1)
    del deleted["gone"]
    del deleted["age"]
    deleted["age"] = -4
    return [
        dict(base),
        dict(shuffled),
        {"".join(k): v for k, v in base.items()},  # equal keys that are other str objects
        {Key(k): v for k, v in base.items()},
        {**base, 7: "a non-str key"},
        DictSub(base),
        vars(plain),  # an instance's own dict
        many,
        deleted,
        {k: v for k, v in base.items() if k != "score"},
        {},
        dict(base, name="x" * 50, age=2**70, price=D("1E+5"), ref="not a uuid"),
    ]


def test_records_of_every_layout_and_order():
    rng = random.Random(11)
    fields = [("name", "str", False, False, 10, 2), ("age", "int", False, False, 0, 150),
              ("score", "float", True, False, None, None),
              ("price", "Decimal", False, False, 4, 2), ("ref", "UUID", False, False, None, None),
              ("when", "datetime", False, True, None, None)]
    layouts = record_layouts(rng)
    same_roads(fields, layouts)
    for _ in range(30):
        records = [rng.choice(layouts) for _ in range(rng.randint(1, 12))]
        result = same_roads(fields, records)
        assert result[0] == "ok"


def test_a_key_whose_comparison_raises_fails_both_roads():
    class Hostile:
        def __hash__(self):
            return hash("name")

        def __eq__(self, other):
            raise LookupError("no comparing")

    fields = [("name", "str", False, False, None, None)]
    result = same_roads(fields, [{"name": "a"}, {Hostile(): 1, "other": 2}])
    assert result[:2] == ("error", LookupError)


def test_python_code_that_empties_the_record_while_it_is_checked():
    record = {}

    class Emptying:
        def __len__(self):
            record.clear()
            return 1

    fields = [("a", "str", False, False, None, None), ("b", "str", False, False, None, None)]
    for direct in (True, False):
        record.update(a=Emptying(), b="x")
        report = enginetest.validate_dicts(fields, [record], direct)
        assert report["errors"] == [{"field": "b", "message": "This field is required.",
                                     "code": "required", "params": {}}]


def test_validate_many_takes_the_direct_road():
    schema = _native.Schema({"name": _native.Field(str, max_length=3),
                             "age": _native.Field(int, min_value=0)})
    fields = [("name", "str", False, False, 3, None), ("age", "int", False, False, 0, None)]
    records = [{"name": "abcd", "age": -1}, {"age": 2**80}, {"name": LongStr("a"), "age": True}]
    assert _native.validate_many(records, schema) == enginetest.validate_dicts(fields, records,
                                                                                 True)
