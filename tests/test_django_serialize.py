"""serialize_instance, serialize_batch, serialize_values_list and serialize_fields on objects
and rows that real QuerySets fetched."""

import datetime
import decimal
import math

import pytest

from django_app.environment import start_django

start_django()

import sorvel_django  # noqa: E402

from django.contrib.auth.models import User  # noqa: E402

from django_app.database import rollback  # noqa: E402, F401
from django_app.descriptors import descriptor  # noqa: E402
from django_app.fakes import fake_model  # noqa: E402
from django_app.models import Author, Draft, Record  # noqa: E402
from django_app.samples import (  # noqa: E402
    STORED_OUTPUT,
    record_values,
    stored_record,
    unsaved_record,
)

pytestmark = pytest.mark.usefixtures("rollback")

SCHEMA = sorvel_django.ModelSchema(Record)
NAMES = SCHEMA.field_names_list
DRAFT = sorvel_django.ModelSchema(Draft)


def byte_order(names):
    return sorted(names, key=lambda name: name.encode())


def store_several():
    """Three Records of different content and two Drafts, one of them all NULL."""
    stored_record()
    stored_record(
        title="Zweiter",
        count=-(2**31),
        big=-(2**63),
        ratio=-1.5e-300,
        price=decimal.Decimal("-999999.99"),
        active=False,
        stamp=datetime.datetime(1999, 12, 31, 23, 59, 59, tzinfo=datetime.UTC),
        payload=[1, {"y": 2, "x": 1}],
        blob=b"",
        note="kurz",
    )
    stored_record(
        title="ünïcödé",
        body="x" * 5000,
        payload="plain",
        blob=bytes(range(16)),
        clock=datetime.time(0, 0),
        day=datetime.date(9999, 12, 31),
    )
    Draft.objects.create()
    Draft.objects.create(
        Title="Upper",
        title="lower",
        count=3,
        ratio=2.5,
        price=decimal.Decimal("1.5"),
        day=datetime.date(2020, 2, 29),
        stamp=datetime.datetime(2020, 2, 29, 12, tzinfo=datetime.UTC),
        uid=record_values()["uid"],
        payload={"k": None},
        blob=b"\x00\xff",
    )


# --- stored and fetched objects ------------------------------------------------------------------


def test_fetched_record_serializes_to_json_ready_values():
    stored = stored_record()
    fetched = Record.objects.get(pk=stored.pk)
    result = sorvel_django.serialize_instance(fetched, SCHEMA)
    assert result == STORED_OUTPUT
    assert list(result) == byte_order(NAMES)
    # Relations and the primary key never appear.
    assert not {"id", "pk", "author", "author_id", "tags"} & set(result)


def test_output_keys_follow_byte_order_not_declaration_order():
    Draft.objects.create(Title="A", title="a")
    result = sorvel_django.serialize_instance(Draft.objects.get(), DRAFT)
    assert list(result) == [
        "Title",
        "blob",
        "count",
        "day",
        "payload",
        "price",
        "ratio",
        "stamp",
        "title",
        "uid",
    ]
    assert result["Title"] == "A" and result["title"] == "a"


def test_batch_values_list_and_named_rows_agree():
    store_several()
    for model, schema in ((Record, SCHEMA), (Draft, DRAFT)):
        queryset = model.objects.order_by("pk")
        names = schema.field_names_list
        expected = [sorvel_django.serialize_instance(item, schema) for item in queryset]
        assert len(expected) == queryset.count()
        assert sorvel_django.serialize_batch(list(queryset), schema) == expected
        plain = list(queryset.values_list(*names))
        named = list(queryset.values_list(*names, named=True))
        assert sorvel_django.serialize_values_list(plain, schema) == expected
        assert sorvel_django.serialize_values_list(named, schema) == expected
        for row in sorvel_django.serialize_values_list(named, schema):
            assert list(row) == byte_order(names)
    second = sorvel_django.serialize_instance(Record.objects.order_by("pk")[1], SCHEMA)
    assert second == {
        **STORED_OUTPUT,
        "title": "Zweiter",
        "count": -(2**31),
        "big": -(2**63),
        "ratio": -1.5e-300,
        "price": "-999999.99",
        "active": False,
        "stamp": "1999-12-31T23:59:59+00:00",
        "payload": [1, {"x": 1, "y": 2}],
        "blob": "",
        "note": "kurz",
    }
    assert list(second["payload"][1]) == ["x", "y"]


