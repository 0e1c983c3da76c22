"""The native plan against the plain-Python reference of the same plan (sorvel_reference.py):
generated values of every kind, in every format, must give the same output or fail alike."""

import datetime
import decimal
import itertools
import json
import random
import uuid
import zoneinfo

import pytest

from django_app.environment import start_django

start_django()

from django.utils import timezone  # noqa: E402

from django_app.models import Book, Color, Genre, Writer  # noqa: E402
from sorvel.django import Computed, ModelSerializer, SerializationError  # noqa: E402
from sorvel_reference import ReferenceError_, reference_dump  # noqa: E402

ZONES = [
    None,
    datetime.UTC,
    datetime.timezone(datetime.timedelta(hours=5, minutes=30)),
    datetime.timezone(datetime.timedelta(hours=-8)),
    datetime.timezone(datetime.timedelta(seconds=3601)),
    zoneinfo.ZoneInfo("Europe/Paris"),
    zoneinfo.ZoneInfo("America/Santiago"),
]


class UuidSubclass(uuid.UUID):
    pass


class DecimalSubclass(decimal.Decimal):
    pass


class StrSubclass(str):
    pass


def datetimes(rng):
    for _ in range(12):
        micro = rng.choice([0, 1000, 120000, 123456, 999999])
        value = datetime.datetime(rng.choice([1, 1970, 2024, 9999]), rng.randint(1, 12),
                                  rng.randint(1, 28), rng.randint(0, 23), rng.randint(0, 59),
                                  rng.randint(0, 59), micro)  # fmt: skip
        yield value.replace(tzinfo=rng.choice(ZONES))


def values_by_field(rng):
    return {
        "title": ["", "plain", 'q"uote\\ \n\t\x00\x1f é 😀', StrSubclass("sub"), 5, None],
        "price": [decimal.Decimal(t) for t in ("0", "-0", "-0.00", "0.000", "-0.05", "12.50", "1E+2", "0E-8",
                                               "5.0E-7", "123456789012345678901234567890.1",
                                               "NaN", "Infinity")]
        + [DecimalSubclass("3.10"), 1.5, None],
        "weight": [0.0, -0.0, 0.1, 1e21, 1e-7, 5e-324, 1.7976931348623157e308, 3, True,
                   float("nan"), "1.0", None],
        "in_print": [True, False, 1, None],
        "big": [0, -1, 2**63 - 1, -(2**63), 2**70, True, 1.0, None],
        "published": [datetime.date(1, 1, 1), datetime.date(2024, 2, 29),
                      datetime.datetime(2024, 1, 1, 5), "2024-01-01", None],
        "opens": [datetime.time(0, 0), datetime.time(10, 30, 0, 120000),
                  datetime.time(23, 59, 59, 999999), datetime.time(1, 2, 3, 4000),
                  datetime.time(5, 6, tzinfo=datetime.UTC), None],
        "added": list(datetimes(rng)) + [datetime.date(2024, 1, 1), None],
        "reading_time": [datetime.timedelta(0), datetime.timedelta(days=-1, seconds=5),
                         datetime.timedelta(days=3, hours=25, microseconds=7),
                         datetime.timedelta(microseconds=-1),
                         datetime.timedelta(days=999999999), 5, None],
        "isbn": [uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), uuid.uuid4(),
                 UuidSubclass("12345678-1234-5678-1234-567812345678"), "x", None],
        "meta": [{}, [], {"b": [1, {"c": None}], "a": "é"}, "text", 1.5, [True, None], None],
        "thumb": [b"", b"\x00\xff", bytearray(b"abc"), memoryview(b"xyz"), "s", None],
        "status": ["d", "p", "zz", None],
        "rating": [1, 5, 7, None],
        "cover": ["", "covers/a b.png", None],
        "color": [Color("#010203"), None],
    }  # fmt: skip


FORMAT_SETS = [
    {},
    {"datetime_format": "iso", "decimal_format": "number", "uuid_format": "hex",
     "choices": "label", "file_format": "url", "duration_format": "iso"},
    {"datetime_format": "z", "localtime": True, "duration_format": "seconds"},
    {"datetime_format": "z"},
    {"datetime_format": "iso", "localtime": True},
]  # fmt: skip


