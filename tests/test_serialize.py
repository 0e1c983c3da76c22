"""Reading values from records and serializing them: _native.serialize and the reading rules
that _native.validate shares with it."""

import base64
import datetime as dt
import decimal
import json
import uuid

import pytest

import _native
from _native import Field, Schema

D = decimal.Decimal
UTC = dt.timezone.utc
PLUS_2 = dt.timezone(dt.timedelta(hours=2))
MINUS_5 = dt.timezone(dt.timedelta(hours=-5))
SAMPLE_UUID = uuid.UUID("12345678-9abc-def0-1234-56789abcdef0")


class Text:
    """A value whose str() is the given text."""

    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text

    def __repr__(self):
        return f"Text({self.text!r})"


class Iso:
    """A value whose isoformat() returns the given result."""

    def __init__(self, result):
        self.result = result

    def isoformat(self):
        return self.result

    def __repr__(self):
        return f"Iso({self.result!r})"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Floaty:
    def __float__(self):
        return 2.5


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


def serialize_one(kind, value, **options):
    return _native.serialize({"v": value}, Schema({"v": Field(kind, **options)}))["v"]


def validate_one(kind, value, **options):
    return _native.validate({"v": value}, Schema({"v": Field(kind, **options)}))


ENTRY_POINTS = [
    pytest.param(serialize_one, id="serialize"),
    pytest.param(validate_one, id="validate"),
]


# --- values read and written -------------------------------------------------------------------


@pytest.mark.parametrize(
    "kind, value, written",
    [
        (str, "héllo wörld 😀", "héllo wörld 😀"),
        (str, StrSub("sub"), "sub"),
        (str, "", ""),
        (int, True, 1),
        (int, Index(7), 7),
        (int, 2**63 - 1, 2**63 - 1),
        (int, -(2**63), -(2**63)),
        (int, -5, -5),
        (float, 1, 1.0),
        (float, Floaty(), 2.5),
        (float, D("0.1"), 0.1),
        (float, -0.25, -0.25),
        (bool, True, True),
        (bool, False, False),
        (D, D("1.50"), "1.50"),
        (D, D("0.05"), "0.05"),
        (D, D("100"), "100"),
        (D, D("-0.5"), "-0.5"),
        (D, D("0"), "0"),
        (D, D("0.00"), "0.00"),
        (D, D("+7.25"), "7.25"),
        (D, D("0.000001"), "0.000001"),
        (D, D("79228162514264337593543950335"), "79228162514264337593543950335"),
        (D, D("-7.9228162514264337593543950335"), "-7.9228162514264337593543950335"),
        (D, 12, "12"),
        (D, "12.5", "12.5"),
        (D, 1.25, "1.25"),
        (D, Text("1_000.5"), "1000.5"),
        (dt.datetime, dt.datetime(2024, 1, 15, 8, 30), "2024-01-15T08:30:00+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 8, 30, 0, 500000), "2024-01-15T08:30:00.500+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 8, 30, 0, 123456),
         "2024-01-15T08:30:00.123456+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 8, 30, 0, 5000), "2024-01-15T08:30:00.005+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 8, 30, 0, 1), "2024-01-15T08:30:00.000001+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 10, 30, tzinfo=PLUS_2), "2024-01-15T08:30:00+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 1, 1, 0, tzinfo=PLUS_2), "2023-12-31T23:00:00+00:00"),
        (dt.datetime, dt.datetime(2024, 2, 28, 22, 0, tzinfo=MINUS_5), "2024-02-29T03:00:00+00:00"),
        (dt.datetime, dt.datetime(2024, 1, 15, 10, 30, 0, 250000, tzinfo=UTC),
         "2024-01-15T10:30:00.250+00:00"),
        (dt.datetime, dt.datetime(1, 1, 1), "0001-01-01T00:00:00+00:00"),
        (dt.datetime, Iso("2024-01-15T10:30:00.123456789"), "2024-01-15T10:30:00.123456789+00:00"),
        (dt.datetime, Iso("2024-01-15T10:30:00.1"), "2024-01-15T10:30:00.100+00:00"),
        (dt.datetime, Iso("2024-01-15T10:30:00Z"), "2024-01-15T10:30:00+00:00"),
        (dt.datetime, Iso("2024-01-15T10:30:00.5+02:00"), "2024-01-15T08:30:00.500+00:00"),
        (dt.date, dt.date(2024, 1, 5), "2024-01-05"),
        (dt.date, dt.date(1, 1, 1), "0001-01-01"),
        (dt.date, Iso("2024-02-29"), "2024-02-29"),
        (dt.time, dt.time(10, 30), "10:30:00"),
        (dt.time, dt.time(10, 30, 0, 120000), "10:30:00.120"),
        (dt.time, dt.time(10, 30, 0, 123456), "10:30:00.123456"),
        (dt.time, dt.time(0, 0, 0, 1), "00:00:00.000001"),
        (dt.time, Iso("23:59:59.123456789"), "23:59:59.123456789"),
        (dt.time, Iso("23:59:59.000000001"), "23:59:59.000000001"),
        (uuid.UUID, SAMPLE_UUID, "12345678-9abc-def0-1234-56789abcdef0"),
        (uuid.UUID, "123456789ABCDEF0123456789ABCDEF0", "12345678-9abc-def0-1234-56789abcdef0"),
        (uuid.UUID, "{12345678-9ABC-DEF0-1234-56789ABCDEF0}",
         "12345678-9abc-def0-1234-56789abcdef0"),
        (uuid.UUID, "urn:uuid:12345678-9abc-def0-1234-56789abcdef0",
         "12345678-9abc-def0-1234-56789abcdef0"),
        (list, [1, "a", None, True, 1.5, {"b": 1, "a": 2}],
         [1, "a", None, True, 1.5, {"a": 2, "b": 1}]),
        (list, (1, 2), [1, 2]),
        (list, {"a": 1}, {"a": 1}),
        (list, 5, 5),
        (list, "text", "text"),
        (list, [2**63 - 1, -(2**63)], [2**63 - 1, -(2**63)]),
        (list, [2**63, 2**64 + 5, -(2**63) - 1], [float(2**63), float(2**64 + 5),
                                                  float(-(2**63) - 1)]),
        (list, ['a"b\\c', "\n\t", "\x00", "é😀"], ['a"b\\c', "\n\t", "\x00", "é😀"]),
        (dict, {1: "a"}, {"1": "a"}),
        (dict, {1: "a", "1": "b"}, {"1": "b"}),
        (dict, {"z": {"y": [], "x": {}}}, {"z": {"x": {}, "y": []}}),
        (bytes, b"a", "YQ=="),
        (bytes, b"ab", "YWI="),
        (bytes, b"abc", "YWJj"),
        (bytes, b"", ""),
        (bytes, bytes(range(256)), base64.b64encode(bytes(range(256))).decode()),
        (bytes, bytearray(b"ab"), "YWI="),
        (bytes, BytesSub(b"xyz"), "eHl6"),
        (bytes, [97, 98, 99], "YWJj"),
        (bytes, (0, 255), "AP8="),
    ],
)
def test_value_is_read_and_written(kind, value, written):
    out = serialize_one(kind, value)
    assert out == written
    assert type(out) is type(written)


