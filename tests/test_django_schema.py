"""ModelSchema and extract_model_fields: what a model class compiles to."""

import pytest

from django_app.environment import start_django

start_django()

import sorvel_django  # noqa: E402
from django.contrib.auth.models import Group, Permission, User  # noqa: E402
from django.contrib.contenttypes.models import ContentType  # noqa: E402
from django.db import models  # noqa: E402

from django_app.descriptors import as_pairs, descriptor  # noqa: E402
from django_app.fakes import FakeField, fake_model, numpy_like_bool, raising  # noqa: E402
from django_app.models import Author, Draft, Loose, Record  # noqa: E402
from django_app.samples import record_values, unsaved_record  # noqa: E402

RECORD_DESCRIPTORS = [
    descriptor("title", "CharField", max_length=200),
    descriptor("body", "TextField"),
    descriptor("count", "IntegerField"),
    descriptor("small", "IntegerField"),
    descriptor("positive", "IntegerField"),
    descriptor("positive_small", "IntegerField"),
    descriptor("big", "BigIntegerField"),
    descriptor("positive_big", "BigIntegerField"),
    descriptor("ratio", "FloatField"),
    descriptor("price", "DecimalField", max_digits=8, decimal_places=2),
    descriptor("active", "BooleanField", has_default=True),
    descriptor("day", "DateField"),
    descriptor("clock", "TimeField"),
    descriptor("stamp", "DateTimeField"),
    descriptor("uid", "UUIDField", has_default=True),
    descriptor("payload", "JSONField", has_default=True),
    descriptor("blob", "BinaryField", max_length=16),
    # Django's EmailField and URLField report the internal type CharField.
    descriptor("email", "CharField", max_length=254),
    descriptor("site", "CharField", max_length=200),
    descriptor("slug", "SlugField", max_length=50),
    descriptor("note", "CharField", nullable=True, max_length=20),
]


# --- real Django models --------------------------------------------------------------------------


def test_record_compiles_to_its_supported_fields_in_declaration_order():
    schema = sorvel_django.ModelSchema(Record)
    assert as_pairs(schema.to_descriptor_list()) == as_pairs(RECORD_DESCRIPTORS)
    assert as_pairs(sorvel_django.extract_model_fields(Record)) == as_pairs(RECORD_DESCRIPTORS)
    assert schema.field_names_list == [entry["name"] for entry in RECORD_DESCRIPTORS]
    assert schema.model_name_str == "Record"
    assert len(schema) == 21
    assert repr(schema) == str(schema) == "ModelSchema(Record, 21 fields)"


@pytest.mark.parametrize(
    ("model", "names"),
    [
        # Reverse relations (records, draft) and the primary key are left out.
        (Author, ["name"]),
        # A one-to-one relation is left out; names differing in case are separate fields.
        (
            Draft,
            ["Title", "title", "count", "ratio", "price", "day", "stamp", "uid", "payload", "blob"],
        ),
        (Group, ["name"]),
        (Permission, ["name", "codename"]),
        (ContentType, ["app_label", "model"]),
        (
            User,
            [
                "password",
                "last_login",
                "is_superuser",
                "username",
                "first_name",
                "last_name",
                "email",
                "is_staff",
                "is_active",
                "date_joined",
            ],
        ),
    ],
    ids=lambda value: getattr(value, "__name__", None),
)
def test_models_keep_only_their_supported_fields(model, names):
    schema = sorvel_django.ModelSchema(model)
    assert schema.field_names_list == names
    assert len(schema) == len(names)
    assert repr(schema) == f"ModelSchema({model.__name__}, {len(names)} fields)"
    assert schema.to_descriptor_list() == sorvel_django.extract_model_fields(model)


def test_auth_user_flags_come_from_the_model():
    by_name = {
        entry["name"]: entry for entry in sorvel_django.ModelSchema(User).to_descriptor_list()
    }
    assert by_name["last_login"] == descriptor("last_login", "DateTimeField", nullable=True)
    assert by_name["date_joined"] == descriptor("date_joined", "DateTimeField", has_default=True)
    assert by_name["is_staff"] == descriptor("is_staff", "BooleanField", has_default=True)
    assert by_name["username"] == descriptor("username", "CharField", max_length=150)
    assert by_name["email"] == descriptor("email", "CharField", max_length=254)