def test_null_columns_come_back_as_none():
    Draft.objects.create()
    assert sorvel_django.serialize_instance(Draft.objects.get(), DRAFT) == dict.fromkeys(
        DRAFT.field_names_list
    )
    rows = list(Draft.objects.values_list(*DRAFT.field_names_list))
    assert sorvel_django.serialize_values_list(rows, DRAFT) == [
        dict.fromkeys(DRAFT.field_names_list)
    ]


def test_deferred_fields_load_when_looked_up():
    stored = stored_record()
    deferred = Record.objects.only("title").get(pk=stored.pk)
    assert deferred.get_deferred_fields()
    assert sorvel_django.serialize_instance(deferred, SCHEMA) == STORED_OUTPUT
    # Every field of the schema has been loaded; the relation was never asked for.
    assert deferred.get_deferred_fields() == {"author_id"}
    batch = list(Record.objects.defer("payload", "stamp", "blob"))
    assert sorvel_django.serialize_batch(batch, SCHEMA) == [STORED_OUTPUT]


def test_deferred_field_that_can_no_longer_load_counts_as_missing():
    stored = stored_record()
    deferred = Record.objects.only("title").get(pk=stored.pk)
    Record.objects.filter(pk=stored.pk).delete()
    # Loading body raises Record.DoesNotExist: body is required, so the record cannot be written.
    with pytest.raises(ValueError) as caught:
        sorvel_django.serialize_instance(deferred, SCHEMA)
    assert caught.value.args == ("field 'body' is required but received null",)


def test_deferred_nullable_fields_that_cannot_load_become_none():
    draft = Draft.objects.create(title="t", count=4)
    deferred = Draft.objects.only("title").get(pk=draft.pk)
    Draft.objects.all().delete()
    result = sorvel_django.serialize_instance(deferred, DRAFT)
    assert result == {**dict.fromkeys(DRAFT.field_names_list), "title": "t"}


def test_querysets_must_be_turned_into_lists_first():
    stored_record()
    cases = [
        (sorvel_django.serialize_batch, Record.objects.all(), "instances"),
        (sorvel_django.serialize_values_list, Record.objects.values_list(*NAMES), "rows"),
        (
            sorvel_django.serialize_values_list,
            Record.objects.values_list(*NAMES, named=True),
            "rows",
        ),
    ]
    for function, queryset, parameter in cases:
        with pytest.raises(TypeError) as caught:
            function(queryset, SCHEMA)
        assert caught.value.args == ("'QuerySet' object is not an instance of 'list'",)
        assert caught.value.__notes__ == [f"while processing '{parameter}'"]
        assert len(function(list(queryset), SCHEMA)) == 1


def test_values_dict_rows_are_not_read_by_name():
    stored_record()
    rows = list(Record.objects.values(*NAMES))
    with pytest.raises(ValueError) as caught:
        sorvel_django.serialize_values_list(rows, SCHEMA)
    assert caught.value.args == ("field 'title' is required but received null",)


def test_short_rows_miss_their_trailing_cells_and_long_rows_keep_to_the_schema():
    stored_record(note="present")
    expected = {**STORED_OUTPUT, "note": "present"}
    # note, the last field, is nullable: leaving its column out gives None.
    short = list(Record.objects.values_list(*NAMES[:-1]))
    assert sorvel_django.serialize_values_list(short, SCHEMA) == [{**expected, "note": None}]
    long = list(Record.objects.values_list(*NAMES, "id", "author__name"))
    assert sorvel_django.serialize_values_list(long, SCHEMA) == [expected]
    # Without the nullable tail the first missing cell is a required field.
    shorter = list(Record.objects.values_list(*NAMES[:-2]))
    with pytest.raises(ValueError, match="^field 'slug' is required but received null$"):
        sorvel_django.serialize_values_list(shorter, SCHEMA)


def test_user_model_of_django_contrib_auth():
    joined = datetime.datetime(2024, 3, 1, 9, 15, 0, 250000, tzinfo=datetime.UTC)
    User.objects.create(username="ann", email="ann@example.com", password="x", date_joined=joined)
    schema = sorvel_django.ModelSchema(User)
    result = sorvel_django.serialize_instance(User.objects.get(username="ann"), schema)
    assert result == {
        "date_joined": "2024-03-01T09:15:00.250+00:00",
        "email": "ann@example.com",
        "first_name": "",
        "is_active": True,
        "is_staff": False,
        "is_superuser": False,
        "last_login": None,
        "last_name": "",
        "password": "x",
        "username": "ann",
    }
    rows = list(User.objects.values_list(*schema.field_names_list, named=True))
    assert sorvel_django.serialize_values_list(rows, schema) == [result]


