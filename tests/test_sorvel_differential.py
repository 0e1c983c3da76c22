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

from django_app.models import Book, Color, Edition, Genre, Writer  # noqa: E402
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
    return book_serializer([field], **formats)


def book_serializer(fields, **options):
    meta = type("Meta", (), {"model": Book, "fields": fields, **options})
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


# Where an instance keeps its values: inline for a fresh one (read there without making its
# __dict__), or in a real dict. Each state must read exactly as the dict road reads it.
def _fresh(cls=Book, **extra):
    values = {"title": "t", "price": decimal.Decimal("1.10"), "weight": 0.1, "in_print": True,
              "added": datetime.datetime(2024, 1, 2, 3, 4, 5, tzinfo=datetime.UTC),
              "writer_id": 7, "isbn": uuid.UUID(int=12345), **extra}  # fmt: skip
    return cls(**values)


def _with_dict(instance):
    vars(instance)  # makes the dict: the values move out of the object
    return instance


def _replaced_dict(instance):
    instance.__dict__ = dict(reversed(list(instance.__dict__.items())))
    return instance


def _deleted(name):
    def delete(instance):
        delattr(instance, name)
        return instance

    return delete


def _crowded(instance):
    # More attributes than the class's shared keys hold inline.
    for i in range(40):
        setattr(instance, f"extra_{i}", i)
    return instance


def _set_after_creation(instance):
    instance.title = "changed"
    instance.weight = 1e16
    return instance


INSTANCE_STATES = {
    "fresh": lambda: _fresh(),
    "dict made": lambda: _with_dict(_fresh()),
    "dict replaced": lambda: _replaced_dict(_fresh()),
    "value deleted": lambda: _deleted("weight")(_fresh()),
    "value deleted, dict made": lambda: _with_dict(_deleted("price")(_fresh())),
    "crowded": lambda: _crowded(_fresh()),
    "set after creation": lambda: _set_after_creation(_fresh()),
    "subclass": lambda: _fresh(Edition, number=3),
    "subclass with dict": lambda: _with_dict(_fresh(Edition, number=4)),
}


@pytest.mark.parametrize("on_missing", ["error", "skip"])
@pytest.mark.parametrize("order", ["as listed", "reversed", "alternating"])
def test_every_instance_state_reads_as_its_dict_does(on_missing, order):
    Out = book_serializer(["title", "price", "weight", "in_print", "added", "isbn"],
                          on_missing=on_missing)
    names = list(INSTANCE_STATES)
    if order == "reversed":
        names.reverse()
    elif order == "alternating":
        names = [n for pair in zip(names, ["fresh"] * len(names)) for n in pair]
    for name in names:
        # The same state read inline and through the dict made for it, one by one and in a
        # batch after instances of other states.
        inline = INSTANCE_STATES[name]()
        through_dict = _with_dict(INSTANCE_STATES[name]())
        for call in (lambda rows: Out.dump(rows), lambda rows: json.loads(Out.dump_json(rows))):
            got = outcome_with_message(lambda: call([inline]))
            assert got == outcome_with_message(lambda: call([through_dict])), name
            assert got[0] == "ok" or on_missing == "error", name
    batch = [INSTANCE_STATES[name]() for name in names]
    expected = outcome_with_message(lambda: Out.dump([_with_dict(INSTANCE_STATES[n]())
                                                      for n in names]))
    assert outcome_with_message(lambda: Out.dump(batch)) == expected
    got_json = outcome_with_message(lambda: json.loads(Out.dump_json(batch)))
    assert got_json == expected
    if on_missing == "skip":
        # A skipped field leaves the others in declared order, in dicts and in JSON alike.
        for row, text in zip(Out.dump(batch), json.loads(Out.dump_json(batch))):
            assert list(row) == list(text) == [key for key in Out.keys() if key in row]


def outcome_with_message(call):
    try:
        return "ok", call()
    except SerializationError as error:
        return "error", str(error)


def test_deferred_fields_of_loaded_instances_read_as_their_dicts_do():
    writer = Writer.objects.create(name="w")
    Book.objects.bulk_create([_fresh(title=f"b{i}", writer_id=writer.pk) for i in range(3)])

    Out = book_serializer(["title", "weight", "price"])
    Skip = book_serializer(["title", "weight", "price"], on_missing="skip")
    try:
        for query in (Book.objects.order_by("pk"), Book.objects.only("title").order_by("pk"),
                      Book.objects.defer("weight").order_by("pk")):
            for serializer in (Out, Skip):
                fresh = list(query)
                made = [_with_dict(o) for o in query]
                for call in (serializer.dump, lambda rows: json.loads(serializer.dump_json(rows))):
                    assert (outcome_with_message(lambda: call(fresh))
                            == outcome_with_message(lambda: call(made)))
    finally:
        Book.objects.all().delete()
        writer.delete()


FLOATS = [0.0, -0.0, 1.0, -1.0, 0.1, 1 / 3, 2 / 3, 3.142, 100.0, 1e15, 1e16, 123e13, 0.001,
          0.0001, 0.00012, 1e-5, 2.0**-7, 2.0**-8, 2.0**52, 2.0**52 - 0.5, 2.0**53, 9.5e-5,
          0.30000000000000004, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
          123456.789, 999999999999999.9]  # fmt: skip


def random_floats():
    rng = random.Random(5)
    yield from FLOATS
    for _ in range(3000):
        yield rng.uniform(-1e6, 1e6)
        yield round(rng.uniform(0, 5), rng.randint(0, 6))
        yield rng.random() * 10.0 ** rng.randint(-12, 20)


def test_floats_in_json_read_back_as_themselves():
    # The shortest text that reads back as the same double, at every magnitude; integral ones
    # keep their point.
    Out = book_serializer(["weight"])

    values = list(random_floats())
    rows = [_fresh(weight=value) for value in values]
    texts = json.loads(Out.dump_json(rows), parse_float=str)
    for value, row in zip(values, texts, strict=True):
        text = row["weight"]
        assert float(text) == value and str(float(text)) == repr(value), text
        assert "." in text or "e" in text, text
        if abs(value) < 2.0**53:  # above, a fixed form writes the integer's exact digits
            digits = text.lstrip("-").split("e")[0].replace(".", "").strip("0")
            shortest = repr(value).lstrip("-").split("e")[0].replace(".", "").strip("0")
            assert len(digits) <= len(shortest), text


@pytest.mark.parametrize("special", ['"', "\\", "\n", "\x00", "\x1f", "é", "😀", "\x7f"])
def test_strings_are_escaped_as_json_dumps_does_at_every_position(special):
    # Every length around the eight-byte steps, the special character at every position.
    Out = book_serializer(["title"])

    titles = ["a" * n for n in range(20)]
    titles += ["a" * i + special + "b" * (n - i) for n in range(20) for i in range(n + 1)]
    rows = [_fresh(title=title) for title in titles]
    expected = json.dumps([{"title": t} for t in titles], ensure_ascii=False,
                          separators=(",", ":")).encode()
    assert Out.dump_json(rows) == expected
