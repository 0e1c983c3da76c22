"""How the values of model fields are read: the forms each field type accepts, what they
serialize to, and the errors for values that cannot be read, the same from every entry point."""

import base64
import datetime
import decimal
import json
import sys
import uuid

import pytest

from django_app.environment import start_django

start_django()

import sorvel_django  # noqa: E402

from django_app.models import Record  # noqa: E402
from django_app.samples import (  # noqa: E402
    PLUS_TWO,
    SAMPLE_UUID,
    record_values,
    unsaved_record,
)

SCHEMA = sorvel_django.ModelSchema(Record)
NAMES = SCHEMA.field_names_list
DESCRIPTORS = SCHEMA.to_descriptor_list()


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Text(str):
    pass


class Printed:
    """An object whose str() is the given text."""

    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


class Iso:
    """An object whose isoformat() returns the given result."""

    def __init__(self, result):
        self.result = result

    def isoformat(self):
        return self.result


def serialized(field, value):
    return sorvel_django.serialize_instance(unsaved_record(**{field: value}), SCHEMA)[field]


@pytest.mark.parametrize(
    ("field", "value", "output"),
    [
        ("title", Text("sub"), "sub"),
        ("title", "naïve ☃ 𝄞", "naïve ☃ 𝄞"),
        ("body", "", ""),
        ("count", True, 1),
        ("count", Index(-7), -7),
        ("count", -(2**63), -(2**63)),
        ("big", 2**63 - 1, 2**63 - 1),
        ("ratio", 3, 3.0),
        ("ratio", decimal.Decimal("1.5"), 1.5),
        ("ratio", -0.0, -0.0),
        ("ratio", 1e308, 1e308),
        ("price", decimal.Decimal("12.50"), "12.50"),
        ("price", decimal.Decimal("-0.5"), "-0.5"),
        ("price", decimal.Decimal("100"), "100"),
        ("price", decimal.Decimal("0.05"), "0.05"),
        ("price", "12.5", "12.5"),
        ("price", 0.1, "0.1"),
        ("price", 7, "7"),
        ("price", Printed("+.5"), "0.5"),
        ("price", Printed("5."), "5"),
        ("price", Printed("1_000.2_5"), "1000.25"),
        ("price", Printed("79228162514264337593543950335"), "79228162514264337593543950335"),
        # Beyond 28 places the next digit rounds the last one kept.
        ("price", Printed("0.12345678901234567890123456789"), "0.1234567890123456789012345679"),
        ("price", Printed("0.12345678901234567890123456784"), "0.1234567890123456789012345678"),
        ("active", False, False),
        ("day", datetime.date(1, 1, 1), "0001-01-01"),
        ("day", Iso("2024-02-29"), "2024-02-29"),
        ("clock", datetime.time(10, 30), "10:30:00"),
        ("clock", datetime.time(10, 30, 0, 5000), "10:30:00.005"),
        ("clock", datetime.time(23, 59, 59, 123456), "23:59:59.123456"),
        ("clock", Iso("10:30:00.123456789999"), "10:30:00.123456789"),
        (
            "stamp",
            datetime.datetime(2024, 1, 1, 0, 30, tzinfo=PLUS_TWO),
            "2023-12-31T22:30:00+00:00",
        ),
        (
            "stamp",
            datetime.datetime(2024, 1, 15, 8, 30, 0, 123456),
            "2024-01-15T08:30:00.123456+00:00",
        ),
        (
            "stamp",
            datetime.datetime(2024, 1, 15, 8, 30, tzinfo=datetime.UTC),
            "2024-01-15T08:30:00+00:00",
        ),
        ("stamp", Iso("2024-01-15 08:30:00Z"), "2024-01-15T08:30:00+00:00"),
        ("stamp", Iso("2024-01-15t08:30:00-01:30"), "2024-01-15T10:00:00+00:00"),
        ("uid", SAMPLE_UUID, str(SAMPLE_UUID)),
        ("uid", SAMPLE_UUID.hex.upper(), str(SAMPLE_UUID)),
        ("uid", "{" + str(SAMPLE_UUID).upper() + "}", str(SAMPLE_UUID)),
        ("uid", "urn:uuid:" + str(SAMPLE_UUID), str(SAMPLE_UUID)),
        (
            "payload",
            {"b": 1, "a": {"d": [True, None], "c": 1.5}},
            {"a": {"c": 1.5, "d": [True, None]}, "b": 1},
        ),
        ("payload", [1, "x"], [1, "x"]),
        ("payload", "text", "text"),
        ("payload", 2**63 - 1, 2**63 - 1),
        ("payload", 2**63, float(2**63)),
        ("payload", 2**64, float(2**64)),
        ("payload", -(2**63), -(2**63)),
        ("payload", {"k": 1, "K": 2, "é": 3, "z": 4}, {"K": 2, "k": 1, "z": 4, "é": 3}),
        ("blob", b"ab", "YWI="),
        ("blob", bytearray(b"ab"), "YWI="),
        ("blob", memoryview(b"ab"), "YWI="),
        ("blob", [97, 98], "YWI="),
        ("blob", (97, Index(98)), "YWI="),
        ("blob", b"a", "YQ=="),
        ("blob", b"", ""),
        ("blob", bytes(range(256)), base64.b64encode(bytes(range(256))).decode()),
    ],
)
def test_accepted_values_and_their_output(field, value, output):
    result = serialized(field, value)
    assert result == output
    assert type(result) is type(output)
    if isinstance(output, dict):
        assert list(result) == list(output)
        for key, inner in output.items():
            if isinstance(inner, dict):
                assert list(result[key]) == list(inner)


