"""Every entry point called with arbitrary objects: nested containers, subclasses of the types
the readers know, and objects whose dunder methods raise, lie or return the wrong type. Each call
must return or raise an ordinary exception: never crash, hang, abort or raise PanicException (a
BaseException, which no `except Exception` here catches) or SystemError (a broken C-API call).

`make test` runs a bounded, reproducible number of examples; SORVEL_FUZZ_EXAMPLES=<n> runs n per
test with fresh random choices, for a longer attack."""

import datetime as dt
import decimal
import os
import uuid

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from django_app.environment import start_django

start_django()

import _native  # noqa: E402
import sorvel_django  # noqa: E402
from _native import Field, Schema  # noqa: E402

from django_app.fakes import FakeField, fake_model  # noqa: E402
from django_app.models import Record  # noqa: E402
from django_app.samples import unsaved_record  # noqa: E402

LONG_RUN = "SORVEL_FUZZ_EXAMPLES" in os.environ
FUZZ = settings(
    max_examples=int(os.environ.get("SORVEL_FUZZ_EXAMPLES", "40")),
    deadline=None,
    derandomize=not LONG_RUN,
    database=None,
    suppress_health_check=list(HealthCheck),
)

# --- hostile objects ---------------------------------------------------------------------------

ERRORS = st.sampled_from([ValueError, TypeError, KeyError, IndexError, AttributeError,
                          RuntimeError, OverflowError, UnicodeError, RecursionError, MemoryError])


class Raise:
    """A dunder result that raises instead."""

    def __init__(self, error):
        self.error = error


def answer(result):
    if isinstance(result, Raise):
        raise result.error("hostile")
    return result


class Offset(dt.tzinfo):
    """A tzinfo whose utcoffset() says anything: any timedelta, None, a wrong type, or raises."""

    def __init__(self, offset):
        self.offset = offset

    def utcoffset(self, when):
        return answer(self.offset)

    def dst(self, when):
        return None

    def tzname(self, when):
        return "hostile"


LIES = st.one_of(
    st.none(), st.integers(min_value=-2**70, max_value=2**70), st.floats(), st.text(max_size=8),
    st.binary(max_size=8), st.builds(Raise, ERRORS), st.just(NotImplemented),
    st.sampled_from(["2024-01-05", "10:30:00", "2024-01-05T10:30:00+25:00", "1E+2", "NaN",
                     "12345678-1234-5678-1234-567812345678", "0E-8", "9" * 40]),
)
TIMEZONES = st.one_of(
    st.none(), st.just(dt.timezone.utc), st.timezones(),
    st.builds(Offset, st.one_of(st.timedeltas(), LIES)),
)
SCALARS = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(min_value=-2**200, max_value=2**200),
    st.floats(), st.text(st.characters(codec=None), max_size=12), st.binary(max_size=12),
    st.decimals(), st.builds(decimal.Decimal, st.from_regex(r"-?\d{1,3}(\.\d{1,3})?E[+-]\d{1,9}",
                                                             fullmatch=True)),
    st.datetimes(timezones=TIMEZONES), st.dates(), st.times(timezones=TIMEZONES),
    st.timedeltas(), st.uuids(), st.just(uuid.UUID), st.just(object()),
)
BASES = [object, str, int, float, bytes, bytearray, list, tuple, dict, decimal.Decimal,
         dt.date, dt.datetime, dt.time, uuid.UUID]
DUNDERS = ["__str__", "__repr__", "isoformat", "__len__", "__getitem__", "__iter__", "__index__",
           "__float__", "__int__", "__bool__", "__eq__", "__hash__", "__getattr__", "__format__",
           "as_tuple", "is_finite", "utcoffset", "__instancecheck__"]