def test_unset_django_attributes_fall_back_to_defaults():
    # Loose declares a CharField without max_length, a DecimalField without digits and a
    # BinaryField without max_length.
    assert as_pairs(sorvel_django.ModelSchema(Loose).to_descriptor_list()) == as_pairs(
        [
            descriptor("text", "CharField", max_length=255),
            descriptor("amount", "DecimalField", max_digits=10, decimal_places=2),
            descriptor("raw", "BinaryField"),
        ]
    )


def test_schema_is_a_snapshot_of_the_model():
    fields = [FakeField("a", "TextField")]
    model = fake_model(fields)
    schema = sorvel_django.ModelSchema(model)
    fields.append(FakeField("b", "TextField"))
    fields[0]._internal_type = "IntegerField"
    assert schema.field_names_list == ["a"]
    assert schema.to_descriptor_list() == [descriptor("a", "TextField")]
    # Accessors hand out fresh lists: changing them leaves the schema as it was.
    schema.field_names_list.append("x")
    schema.to_descriptor_list()[0]["name"] = "x"
    assert schema.field_names_list == ["a"]
    assert schema.to_descriptor_list() == [descriptor("a", "TextField")]
    assert schema.field_names_list is not schema.field_names_list


def test_an_empty_model_gives_an_empty_schema():
    schema = sorvel_django.ModelSchema(fake_model([], name="Empty"))
    assert len(schema) == 0
    assert not schema
    assert schema.field_names_list == []
    assert schema.to_descriptor_list() == []
    assert repr(schema) == "ModelSchema(Empty, 0 fields)"


class NamedHolder:
    """An object (not a class) with a usable `_meta`; its `__name__` is what the test sets."""

    def __init__(self, fields, name=None):
        self._meta = fake_model(fields)._meta
        if name is not None:
            self.__name__ = name


@pytest.mark.parametrize(
    ("model", "model_name"),
    [
        (NamedHolder([FakeField("a", "TextField")]), "UnknownModel"),
        (NamedHolder([FakeField("a", "TextField")], name=5), "UnknownModel"),
        (NamedHolder([FakeField("a", "TextField")], name="Custom"), "Custom"),
    ],
)
def test_model_name_falls_back_when_name_is_unusable(model, model_name):
    schema = sorvel_django.ModelSchema(model)
    assert schema.model_name_str == model_name
    assert repr(schema) == f"ModelSchema({model_name}, 1 fields)"


# --- field objects that Django cannot produce --------------------------------------------------


