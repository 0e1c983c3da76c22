"""Decimals that Python writes in exponent form (0E-8, 5.0E-7, 1E+2) read as their positional
form, format(value, "f"), in both readers; texts and floats in that form are still refused."""

import decimal
import re

import pytest

from django_app.environment import start_django

start_django()

import _native  # noqa: E402
import sorvel_django  # noqa: E402
from _native import Field, Schema  # noqa: E402

from django_app.models import Measure  # noqa: E402

D = decimal.Decimal


class SubDecimal(D):
    pass


EXPONENT_FORMS = [
    D("0E-8"), D("5.0E-7"), D("1E+2"), D("0.00000001"), D("-1.5E-10"), D("1.23E+5"),
    D("-0E+3"), D("0E+5"), D("1E+28"), D("792281625142643375935439503E+2"),
    D("792281625142643375935439504E+2"),  # past 96 bits
    D("1E+40"), D("1E-40"), D("5E-29"), D("15E-30"), D("123456789E-35"),
    D("1E+999999999"), D("1E-999999999"), D("9.99E+999999"),
]


def outcome(call):
    try:
        return call()
    except Exception as error:  # compared by type and text
        return type(error), str(error)


@pytest.mark.parametrize("value", EXPONENT_FORMS, ids=str)
def test_engine_reads_an_exponent_decimal_as_its_positional_text(value):
    assert "E" in str(value)
    schema = Schema({"v": Field(D, max_digits=18, decimal_places=8)})
    # The huge exponents are not formatted here: the text is what the parser reads of it.
    positional = format(value, "f") if abs(value.adjusted()) <= 10**6 else None
    for record in ({"v": value}, {"v": SubDecimal(value)}):
        read = outcome(lambda: _native.serialize(record, schema))
        checked = outcome(lambda: _native.validate(record, schema))
        if positional is not None:
            assert read == outcome(lambda: _native.serialize({"v": positional}, schema))
            assert checked == outcome(lambda: _native.validate({"v": positional}, schema))
        assert outcome(lambda: _native.serialize_many([type("R", (), record)()], schema)) == (
            [read] if isinstance(read, dict) else read)


@pytest.mark.parametrize(
    "value, written",
    [(D("0E-8"), "0.00000000"), (D("5.0E-7"), "0.00000050"), (D("1E+2"), "100"),
     (D("0.00000001"), "0.00000001"), (D("-0E+3"), "-0"), (D("1E-40"), "0." + "0" * 28),
     (D("5E-29"), "0." + "0" * 27 + "1"), (D("1E-999999999"), "0." + "0" * 28)],
    ids=str,
)
def test_written_forms(value, written):
    schema = Schema({"v": Field(D)})
    assert _native.serialize({"v": value}, schema) == {"v": written}
    assert sorvel_django.serialize_fields(DESCRIPTOR, {"v": value}) == {"v": written}


@pytest.mark.parametrize(
    "value, digits, places",
    [(D("0E-8"), 1, 8), (D("5.0E-7"), 2, 8), (D("1E+2"), 3, 0), (D("1.5E-3"), 2, 4)],
    ids=str,
)
def test_validation_counts_digits_and_places_of_the_positional_form(value, digits, places):
    def errors(**limits):
        report = _native.validate({"v": value}, Schema({"v": Field(D, **limits)}))
        return [error["code"] for error in report["errors"]]

    assert errors(max_digits=digits, decimal_places=places) == []
    assert errors(max_digits=digits - 1 if digits > 1 else 0) == ["max_digits"]
    if places:
        assert errors(decimal_places=places - 1) == ["max_decimal_places"]


DESCRIPTOR = [{"name": "v", "type": "DecimalField", "nullable": False, "has_default": False,
               "max_digits": 18, "decimal_places": 8}]


@pytest.mark.parametrize("value", EXPONENT_FORMS, ids=str)
def test_django_reads_an_exponent_decimal_as_its_positional_text(value):
    positional = format(value, "f") if abs(value.adjusted()) <= 10**6 else None
    for given in (value, SubDecimal(value)):
        read = outcome(lambda: sorvel_django.serialize_fields(DESCRIPTOR, {"v": given}))
        if positional is not None:
            expected = outcome(lambda: sorvel_django.serialize_fields(DESCRIPTOR,
                                                                      {"v": positional}))
            if isinstance(expected, tuple):  # a refusal still quotes str() of the value
                expected = (expected[0], expected[1].replace(positional, str(value)))
            assert read == expected
        if isinstance(read, tuple):
            assert read == (ValueError, "serialization error on field 'v': cannot parse "
                                        f"'{value}' as Decimal")


@pytest.mark.parametrize(
    "value, message",
    [("1E+2", "Invalid decimal: unknown character"), (1e20, "Invalid decimal: unknown character"),
     (1e-7, "Invalid decimal: unknown character"), (D("NaN"), "Invalid decimal: unknown character"),
     (D("-Infinity"), "Invalid decimal: unknown character")],
    ids=repr,
)
def test_texts_floats_and_non_finite_decimals_in_other_forms_are_still_refused(value, message):
    with pytest.raises(TypeError, match=re.escape(f"invalid decimal string: {message}")):
        _native.serialize({"v": value}, Schema({"v": Field(D)}))
    with pytest.raises(ValueError, match=re.escape(f"cannot parse '{value}' as Decimal")):
        sorvel_django.serialize_fields(DESCRIPTOR, {"v": value})


def test_a_subclass_that_lies_about_its_text_is_read_by_its_text():
    class Odd(D):
        def __str__(self):
            return "2E+1"

    assert _native.serialize({"v": Odd("7")}, Schema({"v": Field(D)})) == {"v": "20"}


def test_serialize_many_copies_keep_pythons_own_text():
    schema = Schema({"v": Field(D)})
    assert _native.serialize_many([{"v": D("1E+2")}], schema) == [{"v": "1E+2"}]


def test_database_decimals_read_back_in_exponent_form_serialize_and_validate():
    schema = sorvel_django.ModelSchema(Measure)
    zero = Measure.objects.create(amount=D("0"))
    tiny = Measure.objects.create(amount=D("0.0000005"))
    try:
        rows = list(Measure.objects.filter(pk__in=[zero.pk, tiny.pk]).order_by("pk"))
        assert [str(row.amount) for row in rows] == ["0E-8", "5.0E-7"]
        expected = ["0.00000000", "0.00000050"]
        assert [sorvel_django.serialize_instance(r, schema)["amount"] for r in rows] == expected
        assert [r["amount"] for r in sorvel_django.serialize_batch(rows, schema)] == expected
        cells = list(Measure.objects.order_by("pk").values_list(*schema.field_names_list))
        assert [r["amount"] for r in sorvel_django.serialize_values_list(cells, schema)] == \
            expected
        assert all(sorvel_django.validate_instance(r, schema)["is_valid"] for r in rows)
    finally:
        Measure.objects.filter(pk__in=[zero.pk, tiny.pk]).delete()
