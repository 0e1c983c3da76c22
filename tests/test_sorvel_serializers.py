"""sorvel.django.ModelSerializer against a real Django app: field types, relations, formats,
inputs, errors, query counts, DRF's output, and the JSON stream."""

import datetime
import decimal
import json
import uuid
import zoneinfo

import pytest

from django_app.environment import start_django

start_django()

import sorvel  # noqa: E402
import sorvel_django  # noqa: E402
from django.core.paginator import Paginator  # noqa: E402
from django.db import connection  # noqa: E402
from django.db.models import Prefetch  # noqa: E402
from django.test.utils import CaptureQueriesContext  # noqa: E402
from django.utils import timezone  # noqa: E402

from django_app.database import rollback  # noqa: E402, F401
from django_app.models import (  # noqa: E402
    Book,
    Color,
    Counter,
    Edition,
    Genre,
    Profile,
    Publisher,
    Writer,
)
from sorvel.django import (  # noqa: E402
    Attribute,
    Computed,
    ModelField,
    ModelSerializer,
    PlanError,
    SerializationError,
)

pytestmark = pytest.mark.usefixtures("rollback")

UTC = datetime.UTC
ADDED = datetime.datetime(2024, 1, 15, 10, 30, 0, 500000, tzinfo=UTC)
PUBLISHER_CODE = uuid.UUID("6f1c3b2a-9d4e-4f5a-8b7c-0123456789ab")
ISBN = uuid.UUID("00112233-4455-6677-8899-aabbccddeeff")


class GenreOut(ModelSerializer):
    class Meta:
        model = Genre
        fields = ["id", "label"]


class WriterOut(ModelSerializer):
    class Meta:
        model = Writer
        fields = ["id", "name", "publisher"]


class FlatBook(ModelSerializer):
    class Meta:
        model = Book
        fields = "__all__"


class NestedBook(ModelSerializer):
    writer = WriterOut()
    genres = GenreOut(many=True)

    class Meta:
        model = Book
        fields = ["id", "title", "writer", "genres"]


def make_books(count=3):
    publisher = Publisher.objects.create(code=PUBLISHER_CODE, name="Pub")
    writer = Writer.objects.create(name="Ann", publisher=publisher)
    genres = [Genre.objects.create(label=label) for label in ("sf", "crime")]
    books = []
    for i in range(count):
        book = Book.objects.create(
            title=f"Book {i}",
            status="p",
            rating=5,
            price=decimal.Decimal("12.50"),
            weight=0.25,
            published=datetime.date(2024, 1, 5),
            opens=datetime.time(10, 30, 0, 120000),
            added=ADDED,
            reading_time=datetime.timedelta(days=1, hours=2, microseconds=5),
            isbn=ISBN,
            meta={"b": 1, "a": [1, "x", None]},
            cover="covers/c.png",
            manuscript="",
            server="192.168.0.1",
            email="ann@example.com",
            site="https://example.com/a",
            slug="a-slug",
            thumb=b"abc",
            big=2**40,
            small=-3,
            color=Color("#aabbcc"),
            writer=writer,
        )
        book.genres.set(genres[: i % 3])
        books.append(book)
    return books


EXPECTED_FLAT = {
    "id": None,  # set per book
    "title": "Book 0",
    "status": "p",
    "rating": 5,
    "price": "12.50",
    "weight": 0.25,
    "in_print": True,
    "published": "2024-01-05",
    "opens": "10:30:00.120",
    "added": "2024-01-15T10:30:00.500+00:00",
    "reading_time": "1 02:00:00.000005",
    "isbn": "00112233-4455-6677-8899-aabbccddeeff",
    "meta": {"a": [1, "x", None], "b": 1},
    "cover": "covers/c.png",
    "manuscript": None,
    "server": "192.168.0.1",
    "email": "ann@example.com",
    "site": "https://example.com/a",
    "slug": "a-slug",
    "thumb": "YWJj",
    "big": 2**40,
    "small": -3,
    "color": "#AABBCC",
    "writer": None,
    "genres": [],
}


# --- the package ---------------------------------------------------------------------------


def test_package_reexports_the_engine_and_keeps_the_kernel_private():
    assert sorvel.__version__ == "1.0.1"
    import _native

    assert sorvel.Field is _native.Field and sorvel.Schema is _native.Schema
    assert sorvel.validate is _native.validate and sorvel.serialize_many is _native.serialize_many
    assert "_Plan" not in sorvel_django.__all__
    assert hasattr(sorvel_django, "_Plan")


