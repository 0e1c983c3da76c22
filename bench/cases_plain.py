"""Module _native on plain Python records: validate_many of dicts (all valid, and with 10 %
invalid rows) and serialize_many / validate_many of plain objects."""


import datetime
import decimal
import random
import uuid
from typing import Annotated

import _native
from _native import Field, Schema

from cases_records import Lazy, rfc3339
from harness import Case, Contender

SCHEMA = Schema({
    "title": Field(str, max_length=100),
    "count": Field(int, min_value=0),
    "score": Field(float),
    "active": Field(bool),
    "price": Field(decimal.Decimal, max_digits=10, decimal_places=2),
    "created": Field(datetime.datetime),
    "ref": Field(uuid.UUID),
})


class Item:
    def __init__(self, i: int, rng: random.Random):
        self.title = f"item {i}"
        self.count = rng.randrange(10_000)
        self.score = rng.random()
        self.active = i % 2 == 0
        self.price = decimal.Decimal(rng.randrange(10**6)).scaleb(-2)
        self.created = datetime.datetime(2024, 1, 15, 10, 30, tzinfo=datetime.timezone.utc) \
            + datetime.timedelta(seconds=i)
        self.ref = uuid.UUID(int=rng.getrandbits(128))


def items(n: int) -> list[Item]:
    rng = random.Random(n)
    return [Item(i, rng) for i in range(n)]


def dicts(n: int, invalid_share: float = 0.0) -> list[dict]:
    rows = [dict(vars(item)) for item in items(n)]
    rng = random.Random(-n)
    for row in rows:
        if rng.random() < invalid_share:
            # One broken rule per bad row, of the kinds request data brings.
            which = rng.randrange(3)
            if which == 0:
                row["title"] = "x" * 120
            elif which == 1:
                row["count"] = -1
            else:
                row["price"] = decimal.Decimal("123456789.123")
    return rows


def item_dict(o) -> dict:
    return {"active": o.active, "count": o.count, "created": rfc3339(o.created),
            "price": str(o.price), "ref": str(o.ref), "score": o.score, "title": o.title}


def floor(rows):
    return [{"active": a, "count": c, "created": cr, "price": p, "ref": r, "score": s, "title": t}
            for a, c, cr, p, r, s, t in rows]


def floor_fresh_text(rows):
    """The floor, its three text values made afresh (as a serializer must make them) by the
    cheapest Python road: its page faults are those of the output a serializer returns."""
    return [{"active": a, "count": c, "created": cr[:-1] + cr[-1:], "price": p[:-1] + p[-1:],
             "ref": r[:-1] + r[-1:], "score": s, "title": t}
            for a, c, cr, p, r, s, t in rows]


def python_validate(rows) -> list:
    """A hand-written check of the same rules, collecting (row, field) pairs."""
    errors = []
    for index, row in enumerate(rows):
        if not isinstance(row["title"], str) or len(row["title"]) > 100:
            errors.append((index, "title"))
        count = row["count"]
        if type(count) is not int or count < 0:
            errors.append((index, "count"))
        if not isinstance(row["score"], float):
            errors.append((index, "score"))
        if type(row["active"]) is not bool:
            errors.append((index, "active"))
        price = row["price"]
        sign, digits, exponent = price.as_tuple()
        if len(digits) > 10 or -exponent > 2 or len(digits) + exponent > 8:
            errors.append((index, "price"))
        if not isinstance(row["created"], datetime.datetime):
            errors.append((index, "created"))
        if not isinstance(row["ref"], uuid.UUID):
            errors.append((index, "ref"))
    return errors


def msgspec_dicts():
    import msgspec

    class Row(msgspec.Struct):
        title: Annotated[str, msgspec.Meta(max_length=100)]
        count: Annotated[int, msgspec.Meta(ge=0)]
        score: float
        active: bool
        price: decimal.Decimal
        created: datetime.datetime
        ref: uuid.UUID

    shape = list[Row]
    single = Row

    def run(rows):
        try:
            return msgspec.convert(rows, shape)
        except msgspec.ValidationError:
            # One bad row fails the whole list: collect per row, like a report would.
            errors = []
            for index, row in enumerate(rows):
                try:
                    msgspec.convert(row, single)
                except msgspec.ValidationError as error:
                    errors.append((index, str(error)))
            return errors

    return run


