"""Validation of single records with _native.validate: the rules, their messages, codes and
params, the numbers written into them, and the report dict."""

import decimal
import math

import pytest

import _native
from _native import Field, Schema

D = decimal.Decimal


def errors_of(kind, value, **options):
    return _native.validate({"v": value}, Schema({"v": Field(kind, **options)}))["errors"]


def error(message, code, **params):
    return {"field": "v", "message": message, "code": code, "params": params}


def plain(number):
    """The shortest text that reads back as `number`, written without an exponent."""
    if math.isnan(number):
        return "NaN"
    if math.isinf(number):
        return "inf" if number > 0 else "-inf"
    text = format(D(repr(number)), "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


# --- the rules ---------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "kind, value, options, expected",
    [
        (str, "abc", {"max_length": 2, "min_length": 5}, [
            error("Ensure this value has at most 2 characters (it has 3).", "max_length",
                  max_length="2", length="3"),
            error("Ensure this value has at least 5 characters (it has 3).", "min_length",
                  min_length="5", length="3"),
        ]),
        (str, "éé", {"max_length": 1}, [
            error("Ensure this value has at most 1 characters (it has 2).", "max_length",
                  max_length="1", length="2"),
        ]),
        (str, "😀😀😀", {"max_length": 2}, [
            error("Ensure this value has at most 2 characters (it has 3).", "max_length",
                  max_length="2", length="3"),
        ]),
        (str, "e\u0301", {"min_length": 3}, [
            error("Ensure this value has at least 3 characters (it has 2).", "min_length",
                  min_length="3", length="2"),
        ]),
        (str, "abc", {"max_length": 3, "min_length": 3}, []),
        (str, "", {"min_length": 0}, []),
        (int, -1, {"min_value": 0}, [
            error("Ensure this value is greater than or equal to 0.", "min_value",
                  min_value="0"),
        ]),
        (int, 11, {"min_value": 0, "max_value": 10}, [
            error("Ensure this value is less than or equal to 10.", "max_value", max_value="10"),
        ]),
        (int, True, {"max_value": 0}, [
            error("Ensure this value is less than or equal to 0.", "max_value", max_value="0"),
        ]),
        (int, 0, {"max_value": -(2**63)}, [
            error("Ensure this value is less than or equal to -9223372036854775808.",
                  "max_value", max_value="-9223372036854775808"),
        ]),
        (int, 0, {"min_value": 2**63 - 1}, [
            error("Ensure this value is greater than or equal to 9223372036854775807.",
                  "min_value", min_value="9223372036854775807"),
        ]),
        (int, 5, {"min_value": 5, "max_value": 5}, []),
        (float, 2.0, {"max_value": 1.5}, [
            error("Ensure this value is less than or equal to 1.5.", "max_value",
                  max_value="1.5"),
        ]),
        (float, 11, {"max_value": 10.0}, [
            error("Ensure this value is less than or equal to 10.", "max_value", max_value="10"),
        ]),
        (float, float("nan"), {"min_value": 0.0, "max_value": 1.0}, []),
        (float, 1.0, {"min_value": float("nan")}, []),
        (bytes, b"abc", {"max_length": 2}, [
            error("Ensure this value has at most 2 bytes (it has 3).", "max_length",
                  max_length="2"),
        ]),
        (bytes, bytearray(b"abc"), {"max_length": 3}, []),
        (bytes, [1, 2, 3, 4], {"max_length": 0}, [
            error("Ensure this value has at most 0 bytes (it has 4).", "max_length",
                  max_length="0"),
        ]),
        (D, D("123.45"), {"max_digits": 4, "decimal_places": 1}, [
            error("Ensure that there are no more than 4 digits in total.", "max_digits",
                  max_digits="4"),
            error("Ensure that there are no more than 1 decimal places.", "max_decimal_places",
                  decimal_places="1"),
        ]),
        (list, {"a": 1}, {}, [error("Expected a list.", "invalid")]),
        (list, 5, {}, [error("Expected a list.", "invalid")]),
        (list, "abc", {}, [error("Expected a list.", "invalid")]),
        (list, (1, 2), {}, []),
        (dict, [1], {}, [error("Expected a dict.", "invalid")]),
        (dict, None, {"nullable": True}, []),
        (dict, {}, {}, []),
        (bool, False, {}, []),
    ],
)
def test_rule(kind, value, options, expected):
    assert errors_of(kind, value, **options) == expected


@pytest.mark.parametrize(
    "bound",
    [10.0, 1.5, 1e-7, 1e21, 0.1, 1 / 3, 5e-324, 1.7976931348623157e308, 123456.789, -2.5,
     9007199254740993.0, 2.5e-5, 1e16, float("inf")],
)
def test_float_bounds_are_written_in_shortest_plain_form(bound):
    below = errors_of(float, float("-inf"), min_value=bound)
    assert below == [error(f"Ensure this value is greater than or equal to {plain(bound)}.",
                           "min_value", min_value=plain(bound))]
    above = errors_of(float, float("inf"), max_value=-bound)
    if -bound != float("-inf"):
        assert above == [error(f"Ensure this value is less than or equal to {plain(-bound)}.",
                               "max_value", max_value=plain(-bound))]