# --- every field type ----------------------------------------------------------------------


def test_every_field_type_from_the_database_in_default_forms():
    book = make_books(1)[0]
    loaded = Book.objects.prefetch_related("genres").get(pk=book.pk)
    expected = dict(EXPECTED_FLAT, id=book.pk, writer=book.writer_id)
    out = FlatBook.dump_one(loaded)
    assert out == expected
    assert list(out) == list(expected)  # DRF's order: pk, fields, forward relations
    assert json.loads(FlatBook.dump_json([loaded])) == [expected]


def test_primary_keys_of_every_auto_kind_uuid_and_inheritance():
    counter = Counter.objects.create(hits=2)
    make_books(1)

    class CounterOut(ModelSerializer):
        class Meta:
            model = Counter
            fields = "__all__"

    class PublisherOut(ModelSerializer):
        class Meta:
            model = Publisher
            fields = "__all__"

    class EditionOut(ModelSerializer):
        class Meta:
            model = Edition
            fields = ["id", "pk", "title", "number"]

    assert CounterOut.dump(Counter.objects.all()) == [{"id": counter.id, "hits": 2}]
    assert PublisherOut.dump(Publisher.objects.all()) == [
        {"code": str(PUBLISHER_CODE), "name": "Pub"}
    ]
    edition = Edition.objects.create(
        title="E", price=decimal.Decimal("1.00"), added=ADDED, writer=Writer.objects.get(),
        number=2,
    )  # fmt: skip
    assert EditionOut.dump(Edition.objects.all()) == [
        {"id": edition.pk, "pk": edition.pk, "title": "E", "number": 2}
    ]


def test_null_values_are_null_for_every_kind():
    make_books(1)
    Book.objects.update(
        rating=None, weight=None, published=None, opens=None, reading_time=None, server=None,
        thumb=None, color=None,
    )  # fmt: skip
    out = FlatBook.dump(Book.objects.prefetch_related("genres"))[0]
    for key in ("rating", "weight", "published", "opens", "reading_time", "server", "thumb",
                "color"):  # fmt: skip
        assert out[key] is None


# --- formats -------------------------------------------------------------------------------

AWARE = datetime.datetime(2024, 1, 15, 10, 30, 0, 500000, tzinfo=zoneinfo.ZoneInfo("Europe/Paris"))
NAIVE = datetime.datetime(2024, 1, 15, 10, 30)


@pytest.mark.parametrize(
    ("options", "value", "expected"),
    [
        ({}, AWARE, "2024-01-15T09:30:00.500+00:00"),
        ({}, NAIVE, "2024-01-15T10:30:00+00:00"),
        ({"datetime_format": "iso"}, AWARE, "2024-01-15T10:30:00.500000+01:00"),
        ({"datetime_format": "iso"}, NAIVE, "2024-01-15T10:30:00"),
        ({"datetime_format": "z"}, AWARE, "2024-01-15T09:30:00.500000Z"),
        ({"datetime_format": "z"}, NAIVE, "2024-01-15T10:30:00"),
        ({"datetime_format": "z", "localtime": True}, AWARE, "2024-01-15T06:30:00.500000-03:00"),
        ({"datetime_format": "iso", "localtime": True}, AWARE, "2024-01-15T06:30:00.500000-03:00"),
        ({"datetime_format": "rfc3339", "localtime": True}, AWARE,
         "2024-01-15T09:30:00.500+00:00"),
    ],
)  # fmt: skip
def test_datetime_formats(options, value, expected):
    class Out(ModelSerializer):
        added = ModelField(**options)

        class Meta:
            model = Book
            fields = ["added"]

    book = Book(added=value)
    with timezone.override(zoneinfo.ZoneInfo("America/Santiago")):
        assert Out.dump_one(book) == {"added": expected}
        assert json.loads(Out.dump_json([book])) == [{"added": expected}]


def test_z_with_localtime_in_utc_is_z():
    class Out(ModelSerializer):
        class Meta:
            model = Book
            fields = ["added"]
            datetime_format = "z"
            localtime = True

    assert Out.dump_one(Book(added=AWARE)) == {"added": "2024-01-15T09:30:00.500000Z"}