def pydantic_dicts():
    import pydantic

    class Row(pydantic.BaseModel):
        title: pydantic.constr(max_length=100)
        count: pydantic.conint(ge=0)
        score: float
        active: pydantic.StrictBool
        price: pydantic.condecimal(max_digits=10, decimal_places=2)
        created: datetime.datetime
        ref: uuid.UUID

    adapter = pydantic.TypeAdapter(list[Row])

    def run(rows):
        try:
            return adapter.validate_python(rows)
        except pydantic.ValidationError as error:
            return error.errors()

    return run


def msgspec_objects():
    import msgspec

    class Out(msgspec.Struct):
        active: bool
        count: int
        created: datetime.datetime
        price: decimal.Decimal
        ref: uuid.UUID
        score: float
        title: str

    shape = list[Out]
    return lambda objs: msgspec.to_builtins(msgspec.convert(objs, shape, from_attributes=True))


def pydantic_objects():
    import pydantic

    class Out(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(from_attributes=True)
        active: bool
        count: int
        created: datetime.datetime
        price: decimal.Decimal
        ref: uuid.UUID
        score: float
        title: str

    adapter = pydantic.TypeAdapter(list[Out])
    return lambda objs: adapter.dump_python(
        adapter.validate_python(objs, from_attributes=True), mode="json")


def plain_cases(sizes) -> list[Case]:
    floors = {}

    def make_items(n):
        objs = items(n)
        floors[n] = [tuple(item_dict(o).values()) for o in objs]
        return objs

    return [
        Case(
            title="validate_many, valid dicts (seven fields)",
            make_input=dicts,
            sizes=sizes,
            unit="record",
            contenders=[
                Contender("_native.validate_many", lambda rows: _native.validate_many(rows, SCHEMA)),
                Contender("hand-written Python checks", python_validate),
                Contender("msgspec convert", Lazy(msgspec_dicts)),
                Contender("pydantic v2 TypeAdapter(list[M]).validate_python", Lazy(pydantic_dicts)),
            ],
        ),
        Case(
            title="validate_many, dicts with 10 % invalid rows",
            make_input=lambda n: dicts(n, 0.10),
            sizes=sizes,
            unit="record",
            contenders=[
                Contender("_native.validate_many", lambda rows: _native.validate_many(rows, SCHEMA)),
                Contender("hand-written Python checks", python_validate),
                Contender("msgspec convert (then row by row to find the bad rows)",
                          Lazy(msgspec_dicts)),
                Contender("pydantic v2 TypeAdapter(list[M]).validate_python", Lazy(pydantic_dicts)),
            ],
        ),
        Case(
            title="serialize_many, plain objects",
            make_input=make_items,
            sizes=sizes,
            contenders=[
                Contender("_native.serialize_many",
                          lambda objs: _native.serialize_many(objs, SCHEMA)),
                Contender("_native.serialize per object",
                          lambda objs: [_native.serialize(o, SCHEMA) for o in objs], same=True),
                Contender("hand-written Python function",
                          lambda objs: [item_dict(o) for o in objs], same=True),
                Contender("floor: dicts from tuples of output values",
                          lambda objs: floor(floors[len(objs)]), same=True),
                Contender("floor, its text values made afresh (str slicing)",
                          lambda objs: floor_fresh_text(floors[len(objs)]), same=True),
                Contender("msgspec convert(from_attributes) + to_builtins", Lazy(msgspec_objects)),
                Contender("pydantic v2 validate_python(from_attributes) + dump_python(json)",
                          Lazy(pydantic_objects)),
            ],
        ),
        Case(
            title="validate_many, plain objects",
            make_input=items,
            sizes=sizes,
            unit="record",
            contenders=[
                Contender("_native.validate_many", lambda objs: _native.validate_many(objs, SCHEMA)),
                Contender("hand-written Python checks",
                          lambda objs: python_validate([vars(o) for o in objs])),
            ],
        ),
    ]
