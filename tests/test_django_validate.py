"""validate_instance and validate_fields: reports for model instances and value lists."""

import decimal
import types

import pytest

from django_app.environment import start_django

start_django()

import sorvel_django  # noqa: E402
from django.db import models  # noqa: E402

from django_app.database import rollback  # noqa: E402, F401
from django_app.descriptors import descriptor  # noqa: E402
from django_app.fakes import fake_model  # noqa: E402
from django_app.models import Record  # noqa: E402
from django_app.samples import (  # noqa: E402
    record_values,
    stored_record,
    unsaved_record,
)

SCHEMA = sorvel_django.ModelSchema(Record)
NAMES = SCHEMA.field_names_list
DESCRIPTORS = SCHEMA.to_descriptor_list()

VALID = {"valid_count": 21, "error_count": 0, "is_valid": True, "errors": []}


def error(field, message, code, **params):
    return {"field": field, "message": message, "code": code, "params": params}


def required(field):
    return error(field, "This field is required.", "required")


def too_long(field, limit, length):
    return error(
        field,
        f"Ensure this value has at most {limit} characters (it has {length}).",
        "max_length",
        max_length=str(limit),
        length=str(length),
    )


def above(field, bound):
    return error(
        field,
        f"Ensure this value is less than or equal to {bound}.",
        "max_value",
        max_value=str(bound),
    )


def below(field, bound):
    return error(
        field,
        f"Ensure this value is greater than or equal to {bound}.",
        "min_value",
        min_value=str(bound),
    )


def too_many_digits(field, digits):
    return error(
        field,
        f"Ensure that there are no more than {digits} digits in total.",
        "max_digits",
        max_digits=str(digits),
    )


def too_many_places(field, places):
    return error(
        field,
        f"Ensure that there are no more than {places} decimal places.",
        "max_decimal_places",
        decimal_places=str(places),
    )


NOT_A_DICT = error("payload", "Expected a dict.", "invalid")


@pytest.mark.usefixtures("rollback")
def test_a_fetched_record_is_valid():
    stored = stored_record(note="n" * 20)
    report = sorvel_django.validate_instance(Record.objects.get(pk=stored.pk), SCHEMA)
    assert report == VALID
    assert list(report) == ["valid_count", "error_count", "is_valid", "errors"]


@pytest.mark.parametrize(
    ("overrides", "errors"),
    [
        # Length counts code points, not bytes.
        ({"title": "é" * 200}, []),
        ({"title": "é" * 201}, [too_long("title", 200, 201)]),
        ({"title": "𝄞" * 201}, [too_long("title", 200, 201)]),
        ({"body": "x" * 100000}, []),
        ({"email": "x" * 255}, [too_long("email", 254, 255)]),
        ({"site": "x" * 201}, [too_long("site", 200, 201)]),
        ({"slug": "x" * 51}, [too_long("slug", 50, 51)]),
        ({"note": "x" * 21}, [too_long("note", 20, 21)]),
        # Every integer type that reads as IntegerField has the signed 32-bit range, whatever
        # range Django gives the column.
        ({"count": 2**31 - 1}, []),
        ({"count": 2**31}, [above("count", 2147483647)]),
        ({"count": -(2**31)}, []),
        ({"count": -(2**31) - 1}, [below("count", -2147483648)]),
        ({"small": 40000}, []),
        ({"positive": -1}, []),
        ({"positive_small": 2**31}, [above("positive_small", 2147483647)]),
        ({"count": True}, []),
        ({"big": 2**63 - 1}, []),
        ({"big": -(2**63)}, []),
        ({"positive_big": -(2**31) - 1}, []),
        # max_digits 8, decimal_places 2.
        ({"price": decimal.Decimal("999999.99")}, []),
        ({"price": decimal.Decimal("1234567.89")}, [too_many_digits("price", 8)]),
        ({"price": decimal.Decimal("-123456.78")}, []),
        ({"price": decimal.Decimal("0.001")}, [too_many_places("price", 2)]),
        ({"price": decimal.Decimal("0.00")}, []),
        (
            {"price": decimal.Decimal("123456.789")},
            [too_many_digits("price", 8), too_many_places("price", 2)],
        ),
        # The JSON field is described as a dict.
        ({"payload": {}}, []),
        ({"payload": [1]}, [NOT_A_DICT]),
        ({"payload": "text"}, [NOT_A_DICT]),
        ({"payload": 5}, [NOT_A_DICT]),
        ({"payload": 2**64}, [NOT_A_DICT]),
        ({"blob": b"x" * 16}, []),
        (
            {"blob": b"x" * 17},
            [
                error(
                    "blob",
                    "Ensure this value has at most 16 bytes (it has 17).",
                    "max_length",
                    max_length="16",
                )
            ],
        ),
        (
            {"blob": bytearray(17)},
            [
                error(
                    "blob",
                    "Ensure this value has at most 16 bytes (it has 17).",
                    "max_length",
                    max_length="16",
                )
            ],
        ),
        # None: required unless nullable or defaulted.
        ({"title": None}, [required("title")]),
        ({"ratio": None}, [required("ratio")]),
        ({"note": None, "active": None, "uid": None, "payload": None}, []),
        # NaN passes float checks; the float field has no bounds.
        ({"ratio": float("nan")}, []),
        ({"ratio": -1e308}, []),
    ],
)
def test_rule_violations_are_reported(overrides, errors):
    report = sorvel_django.validate_instance(unsaved_record(**overrides), SCHEMA)
    fields = {entry["field"] for entry in errors}
    assert report == {
        "valid_count": 21 - len(fields),
        "error_count": len(errors),
        "is_valid": not errors,
        "errors": errors,
    }
    for entry in report["errors"]:
        assert list(entry) == ["field", "message", "code", "params"]
    values = record_values(**overrides)
    assert sorvel_django.validate_fields(DESCRIPTORS, [values[n] for n in NAMES]) == report