def test_plain_float_examples():
    assert [plain(x) for x in (10.0, 1.5, 1e-7, 1e21)] == [
        "10", "1.5", "0.0000001", "1000000000000000000000"]
    assert errors_of(float, 0.0, max_value=float("-inf"))[0]["params"] == {"max_value": "-inf"}


@pytest.mark.parametrize(
    "value, digits, places",
    [
        (D("1.50"), 3, 2),
        (D("0.05"), 1, 2),
        (D("100"), 3, 0),
        (D("0"), 1, 0),
        (D("0.00"), 1, 2),
        (D("-123.45"), 5, 2),
        (D("0.000001"), 1, 6),
        (D("1000.000"), 7, 3),
        (D("79228162514264337593543950335"), 29, 0),
    ],
)
def test_decimal_digits_and_places(value, digits, places):
    assert errors_of(D, value, max_digits=digits, decimal_places=places) == []
    found = errors_of(D, value, max_digits=digits - 1)
    assert found == [error(f"Ensure that there are no more than {digits - 1} digits in total.",
                           "max_digits", max_digits=str(digits - 1))]
    if places > 0:
        found = errors_of(D, value, decimal_places=places - 1)
        assert found == [error(f"Ensure that there are no more than {places - 1} decimal "
                               "places.", "max_decimal_places", decimal_places=str(places - 1))]


# --- the report --------------------------------------------------------------------------------


def test_report_shape_and_counts():
    schema = Schema({
        "s": Field(str, max_length=2, min_length=5),
        "ok": Field(str),
        "n": Field(int, min_value=0),
    })
    report = _native.validate({"s": "abc", "ok": "fine", "n": -1}, schema)
    assert list(report) == ["valid_count", "error_count", "is_valid", "errors"]
    assert report["valid_count"] == 1 and report["error_count"] == 3
    assert report["is_valid"] is False
    assert [(e["field"], e["code"]) for e in report["errors"]] == [
        ("s", "max_length"), ("s", "min_length"), ("n", "min_value")]
    for entry in report["errors"]:
        assert list(entry) == ["field", "message", "code", "params"]
        assert all(type(entry[key]) is str for key in ("field", "message", "code"))
        assert all(type(k) is str and type(v) is str for k, v in entry["params"].items())


def test_errors_follow_declaration_order():
    schema = Schema({"z": Field(int, max_value=0), "a": Field(int, max_value=0)})
    report = _native.validate({"a": 1, "z": 1}, schema)
    assert [e["field"] for e in report["errors"]] == ["z", "a"]


def test_all_valid_and_empty_reports():
    schema = Schema({"a": Field(int), "b": Field(str, nullable=True), "c": Field(bool)})
    assert _native.validate({"a": 1, "c": True}, schema) == {
        "valid_count": 3, "error_count": 0, "is_valid": True, "errors": []}
    assert _native.validate({}, Schema({})) == {
        "valid_count": 0, "error_count": 0, "is_valid": True, "errors": []}


def test_required_error_is_raised_not_reported():
    with pytest.raises(ValueError) as caught:
        _native.validate({}, Schema({"x": Field(int)}))
    assert caught.value.args == ("field 'x' is required but was null",)
    report = _native.validate({}, Schema({"x": Field(int, nullable=True)}))
    assert report == {"valid_count": 1, "error_count": 0, "is_valid": True, "errors": []}


def wide_record(count):
    """A schema of `count` fields, about a third of them failing one or two rules."""
    fields, record, expected = {}, {}, []
    for i in range(count):
        name = f"f{i:03d}_{(i * 37) % 101}"
        if i % 5 == 0:
            fields[name] = Field(str, max_length=2, min_length=4)
            record[name] = "abc"
            expected.append((name, "max_length"))
            expected.append((name, "min_length"))
        elif i % 3 == 0:
            fields[name] = Field(int, min_value=i)
            record[name] = i - 1
            expected.append((name, "min_value"))
        else:
            fields[name] = Field(float, max_value=float(i))
            record[name] = float(i)
    return Schema(fields), record, expected


@pytest.mark.parametrize("count", [127, 128, 129, 200, 600])
def test_wide_records_give_the_sequential_report(count):
    schema, record, expected = wide_record(count)
    failing = len({name for name, _ in expected})
    for _ in range(10):
        report = _native.validate(record, schema)
        assert [(e["field"], e["code"]) for e in report["errors"]] == expected
        assert report["error_count"] == len(expected)
        assert report["valid_count"] == count - failing


def test_validate_and_version_docstrings():
    assert _native.validate.__text_signature__ == "(data, schema)"
    assert _native.validate.__doc__ == (
        "Validates a Python dict or object against a schema.\n\n"
        "Returns a dict with `is_valid`, `valid_count`, `error_count`, and `errors`."
    )
    assert _native.version.__text_signature__ == "()"
    assert _native.version.__doc__ == "Returns the sorvel-core version string."