@pytest.mark.parametrize(
    ("meta", "field", "value", "expected"),
    [
        ({"decimal_format": "number"}, "price", decimal.Decimal("12.50"), 12.5),
        ({"decimal_format": "string"}, "price", decimal.Decimal("0E-8"), "0.00000000"),
        ({}, "price", decimal.Decimal("1E+2"), "100"),
        ({"uuid_format": "hex"}, "isbn", ISBN, ISBN.hex),
        ({"choices": "label"}, "status", "p", "Published"),
        ({"choices": "label"}, "status", "zz", "zz"),
        ({"choices": "label"}, "rating", 1, "Bad"),
        ({"file_format": "url"}, "cover", "covers/c.png", "/media/covers/c.png"),
        ({"file_format": "url"}, "cover", "", None),
        ({"duration_format": "iso"}, "reading_time", datetime.timedelta(days=-1, seconds=5),
         "-P0DT23H59M55S"),
        ({"duration_format": "seconds"}, "reading_time", datetime.timedelta(minutes=1.5), 90.0),
        ({}, "reading_time", datetime.timedelta(days=-1, seconds=5), "-1 00:00:05"),
        ({"datetime_format": "iso"}, "opens", datetime.time(10, 30, 0, 120000),
         "10:30:00.120000"),
    ],
)  # fmt: skip
def test_value_formats(meta, field, value, expected):
    out_class = type("Out", (ModelSerializer,), {
        "Meta": type("Meta", (), {"model": Book, "fields": [field], **meta})})  # fmt: skip
    book = Book(**{field: value})
    assert out_class.dump_one(book) == {field: expected}
    assert json.loads(out_class.dump_json([book])) == [{field: expected}]


def test_renaming_sorted_keys_and_per_field_forms():
    class Out(ModelSerializer):
        cost = ModelField(source="price", decimal_format="number")
        when = ModelField(source="added", datetime_format="iso")

        class Meta:
            model = Book
            fields = ["title", "when", "cost"]
            key_order = "sorted"

    book = Book(title="T", price=decimal.Decimal("2.50"), added=NAIVE)
    out = Out.dump_one(book)
    assert list(out) == ["cost", "title", "when"]
    assert out == {"cost": 2.5, "title": "T", "when": "2024-01-15T10:30:00"}


def test_file_fields_read_the_name_of_a_fieldfile_too():
    book = make_books(1)[0]
    loaded = Book.objects.get(pk=book.pk)
    assert loaded.cover.name == "covers/c.png"  # the descriptor made a FieldFile

    class Out(ModelSerializer):
        url = ModelField(source="cover", file_format="url")

        class Meta:
            model = Book
            fields = ["cover", "url", "manuscript"]

    assert Out.dump_one(loaded) == {"cover": "covers/c.png", "url": "/media/covers/c.png",
                                    "manuscript": None}  # fmt: skip


# --- computed fields and hooks ---------------------------------------------------------------


def test_computed_attribute_method_and_hook():
    class Out(ModelSerializer):
        label = Computed(lambda book: {"t": book.title, "when": book.added, "n": [1.5, None]})
        shout = Computed()
        upper = Attribute("writer_name")
        price = ModelField(hook=lambda value: None if value is None else str(value * 2))

        class Meta:
            model = Book
            fields = ["label", "shout", "upper", "price"]
            datetime_format = "iso"

        def get_shout(self, book):
            return book.title.upper()

    book = Book(title="t", added=NAIVE, price=decimal.Decimal("1.25"))
    book.writer_name = "Ann"
    expected = {
        "label": {"t": "t", "when": "2024-01-15T10:30:00", "n": [1.5, None]},
        "shout": "T",
        "upper": "Ann",
        "price": "2.50",
    }
    assert Out.dump_one(book) == expected
    assert json.loads(Out.dump_json([book])) == [expected]


def moves_values(book):
    vars(book)[1] = "a key that is not a str"  # the values move into a real dict
    book.title = "changed"
    return 1


def deletes_and_sets_title(book):
    del book.title
    book.title = "set again"
    return 1