def test_errors_follow_schema_order_and_count_fields_once():
    instance = unsaved_record(
        payload=[], title=None, price=decimal.Decimal("123456.789"), count=2**31, blob=b"x" * 20
    )
    report = sorvel_django.validate_instance(instance, SCHEMA)
    assert report["errors"] == [
        required("title"),
        above("count", 2147483647),
        too_many_digits("price", 8),
        too_many_places("price", 2),
        NOT_A_DICT,
        error(
            "blob",
            "Ensure this value has at most 16 bytes (it has 20).",
            "max_length",
            max_length="16",
        ),
    ]
    assert report["error_count"] == 6
    assert report["valid_count"] == 21 - 5
    assert report["is_valid"] is False


class Partial:
    """An instance that lacks some attributes and whose lookups of others raise."""

    def __init__(self, values, missing=(), failing=()):
        self.__values = {k: v for k, v in values.items() if k not in missing}
        self.__failing = failing

    def __getattr__(self, name):
        if name in self.__failing:
            raise RuntimeError(name)
        try:
            return self.__values[name]
        except KeyError:
            raise AttributeError(name) from None


@pytest.mark.parametrize(
    ("missing", "failing", "errors"),
    [
        (("title",), (), [required("title")]),
        ((), ("title", "body"), [required("title"), required("body")]),
        (("note", "active", "uid"), ("payload",), []),
        (
            tuple(NAMES),
            (),
            [required(n) for n in NAMES if n not in ("note", "active", "uid", "payload")],
        ),
    ],
)
def test_missing_or_failing_attributes_are_validated_as_null(missing, failing, errors):
    instance = Partial(record_values(), missing, failing)
    report = sorvel_django.validate_instance(instance, SCHEMA)
    assert report["errors"] == errors
    assert report["valid_count"] == 21 - len(errors)
    if errors:
        # Serialization of the same instance cannot go on without the value.
        with pytest.raises(ValueError, match="is required but received null$"):
            sorvel_django.serialize_instance(instance, SCHEMA)


@pytest.mark.usefixtures("rollback")
def test_deferred_fields_of_a_deleted_row_are_reported_missing():
    stored = stored_record()
    deferred = Record.objects.only("title", "price").get(pk=stored.pk)
    Record.objects.filter(pk=stored.pk).delete()
    report = sorvel_django.validate_instance(deferred, SCHEMA)
    loadable = {"title", "price", "note", "active", "uid", "payload"}
    assert report["errors"] == [required(n) for n in NAMES if n not in loadable]


def test_an_empty_schema_gives_an_empty_valid_report():
    empty = sorvel_django.ModelSchema(fake_model([]))
    assert sorvel_django.validate_instance(object(), empty) == {
        "valid_count": 0,
        "error_count": 0,
        "is_valid": True,
        "errors": [],
    }
    assert sorvel_django.validate_fields([], [1, 2]) == {
        "valid_count": 0,
        "error_count": 0,
        "is_valid": True,
        "errors": [],
    }


