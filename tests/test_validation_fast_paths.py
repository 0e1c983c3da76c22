"""The fast constructions of validate_many against the public ones: Decimals made from their
parts, UUID ints made from their digits, and rows read by walking their entries give what
Decimal(text), uuid.UUID(text) and key lookups give."""

import copy
import decimal
import gc
import pickle
import random
import uuid
import weakref

import pytest

from django_app.environment import start_django

start_django()

from django.db import models  # noqa: E402

from sorvel.django import compile_input_plan  # noqa: E402


class FastSample(models.Model):
    title = models.CharField(max_length=50)
    amount = models.DecimalField(max_digits=60, decimal_places=30)
    ref = models.UUIDField(null=True, blank=True)

    class Meta:
        app_label = "django_app"


PLAN = compile_input_plan(FastSample, ["title", "amount", "ref"])


def decimal_texts():
    rng = random.Random(11)
    texts = ["0", "-0", "+0.00", "0E-5", "-0e+3", "1", "-1.50", ".5", "5.", "007.10",
             "9999999999999999999", "99999999999999999999", "1000000000000000000",
             "1234567890.123456789", "12345678901.23456789", "1e5", "1E-20", "-1.5e3"]
    # Each coefficient length at its ends: the digit count of the made Decimal is computed.
    texts += [str(10**k - 1) for k in range(1, 20)] + [str(10**k) for k in range(0, 19)]
    for _ in range(300):
        whole = "".join(rng.choice("0123456789") for _ in range(rng.randrange(0, 22)))
        fraction = "".join(rng.choice("0123456789") for _ in range(rng.randrange(0, 12)))
        text = rng.choice(["", "-", "+"]) + whole
        if fraction or not whole:
            text += "." + (fraction or "0")
        if rng.randrange(4) == 0:
            text += rng.choice("eE") + rng.choice(["", "-", "+"]) + str(rng.randrange(25))
        texts.append(text)
    return texts


@pytest.mark.parametrize("text", decimal_texts())
def test_decimal_from_parts_is_decimal_of_text(text):
    result = PLAN.validate({"title": "t", "amount": text})
    expected = decimal.Decimal(text)
    if not result.is_valid:
        field = FastSample._meta.get_field("amount")
        with pytest.raises(Exception):
            field.clean(text, None)
        return
    cleaned = result.data["amount"]
    assert type(cleaned) is decimal.Decimal
    assert cleaned.as_tuple() == expected.as_tuple()
    assert str(cleaned) == str(expected) and hash(cleaned) == hash(expected)
    assert cleaned + 1 == expected + 1 and -cleaned == -expected


def test_uuid_ints_from_digits_match_the_public_ones():
    rng = random.Random(3)
    numbers = [0, 1, 2**30 - 1, 2**30, 2**63, 2**64 - 1, 2**64, 2**120, 2**128 - 1]
    numbers += [rng.getrandbits(rng.randrange(1, 129)) for _ in range(300)]
    result = PLAN.validate_many([{"title": "t", "amount": "1", "ref": str(uuid.UUID(int=n))}
                                 for n in numbers])
    assert result.is_valid
    for number, row in zip(numbers, result.data):
        cleaned = row["ref"]
        assert type(cleaned) is uuid.UUID and cleaned == uuid.UUID(int=number)
        assert type(cleaned.int) is int and cleaned.int == number
        assert hash(cleaned) == hash(uuid.UUID(int=number))
        assert cleaned.is_safe is uuid.SafeUUID.unknown
    # Their weak reference lists start empty and work as a constructed UUID's do.
    cleaned = result.data[-1]["ref"]
    refs = [weakref.ref(row["ref"]) for row in result.data]
    assert refs[-1]() is cleaned and weakref.getweakrefcount(cleaned) == 1
    copied = copy.deepcopy(cleaned)
    assert copied == cleaned and pickle.loads(pickle.dumps(cleaned)) == cleaned
    del result, row, cleaned
    gc.collect()
    assert all(ref() is None for ref in refs)


class OddKey(str):
    pass


def built_key(text):
    return "".join(list(text))  # equal to the field name, not the same object


