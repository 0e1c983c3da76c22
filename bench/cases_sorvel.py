"""The cases of package sorvel: ModelSerializer.dump, dump_json, stream_json and validate_many,
against serialize_batch, orjson, msgspec, DRF, Django's full_clean() and pydantic. A case whose
API is not in the installed package is skipped, not failed."""


import datetime
import json
import os
import subprocess
import sys
import uuid

import django_setup
from cases_records import SORTED_FIELDS, Lazy, article_schema, article_struct
from harness import Case, Contender, Skip

HERE = os.path.dirname(os.path.abspath(__file__))


def model_serializer(*methods: str):
    try:
        from sorvel.django import ModelSerializer
    except ImportError:
        raise Skip("sorvel.django is not installed") from None
    for method in methods:
        if not hasattr(ModelSerializer, method):
            raise Skip(f"sorvel.django.ModelSerializer has no {method}()")
    return ModelSerializer


_serializers: dict[str, type] = {}


def article_serializer(*methods: str):
    """ArticleOut: the ten-field model (less its id), keys in serialize_batch's order."""
    base = model_serializer(*methods)
    if "out" not in _serializers:
        from benchapp.models import Article

        class ArticleOut(base):
            class Meta:
                model = Article
                fields = SORTED_FIELDS

        _serializers["out"] = ArticleOut
    return _serializers["out"]


def sorvel_dump():
    return article_serializer("dump").dump


def json_equal(a: bytes, b: bytes) -> bool:
    return json.loads(a) == json.loads(b)


def msgspec_prebuilt_structs():
    """msgspec's encoder given Structs built beforehand: only the encoding is timed."""
    import msgspec

    ArticleStruct = article_struct()
    encoder = msgspec.json.Encoder(decimal_format="string")
    built: dict[int, list] = {}

    def run(objs):
        key = id(objs)
        if key not in built:
            built.clear()
            built[key] = msgspec.convert(objs, list[ArticleStruct], from_attributes=True)
        return encoder.encode(built[key])

    return run


