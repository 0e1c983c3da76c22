"""The Field and Schema classes: kind resolution, constraint rules, argument conversion,
printed forms and docstrings."""

import datetime
import decimal
import inspect
import sys
import uuid

import pytest

import _native
from _native import Field, Schema

SUPPORTED = "str, int, float, bool, Decimal, datetime, date, time, UUID, list, dict, bytes"


def unsupported(name):
    return f"schema error: unsupported type: '{name}'. Supported: {SUPPORTED}"


class NamedByProperty:
    @property
    def __name__(self):
        raise RuntimeError("no name here")


class NamedByNumber:
    __name__ = 5


class StrName(str):
    pass


def function_named(name):
    def function():
        pass

    function.__name__ = name
    return function


# --- kind resolution ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "python_type, kind",
    [
        (str, "str"),
        (int, "int"),
        (float, "float"),
        (bool, "bool"),
        (decimal.Decimal, "Decimal"),
        (datetime.datetime, "datetime"),
        (datetime.date, "date"),
        (datetime.time, "time"),
        (uuid.UUID, "UUID"),
        (list, "list"),
        (dict, "dict"),
        (bytes, "bytes"),
        # Only the name counts.
        (type("UUID", (), {}), "UUID"),
        (type("Decimal", (int,), {}), "Decimal"),
        (function_named("str"), "str"),
        (type("x", (), {"__name__": StrName("dict")})(), "dict"),
    ],
)
def test_kind_is_resolved_by_name(python_type, kind):
    assert repr(Field(python_type)) == f"Field({kind}, nullable=false)"
    assert repr(Field(python_type, nullable=True)) == f"Field({kind}, nullable=true)"


@pytest.mark.parametrize(
    "python_type, name",
    [
        ("str", ""),
        (object, "object"),
        (bytearray, "bytearray"),
        (type("STR", (), {}), "STR"),
        (type("Uuid", (), {}), "Uuid"),
        pytest.param(NamedByProperty(), "", id="name-raises"),
        (NamedByNumber(), ""),
        (None, ""),
        (42, ""),
    ],
)
def test_unsupported_types(python_type, name):
    with pytest.raises(ValueError) as caught:
        Field(python_type)
    assert caught.value.args == (unsupported(name),)


# --- constraints -------------------------------------------------------------------------------

STR_RANGE = "Field(str) does not support min_value/max_value. Use max_length/min_length instead."
STR_DIGITS = "Field(str) does not support max_digits/decimal_places."
DECIMAL_LENGTH = ("Field(Decimal) does not support max_length/min_length. "
                  "Use max_digits/decimal_places instead.")
DECIMAL_RANGE = ("Field(Decimal) does not support min_value/max_value. "
                 "Use max_digits/decimal_places instead.")
BYTES_ONLY = "Field(bytes) only supports max_length. Not min_value/max_value or max_digits."


def number_length(name):
    return (f"Field({name}) does not support max_length/min_length. "
            "Use min_value/max_value instead.")


def number_digits(name):
    return f"Field({name}) does not support max_digits/decimal_places."


def no_constraints(name):
    return f"Field({name}) does not support constraints. Only nullable and default are valid."


@pytest.mark.parametrize(
    "python_type, constraints, message",
    [
        (str, {"min_value": 1}, STR_RANGE),
        (str, {"max_value": 1, "max_digits": 2}, STR_RANGE),
        (str, {"decimal_places": 0}, STR_DIGITS),
        (int, {"max_length": 5}, number_length("int")),
        (int, {"min_length": 0, "max_digits": 1}, number_length("int")),
        (int, {"max_digits": 1}, number_digits("int")),
        (float, {"min_length": 1}, number_length("float")),
        (float, {"decimal_places": 2}, number_digits("float")),
        # Compatibility is tested before min_value is converted.
        (int, {"max_length": 5, "min_value": "not a number"}, number_length("int")),
        (decimal.Decimal, {"max_length": 3, "min_value": 1}, DECIMAL_LENGTH),
        (decimal.Decimal, {"max_value": 1}, DECIMAL_RANGE),
        (bytes, {"decimal_places": 2}, BYTES_ONLY),
        (bytes, {"min_value": 0}, BYTES_ONLY),
        (bytes, {"max_length": 4, "max_digits": 2}, BYTES_ONLY),
        (bool, {"max_length": 1}, no_constraints("bool")),
        (datetime.datetime, {"min_value": 0}, no_constraints("datetime")),
        (datetime.date, {"decimal_places": 0}, no_constraints("date")),
        (datetime.time, {"min_length": 0}, no_constraints("time")),
        (uuid.UUID, {"max_digits": 3}, no_constraints("UUID")),
        (list, {"max_length": 3}, no_constraints("list")),
        (dict, {"max_value": 3}, no_constraints("dict")),
    ],
)
def test_incompatible_constraints(python_type, constraints, message):
    with pytest.raises(ValueError) as caught:
        Field(python_type, **constraints)
    assert caught.value.args == ("schema error: " + message,)