@st.composite
def hostile(draw):
    """An instance of a class (possibly a subclass of a known type) with lying dunders."""
    base = draw(st.sampled_from(BASES))
    lies = draw(st.dictionaries(st.sampled_from(DUNDERS), LIES, max_size=4))
    namespace = {name: (lambda result: lambda self, *a, **k: answer(result))(lie)
                 for name, lie in lies.items()}
    if "__hash__" in namespace:
        namespace["__hash__"] = lambda self: 7
    cls = type(draw(st.sampled_from(["Hostile", "date", "str", "UUID", "Decimal"])), (base,),
               namespace)
    try:
        if base is decimal.Decimal:
            return cls(draw(st.decimals()))
        if base is dt.datetime:
            return cls(2024, 1, 5, 10, 30, tzinfo=draw(TIMEZONES))
        if base is dt.date:
            return cls(2024, 1, 5)
        if base is dt.time:
            return cls(10, 30, tzinfo=draw(TIMEZONES))
        if base is uuid.UUID:
            return cls(int=draw(st.integers(0, 2**128 - 1)))
        return cls()
    except Exception:  # the lies may stop the constructor itself; then any object does
        return object()


VALUES = st.recursive(
    st.one_of(SCALARS, hostile()),
    lambda children: st.one_of(
        st.lists(children, max_size=4), st.tuples(children, children),
        st.dictionaries(st.one_of(st.text(max_size=4), st.integers()), children, max_size=4),
    ),
    max_leaves=8,
)

# --- what a call may do ------------------------------------------------------------------------


def survives(call, *args):
    """Runs the call; an ordinary exception is a fine answer, except SystemError."""
    try:
        call(*args)
    except SystemError:
        raise
    except Exception:
        pass


KINDS = st.sampled_from([str, int, float, bool, decimal.Decimal, dt.datetime, dt.date, dt.time,
                         uuid.UUID, list, dict, bytes])
NAMES = st.text(st.characters(codec="utf-8"), min_size=1, max_size=6)
CONSTRAINTS = st.fixed_dictionaries({}, optional={
    "max_length": st.integers(-2, 2**64), "min_length": st.integers(-2, 2**64),
    "min_value": st.one_of(st.integers(-2**70, 2**70), st.floats()),
    "max_value": st.one_of(st.integers(-2**70, 2**70), st.floats()),
    "max_digits": st.integers(-2, 2**40), "decimal_places": st.integers(-2, 2**40),
    "nullable": st.booleans(), "default": st.booleans(),
})


@st.composite
def schemas(draw):
    fields = {}
    for name in draw(st.lists(NAMES, max_size=5, unique=True)):
        try:
            fields[name] = Field(draw(st.one_of(KINDS, VALUES)), **draw(CONSTRAINTS))
        except Exception:
            pass
    return Schema(fields)


class Bag:
    """A record object: attributes are the values, or raise on lookup."""

    def __init__(self, values, failing):
        object.__setattr__(self, "_failing", failing)
        for name, value in values.items():
            object.__setattr__(self, name, value)

    def __getattribute__(self, name):
        if name in object.__getattribute__(self, "_failing"):
            raise RuntimeError(name)
        return object.__getattribute__(self, name)


@st.composite
def records(draw, names):
    values = {name: draw(VALUES) for name in names if draw(st.booleans())}
    if draw(st.booleans()):
        return values
    return Bag(values, draw(st.sets(st.sampled_from(sorted(names) or ["x"]), max_size=2)))


# --- the entry points --------------------------------------------------------------------------


@FUZZ
@given(st.data())
def test_record_functions_of_native(data):
    schema = data.draw(schemas())
    names = schema.field_names_list()
    batch = data.draw(st.lists(records(names), max_size=3))
    for call in (_native.serialize, _native.validate):
        survives(call, batch[0] if batch else data.draw(VALUES), schema)
    for call in (_native.serialize_many, _native.validate_many):
        survives(call, batch, schema)
        survives(call, data.draw(VALUES), schema)