# --- wide records: sequential below 128 fields, on the worker pool from 128 on -----------------


def wide(count):
    """A schema of `count` real IntegerFields, an instance and its expected errors.

    Every seventh value is out of range, every eleventh is None, every thirteenth attribute is
    missing; the fields named after multiples of five are nullable.
    """
    fields, values, errors = [], {}, []
    for index in range(count):
        name = f"f{index:03d}"
        field = models.IntegerField(null=index % 5 == 0)
        field.set_attributes_from_name(name)
        fields.append(field)
        if index % 13 == 0 and index:
            if index % 5:
                errors.append(required(name))
            continue
        if index % 11 == 0:
            values[name] = None
            if index % 5:
                errors.append(required(name))
        elif index % 7 == 0:
            values[name] = 2**31 + index
            errors.append(above(name, 2147483647))
        else:
            values[name] = -index
    schema = sorvel_django.ModelSchema(fake_model(fields, name=f"Wide{count}"))
    return schema, types.SimpleNamespace(**values), errors


@pytest.mark.parametrize("count", [127, 128, 129, 200, 1000])
def test_wide_records_report_in_schema_order(count):
    schema, instance, errors = wide(count)
    report = sorvel_django.validate_instance(instance, schema)
    assert report["errors"] == errors
    assert report["error_count"] == len(errors)
    assert report["valid_count"] == count - len(errors)
    descriptors = schema.to_descriptor_list()
    values = [getattr(instance, d["name"], None) for d in descriptors]
    assert sorvel_django.validate_fields(descriptors, values) == report


def test_wide_reports_are_stable_across_runs():
    schema, instance, _ = wide(300)
    first = sorvel_django.validate_instance(instance, schema)
    for _ in range(20):
        assert sorvel_django.validate_instance(instance, schema) == first


# --- validate_fields -----------------------------------------------------------------------------


THREE = [
    descriptor("a", "CharField", max_length=2),
    descriptor("b", "IntegerField"),
    descriptor("c", "JSONField", nullable=True),
]


def test_validate_fields_pairs_values_by_position():
    assert sorvel_django.validate_fields(THREE, ["abc", 2**31, [1]]) == {
        "valid_count": 0,
        "error_count": 3,
        "is_valid": False,
        "errors": [
            too_long("a", 2, 3),
            above("b", 2147483647),
            error("c", "Expected a dict.", "invalid"),
        ],
    }


def test_validate_fields_ignores_extra_values_and_rejects_too_few():
    assert sorvel_django.validate_fields(THREE, ["ab", 1, None, "ignored", object()])["is_valid"]
    with pytest.raises(IndexError):
        sorvel_django.validate_fields(THREE, ["ab", 1])
    with pytest.raises(IndexError):
        sorvel_django.validate_fields(THREE, [])


class ValuesList(list):
    def __getitem__(self, index):
        raise AssertionError("the list's own storage is read")


def test_validate_fields_reads_list_storage_directly():
    assert sorvel_django.validate_fields(THREE, ValuesList(["ab", 1, {}]))["is_valid"]


@pytest.mark.parametrize(
    ("arguments", "message", "parameter"),
    [
        (
            (tuple(THREE), ["ab", 1, None]),
            "'tuple' object is not an instance of 'list'",
            "descriptors",
        ),
        ((THREE, ("ab", 1, None)), "'tuple' object is not an instance of 'list'", "values"),
        ((None, None), "'None' is not an instance of 'list'", "descriptors"),
        ((THREE, {"a": "ab"}), "'dict' object is not an instance of 'list'", "values"),
        ((THREE, None), "'None' is not an instance of 'list'", "values"),
    ],
)
def test_validate_fields_argument_types(arguments, message, parameter):
    with pytest.raises(TypeError) as caught:
        sorvel_django.validate_fields(*arguments)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize(
    ("instance", "schema", "message"),
    [
        (unsaved_record(), None, "'None' is not an instance of 'ModelSchema'"),
        (unsaved_record(), Record, "'ModelBase' object is not an instance of 'ModelSchema'"),
        (unsaved_record(), DESCRIPTORS, "'list' object is not an instance of 'ModelSchema'"),
    ],
)
def test_validate_instance_needs_a_model_schema(instance, schema, message):
    with pytest.raises(TypeError) as caught:
        sorvel_django.validate_instance(instance, schema)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == ["while processing 'schema'"]