# --- missing, None and failing values ------------------------------------------------------------


class Stand:
    """A record object with the given attributes; `failing` names attributes whose lookup raises."""

    def __init__(self, values, failing=()):
        self.values = values
        self.failing = failing

    def __getattr__(self, name):
        values = self.__dict__["values"]
        if name in self.__dict__["failing"]:
            raise RuntimeError(f"{name} cannot be computed")
        if name in values:
            return values[name]
        raise AttributeError(name)


@pytest.mark.parametrize(
    ("values", "failing", "output"),
    [
        # Nullable (note) and defaulted (active, uid, payload) fields read as None when missing.
        (
            {
                k: v
                for k, v in record_values().items()
                if k not in ("note", "active", "uid", "payload")
            },
            (),
            {"note": None, "active": None, "uid": None, "payload": None},
        ),
        (
            record_values(),
            ("note", "active", "uid", "payload"),
            {"note": None, "active": None, "uid": None, "payload": None},
        ),
        # A None in a required field is written as None, without error.
        (record_values(title=None, count=None), (), {"title": None, "count": None}),
    ],
)
def test_missing_or_failing_attributes_of_optional_fields_become_none(values, failing, output):
    expected = sorvel_django.serialize_instance(unsaved_record(), SCHEMA)
    expected.update(output)
    result = sorvel_django.serialize_instance(Stand(values, failing), SCHEMA)
    assert result == expected
    assert list(result) == byte_order(NAMES)


@pytest.mark.parametrize("failing", [(), ("body",)])
def test_missing_or_failing_required_attribute_raises(failing):
    values = record_values()
    if not failing:
        del values["body"]
    with pytest.raises(ValueError) as caught:
        sorvel_django.serialize_instance(Stand(values, failing), SCHEMA)
    assert caught.value.args == ("field 'body' is required but received null",)


class Computed(Draft):
    """A Draft whose ratio is computed by a property that fails."""

    class Meta:
        proxy = True
        app_label = "django_app"

    @property
    def ratio(self):
        raise ZeroDivisionError("no ratio")

    @ratio.setter
    def ratio(self, value):
        pass


def test_property_raising_on_a_real_model_counts_as_missing():
    Draft.objects.create(title="t", ratio=1.0)
    schema = sorvel_django.ModelSchema(Computed)
    assert schema.field_names_list == DRAFT.field_names_list
    result = sorvel_django.serialize_instance(Computed.objects.get(), schema)
    assert result == {**dict.fromkeys(DRAFT.field_names_list), "title": "t"}


@pytest.mark.parametrize(
    ("row", "message"),
    [
        ((None,) + (0,) * 20, "field 'title' is required but received null"),
        (("t", None), "field 'body' is required but received null"),
        ((), "field 'title' is required but received null"),
    ],
)
def test_none_or_missing_cells_of_required_fields_raise(row, message):
    with pytest.raises(ValueError) as caught:
        sorvel_django.serialize_values_list([row], SCHEMA)
    assert caught.value.args == (message,)


def test_cells_of_defaulted_fields_may_be_none():
    values = record_values(active=None, uid=None, payload=None)
    row = [values[name] for name in NAMES]
    expected = sorvel_django.serialize_instance(unsaved_record(), SCHEMA)
    expected.update(active=None, uid=None, payload=None)
    assert sorvel_django.serialize_values_list([row], SCHEMA) == [expected]


class FailingRow:
    """A row whose item access raises for one position."""

    def __init__(self, cells, failing):
        self.cells = cells
        self.failing = failing

    def __getitem__(self, index):
        if index == self.failing:
            raise KeyError(index)
        return self.cells[index]


def test_row_item_access_errors_count_as_missing_cells():
    values = record_values()
    cells = [values[name] for name in NAMES]
    expected = sorvel_django.serialize_instance(unsaved_record(), SCHEMA)
    note = NAMES.index("note")
    assert sorvel_django.serialize_values_list([FailingRow(cells, note)], SCHEMA) == [
        {**expected, "note": None}
    ]
    with pytest.raises(ValueError, match="^field 'count' is required but received null$"):
        sorvel_django.serialize_values_list([FailingRow(cells, NAMES.index("count"))], SCHEMA)


