"""Django records to JSON-ready dicts: loaded instances, values_list() rows and JSONFields,
against a hand-written function, the floor and the serializer libraries a Django project uses."""


import datetime
import decimal
import json
import uuid

import django_setup
from harness import Case, Contender, Skip

ARTICLE_FIELDS = ["title", "body", "views", "rating", "published", "price", "created", "day",
                  "ref"]
SORTED_FIELDS = sorted(ARTICLE_FIELDS)


def rfc3339(moment: datetime.datetime) -> str:
    """The engine's date-time text for a UTC value: isoformat(), but a fraction of whole
    milliseconds has three digits."""
    text = moment.isoformat()
    micro = moment.microsecond
    if micro and micro % 1000 == 0:
        text = text.replace(f".{micro:06d}", f".{micro // 1000:03d}")
    return text


def article_dict(o) -> dict:
    """What a developer writes by hand for the same output as serialize_batch."""
    return {
        "body": o.body,
        "created": rfc3339(o.created),
        "day": o.day.isoformat(),
        "price": str(o.price),
        "published": o.published,
        "rating": o.rating,
        "ref": str(o.ref),
        "title": o.title,
        "views": o.views,
    }


def floor_rows(dicts: list[dict]) -> list[tuple]:
    """Tuples already holding every output value, in output key order."""
    return [tuple(d[k] for k in SORTED_FIELDS) for d in dicts]


def floor(rows: list[tuple]) -> list[dict]:
    """The least any road can cost: the same dicts built from values that need no conversion."""
    return [{"body": b, "created": c, "day": d, "price": p, "published": pu, "rating": ra,
             "ref": re, "title": t, "views": v}
            for b, c, d, p, pu, ra, re, t, v in rows]


class Lazy:
    """Builds a contender's machinery on first use, so that an absent package only skips it."""

    def __init__(self, build):
        self.build = build
        self.value = None

    def __call__(self, *args):
        if self.value is None:
            try:
                self.value = self.build()
            except ImportError as missing:
                raise Skip(f"{missing.name} is not installed") from None
        return self.value(*args)


def article_struct():
    """The benchmark article as a msgspec Struct (msgspec is imported only when a case needs it)."""
    import msgspec

    class ArticleStruct(msgspec.Struct):
        body: str
        created: datetime.datetime
        day: datetime.date
        price: decimal.Decimal
        published: bool
        rating: float
        ref: uuid.UUID
        title: str
        views: int

    return ArticleStruct


def msgspec_instances():
    import msgspec

    shape = list[article_struct()]
    return lambda objs: msgspec.to_builtins(msgspec.convert(objs, shape, from_attributes=True))