def strict_equal(a, b):
    """Equal with the same types throughout (1, 1.0 and True differ)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(strict_equal(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(strict_equal(x, y) for x, y in zip(a, b, strict=True))
    return a == b


def outcome(call):
    try:
        return "ok", call()
    except (SerializationError, ReferenceError_):
        return "error", None


def serializer_for(field, formats):
    meta = type("Meta", (), {"model": Book, "fields": [field], **formats})
    return type("Out", (ModelSerializer,), {"Meta": meta})


@pytest.mark.parametrize("formats", FORMAT_SETS, ids=lambda f: ",".join(map(str, f.values())))
def test_native_equals_reference_for_every_stored_kind(formats):
    rng = random.Random(7)
    zone = zoneinfo.ZoneInfo("Asia/Kolkata")
    with timezone.override(zone):
        for field, values in values_by_field(rng).items():
            serializer = serializer_for(field, formats)
            tz = serializer._time_zone()
            for value in values:
                book = Book(**{field: value})
                expected = outcome(lambda: reference_dump(serializer, [book], tz))
                native = outcome(lambda: serializer.dump([book]))
                assert native[0] == expected[0], (field, value, native, expected)
                if expected[0] == "ok":
                    assert strict_equal(native[1], expected[1]), (field, value, native)
                    # Decimals and durations as numbers come back from JSON as floats anyway.
                    loaded = json.loads(serializer.dump_json([book]))
                    assert strict_equal(loaded, expected[1]), (field, value, loaded)
                else:
                    with pytest.raises(SerializationError):
                        serializer.dump_json([book])


def test_native_equals_reference_for_computed_values_and_relations():
    rng = random.Random(11)
    samples = list(itertools.chain.from_iterable(values_by_field(rng).values()))

    class GenreOut(ModelSerializer):
        class Meta:
            model = Genre
            fields = ["label"]

    class WriterOut(ModelSerializer):
        class Meta:
            model = Writer
            fields = ["id", "name"]

    for formats in FORMAT_SETS:
        declared = {
            "value": Computed(lambda book: book.sample),
            "nested": Computed(lambda book: {"v": [book.sample, (book.sample,)]}),
            "writer": WriterOut(),
            "genres": GenreOut(many=True),
        }
        meta = type("Meta", (), {"model": Book, "fields": ["value", "nested", "writer", "genres"],
                                 **formats})  # fmt: skip
        serializer = type("Out", (ModelSerializer,), {**declared, "Meta": meta})
        for sample in samples:
            writer = Writer(id=3, name="W")
            book = Book(writer=writer)
            book.sample = sample
            book._prefetched_objects_cache = {"genres": [Genre(label="a"), Genre(label="b")]}
            expected = outcome(lambda: reference_dump(serializer, [book], serializer._time_zone()))
            native = outcome(lambda: serializer.dump([book]))
            assert native[0] == expected[0], (sample, native, expected)
            if expected[0] == "ok":
                assert strict_equal(native[1], expected[1]), (sample, native)
                assert strict_equal(json.loads(serializer.dump_json([book])), expected[1])


def test_instances_whose_dicts_differ_in_layout_read_the_same():
    # Values are found at the position the previous instance had them; instances built in other
    # orders, with extra attributes or re-added keys must still be read by key.
    class Out(ModelSerializer):
        class Meta:
            model = Book
            fields = ["title", "price", "weight", "in_print"]

    plain = Book(title="a", price=decimal.Decimal("1.10"), weight=1.5, in_print=False)
    reordered = Book(title="b", price=decimal.Decimal("2.20"), weight=2.5, in_print=True)
    for key in ("title", "price"):  # moved to the end of the dict
        reordered.__dict__[key] = reordered.__dict__.pop(key)
    extra = Book(title="c", price=decimal.Decimal("3.30"), weight=3.5)
    extra.__dict__ = {"zzz": 1, **{k: v for k, v in reversed(list(extra.__dict__.items()))}}
    rows = [plain, reordered, extra, plain, extra, reordered]
    expected = reference_dump(Out, rows)
    for _ in range(2):
        assert Out.dump(rows) == expected
        assert json.loads(Out.dump_json(rows)) == expected


def test_row_dicts_are_independent_and_tracked_like_built_dicts():
    import gc

    class Out(ModelSerializer):
        value = Computed(lambda book: book.sample)

        class Meta:
            model = Book
            fields = ["title", "value"]

    first, second = Book(title="a"), Book(title="b")
    first.sample, second.sample = 1, {"nested": [1]}
    rows = Out.dump([first, second, first])
    rows[0]["title"] = "changed"
    assert [row["title"] for row in rows] == ["changed", "b", "a"]
    assert gc.is_tracked(rows[1]) and gc.is_tracked(rows[1]["value"])
    assert gc.is_tracked(rows[1]) == gc.is_tracked({"title": "b", "value": {"nested": [1]}})
    assert gc.is_tracked(rows[2]) == gc.is_tracked({"title": "a", "value": 1})