def test_json_output_is_structurally_exact():
    value = [[1, [2.5, {"k": [None, False]}]], {}]
    out = serialize_one(list, value)
    assert json.dumps(out) == json.dumps(value)
    assert type(out[0][1][0]) is float and type(out[0][0]) is int


@pytest.mark.parametrize(
    "number",
    [0.1, 1 / 3, 1e23, 2.2250738585072014e-308, 5e-324, 1.7976931348623157e308,
     123456789012345680.0, -9007199254740993.0, 1e-7, 0.30000000000000004],
)
def test_json_numbers_read_back_exactly(number):
    assert serialize_one(list, [number]) == [number]


def test_json_objects_are_written_in_byte_order_of_keys():
    value = {"b": 1, "a": 2, "B": 3, "é": 4, "z": 5, "": 6}
    out = serialize_one(dict, value)
    assert list(out) == sorted(value, key=lambda key: key.encode())


def test_json_nesting_limit():
    deep = []
    for _ in range(126):
        deep = [deep]
    assert serialize_one(list, deep) == deep  # 127 levels
    with pytest.raises(TypeError) as caught:
        serialize_one(list, [deep])
    assert str(caught.value).startswith("type error on field 'v': expected list, got invalid "
                                        "JSON: recursion limit exceeded")


# --- failures while reading --------------------------------------------------------------------