class Rewrites:
    """A price whose str() moves its instance's values into a real dict and changes a later
    field, in the middle of the instance's serialization."""

    def __init__(self, instance):
        self.instance = instance

    def __str__(self):
        vars(self.instance)[1] = "a key that is not a str"
        self.instance.email = "changed@example.com"
        return "1.5"


@pytest.mark.parametrize("serialize", [
    lambda instance: sorvel_django.serialize_instance(instance, SCHEMA),
    lambda instance: sorvel_django.serialize_batch([instance], SCHEMA)[0],
], ids=["serialize_instance", "serialize_batch"])
def test_instance_changed_by_python_code_between_two_reads(serialize):
    instance = unsaved_record()
    instance.price = Rewrites(instance)
    output = serialize(instance)
    assert (output["price"], output["email"]) == ("1.5", "changed@example.com")


def test_datetime_offsets_never_reach_the_output():
    # The same instant at different offsets serializes to one text.
    instant = datetime.datetime(2024, 6, 1, 12, 0, tzinfo=datetime.UTC)
    texts = {
        serialized("stamp", instant.astimezone(datetime.timezone(datetime.timedelta(hours=h))))
        for h in (-11, -3, 0, 5, 14)
    }
    assert texts == {"2024-06-01T12:00:00+00:00"}


class NoStr:
    def __str__(self):
        raise RuntimeError("no text")


class BadIso:
    def isoformat(self):
        raise RuntimeError("no text")


def wrong_type(expected, got):
    return TypeError, f"type conversion error: expected {expected}, got {got}"


def unparsable(field, text, kind):
    return ValueError, f"serialization error on field '{field}': cannot parse '{text}' as {kind}"


def bad_json(detail):
    return ValueError, f"serialization error on field 'payload': {detail}"


AWARE_TIME = datetime.time(10, 30, tzinfo=PLUS_TWO)
NO_SUCH_DAY = Iso("2023-02-29")
BAD_OFFSET = Iso("2024-01-15T08:30:00+24:00")
OVERFLOWING = "79228162514264337593543950336"
SHORT_UUID = str(SAMPLE_UUID)[:-1]