@pytest.mark.parametrize("change", [moves_values, deletes_and_sets_title])
def test_instance_changed_by_a_computed_column_between_two_reads(change):
    # A column's Python code changes where a later stored field is kept: the later field is
    # read as the instance then holds it.
    class Out(ModelSerializer):
        first = Computed(change)

        class Meta:
            model = Book
            fields = ["first", "weight", "title"]

    expected_title = "changed" if change is moves_values else "set again"
    books = [Book(title="t", weight=3.0), Book(title="u", weight=4.0)]
    assert [row["title"] for row in Out.dump(books)] == [expected_title] * 2
    assert [row["title"] for row in json.loads(Out.dump_json(
        [Book(title="t", weight=3.0), Book(title="u", weight=4.0)]))] == [expected_title] * 2


def test_custom_field_without_a_form_needs_a_hook():
    with pytest.raises(PlanError, match="field 'secret' \\(OpaqueField\\)"):

        class Bad(ModelSerializer):
            class Meta:
                model = Profile
                fields = ["bio", "secret"]

    class Good(ModelSerializer):
        class Meta:
            model = Profile
            fields = ["bio", "secret"]
            hooks = {"secret": lambda value: "***"}

    assert Good.dump_one(Profile(bio="b", secret="x")) == {"bio": "b", "secret": "***"}


@pytest.mark.parametrize(
    ("meta", "declared", "message"),
    [
        ({"fields": ["nope"]}, {}, "'nope' is not a field of Book"),
        ({"fields": ["title"]}, {"x": Computed(len)}, "'x' is declared but not listed"),
        ({"fields": ["genres"]}, {"genres": GenreOut()}, "needs GenreOut\\(many=True\\)"),
        ({"fields": ["writer"]}, {"writer": GenreOut()}, "relates to Writer"),
        ({}, {}, "needs fields"),
        ({"fields": "__all__", "key_order": "random"}, {}, "key_order"),
        ({"fields": ["added"], "datetime_format": "unix"}, {}, "datetime_format must be one of"),
        ({"exclude": ["nope"]}, {}, "exclude names 'nope'"),
    ],
)  # fmt: skip
def test_class_creation_errors_name_the_field(meta, declared, message):
    with pytest.raises(PlanError, match=message):
        type("Bad", (ModelSerializer,), {**declared,
             "Meta": type("Meta", (), {"model": Book, **meta})})  # fmt: skip


# --- relations and query counts ----------------------------------------------------------------


def test_nested_relations_cost_no_query():
    make_books(3)
    queryset = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    books = list(queryset)
    with CaptureQueriesContext(connection) as queries:
        out = NestedBook.dump(books)
        data = NestedBook.dump_json(books)
    assert len(queries) == 0
    assert [len(row["genres"]) for row in out] == [0, 1, 2]
    assert out[2]["writer"] == {"id": books[0].writer_id, "name": "Ann",
                                "publisher": str(PUBLISHER_CODE)}  # fmt: skip
    assert out[2]["genres"] == [{"id": g.id, "label": g.label} for g in books[2].genres.all()]
    assert json.loads(data) == out


def test_reverse_relations_and_to_attr():
    make_books(2)
    writer = Writer.objects.get()
    Profile.objects.create(writer=writer, bio="bio")

    class ProfileOut(ModelSerializer):
        class Meta:
            model = Profile
            fields = ["bio"]

    class BookTitle(ModelSerializer):
        class Meta:
            model = Book
            fields = ["title"]

    class WriterFull(ModelSerializer):
        books = BookTitle(many=True)
        profile = ProfileOut()
        recent = BookTitle(many=True)

        class Meta:
            model = Writer
            fields = ["name", "books", "profile", "recent"]

    class WriterIds(ModelSerializer):
        class Meta:
            model = Writer
            fields = ["name", "books"]

    queryset = Writer.objects.select_related("profile").prefetch_related(
        "books", Prefetch("books", queryset=Book.objects.order_by("-id"), to_attr="recent")
    )
    writers = list(queryset)
    with CaptureQueriesContext(connection) as queries:
        out = WriterFull.dump(writers)
        ids = WriterIds.dump(Writer.objects.prefetch_related("books"))
    assert len(queries) == 2  # only WriterIds' own query and its prefetch
    assert out == [{"name": "Ann", "books": [{"title": "Book 0"}, {"title": "Book 1"}],
                    "profile": {"bio": "bio"},
                    "recent": [{"title": "Book 1"}, {"title": "Book 0"}]}]  # fmt: skip
    assert ids == [{"name": "Ann", "books": sorted(b.id for b in Book.objects.all())}]