def pydantic_instances():
    import pydantic

    class ArticleModel(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(from_attributes=True)
        body: str
        created: datetime.datetime
        day: datetime.date
        price: decimal.Decimal
        published: bool
        rating: float
        ref: uuid.UUID
        title: str
        views: int

    adapter = pydantic.TypeAdapter(list[ArticleModel])
    return lambda objs: adapter.dump_python(
        adapter.validate_python(objs, from_attributes=True), mode="json")


def drf_instances():
    from rest_framework import serializers

    from benchapp.models import Article

    class ArticleSerializer(serializers.ModelSerializer):
        class Meta:
            model = Article
            fields = SORTED_FIELDS

    return lambda objs: ArticleSerializer(objs, many=True).data


def marshmallow_instances():
    import marshmallow
    from marshmallow import fields

    class ArticleSchema(marshmallow.Schema):
        body = fields.String()
        created = fields.DateTime()
        day = fields.Date()
        price = fields.Decimal(as_string=True)
        published = fields.Boolean()
        rating = fields.Float()
        ref = fields.UUID()
        title = fields.String()
        views = fields.Integer()

    schema = ArticleSchema(many=True)
    return schema.dump


def serpy_instances():
    import serpy

    class ArticleSerializer(serpy.Serializer):
        body = serpy.StrField()
        created = serpy.MethodField()
        day = serpy.MethodField()
        price = serpy.MethodField()
        published = serpy.BoolField()
        rating = serpy.FloatField()
        ref = serpy.MethodField()
        title = serpy.StrField()
        views = serpy.IntField()

        def get_created(self, o):
            return rfc3339(o.created)

        def get_day(self, o):
            return o.day.isoformat()

        def get_price(self, o):
            return str(o.price)

        def get_ref(self, o):
            return str(o.ref)

    return lambda objs: ArticleSerializer(objs, many=True).data


def sorvel_dump():
    from cases_sorvel import sorvel_dump as dump

    return dump()


def article_schema():
    import sorvel_django

    from benchapp.models import Article

    return sorvel_django.ModelSchema(Article)


def article_native_schema():
    """The same nine fields as a _native Schema, which reads any object's attributes."""
    import _native
    from _native import Field

    return _native.Schema({
        "title": Field(str, max_length=200), "body": Field(str), "views": Field(int),
        "rating": Field(float), "published": Field(bool),
        "price": Field(decimal.Decimal, max_digits=12, decimal_places=2),
        "created": Field(datetime.datetime), "day": Field(datetime.date), "ref": Field(uuid.UUID),
    })


def instance_cases(sizes) -> list[Case]:
    django_setup.setup()
    import _native
    import sorvel_django

    schema = article_schema()
    native_schema = article_native_schema()
    cases = []
    floor_inputs = {}

    def make(n):
        objs = django_setup.articles(n)
        floor_inputs[n] = floor_rows([article_dict(o) for o in objs])
        return objs

    cases.append(Case(
        title="Django instances → dicts (ten-field model)",
        make_input=make,
        sizes=sizes,
        contenders=[
            Contender("sorvel_django.serialize_batch",
                      lambda objs: sorvel_django.serialize_batch(objs, schema)),
            Contender("sorvel.django ModelSerializer.dump", Lazy(sorvel_dump), same=True),
            Contender("_native.serialize_many",
                      lambda objs: _native.serialize_many(objs, native_schema), same=True),
            Contender("_native.serialize per object",
                      lambda objs: [_native.serialize(o, native_schema) for o in objs], same=True),
            Contender("hand-written Python function", lambda objs: [article_dict(o) for o in objs],
                      same=True),
            Contender("floor: dicts from tuples of output values",
                      lambda objs: floor(floor_inputs[len(objs)]), same=True),
            Contender("msgspec convert(from_attributes) + to_builtins", Lazy(msgspec_instances)),
            Contender("pydantic v2 validate_python(from_attributes) + dump_python(json)",
                      Lazy(pydantic_instances)),
            Contender("marshmallow Schema(many=True).dump", Lazy(marshmallow_instances),
                      same=True),
            Contender("serpy Serializer(many=True).data", Lazy(serpy_instances), same=True),
            Contender("DRF ModelSerializer(many=True).data", Lazy(drf_instances)),
        ],
        notes=["The instances are loaded once from an in-memory SQLite database through the "
               "ORM; the id (AutoField) is left out by every contender, as serialize_batch "
               "leaves it out."],
    ))

    from benchapp.models import Article

    def make_rows(n):
        django_setup.ensure_rows("articles", n)
        rows = list(Article.objects.order_by("id").values_list(*schema.field_names_list)[:n])
        floor_inputs[-n] = floor_rows(
            [article_dict(_Row(dict(zip(schema.field_names_list, r)))) for r in rows])
        return rows

    def hand_rows(rows):
        return [{"body": b, "created": rfc3339(c), "day": d.isoformat(), "price": str(p),
                 "published": pu, "rating": ra, "ref": str(re), "title": t, "views": v}
                for t, b, v, ra, pu, p, c, d, re in rows]

    cases.append(Case(
        title="values_list() rows → dicts (ten-field model)",
        make_input=make_rows,
        sizes=sizes,
        contenders=[
            Contender("sorvel_django.serialize_values_list",
                      lambda rows: sorvel_django.serialize_values_list(rows, schema)),
            Contender("hand-written Python loop", hand_rows, same=True),
            Contender("floor: dicts from tuples of output values",
                      lambda rows: floor(floor_inputs[-len(rows)]), same=True),
        ],
    ))
    return cases


class _Row:
    def __init__(self, values):
        self.__dict__.update(values)


def json_cases(sizes) -> list[Case]:
    django_setup.setup()
    import sorvel_django

    from benchapp.models import Document

    schema = sorvel_django.ModelSchema(Document)

    def by_python(docs):
        return [{"data": json.loads(json.dumps(d.data, sort_keys=True)),
                 "meta": json.loads(json.dumps(d.meta, sort_keys=True))} for d in docs]

    def by_orjson():
        import orjson

        option = orjson.OPT_SORT_KEYS
        return lambda docs: [{"data": orjson.loads(orjson.dumps(d.data, option=option)),
                              "meta": orjson.loads(orjson.dumps(d.meta, option=option))}
                             for d in docs]

    return [Case(
        title="Django instances → dicts (model with two JSONFields)",
        make_input=django_setup.documents,
        sizes=sizes,
        contenders=[
            Contender("sorvel_django.serialize_batch",
                      lambda docs: sorvel_django.serialize_batch(docs, schema)),
            Contender("Python json.dumps + json.loads per value", by_python, same=True),
            Contender("orjson dumps + loads per value", Lazy(by_orjson), same=True),
        ],
        notes=["Each value is copied the way serialize_batch defines it: written as JSON and "
               "read back (keys in sorted order)."],
    )]