@pytest.mark.parametrize("entry", ENTRY_POINTS)
@pytest.mark.parametrize(
    "kind, value, error, message",
    [
        (int, 1.0, TypeError, None),
        (int, "1", TypeError, None),
        (int, 2**63, OverflowError, None),
        (bool, 1, TypeError, "'int' object is not an instance of 'bool'"),
        (bool, 0, TypeError, "'int' object is not an instance of 'bool'"),
        (str, 5, TypeError, "'int' object is not an instance of 'str'"),
        (str, b"x", TypeError, "'bytes' object is not an instance of 'str'"),
        (str, "a\ud800", UnicodeEncodeError, None),
        (float, "1.0", TypeError, None),
        (D, Text("1E+2"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                     "decimal string: Invalid decimal: unknown character"),
        (D, Text("1E-8"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                     "decimal string: Invalid decimal: unknown character"),
        (D, D("NaN"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                 "decimal string: Invalid decimal: unknown character"),
        (D, D("-Infinity"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                       "decimal string: Invalid decimal: unknown character"),
        (D, Text(" 1"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                   "decimal string: Invalid decimal: unknown character"),
        (D, Text(""), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                 "decimal string: Invalid decimal: empty"),
        (D, Text("1.2.3"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                      "decimal string: Invalid decimal: two decimal points"),
        (D, Text("_1"), TypeError, "type error on field 'v': expected Decimal, got invalid "
                                   "decimal string: Invalid decimal: must start lead with a "
                                   "number"),
        (D, Text("123456789012345678901234567890"), TypeError,
         "type error on field 'v': expected Decimal, got invalid decimal string: Invalid "
         "decimal: overflow"),
        (dt.datetime, dt.date(2024, 1, 15), TypeError,
         "type error on field 'v': expected datetime, got could not parse: premature end of "
         "input"),
        (dt.datetime, dt.datetime(2024, 1, 15, 10, 30, tzinfo=dt.timezone(
            dt.timedelta(hours=5, minutes=30, seconds=15))), TypeError,
         "type error on field 'v': expected datetime, got could not parse: trailing input"),
        (dt.datetime, Iso("2024-02-30T00:00:00"), TypeError,
         "type error on field 'v': expected datetime, got could not parse: "),
        (dt.datetime, Iso("2024-01-15 10:30:00"), TypeError,
         "type error on field 'v': expected datetime, got could not parse: "),
        (dt.datetime, "2024-01-15T10:30:00", AttributeError, None),
        (dt.datetime, Iso(20240115), TypeError, "'int' object is not an instance of 'str'"),
        (dt.date, dt.datetime(2024, 1, 15, 10, 30), TypeError,
         "type error on field 'v': expected date, got could not parse: trailing input"),
        (dt.date, Iso("2023-02-29"), TypeError,
         "type error on field 'v': expected date, got could not parse: "),
        (dt.date, "2024-01-15", AttributeError, None),
        (dt.time, dt.time(10, 30, tzinfo=PLUS_2), TypeError,
         "type error on field 'v': expected time, got could not parse: trailing input"),
        (dt.time, Iso("10:30"), TypeError,
         "type error on field 'v': expected time, got could not parse: premature end of input"),
        (dt.time, Iso("25:00:00"), TypeError,
         "type error on field 'v': expected time, got could not parse: input is out of range"),
        (uuid.UUID, "not-a-uuid", TypeError, "type error on field 'v': expected UUID, got "
                                             "invalid UUID: "),
        (uuid.UUID, "0" * 31, TypeError, "type error on field 'v': expected UUID, got invalid "
                                         "UUID: "),
        (uuid.UUID, "12345678-9abc-def0-1234-56789abcdef", TypeError,
         "type error on field 'v': expected UUID, got invalid UUID: "),
        (uuid.UUID, "12345678-9abc-def0-1234-56789abcdefg", TypeError,
         "type error on field 'v': expected UUID, got invalid UUID: "),
        (list, [float("nan")], TypeError, "type error on field 'v': expected list, got invalid "
                                          "JSON: expected value at line 1 column 2"),
        (list, [float("inf")], TypeError, "type error on field 'v': expected list, got invalid "
                                          "JSON: expected value at line 1 column 2"),
        (dict, {"a": float("-inf")}, TypeError, "type error on field 'v': expected dict, got "
                                                "invalid JSON: "),
        (list, [object()], TypeError, "Object of type object is not JSON serializable"),
        (bytes, "abc", TypeError, "Can't extract `str` to `Vec`"),
        (bytes, 5, TypeError, "'int' object is not an instance of 'Sequence'"),
        (bytes, [256], OverflowError, None),
        (bytes, [-1], OverflowError, None),
        (bytes, ["a"], TypeError, None),
    ],
)
def test_reading_failures(entry, kind, value, error, message):
    with pytest.raises(error) as caught:
        entry(kind, value)
    if message is not None:
        assert type(caught.value) is error
        assert str(caught.value).startswith(message)
        # Messages ending in ": " or "overflow" give only the fixed part; a detail follows.
        if message.endswith((": ", "overflow")):
            assert len(str(caught.value)) > len(message)
        else:
            assert str(caught.value) == message


@pytest.mark.parametrize("entry", ENTRY_POINTS)
def test_exceptions_of_conversion_calls_pass_through(entry):
    class Failing:
        def __str__(self):
            raise LookupError("str failed")

        def isoformat(self):
            raise LookupError("isoformat failed")

    for kind in (D, uuid.UUID):
        with pytest.raises(LookupError, match="str failed"):
            entry(kind, Failing())
    for kind in (dt.datetime, dt.date, dt.time):
        with pytest.raises(LookupError, match="isoformat failed"):
            entry(kind, Failing())


# --- missing values ----------------------------------------------------------------------------


class Record:
    def __init__(self, **values):
        self.__dict__.update(values)


class RaisingRecord:
    @property
    def v(self):
        raise ValueError("not available")


class OverridingDict(dict):
    def __getitem__(self, key):
        return 1

    def __missing__(self, key):
        return 1


MISSING_RECORDS = [
    pytest.param({}, id="dict-without-key"),
    pytest.param({"v": None}, id="dict-with-none"),
    pytest.param(Record(), id="object-without-attribute"),
    pytest.param(Record(v=None), id="object-with-none"),
    pytest.param(RaisingRecord(), id="property-raises"),
    pytest.param(OverridingDict(), id="dict-lookup-override-ignored"),
]


@pytest.mark.parametrize("record", MISSING_RECORDS)
@pytest.mark.parametrize("function", [_native.serialize, _native.validate])
def test_missing_required_value_raises(record, function):
    with pytest.raises(ValueError) as caught:
        function(record, Schema({"v": Field(int)}))
    assert caught.value.args == ("field 'v' is required but was null",)


@pytest.mark.parametrize("record", MISSING_RECORDS)
@pytest.mark.parametrize("options", [{"nullable": True}, {"default": True}])
def test_missing_optional_value_is_null(record, options):
    schema = Schema({"v": Field(D, **options)})
    assert _native.serialize(record, schema) == {"v": None}
    report = _native.validate(record, schema)
    assert report == {"valid_count": 1, "error_count": 0, "is_valid": True, "errors": []}


class CollidingKey:
    """A key that compares unequal in a way that raises, with the hash of "v"."""

    def __hash__(self):
        return hash("v")

    def __eq__(self, other):
        raise ArithmeticError("compared")


@pytest.mark.parametrize("function", [_native.serialize, _native.validate])
def test_exception_from_a_dict_lookup_is_raised(function):
    with pytest.raises(ArithmeticError, match="compared"):
        function({CollidingKey(): 1}, Schema({"v": Field(int, nullable=True)}))


def test_first_failure_in_declaration_order_wins():
    schema = Schema({"z": Field(int), "a": Field(str)})
    with pytest.raises(TypeError) as caught:
        _native.serialize({"z": "not int", "a": 5}, schema)
    assert "'str' object" in str(caught.value)
    with pytest.raises(ValueError, match="field 'z' is required"):
        _native.serialize({"a": 5}, schema)


# --- the serialized record ---------------------------------------------------------------------


def test_keys_come_in_byte_order_of_names():
    names = ["title", "created", "amount", "B", "a", "é", "z", "_", "A1", "a0"]
    schema = Schema({name: Field(int) for name in names})
    out = _native.serialize({name: i for i, name in enumerate(names)}, schema)
    assert list(out) == sorted(names, key=lambda name: name.encode())
    assert out == {name: i for i, name in enumerate(names)}


def test_object_records_are_read_by_attribute():
    schema = Schema({"when": Field(dt.date), "price": Field(D), "tags": Field(list)})
    record = Record(when=dt.date(2024, 3, 1), price=D("9.90"), tags=("a",), unused=object())
    assert _native.serialize(record, schema) == {"price": "9.90", "tags": ["a"],
                                                 "when": "2024-03-01"}


def test_dict_records_ignore_extra_keys_and_return_fresh_dicts():
    schema = Schema({"a": Field(list)})
    record = {"a": [1], "extra": 2}
    first, second = _native.serialize(record, schema), _native.serialize(record, schema)
    assert first == {"a": [1]} and first is not second
    assert first["a"] is not record["a"]


def test_empty_schema_serializes_to_empty_dict():
    assert _native.serialize({"x": 1}, Schema({})) == {}
    assert _native.serialize(object(), Schema({})) == {}


@pytest.mark.parametrize(
    "value, text",
    [(float("nan"), "NaN"), (float("inf"), "inf"), (float("-inf"), "-inf")],
)
def test_non_finite_floats_cannot_be_serialized(value, text):
    with pytest.raises(ValueError) as caught:
        _native.serialize({"score": value}, Schema({"score": Field(float)}))
    assert caught.value.args == (
        f"serialization error on field 'score': float value {text} is not representable in "
        "JSON (NaN/Infinity)",)


def test_non_finite_float_is_fine_for_validation():
    report = _native.validate({"score": float("nan")}, Schema({"score": Field(float)}))
    assert report["is_valid"] is True


def test_serialize_docstring():
    assert _native.serialize.__text_signature__ == "(data, schema)"
    assert _native.serialize.__doc__ == (
        "Serializes a Python dict or object using a precompiled schema.\n\n"
        "Accepts either a dict (keys are field names) or any object with\n"
        "attributes matching the schema field names.\n\n"
        "Returns a dict of serialized field values (JSON-compatible)."
    )