def test_null_foreign_key_is_null_without_a_cache():
    Writer.objects.create(name="Solo")

    class PublisherOut(ModelSerializer):
        class Meta:
            model = Publisher
            fields = ["name"]

    class Out(ModelSerializer):
        publisher = PublisherOut()

        class Meta:
            model = Writer
            fields = ["name", "publisher"]

    assert Out.dump(Writer.objects.all()) == [{"name": "Solo", "publisher": None}]


@pytest.mark.parametrize(
    ("serializer", "queryset", "message"),
    [
        (NestedBook, lambda: Book.objects.prefetch_related("genres"),
         "row 0, field 'writer': the relation is not loaded: use select_related()"),
        (NestedBook, lambda: Book.objects.select_related("writer"),
         "row 0, field 'genres': the relation is not loaded: use prefetch_related()"),
        (FlatBook, lambda: Book.objects.prefetch_related("genres").defer("price"),
         "row 0, field 'price': the field was not loaded \\(a deferred field\\)"),
    ],
)  # fmt: skip
def test_unloaded_data_is_an_error_without_a_query(serializer, queryset, message):
    make_books(1)
    books = list(queryset())
    for dump in (serializer.dump, serializer.dump_json):
        with CaptureQueriesContext(connection) as queries:
            with pytest.raises(SerializationError, match=message) as caught:
                dump(books)
        assert len(queries) == 0
        assert caught.value.row == 0


def test_unloaded_data_can_be_skipped():
    class Out(ModelSerializer):
        writer = WriterOut()

        class Meta:
            model = Book
            fields = ["title", "price", "writer"]
            on_missing = "skip"

    make_books(1)
    books = list(Book.objects.only("title"))
    with CaptureQueriesContext(connection) as queries:
        assert Out.dump(books) == [{"title": "Book 0"}]
        assert json.loads(Out.dump_json(books)) == [{"title": "Book 0"}]
    assert len(queries) == 0


# --- inputs ------------------------------------------------------------------------------------


def test_every_kind_of_input_gives_the_same_rows():
    make_books(3)
    queryset = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    expected = NestedBook.dump(list(queryset))
    assert NestedBook.dump(tuple(queryset)) == expected
    assert NestedBook.dump(iter(list(queryset))) == expected
    assert NestedBook.dump(book for book in queryset) == expected
    assert NestedBook.dump(queryset) == expected  # unevaluated: iterator(chunk_size)
    page = Paginator(queryset, 2).page(2)
    assert NestedBook.dump(page) == expected[2:]
    evaluated = queryset.all()
    list(evaluated)
    with CaptureQueriesContext(connection) as queries:
        assert NestedBook.dump(evaluated) == expected  # its own result cache, no new query
    assert len(queries) == 0
    assert NestedBook.dump([]) == [] and NestedBook.dump_json([]) == b"[]"


def test_a_queryset_is_read_in_chunks():
    make_books(5)

    class Out(ModelSerializer):
        class Meta:
            model = Book
            fields = ["title"]
            chunk_size = 2

    with CaptureQueriesContext(connection) as queries:
        assert len(Out.dump(Book.objects.all())) == 5
    assert len(queries) == 1  # one server-side cursor, fetched chunk by chunk


@pytest.mark.parametrize("bad", [Book(title="x"), {"title": "x"}, "text", 5])
def test_dump_refuses_what_is_not_many_instances(bad):
    with pytest.raises(TypeError):
        FlatBook.dump(bad)


def test_an_item_of_the_wrong_type_names_its_row():
    with pytest.raises(SerializationError, match="row 1: expected a Writer instance, got dict"):
        WriterOut.dump_json([Writer(name="x"), {"name": "x"}])
    with pytest.raises(SerializationError, match="row 1: expected a Writer instance, got Book"):
        WriterOut.dump([Writer(name="x"), Book(title="x")])