@pytest.mark.parametrize(
    "python_type, constraints",
    [
        (bool, {"max_length": None, "min_value": None, "max_digits": None}),
        (bytes, {"min_length": 3}),
        (bytes, {"max_length": 0, "min_length": 9}),
        (int, {"min_value": -(2**63), "max_value": 2**63 - 1}),
        (float, {"min_value": 1, "max_value": decimal.Decimal("2.5")}),
        (decimal.Decimal, {"max_digits": 0, "decimal_places": 2**32 - 1}),
        (dict, {"nullable": True, "default": True}),
    ],
)
def test_compatible_constraints_are_accepted(python_type, constraints):
    Field(python_type, **constraints)


@pytest.mark.parametrize(
    "constraints, error, parameter",
    [
        ({"max_length": -1}, OverflowError, "max_length"),
        ({"max_length": 2**64}, OverflowError, "max_length"),
        ({"min_length": "3"}, TypeError, "min_length"),
        ({"min_length": 1.0}, TypeError, "min_length"),
        ({"max_digits": 2**32}, OverflowError, "max_digits"),
        ({"decimal_places": -1}, OverflowError, "decimal_places"),
        ({"nullable": None}, TypeError, "nullable"),
        ({"nullable": 1}, TypeError, "nullable"),
        ({"default": "yes"}, TypeError, "default"),
        # Conversions come before kind resolution and compatibility.
        ({"max_length": "x", "nullable": 0}, TypeError, "max_length"),
    ],
)
def test_argument_conversion_errors_name_the_parameter(constraints, error, parameter):
    with pytest.raises(error) as caught:
        Field(object, **constraints)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


def test_out_of_range_narrow_integer_message():
    with pytest.raises(OverflowError) as caught:
        Field(decimal.Decimal, max_digits=2**32)
    assert str(caught.value) == "out of range integral type conversion attempted"


@pytest.mark.parametrize(
    "python_type, constraints, error",
    [
        (int, {"min_value": 1.5}, TypeError),
        (int, {"max_value": "3"}, TypeError),
        (int, {"min_value": 2**63}, OverflowError),
        (int, {"max_value": -(2**63) - 1}, OverflowError),
        # min_value is converted first.
        (int, {"min_value": "a", "max_value": 2**64}, TypeError),
        (float, {"min_value": "1.0"}, TypeError),
        (float, {"max_value": 2**1100}, OverflowError),
    ],
)
def test_range_bounds_fail_with_the_interpreters_exception(python_type, constraints, error):
    with pytest.raises(error) as caught:
        Field(python_type, **constraints)
    assert not caught.value.args[0].startswith("schema error")
    assert not hasattr(caught.value, "__notes__")


def test_zero_is_a_given_constraint():
    field = Field(str, max_length=0)
    assert repr(field) == "Field(str, nullable=false)"
    report = _native.validate({"s": "a"}, Schema({"s": field}))
    assert report["errors"][0]["params"] == {"max_length": "0", "length": "1"}


def test_bytes_minimum_length_is_not_enforced():
    schema = Schema({"b": Field(bytes, min_length=3)})
    assert _native.validate({"b": b""}, schema)["is_valid"] is True
    assert _native.validate_many([{"b": b""}], schema)["is_valid"] is True


def test_float_bounds_accept_ints():
    schema = Schema({"x": Field(float, min_value=1, max_value=True)})
    errors = _native.validate({"x": 0.5}, schema)["errors"]
    assert [e["message"] for e in errors] == ["Ensure this value is greater than or equal to 1."]