# (field, value, (exception type, message))
READ_FAILURES = [
    ("title", 5, wrong_type("str", "int")),
    ("email", b"a", wrong_type("str", "bytes")),
    ("slug", "\ud800", wrong_type("str", "str")),
    ("count", "12", wrong_type("int", "str")),
    ("count", 2.5, wrong_type("int", "float")),
    ("count", 2**63, wrong_type("int", "int")),
    ("positive", decimal.Decimal("3"), wrong_type("int", "Decimal")),
    ("big", 2.5, wrong_type("int (i64)", "float")),
    ("positive_big", 2**64, wrong_type("int (i64)", "int")),
    ("ratio", "1.5", wrong_type("float", "str")),
    ("ratio", 2**1024, wrong_type("float", "int")),
    ("active", 1, wrong_type("bool", "int")),
    ("active", "True", wrong_type("bool", "str")),
    ("price", NoStr(), wrong_type("Decimal (via str)", "NoStr")),
    ("price", Printed(5), wrong_type("Decimal (via str)", "Printed")),
    ("price", decimal.Decimal("NaN"), unparsable("price", "NaN", "Decimal")),
    ("price", "1E-7", unparsable("price", "1E-7", "Decimal")),
    ("price", Printed("1E+2"), unparsable("price", "1E+2", "Decimal")),
    ("price", "1.2.3", unparsable("price", "1.2.3", "Decimal")),
    ("price", "", unparsable("price", "", "Decimal")),
    ("price", "-", unparsable("price", "-", "Decimal")),
    ("price", " 1", unparsable("price", " 1", "Decimal")),
    ("price", "_1", unparsable("price", "_1", "Decimal")),
    ("price", OVERFLOWING, unparsable("price", OVERFLOWING, "Decimal")),
    ("day", datetime.datetime(2024, 1, 5, 10), unparsable("day", "2024-01-05T10:00:00", "date")),
    ("day", NO_SUCH_DAY, unparsable("day", "2023-02-29", "date")),
    ("day", "2024-01-05", wrong_type("date", "str")),
    ("day", BadIso(), wrong_type("date", "BadIso")),
    ("day", Iso(20240105), wrong_type("date", "Iso")),
    ("clock", AWARE_TIME, unparsable("clock", "10:30:00+02:00", "time")),
    ("clock", Iso("24:00:00"), unparsable("clock", "24:00:00", "time")),
    ("clock", 5, wrong_type("time", "int")),
    ("stamp", datetime.date(2024, 1, 5), unparsable("stamp", "2024-01-05", "datetime")),
    ("stamp", BAD_OFFSET, unparsable("stamp", BAD_OFFSET.result, "datetime")),
    ("stamp", "2024-01-15T08:30:00", wrong_type("datetime", "str")),
    ("uid", 7, unparsable("uid", "7", "UUID")),
    ("uid", SHORT_UUID, unparsable("uid", SHORT_UUID, "UUID")),
    ("uid", NoStr(), wrong_type("UUID", "NoStr")),
    ("payload", float("nan"), bad_json("invalid JSON: expected value at line 1 column 1")),
    ("payload", {"a": float("nan")}, bad_json("invalid JSON: expected value at line 1 column 7")),
    (
        "payload",
        {1, 2},
        bad_json("json.dumps failed: TypeError: Object of type set is not JSON serializable"),
    ),
    ("blob", "ab", wrong_type("bytes", "str")),
    ("blob", [97, 256], wrong_type("bytes", "list")),
    ("blob", [97, -1], wrong_type("bytes", "list")),
    ("blob", ["a"], wrong_type("bytes", "list")),
    ("blob", 5, wrong_type("bytes", "int")),
    ("blob", {97: 1}, wrong_type("bytes", "dict")),
]


def via_serialize_instance(field, value):
    sorvel_django.serialize_instance(unsaved_record(**{field: value}), SCHEMA)