# --- errors ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("values", "message"),
    [
        ({"price": 1.5}, "row 17, field 'price': expected a Decimal, got float"),
        ({"price": decimal.Decimal("NaN")}, "row 17, field 'price': Decimal NaN has no JSON form"),
        ({"weight": float("inf")}, "row 17, field 'weight': float inf has no JSON form"),
        ({"title": 5}, "row 17, field 'title': expected a str, got int"),
        ({"added": "2024-01-01"}, "row 17, field 'added': expected a datetime, got str"),
        ({"isbn": "x"}, "row 17, field 'isbn': expected a UUID, got str"),
    ],
)  # fmt: skip
def test_errors_name_row_and_field(values, message):
    class Out(ModelSerializer):
        class Meta:
            model = Book
            fields = ["title", "price", "weight", "added", "isbn"]

    good = dict(title="t", price=decimal.Decimal("1"), weight=1.0, added=ADDED, isbn=ISBN)
    books = [Book(**good) for _ in range(17)] + [Book(**dict(good, **values))]
    for dump in (Out.dump, Out.dump_json, lambda rows: b"".join(Out.stream_json(rows, 5))):
        with pytest.raises(SerializationError, match=f"^{message}$") as caught:
            dump(books)
        assert (caught.value.row, caught.value.field) == (17, message.split("'")[1])


def test_errors_inside_nested_rows_and_computed_fields():
    class Inner(ModelSerializer):
        boom = Computed(lambda genre: 1 / 0)

        class Meta:
            model = Genre
            fields = ["label", "boom"]

    class Out(ModelSerializer):
        genres = Inner(many=True)

        class Meta:
            model = Book
            fields = ["genres"]

    make_books(3)
    books = list(Book.objects.prefetch_related("genres").order_by("id"))
    with pytest.raises(SerializationError,
                       match="^row 1, field 'genres\\[0\\].boom': ZeroDivisionError: division by zero$",
                       ) as caught:  # fmt: skip
        Out.dump(books)
    assert isinstance(caught.value.__cause__, ZeroDivisionError)
    with pytest.raises(SerializationError, match="^field 'genres\\[0\\].boom'"):
        Out.dump_one(books[1])


# --- JSON bytes and the stream -------------------------------------------------------------------


@pytest.mark.parametrize("chunk_size", [1, 2, 3, 4, 100])
@pytest.mark.parametrize("count", [0, 1, 3])
def test_stream_json_concatenates_to_dump_json(chunk_size, count):
    make_books(count)
    queryset = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    whole = NestedBook.dump_json(queryset)
    chunks = list(NestedBook.stream_json(queryset, chunk_size=chunk_size))
    assert b"".join(chunks) == whole
    assert json.loads(whole) == NestedBook.dump(queryset)
    assert len(chunks) == max(1, -(-count // chunk_size) + (count % chunk_size == 0 and count > 0))


def test_json_escapes_text_like_json():
    text = 'quote " backslash \\ newline \n tab \t bell \x07 é 😀 \u2028'
    book = Book(title=text, meta={"k\"ey": [text, 1e21, -0.0, 0.1, 2**70]})

    class Out(ModelSerializer):
        class Meta:
            model = Book
            fields = ["title", "meta"]

    data = Out.dump_json([book])
    assert json.loads(data) == [{"title": text, "meta": {"k\"ey": [text, 1e21, -0.0, 0.1, 2**70]}}]
    assert isinstance(json.loads(data)[0]["meta"]["k\"ey"][2], float)


# --- DRF ---------------------------------------------------------------------------------------


def test_output_equals_drf_model_serializer_under_its_formats():
    from rest_framework import serializers
    from rest_framework.renderers import JSONRenderer

    class DrfGenre(serializers.ModelSerializer):
        class Meta:
            model = Genre
            fields = "__all__"

    class DrfBook(serializers.ModelSerializer):
        genre_list = DrfGenre(source="genres", many=True)

        class Meta:
            model = Book
            fields = "__all__"

    class GenreAll(ModelSerializer):
        class Meta:
            model = Genre
            fields = "__all__"

    class SorvelBook(ModelSerializer):
        genre_list = GenreAll(source="genres", many=True)

        class Meta:
            model = Book
            fields = "__all__"
            preset = "drf"

    make_books(3)
    Book.objects.filter(title="Book 1").update(rating=None, thumb=None, color=None, opens=None)
    queryset = Book.objects.prefetch_related("genres").order_by("id")
    for zone in ("UTC", "Europe/Paris"):
        with timezone.override(zoneinfo.ZoneInfo(zone)):
            drf = json.loads(JSONRenderer().render(DrfBook(queryset, many=True).data))
            ours = json.loads(SorvelBook.dump_json(queryset))
            assert ours == drf
            assert [list(row) for row in ours] == [list(row) for row in drf]
            assert SorvelBook.dump(queryset) == drf