class Index:
    """An integer-like object that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


@pytest.mark.parametrize(
    ("internal_type", "attributes", "expected_type", "payload"),
    [
        # Aliases fold into their canonical type.
        ("SmallIntegerField", {}, "IntegerField", {}),
        ("PositiveIntegerField", {}, "IntegerField", {}),
        ("PositiveSmallIntegerField", {}, "IntegerField", {}),
        ("PositiveBigIntegerField", {}, "BigIntegerField", {}),
        ("NullBooleanField", {}, "BooleanField", {}),
        # Types that only a custom field reports.
        ("EmailField", {"max_length": 100}, "EmailField", {"max_length": 100}),
        ("URLField", {"max_length": 300}, "URLField", {"max_length": 300}),
        # Unreadable max_length: the type's own default.
        ("CharField", {"max_length": None}, "CharField", {"max_length": 255}),
        ("CharField", {}, "CharField", {"max_length": 255}),
        ("CharField", {"max_length": 10.0}, "CharField", {"max_length": 255}),
        ("CharField", {"max_length": -1}, "CharField", {"max_length": 255}),
        ("CharField", {"max_length": 2**64}, "CharField", {"max_length": 255}),
        ("CharField", {"max_length": "80"}, "CharField", {"max_length": 255}),
        ("SlugField", {}, "SlugField", {"max_length": 50}),
        ("EmailField", {"max_length": None}, "EmailField", {"max_length": 254}),
        ("URLField", {"max_length": raising(RuntimeError())}, "URLField", {"max_length": 200}),
        # Readable max_length in its other forms.
        ("CharField", {"max_length": 2**64 - 1}, "CharField", {"max_length": 2**64 - 1}),
        ("CharField", {"max_length": True}, "CharField", {"max_length": 1}),
        ("CharField", {"max_length": Index(33)}, "CharField", {"max_length": 33}),
        # BinaryField has no default length.
        ("BinaryField", {"max_length": None}, "BinaryField", {}),
        ("BinaryField", {"max_length": 16}, "BinaryField", {"max_length": 16}),
        # Digits and places fall back independently; 32 bits is their width.
        (
            "DecimalField",
            {"max_digits": 5, "decimal_places": raising(ValueError())},
            "DecimalField",
            {"max_digits": 5, "decimal_places": 2},
        ),
        (
            "DecimalField",
            {"max_digits": 2**32, "decimal_places": 3},
            "DecimalField",
            {"max_digits": 10, "decimal_places": 3},
        ),
        (
            "DecimalField",
            {"max_digits": 2**32 - 1, "decimal_places": 0},
            "DecimalField",
            {"max_digits": 2**32 - 1, "decimal_places": 0},
        ),
    ],
    ids=str,
)
def test_field_types_and_payloads(internal_type, attributes, expected_type, payload):
    model = fake_model([FakeField("f", internal_type, **attributes)])
    expected = [descriptor("f", expected_type, **payload)]
    assert as_pairs(sorvel_django.extract_model_fields(model)) == as_pairs(expected)
    assert sorvel_django.ModelSchema(model).to_descriptor_list() == expected


@pytest.mark.parametrize(
    ("attributes", "nullable", "has_default"),
    [
        ({"null": True, "default": True}, True, True),
        ({"null": 1, "default": 1}, False, False),
        ({"null": raising(RuntimeError()), "default": RuntimeError()}, False, False),
        ({"null": numpy_like_bool(True), "default": numpy_like_bool(True)}, True, True),
        # A NumPy false is a usable is_relation.
        ({"is_relation": numpy_like_bool(False)}, False, False),
    ],
    ids=str,
)
def test_flags_are_strict_bools(attributes, nullable, has_default):
    model = fake_model([FakeField("f", "TextField", **attributes)])
    expected = descriptor("f", "TextField", nullable=nullable, has_default=has_default)
    assert sorvel_django.extract_model_fields(model) == [expected]


def without_relation_flag():
    field = FakeField("f", "TextField")
    del field._attributes["is_relation"]
    return field


@pytest.mark.parametrize(
    "field",
    [
        pytest.param(without_relation_flag(), id="is_relation missing"),
        pytest.param(FakeField("f", "TextField", is_relation=0), id="is_relation int 0"),
        pytest.param(FakeField("f", "TextField", is_relation=None), id="is_relation None"),
        pytest.param(FakeField("f", "TextField", is_relation=True), id="relation"),
        pytest.param(
            FakeField("f", "TextField", is_relation=raising(RuntimeError("x"))),
            id="is_relation raises",
        ),
        pytest.param(
            FakeField("f", "TextField", is_relation=numpy_like_bool(True)),
            id="is_relation numpy true",
        ),
        # A relation is skipped before its name is read.
        pytest.param(
            FakeField(internal_type="ForeignKey", is_relation=True), id="nameless relation"
        ),
        pytest.param(FakeField("f", RuntimeError("no type")), id="get_internal_type raises"),
        pytest.param(FakeField("f", 5), id="internal type not a str"),
        pytest.param(FakeField("f", "charfield"), id="case differs"),
        pytest.param(FakeField("f", "CharField "), id="trailing blank"),
        pytest.param(FakeField("f", ""), id="empty type"),
        pytest.param(FakeField("f", "AutoField"), id="AutoField"),
        pytest.param(FakeField("f", "BigAutoField"), id="BigAutoField"),
        pytest.param(FakeField("f", "ForeignKey"), id="ForeignKey without is_relation"),
        pytest.param(FakeField("f", "FileField"), id="FileField"),
    ],
)
def test_unusable_field_objects_are_skipped(field):
    model = fake_model([FakeField("before", "TextField"), field, FakeField("after", "TextField")])
    assert sorvel_django.ModelSchema(model).field_names_list == ["before", "after"]


def test_real_django_field_objects_outside_a_model_are_read():
    # Field objects straight from django.db.models, not attached to any model class.
    fields = []
    for name, field in [
        ("code", models.CharField(max_length=7)),
        ("size", models.PositiveSmallIntegerField(null=True)),
        ("cost", models.DecimalField(max_digits=6, decimal_places=3, default=0)),
        ("mail", models.EmailField()),
    ]:
        field.set_attributes_from_name(name)
        fields.append(field)
    assert sorvel_django.extract_model_fields(fake_model(fields)) == [
        descriptor("code", "CharField", max_length=7),
        descriptor("size", "IntegerField", nullable=True),
        descriptor("cost", "DecimalField", has_default=True, max_digits=6, decimal_places=3),
        descriptor("mail", "CharField", max_length=254),
    ]


class Fields:
    """A sequence whose item access raises after the first item."""

    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index == 0:
            return FakeField("a", "TextField")
        raise LookupError("gone")


NOT_ITERABLE = "cannot iterate _meta.get_fields(): "


def not_a_sequence(type_name):
    return f"'{type_name}' object is not an instance of 'Sequence'"


COMPILERS = [
    pytest.param(sorvel_django.ModelSchema, id="ModelSchema"),
    pytest.param(sorvel_django.extract_model_fields, id="extract_model_fields"),
]


@pytest.mark.parametrize("compile_model", COMPILERS)
@pytest.mark.parametrize(
    ("model", "message"),
    [
        (42, "model class has no _meta attribute"),
        (object(), "model class has no _meta attribute"),
        (fake_model(ValueError("boom")), "_meta.get_fields() failed: ValueError: boom"),
        (fake_model("title"), NOT_ITERABLE + "TypeError: Can't extract `str` to `Vec`"),
        (fake_model(5), NOT_ITERABLE + "TypeError: " + not_a_sequence("int")),
        (fake_model({"a": 1}), NOT_ITERABLE + "TypeError: " + not_a_sequence("dict")),
        (fake_model(f for f in []), NOT_ITERABLE + "TypeError: " + not_a_sequence("generator")),
        (fake_model(Fields()), NOT_ITERABLE + "LookupError: gone"),
        # The name is read before the type: a nameless field of an unsupported type still fails,
        # and the descriptors read before it are dropped.
        (
            fake_model([FakeField("a", "TextField"), FakeField(internal_type="FileField")]),
            "field missing 'name': AttributeError: name",
        ),
        (
            fake_model([FakeField(5, "TextField")]),
            "field missing 'name': TypeError: 'int' object is not an instance of 'str'",
        ),
        (
            fake_model([FakeField(raising(KeyError("k")), "TextField")]),
            "field missing 'name': KeyError: 'k'",
        ),
    ],
)
def test_model_reading_failures_raise_value_error(compile_model, model, message):
    with pytest.raises(ValueError) as caught:
        compile_model(model)
    assert caught.value.args == (message,)


@pytest.mark.parametrize(
    "fields",
    [
        pytest.param((FakeField("a", "TextField"), FakeField("b", "DateField")), id="tuple"),
        pytest.param([FakeField("a", "TextField"), FakeField("b", "DateField")], id="list"),
    ],
)
def test_any_sequence_of_fields_is_read(fields):
    assert sorvel_django.ModelSchema(fake_model(fields)).field_names_list == ["a", "b"]


# --- the class itself ----------------------------------------------------------------------------


def test_model_schema_is_a_closed_read_only_class():
    schema = sorvel_django.ModelSchema(model_class=Author)
    assert schema.field_names_list == ["name"]
    for attribute in ("model_name_str", "field_names_list"):
        with pytest.raises(AttributeError):
            setattr(schema, attribute, "x")
    with pytest.raises(AttributeError):
        schema.extra = 1
    assert not hasattr(schema, "__dict__")
    assert sorvel_django.ModelSchema.__module__ == "builtins"
    with pytest.raises(TypeError):
        type("Sub", (sorvel_django.ModelSchema,), {})


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda: sorvel_django.ModelSchema(),
            r"missing 1 required positional argument: 'model_class'$",
        ),
        (
            lambda: sorvel_django.ModelSchema(Author, Author),
            r"takes 1 positional arguments but 2 were given$",
        ),
        (
            lambda: sorvel_django.ModelSchema(model=Author),
            r"got an unexpected keyword argument 'model'$",
        ),
        (
            lambda: sorvel_django.extract_model_fields(),
            r"^extract_model_fields\(\) missing 1 required positional argument: 'model_class'$",
        ),
        (lambda: sorvel_django.ModelSchema(Author).to_descriptor_list(1), r"takes"),
    ],
)
def test_constructor_and_method_argument_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call()


# --- descriptor dicts read back (through the legacy entry points) ------------------------------


@pytest.mark.parametrize(
    ("entry", "value", "expected_output"),
    [
        # Aliases and unknown names read as TextField: a long text passes, an int is refused.
        (descriptor("f", "PositiveIntegerField"), "x" * 1000, "x" * 1000),
        (descriptor("f", "NullBooleanField"), "yes", "yes"),
        (descriptor("f", ""), "z", "z"),
        (descriptor("f", "BigIntegerField"), 2**62, 2**62),
        (descriptor("f", "DecimalField"), "1.5", "1.5"),
        (descriptor("f", "BinaryField"), b"abcd", "YWJjZA=="),
    ],
)
def test_descriptor_dicts_drive_reading(entry, value, expected_output):
    assert sorvel_django.serialize_fields([entry], {"f": value}) == {"f": expected_output}


def test_unknown_type_names_read_as_text():
    with pytest.raises(TypeError, match="^type conversion error: expected str, got int$"):
        sorvel_django.serialize_fields([descriptor("f", "PositiveIntegerField")], {"f": 5})


def length_error(limit, length):
    return rule_error(
        f"Ensure this value has at most {limit} characters (it has {length}).",
        "max_length",
        max_length=str(limit),
        length=str(length),
    )


def rule_error(message, code, **params):
    return {"field": "f", "message": message, "code": code, "params": params}


BYTES_OVER_2 = rule_error(
    "Ensure this value has at most 2 bytes (it has 3).", "max_length", max_length="2"
)
DIGITS_OVER_10 = rule_error(
    "Ensure that there are no more than 10 digits in total.", "max_digits", max_digits="10"
)
PLACES_OVER_2 = rule_error(
    "Ensure that there are no more than 2 decimal places.",
    "max_decimal_places",
    decimal_places="2",
)


@pytest.mark.parametrize(
    ("entry", "value", "errors"),
    [
        (descriptor("f", "CharField"), "x" * 255, []),
        (descriptor("f", "CharField"), "x" * 256, [length_error(255, 256)]),
        (descriptor("f", "CharField", max_length=-3), "x" * 256, [length_error(255, 256)]),
        (descriptor("f", "CharField", max_length="9"), "x" * 256, [length_error(255, 256)]),
        (descriptor("f", "CharField", max_length=3), "x" * 4, [length_error(3, 4)]),
        (descriptor("f", "EmailField"), "x" * 255, [length_error(254, 255)]),
        (descriptor("f", "URLField"), "x" * 201, [length_error(200, 201)]),
        (descriptor("f", "SlugField"), "x" * 51, [length_error(50, 51)]),
        (descriptor("f", "SlugField", max_length=60), "x" * 51, []),
        # A max_length on a type without one is ignored.
        (descriptor("f", "TextField", max_length=2), "x" * 51, []),
        (descriptor("f", "BinaryField"), b"x" * 100000, []),
        (descriptor("f", "BinaryField", max_length=2), b"abc", [BYTES_OVER_2]),
        (descriptor("f", "DecimalField", max_digits=-1), "12345678901", [DIGITS_OVER_10]),
        (descriptor("f", "DecimalField", decimal_places=None), "1.234", [PLACES_OVER_2]),
        (descriptor("f", "DecimalField", max_digits=3, decimal_places=3), "0.123", []),
    ],
)
def test_descriptor_dict_payloads_and_defaults(entry, value, errors):
    report = sorvel_django.validate_fields([entry], [value])
    assert report["errors"] == errors


class Entry:
    """A mapping that is not a dict: reading uses item access only."""

    def __init__(self, **items):
        self.items = items

    def __getitem__(self, key):
        return self.items[key]


def test_any_mapping_serves_as_a_descriptor_dict():
    entry = Entry(name="f", type="CharField", nullable=False, has_default=False, max_length=2)
    assert sorvel_django.validate_fields([entry], ["abc"])["errors"] == [length_error(2, 3)]


@pytest.mark.parametrize("entry_point", ["serialize_fields", "validate_fields"])
@pytest.mark.parametrize(
    ("entry", "error", "message"),
    [
        ({"type": "TextField", "nullable": False, "has_default": False}, KeyError, "'name'"),
        ({"name": "f", "nullable": False, "has_default": False}, KeyError, "'type'"),
        ({"name": "f", "type": "TextField", "has_default": False}, KeyError, "'nullable'"),
        ({"name": "f", "type": "TextField", "nullable": False}, KeyError, "'has_default'"),
        (
            {"name": 5, "type": "TextField", "nullable": False, "has_default": False},
            TypeError,
            "'int' object is not an instance of 'str'",
        ),
        (
            {"name": "f", "type": None, "nullable": False, "has_default": False},
            TypeError,
            "'None' is not an instance of 'str'",
        ),
        (
            {"name": "f", "type": "TextField", "nullable": 0, "has_default": False},
            TypeError,
            "'int' object is not an instance of 'bool'",
        ),
        (
            {"name": "f", "type": "TextField", "nullable": False, "has_default": "yes"},
            TypeError,
            "'str' object is not an instance of 'bool'",
        ),
    ],
)
def test_bad_descriptor_dicts_raise_the_lookup_or_conversion_error(
    entry_point, entry, error, message
):
    good = descriptor("g", "TextField")
    values = {"f": "x", "g": "y"} if entry_point == "serialize_fields" else ["y", "x"]
    with pytest.raises(error) as caught:
        getattr(sorvel_django, entry_point)([good, entry], values)
    assert str(caught.value) == message
    assert not hasattr(caught.value, "__notes__")


def test_descriptor_list_shrinking_while_read_stops_the_walk():
    descriptors = []

    class Shrinking(Entry):
        def __getitem__(self, key):
            if key == "has_default":
                descriptors.clear()
            return super().__getitem__(key)

    descriptors.extend(
        [
            Shrinking(name="a", type="TextField", nullable=False, has_default=False),
            descriptor("b", "TextField"),
        ]
    )
    assert sorvel_django.serialize_fields(descriptors, {"a": "1", "b": "2"}) == {"a": "1"}


def test_descriptor_dicts_round_trip_through_the_legacy_entry_points():
    # A Record's values, read with the descriptor dicts of its schema, give what the schema gives.
    schema = sorvel_django.ModelSchema(Record)
    instance = unsaved_record()
    assert sorvel_django.serialize_fields(schema.to_descriptor_list(), record_values()) == (
        sorvel_django.serialize_instance(instance, schema)
    )
    values = [record_values()[name] for name in schema.field_names_list]
    assert sorvel_django.validate_fields(schema.to_descriptor_list(), values) == (
        sorvel_django.validate_instance(instance, schema)
    )