def via_validate_instance(field, value):
    sorvel_django.validate_instance(unsaved_record(**{field: value}), SCHEMA)


def via_serialize_batch(field, value):
    sorvel_django.serialize_batch([unsaved_record(), unsaved_record(**{field: value})], SCHEMA)


def via_serialize_values_list(field, value):
    values = record_values(**{field: value})
    sorvel_django.serialize_values_list([tuple(values[name] for name in NAMES)], SCHEMA)


def via_serialize_fields(field, value):
    sorvel_django.serialize_fields(DESCRIPTORS, record_values(**{field: value}))


def via_validate_fields(field, value):
    values = record_values(**{field: value})
    sorvel_django.validate_fields(DESCRIPTORS, [values[name] for name in NAMES])


ENTRY_POINTS = [
    via_serialize_instance,
    via_validate_instance,
    via_serialize_batch,
    via_serialize_values_list,
    via_serialize_fields,
    via_validate_fields,
]


@pytest.mark.parametrize("entry_point", ENTRY_POINTS, ids=lambda f: f.__name__[4:])
@pytest.mark.parametrize(
    ("field", "value", "failure"),
    READ_FAILURES,
    ids=[f"{case[0]}-{index}" for index, case in enumerate(READ_FAILURES)],
)
def test_unreadable_values_raise_from_every_entry_point(entry_point, field, value, failure):
    error, message = failure
    with pytest.raises(error) as caught:
        entry_point(field, value)
    assert caught.value.args == (message,)
    assert not hasattr(caught.value, "__notes__")


def test_the_first_unreadable_field_in_schema_order_decides():
    instance = unsaved_record(title=5, count="x", blob="y")
    for call in (sorvel_django.serialize_instance, sorvel_django.validate_instance):
        with pytest.raises(TypeError, match="^type conversion error: expected str, got int$"):
            call(instance, SCHEMA)


def test_none_reads_as_null_for_every_type():
    # An instance whose every field holds None: nothing raises and every key holds None.
    instance = unsaved_record(**{name: None for name in NAMES})
    assert sorvel_django.serialize_instance(instance, SCHEMA) == dict.fromkeys(sorted(NAMES))


def test_json_module_that_cannot_be_imported(monkeypatch):
    monkeypatch.setitem(sys.modules, "json", None)
    with pytest.raises(ValueError) as caught:
        serialized("payload", {})
    assert caught.value.args == (
        "cannot import json module: ModuleNotFoundError: import of json halted; "
        "None in sys.modules",
    )


def test_json_dumps_returning_a_non_string(monkeypatch):
    monkeypatch.setattr(json, "dumps", lambda value: b"{}")
    with pytest.raises(ValueError) as caught:
        serialized("payload", {})
    assert caught.value.args == (
        "json.dumps returned non-string: TypeError: 'bytes' object is not an instance of 'str'",
    )


def test_json_is_taken_from_json_dumps(monkeypatch):
    # The value goes through json.dumps with default options, whatever produced its text.
    seen = []

    def dumps(value):
        seen.append(value)
        return '{"z": 1, "a": 2, "a": 3}'

    monkeypatch.setattr(json, "dumps", dumps)
    payload = object()
    assert serialized("payload", payload) == {"a": 3, "z": 1}
    assert seen == [payload]


def test_json_nesting_limit():
    deep_ok = json.loads("[" * 127 + "]" * 127)
    assert serialized("payload", deep_ok) == deep_ok
    with pytest.raises(ValueError, match="^serialization error on field 'payload': invalid JSON: "):
        serialized("payload", json.loads("[" * 128 + "]" * 128))


def test_uuid_from_any_object_prints_through_str():
    assert serialized("uid", Printed(SAMPLE_UUID.hex)) == str(SAMPLE_UUID)
    assert serialized("uid", uuid.UUID(int=0)) == "00000000-0000-0000-0000-000000000000"