@pytest.mark.parametrize(
    ("value", "text"),
    [(math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf")],
)
def test_non_finite_floats_cannot_be_written(value, text):
    message = (
        "serialization error on field '<batch>': serialization error on field 'ratio': "
        f"float value {text} is not representable in JSON (NaN/Infinity)"
    )
    instance = unsaved_record(ratio=value)
    values = record_values(ratio=value)
    calls = [
        lambda: sorvel_django.serialize_instance(instance, SCHEMA),
        lambda: sorvel_django.serialize_batch([instance], SCHEMA),
        lambda: sorvel_django.serialize_values_list([[values[n] for n in NAMES]], SCHEMA),
        lambda: sorvel_django.serialize_fields(SCHEMA.to_descriptor_list(), values),
    ]
    for call in calls:
        with pytest.raises(ValueError) as caught:
            call()
        assert caught.value.args == (message,)
    # Validation does not write values: a NaN is no reason to fail there.
    assert sorvel_django.validate_instance(instance, SCHEMA)["is_valid"] is True


# --- batches -------------------------------------------------------------------------------------


def test_empty_inputs_and_empty_schemas():
    empty = sorvel_django.ModelSchema(fake_model([], name="Nothing"))
    assert sorvel_django.serialize_instance(object(), empty) == {}
    assert sorvel_django.serialize_batch([object(), 1, None], empty) == [{}, {}, {}]
    assert sorvel_django.serialize_values_list([(), [1], "abc"], empty) == [{}, {}, {}]
    assert sorvel_django.serialize_batch([], SCHEMA) == []
    assert sorvel_django.serialize_values_list([], SCHEMA) == []
    assert sorvel_django.serialize_fields([], {"a": 1}) == {}


def test_a_failing_record_ends_the_batch_without_partial_result():
    instances = [unsaved_record(), unsaved_record(), unsaved_record(count="3"), unsaved_record()]
    with pytest.raises(TypeError, match="^type conversion error: expected int, got str$"):
        sorvel_django.serialize_batch(instances, SCHEMA)
    values = record_values()
    rows = [[values[n] for n in NAMES] for _ in range(3)]
    rows[2][NAMES.index("title")] = None
    with pytest.raises(ValueError, match="^field 'title' is required but received null$"):
        sorvel_django.serialize_values_list(rows, SCHEMA)


class ListSubclass(list):
    pass


def test_list_subclasses_are_accepted():
    instance = unsaved_record()
    expected = sorvel_django.serialize_instance(instance, SCHEMA)
    assert sorvel_django.serialize_batch(ListSubclass([instance]), SCHEMA) == [expected]
    values = record_values()
    rows = ListSubclass([tuple(values[n] for n in NAMES)])
    assert sorvel_django.serialize_values_list(rows, SCHEMA) == [expected]


def test_a_list_shrinking_during_the_walk_ends_it_early():
    schema = sorvel_django.ModelSchema(fake_model([Author._meta.get_field("name")]))
    items = []

    class Clearing:
        @property
        def name(self):
            items.clear()
            return "cleared"

    items.extend([Stand({"name": "a"}), Clearing(), Stand({"name": "c"})])
    assert sorvel_django.serialize_batch(items, schema) == [{"name": "a"}, {"name": "cleared"}]


def test_items_added_during_the_walk_are_not_visited():
    schema = sorvel_django.ModelSchema(fake_model([Author._meta.get_field("name")]))
    rows = []

    class Growing(tuple):
        def __getitem__(self, index):
            rows.append(("late",))
            return super().__getitem__(index)

    rows.extend([Growing(("a",)), ("b",)])
    assert sorvel_django.serialize_values_list(rows, schema) == [{"name": "a"}, {"name": "b"}]
    assert len(rows) == 3


# --- serialize_fields ----------------------------------------------------------------------------


def test_serialize_fields_reads_a_values_dict():
    descriptors = [
        descriptor("title", "CharField", max_length=5),
        descriptor("n", "IntegerField"),
        descriptor("note", "TextField", nullable=True),
        descriptor("flag", "BooleanField", has_default=True),
    ]
    result = sorvel_django.serialize_fields(descriptors, {"n": 2, "extra": 1, "title": "too long"})
    # Serialization checks no constraint: the over-long title is written as it is.
    assert result == {"flag": None, "n": 2, "note": None, "title": "too long"}
    assert list(result) == ["flag", "n", "note", "title"]
    with pytest.raises(ValueError, match="^field 'n' is required but received null$"):
        sorvel_django.serialize_fields(descriptors, {"title": "x"})


def test_serialize_fields_later_descriptor_of_a_name_wins():
    descriptors = [descriptor("a", "DecimalField"), descriptor("a", "FloatField")]
    assert sorvel_django.serialize_fields(descriptors, {"a": decimal.Decimal("1.50")}) == {"a": 1.5}
    descriptors.reverse()
    assert sorvel_django.serialize_fields(descriptors, {"a": decimal.Decimal("1.50")}) == {
        "a": "1.50"
    }


class Defaulting(dict):
    def __missing__(self, key):
        return "from __missing__"

    def __getitem__(self, key):
        return "from __getitem__"


def test_serialize_fields_reads_the_dict_storage_directly():
    descriptors = [descriptor("a", "TextField"), descriptor("b", "TextField", nullable=True)]
    assert sorvel_django.serialize_fields(descriptors, Defaulting(a="stored")) == {
        "a": "stored",
        "b": None,
    }


def test_serialize_fields_dict_lookup_errors_pass_through():
    class Key(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            raise ArithmeticError("no comparison")

    # A stored key with the same hash as "a" forces a comparison, which raises.
    values = {Key("a"): 1}
    with pytest.raises(ArithmeticError, match="^no comparison$"):
        sorvel_django.serialize_fields([descriptor("a", "TextField")], values)


@pytest.mark.parametrize(
    ("arguments", "message", "parameter"),
    [
        (((), {}), "'tuple' object is not an instance of 'list'", "field_descriptors"),
        ((None, {}), "'None' is not an instance of 'list'", "field_descriptors"),
        (([], []), "'list' object is not an instance of 'dict'", "values"),
        (([], None), "'None' is not an instance of 'dict'", "values"),
        # The first parameter is checked first.
        (((), ()), "'tuple' object is not an instance of 'list'", "field_descriptors"),
    ],
)
def test_serialize_fields_argument_types(arguments, message, parameter):
    with pytest.raises(TypeError) as caught:
        sorvel_django.serialize_fields(*arguments)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize(
    ("function", "arguments", "message", "parameter"),
    [
        (
            "serialize_instance",
            (object(), None),
            "'None' is not an instance of 'ModelSchema'",
            "schema",
        ),
        (
            "serialize_instance",
            (object(), Record),
            "'ModelBase' object is not an instance of 'ModelSchema'",
            "schema",
        ),
        (
            "serialize_batch",
            ((x for x in []), SCHEMA),
            "'generator' object is not an instance of 'list'",
            "instances",
        ),
        ("serialize_batch", ((), None), "'tuple' object is not an instance of 'list'", "instances"),
        (
            "serialize_batch",
            ([], {}),
            "'dict' object is not an instance of 'ModelSchema'",
            "schema",
        ),
        ("serialize_values_list", (None, None), "'None' is not an instance of 'list'", "rows"),
        (
            "serialize_values_list",
            ([], "Record"),
            "'str' object is not an instance of 'ModelSchema'",
            "schema",
        ),
    ],
)
def test_schema_entry_point_argument_types(function, arguments, message, parameter):
    with pytest.raises(TypeError) as caught:
        getattr(sorvel_django, function)(*arguments)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


def test_arguments_are_checked_before_any_record_is_read():
    touched = []

    class Watched:
        def __getattr__(self, name):
            touched.append(name)
            raise AttributeError(name)

    with pytest.raises(TypeError):
        sorvel_django.serialize_instance(Watched(), None)
    with pytest.raises(TypeError):
        sorvel_django.serialize_batch([Watched()], None)
    assert touched == []


@pytest.mark.parametrize("function", ["serialize_instance", "validate_instance"])
def test_panic_raised_by_a_property_is_resumed(function, panic_exception, capfd):
    class Faulting:
        @property
        def name(self):
            raise panic_exception("from a property")

    schema = sorvel_django.ModelSchema(fake_model([Author._meta.get_field("name")]))
    with pytest.raises(BaseException) as caught:
        getattr(sorvel_django, function)(Faulting(), schema)
    assert type(caught.value) is panic_exception
    assert caught.value.args == ("from a property",)
    assert "--- Sorvel is resuming a panic after fetching a PanicException from Python. ---" in (
        capfd.readouterr().err
    )


class ReindexedRow(tuple):
    """A row whose own indexing reverses it: the serializer must index it as Python does."""

    def __getitem__(self, index):
        return tuple.__getitem__(self, len(self) - 1 - index)


def test_values_list_rows_are_indexed_as_python_indexes_them():
    store_several()
    names = DRAFT.field_names_list
    rows = list(Draft.objects.order_by("pk").values_list(*names))
    expected = sorvel_django.serialize_values_list(rows, DRAFT)
    assert sorvel_django.serialize_values_list([list(row) for row in rows], DRAFT) == expected
    reversed_rows = [ReindexedRow(reversed(row)) for row in rows]
    assert sorvel_django.serialize_values_list(reversed_rows, DRAFT) == expected