@FUZZ
@given(VALUES, st.lists(VALUES, max_size=6))
def test_batch_utilities(anything, items):
    for call in (_native.batch_stats, _native.compute_risk_batch, _native.validate_ids_batch,
                 _native.validate_names_batch):
        survives(call, items)
        survives(call, anything)


@FUZZ
@given(VALUES, st.dictionaries(st.text(max_size=12), VALUES, max_size=3), VALUES)
def test_constructors(kind, keywords, fields):
    survives(lambda: Field(kind, **keywords))
    survives(Schema, fields)
    survives(lambda: Schema({"x": Field(int)}).field_names_list())


DJANGO_TYPES = ["CharField", "TextField", "EmailField", "URLField", "SlugField", "IntegerField",
                "BigIntegerField", "FloatField", "DecimalField", "BooleanField", "DateField",
                "TimeField", "DateTimeField", "UUIDField", "JSONField", "BinaryField"]


@st.composite
def descriptors(draw):
    keys = st.fixed_dictionaries(
        {"name": st.one_of(NAMES, VALUES),
         "type": st.one_of(st.sampled_from(DJANGO_TYPES), VALUES)},
        optional={"nullable": VALUES, "has_default": VALUES, "max_length": VALUES,
                  "max_digits": VALUES, "decimal_places": VALUES})
    return draw(st.lists(st.one_of(keys, VALUES), max_size=4))


@FUZZ
@given(descriptors(), st.data())
def test_legacy_django_functions(given_descriptors, data):
    names = [d.get("name") for d in given_descriptors if isinstance(d, dict)]
    values = {name: data.draw(VALUES) for name in names if isinstance(name, str)}
    survives(sorvel_django.serialize_fields, given_descriptors, values)
    survives(sorvel_django.serialize_fields, given_descriptors, data.draw(VALUES))
    survives(sorvel_django.validate_fields, given_descriptors, list(values.values()))
    survives(sorvel_django.validate_fields, given_descriptors, data.draw(VALUES))


SCHEMA = sorvel_django.ModelSchema(Record)
NAMES_OF_RECORD = SCHEMA.field_names_list


@FUZZ
@given(st.data())
def test_model_functions_of_django(data):
    instance = unsaved_record()
    for name in data.draw(st.lists(st.sampled_from(NAMES_OF_RECORD), max_size=3)):
        instance.__dict__[name] = data.draw(VALUES)
    rows = data.draw(st.lists(st.one_of(st.lists(VALUES, max_size=len(NAMES_OF_RECORD) + 1),
                                        VALUES), max_size=2))
    survives(sorvel_django.serialize_instance, instance, SCHEMA)
    survives(sorvel_django.serialize_batch, [instance, data.draw(VALUES)], SCHEMA)
    survives(sorvel_django.serialize_values_list, rows, SCHEMA)
    survives(sorvel_django.validate_instance, instance, SCHEMA)
    survives(sorvel_django.serialize_instance, data.draw(VALUES), SCHEMA)


@FUZZ
@given(st.lists(st.one_of(
    st.builds(lambda name, kind, attributes: FakeField(name, kind, **attributes),
              st.one_of(NAMES, VALUES), st.one_of(st.sampled_from(DJANGO_TYPES), VALUES),
              st.dictionaries(st.sampled_from(["null", "max_length", "max_digits",
                                               "decimal_places", "is_relation"]), VALUES,
                              max_size=3)),
    VALUES), max_size=4), VALUES)
def test_model_introspection(fields, junk):
    for model in (fake_model(fields), fake_model(junk), junk):
        survives(sorvel_django.ModelSchema, model)
        survives(sorvel_django.extract_model_fields, model)


def test_the_fuzz_can_fail():
    """survives() lets exactly SystemError and BaseExceptions through."""
    with pytest.raises(SystemError):
        survives(lambda: (_ for _ in ()).throw(SystemError("x")))
    survives(lambda: 1 / 0)