def test_field_signature_and_docstring():
    signature = inspect.signature(Field)
    assert list(signature.parameters) == [
        "python_type", "max_length", "min_length", "min_value", "max_value", "max_digits",
        "decimal_places", "nullable", "default",
    ]
    kinds = [p.kind for p in signature.parameters.values()]
    assert kinds == [inspect.Parameter.POSITIONAL_OR_KEYWORD] + [
        inspect.Parameter.KEYWORD_ONLY] * 8
    defaults = [p.default for p in signature.parameters.values()][1:]
    assert defaults == [None] * 6 + [False, False]
    doc = Field.__doc__
    assert doc.startswith("Defines a single field's type and constraints.\n\nPython usage:\n"
                          "```python\n")
    lines = doc.splitlines()
    for line in [
        "from sorvel_core import Field",
        "from decimal import Decimal",
        "from datetime import datetime",
        "Field(str, max_length=100)",
        "Field(int, min_value=0, max_value=150)",
        "Field(Decimal, max_digits=10, decimal_places=2)",
        "Field(datetime)",
        "Field(str, nullable=True)",
    ]:
        assert line in lines
    assert lines[-1] == "```"


# --- Schema ------------------------------------------------------------------------------------


def test_schema_docstring_and_signature():
    assert Schema.__text_signature__ == "(fields)"
    assert Schema.__doc__ == (
        "A compiled schema that caches field descriptors for repeated use.\n\n"
        "Built once from a dict of field definitions, then reused on every\n"
        "serialize/validate call with zero per-call parsing overhead.\n\n"
        "Python usage:\n"
        "```python\n"
        "from sorvel_core import Schema, Field\n"
        'schema = Schema({"name": Field(str, max_length=100), "age": Field(int)})\n'
        "```"
    )
    assert Schema.field_names_list.__doc__ == (
        "Returns the list of field names in declaration order.")


@pytest.mark.parametrize("count", [0, 1, 2, 150])
def test_schema_repr_counts_fields(count):
    schema = Schema({f"f{i}": Field(int) for i in range(count)})
    assert repr(schema) == f"Schema({count} fields)"
    assert schema.field_names_list() == [f"f{i}" for i in range(count)]


def test_field_names_keep_declaration_order_and_are_fresh_lists():
    schema = Schema({"b": Field(decimal.Decimal), "a": Field(int), "c": Field(bytes)})
    names = schema.field_names_list()
    assert names == ["b", "a", "c"]
    names.append("z")
    assert schema.field_names_list() == ["b", "a", "c"]
    assert schema.field_names_list() is not schema.field_names_list()


def test_schema_keeps_no_reference_to_its_inputs():
    field = Field(int)
    fields = {"a": field}
    field_refs, dict_refs = sys.getrefcount(field), sys.getrefcount(fields)
    schema = Schema(fields)
    assert (sys.getrefcount(field), sys.getrefcount(fields)) == (field_refs, dict_refs)
    fields["b"] = Field(int)
    del fields, field
    assert schema.field_names_list() == ["a"]
    assert _native.serialize({"a": 1, "b": "x"}, schema) == {"a": 1}


def test_schema_accepts_dict_subclasses_and_str_subclass_keys():
    class Fields(dict):
        pass

    schema = Schema(Fields({StrName("n"): Field(int)}))
    assert schema.field_names_list() == ["n"]
    assert _native.serialize({"n": 3}, schema) == {"n": 3}


@pytest.mark.parametrize(
    "fields, message, note",
    [
        ([("a", Field(int))], "'list' object is not an instance of 'dict'", True),
        (None, "'None' is not an instance of 'dict'", True),
        ({"a": 1}, "'int' object is not an instance of 'Field'", False),
        ({"a": Field(int), "b": Schema({})}, "'Schema' object is not an instance of 'Field'",
         False),
        ({"a": Field(int), 1: Field(int)}, "'int' object is not an instance of 'str'", False),
    ],
)
def test_schema_refuses_bad_fields(fields, message, note):
    with pytest.raises(TypeError) as caught:
        Schema(fields)
    assert str(caught.value) == message
    assert getattr(caught.value, "__notes__", None) == (
        ["while processing 'fields'"] if note else None)