@pytest.mark.parametrize(
    "row",
    [
        {"title": "a", "amount": "1.5", "ref": None},
        {"ref": None, "amount": "1.5", "title": "a"},  # another order
        {"extra": 1, "title": "a", "more": 2, "amount": "1.5"},
        {built_key("title"): "a", built_key("amount"): "1.5"},
        {OddKey("title"): "a", "amount": "1.5"},
        {1: "x", "title": "a", "amount": "1.5"},
        {"title": "a"},
        {},
    ],
    ids=["plain", "reordered", "extra keys", "built keys", "str subclass key", "int key",
         "missing", "empty"],
)
def test_rows_walked_give_what_lookups_give(row):
    # The same row after rows that teach the walk another layout, and alone.
    warm = [{"title": "w", "amount": "2", "ref": None}] * 3
    many = PLAN.validate_many(warm + [row] + warm)
    alone = PLAN.validate(dict(row))
    looked_up = {name: row[name] for name in ("title", "amount", "ref") if name in row}
    assert (many.errors.get(3, {})) == alone.errors
    if alone.is_valid:
        assert many.data[3] == alone.data
        assert alone.data == {k: decimal.Decimal(v) if k == "amount" else v
                              for k, v in looked_up.items()}


def test_a_deleted_entry_is_not_read():
    row = {"title": "a", "gone": 1, "amount": "1.5"}
    del row["gone"]
    row2 = {"title": "a", "amount": "3", "ref": "x"}
    del row2["ref"]
    result = PLAN.validate_many([row, row2, row])
    assert result.is_valid
    assert [d["amount"] for d in result.data] == [decimal.Decimal("1.5"), decimal.Decimal("3"),
                                                  decimal.Decimal("1.5")]
    assert all("ref" not in d for d in result.data)


class PlainSample(models.Model):
    """Fields of the short road (no choices, no blank): each check at and around its limit."""

    name = models.CharField(max_length=5)
    count = models.IntegerField(null=True)
    small = models.PositiveSmallIntegerField()
    price = models.DecimalField(max_digits=5, decimal_places=2)

    class Meta:
        app_label = "django_app"


PLAIN_PLAN = compile_input_plan(PlainSample, ["name", "count", "small", "price"])
PLAIN_BASE = {"name": "abc", "count": 1, "small": 1, "price": "1.00"}


def full_clean_outcome(row):
    from django.core.exceptions import ValidationError

    instance = PlainSample(**row)
    try:
        instance.full_clean(validate_unique=False, validate_constraints=False)
    except ValidationError as error:
        # ValidationError(item).messages renders the message with its params.
        details = error.error_dict.items()
        return None, {name: [(item.code, ValidationError(item).messages[0]) for item in items]
                      for name, items in details}
    return {name: getattr(instance, name) for name in PLAIN_BASE}, {}


@pytest.mark.parametrize(
    ("name", "value"),
    [("name", text) for text in ["", "abcd", "abcde", "abcdef", "ééééé", "éééééé", None]]
    + [("count", value) for value in [None, "", 0, -2**31, -2**31 - 1, 2**31 - 1, 2**31, 2**70,
                                      True, "12", " 7 "]]
    + [("small", value) for value in [0, -1, 32767, 32768, None, "", False]]
    + [("price", text) for text in ["999.99", "-999.99", "1000.00", "0.001", "1.5", "12345",
                                    "0.00", "-0", "1e2", "1e3", None, ""]],
)
def test_plain_fields_judge_as_full_clean(name, value):
    row = {**PLAIN_BASE, name: value}
    expected_data, expected_errors = full_clean_outcome(row)
    result = PLAIN_PLAN.validate_many([PLAIN_BASE, row, PLAIN_BASE])
    errors = {
        field: [(detail["code"], detail["message"]) for detail in details]
        for field, details in result.error_details.get(1, {}).items()
    }
    assert errors == expected_errors
    if expected_data is not None:
        cleaned = result.data[1]
        assert list(cleaned) == list(PLAIN_BASE)
        for field, expected in expected_data.items():
            assert type(cleaned[field]) is type(expected) and cleaned[field] == expected