def sorvel_cases(sizes) -> list[Case]:
    django_setup.setup()
    import sorvel_django

    schema = article_schema()

    def orjson_of_batch():
        import orjson

        return lambda objs: orjson.dumps(sorvel_django.serialize_batch(objs, schema))

    cases = [Case(
        title="Django instances → JSON bytes (ten-field model)",
        make_input=django_setup.articles,
        sizes=sizes,
        equal=json_equal,
        contenders=[
            Contender("sorvel ModelSerializer.dump_json",
                      lambda objs: article_serializer("dump_json").dump_json(objs)),
            Contender("orjson.dumps(serialize_batch(...))", Lazy(orjson_of_batch), same=True),
            Contender("json.dumps(serialize_batch(...)).encode()",
                      lambda objs: json.dumps(sorvel_django.serialize_batch(objs, schema),
                                              separators=(",", ":")).encode(), same=True),
            Contender("msgspec json.encode of already-built Structs",
                      Lazy(msgspec_prebuilt_structs)),
        ],
    )]

    def request_rows(n):
        model_serializer("validate_many")
        rows = []
        for o in django_setup.articles(n):
            rows.append({"title": o.title, "body": o.body, "views": o.views, "rating": o.rating,
                         "published": o.published, "price": str(o.price),
                         "created": o.created.isoformat(), "day": o.day.isoformat(),
                         "ref": str(o.ref)})
        for i in range(0, n, 10):
            rows[i] = dict(rows[i], views="many", price="12.345")  # 10 % invalid
        # Through json.loads, as a request body gives them: the parser makes its own keys and
        # values (literal dicts would share interned keys with the model's field names).
        return json.loads(json.dumps(rows))

    def sorvel_validate_many():
        base = model_serializer("validate_many")
        from benchapp.models import Article

        class ArticleIn(base):
            class Meta:
                model = Article
                fields = SORTED_FIELDS

        def run(rows):
            # The messages are rendered when read; the other contenders render theirs (DRF's
            # errors, full_clean()'s message_dict, pydantic's errors()), so they are read here.
            result = ArticleIn.validate_many(rows)
            result.errors
            return result

        return run

    def drf_validate():
        from rest_framework import serializers

        from benchapp.models import Article

        class ArticleIn(serializers.ModelSerializer):
            class Meta:
                model = Article
                fields = SORTED_FIELDS

        def run(rows):
            checked = ArticleIn(data=rows, many=True)
            checked.is_valid()
            return checked.errors

        return run

    def full_clean(rows):
        from django.core.exceptions import ValidationError

        from benchapp.models import Article

        errors = {}
        for index, row in enumerate(rows):
            try:
                Article(**row).full_clean()
            except ValidationError as error:
                errors[index] = error.message_dict
        return errors

    def pydantic_validate():
        import pydantic

        class ArticleIn(pydantic.BaseModel):
            title: pydantic.constr(max_length=200)
            body: str
            views: int
            rating: float
            published: bool
            price: pydantic.condecimal(max_digits=12, decimal_places=2)
            created: datetime.datetime
            day: datetime.date
            ref: uuid.UUID

        adapter = pydantic.TypeAdapter(list[ArticleIn])

        def run(rows):
            try:
                return adapter.validate_python(rows)
            except pydantic.ValidationError as error:
                return error.errors()

        return run

    cases.append(Case(
        title="validate_many of request dicts (ten-field model, 10 % invalid rows)",
        make_input=request_rows,
        sizes=sizes,
        unit="record",
        contenders=[
            Contender("sorvel ModelSerializer.validate_many", Lazy(sorvel_validate_many)),
            Contender("DRF ModelSerializer(data=..., many=True).is_valid()", Lazy(drf_validate)),
            Contender("Django: Model(**row).full_clean() per row", full_clean),
            Contender("pydantic v2 TypeAdapter(list[M]).validate_python", Lazy(pydantic_validate)),
        ],
        notes=["Rows as json.loads gives them from a request body: numbers and booleans as such, "
               "decimals, dates, date-times and UUIDs as text.",
               "Every contender renders the messages of the invalid rows (sorvel's result.errors, "
               "DRF's errors, full_clean()'s message_dict, pydantic's errors())."],
    ))
    return cases


def stream_memory(rows: int, database: str, full: bool,
                  log=print) -> tuple[str, dict[str, float]]:
    """Peak memory of writing `rows` rows as JSON, each road in its own process: the table and
    the peaks in MB by road. The roads through a list of every instance (for contrast) take
    gigabytes and minutes at a million rows, so they run in the full matrix only."""
    peaks: dict[str, float] = {}
    try:
        model_serializer("stream_json", "dump_json")
    except Skip as reason:
        return f"### stream_json peak memory\n\nSkipped: {reason}.\n", peaks
    roads = [
        ("sorvel ModelSerializer.stream_json(queryset)", "stream"),
        ("sorvel ModelSerializer.dump_json(list(queryset))", "dump_json"),
        ("orjson.dumps(serialize_batch(list(queryset)))", "orjson"),
    ]
    lines = ["### stream_json peak memory", "",
             f"| road | peak memory above the baseline, {rows:,} rows | bytes written |",
             "|---|---:|---:|"]
    for label, road in roads if full else roads[:1]:
        done = subprocess.run(
            [sys.executable, os.path.join(HERE, "stream_memory.py"), road, str(rows), database],
            capture_output=True, text=True, cwd=HERE)
        if done.returncode != 0:
            lines.append(f"| {label} | failed: {done.stderr.strip().splitlines()[-1:]} | |")
            continue
        peak, written = done.stdout.split()
        peaks[road] = int(peak) / 2**20
        log(f"  stream memory, {road}: {peaks[road]:.1f} MB")
        lines.append(f"| {label} | {int(peak) / 2**20:.1f} MB | {int(written):,} |")
    lines += ["", "Each road runs in a fresh process over the same SQLite file; the baseline is "
              "the resident memory after Django's set-up, just before the road starts; the peak "
              "is the kernel's high-water mark (VmHWM, reset at the baseline).", ""]
    return "\n".join(lines), peaks
