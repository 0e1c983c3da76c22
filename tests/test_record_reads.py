"""Attribute reads and result dicts of the record serializers, against what getattr() and an
ordinary dict give: the serializers read attributes without the generic lookup where the class
allows it and fill copies of a template dict, and neither may show."""

import decimal
import gc

import pytest

import _native
from _native import Field, Schema

SCHEMA = Schema({"b": Field(str), "a": Field(int), "c": Field(str, nullable=True)})


# The batch and the single-record road read attributes the same way.
BOTH_ROADS = pytest.mark.parametrize("serialize", [
    lambda items: _native.serialize_many(items, SCHEMA),
    lambda items: [_native.serialize(item, SCHEMA) for item in items],
], ids=["serialize_many", "serialize"])


def expected(obj):
    out = {}
    for name in ("a", "b", "c"):
        try:
            out[name] = getattr(obj, name)
        except AttributeError:
            out[name] = None
    return out


class Plain:
    def __init__(self, a, b, c="c", order=("a", "b", "c")):
        values = {"a": a, "b": b, "c": c}
        for name in order:
            setattr(self, name, values[name])


class WithProperty:
    calls = 0

    def __init__(self, a):
        self.a = a
        self.__dict__["b"] = "shadowed by the property"

    @property
    def b(self):
        WithProperty.calls += 1
        return f"property {self.a}"


class ClassDefault:
    c = "from the class"

    def __init__(self, a, b, own_c=False):
        self.a, self.b = a, b
        if own_c:
            self.c = "own"


class Slotted:
    __slots__ = ("a", "b", "c")

    def __init__(self, a, b):
        self.a, self.b, self.c = a, b, "slot"


class Fallback:
    def __init__(self, a):
        self.a = a

    def __getattr__(self, name):
        if name == "b":
            return "from __getattr__"
        raise AttributeError(name)


class Intercepting(Plain):
    def __getattribute__(self, name):
        if name == "b":
            return "intercepted"
        return object.__getattribute__(self, name)


def records():
    return [
        Plain(1, "x"),
        Plain(2, "y", order=("c", "b", "a")),  # another position in the instance dict
        WithProperty(3),
        ClassDefault(4, "z"),
        ClassDefault(5, "w", own_c=True),
        Slotted(6, "s"),
        Fallback(7),
        Intercepting(8, "hidden"),
        Plain(9, "again"),
    ]


@BOTH_ROADS
def test_attribute_reads_match_getattr(serialize):
    items = records()
    WithProperty.calls = 0
    got = serialize(items)
    assert got == [expected(item) for item in items]
    assert WithProperty.calls == 2  # once by the serializer, once by expected()
    assert all(list(record) == ["a", "b", "c"] for record in got)


class Trigger(decimal.Decimal):
    """A Decimal whose str() runs Python code in the middle of a record."""

    action = None

    def __str__(self):
        Trigger.action()
        return decimal.Decimal.__str__(self)


TRIGGER_SCHEMA = Schema({"a": Field(decimal.Decimal), "b": Field(str)})


class Mutable:
    def __init__(self, b):
        self.a = Trigger("1.5")
        self.b = b


def test_class_changed_between_two_reads_of_a_record():
    items = [Mutable("first"), Mutable("second")]
    Trigger.action = lambda: setattr(Mutable, "b", property(lambda self: "now a property"))
    try:
        got = _native.serialize_many(items, TRIGGER_SCHEMA)
    finally:
        del Mutable.b
    assert [record["b"] for record in got] == ["now a property"] * 2


def test_instance_dict_replaced_between_two_reads_of_a_record():
    item = Mutable("old")

    def replace():
        item.__dict__ = {"a": item.a, "b": "new dict"}

    Trigger.action = replace
    assert _native.serialize(item, TRIGGER_SCHEMA)["b"] == "new dict"


def move_values_and_change_b(item):
    vars(item)[1] = "a key that is not a str"  # the values move into a real dict
    item.b = "changed after the move"


def delete_and_set_b(item):
    del item.b
    item.b = "set again"


@pytest.mark.parametrize("serialize", [
    lambda items: _native.serialize_many(items, TRIGGER_SCHEMA),
    lambda items: [_native.serialize(item, TRIGGER_SCHEMA) for item in items],
], ids=["serialize_many", "serialize"])
@pytest.mark.parametrize("action", [move_values_and_change_b, delete_and_set_b])
def test_record_changed_by_python_code_between_two_reads(serialize, action):
    # The value of "a" runs Python code that changes where "b" is kept: "b" must be read as it
    # is then, not where it was when the record was started.
    items = [Mutable("first"), Mutable("second")]
    pending = list(items)
    Trigger.action = lambda: action(pending.pop(0))
    got = serialize(items)
    assert [record["b"] for record in got] == [item.b for item in items]
    assert got[0]["b"] in ("changed after the move", "set again")


def test_result_dicts_behave_as_ordinary_dicts():
    schema = Schema({"b": Field(str), "a": Field(list), "c": Field(int)})
    got = _native.serialize_many([{"b": "x", "a": [1], "c": 2}, Plain([1, {"k": 2}], "y", 3)],
                                 schema)
    for record in got:
        rebuilt = {}
        for key, value in record.items():
            rebuilt[key] = value
        assert gc.is_tracked(record) == gc.is_tracked(rebuilt)
    plain = _native.serialize(Plain(1, "x"), SCHEMA)
    assert not gc.is_tracked(plain)
    plain["d"] = 4
    del plain["a"]
    assert plain == {"b": "x", "c": "c", "d": 4} and list(plain) == ["b", "c", "d"]
    again = _native.serialize(Plain(1, "x"), SCHEMA)
    assert again == {"a": 1, "b": "x", "c": "c"}  # the template was not touched
    assert _native.serialize(Plain(1, "x"), Schema({})) == {}


def test_instances_with_and_without_an_entry_alternate():
    items = [ClassDefault(i, f"b{i}", own_c=i % 3 == 0) for i in range(12)]
    items[5].__dict__.clear()  # entries made again in another order
    items[5].b = "late"
    items[5].a = 99
    assert _native.serialize_many(items, SCHEMA) == [expected(item) for item in items]


class Grows:
    """Instances keep their values inline; later instances add names to the class's keys."""


def grown(a, b, **more):
    item = Grows()
    item.a = a
    for name, value in more.items():
        setattr(item, name, value)
    item.b = b
    return item


def inline_cases():
    made_dict = grown(2, "dict made")
    vars(made_dict)  # a dict around the inline values, which stay valid
    moved = grown(3, "values moved")
    vars(moved)[1] = "a key that is not a str"  # the values move into a real dict
    moved.b = "changed after the move"
    deleted = grown(4, "c deleted", c="gone")
    del deleted.c
    many = grown(5, "many names", **{f"n{i}": i for i in range(40)}, c="late c")
    recast = grown(6, "class changed")
    recast.__class__ = Plain
    replaced = grown(7, "dict replaced")
    replaced.__dict__ = {"a": 70, "b": "new", "c": "new c"}
    return [grown(1, "plain"), made_dict, moved, deleted, many, recast, replaced,
            grown(8, "with c", c="own c"), grown(9, "plain again")]


@BOTH_ROADS
def test_inline_values_read_as_getattr_reads_them(serialize):
    items = inline_cases()
    assert serialize(items) == [expected(item) for item in items]
    # A name the class's keys gain after the first read is found on later instances.
    Grows.c = "class c"
    try:
        later = [grown(10, "x", d=1, c="own"), grown(11, "y")]
        assert serialize(later) == [expected(item) for item in later]
    finally:
        del Grows.c
