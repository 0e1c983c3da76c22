"""sorvel.drf against DRF itself: the same endpoints with DRF's ModelSerializer and with
sorvel.drf's, requested through DRF's APIClient, must answer with the same bytes."""

import datetime
import decimal
import json
import uuid

import pytest

pytest.importorskip("rest_framework")

from django_app.environment import start_django  # noqa: E402

start_django()

from django.db import connection  # noqa: E402
from django.test import override_settings  # noqa: E402
from django.test.utils import CaptureQueriesContext  # noqa: E402
from rest_framework import serializers  # noqa: E402
from rest_framework.renderers import JSONRenderer  # noqa: E402
from rest_framework.test import APIClient  # noqa: E402

from django_app.database import rollback  # noqa: E402, F401
from django_app.drf_views import FLAT, NESTED  # noqa: E402
from django_app.models import Book, Genre, Publisher, Writer  # noqa: E402
from sorvel import drf  # noqa: E402
from sorvel.django import PlanError, SerializationError  # noqa: E402

pytestmark = pytest.mark.usefixtures("rollback", "urls")

ADDED = datetime.datetime(2024, 1, 15, 10, 30, 0, 500000, tzinfo=datetime.UTC)


@pytest.fixture
def urls():
    with override_settings(
        ROOT_URLCONF="django_app.drf_views", ALLOWED_HOSTS=["testserver"], MEDIA_URL="/media/"
    ):
        yield


@pytest.fixture
def books():
    publisher = Publisher.objects.create(code=uuid.uuid4(), name="Pub")
    writer = Writer.objects.create(name="Ann", publisher=publisher)
    genres = [Genre.objects.create(label=label) for label in ("sf", "crime")]
    made = []
    for i in range(5):
        book = Book.objects.create(
            title=f"Book {i} «ü»",
            price=decimal.Decimal("12.50") + i,
            weight=None if i == 1 else 0.25,
            added=ADDED + datetime.timedelta(days=i),
            reading_time=datetime.timedelta(hours=i),
            meta={"i": i, "nested": [None, "x"]},
            cover="" if i == 2 else f"covers/{i}.png",
            thumb=b"abc",
            writer=writer,
        )
        book.genres.set(genres[: i % 3])
        made.append(book)
    return made


def both(path, **headers):
    client = APIClient()
    answers = [client.get(f"/{label}/{path}", **headers) for label in ("drf", "sorvel")]
    for answer in answers:
        assert answer.status_code == 200, answer.content
    # Links to the next page and paths in the data name the endpoint's own URL.
    answers[1].content = answers[1].content.replace(b"/sorvel/", b"/drf/")
    return answers


ROUTES = ["books/", "books/paged/", "books/paged/?page=3", "books/nested/", "books/labelled/"]


@pytest.mark.parametrize("route", ROUTES)
@pytest.mark.parametrize(
    "headers",
    [{}, {"HTTP_ACCEPT": "application/json; indent=2"}, {"HTTP_ACCEPT": "application/json"}],
    ids=["default", "indented", "json"],
)
def test_the_same_bytes_as_drf(books, route, headers):
    ours, theirs = both(route, **headers)[::-1]
    assert ours.content == theirs.content
    assert ours["Content-Type"] == theirs["Content-Type"]


def test_retrieve_and_format_suffix(books):
    pk = books[1].pk
    for route in (f"books/nested/{pk}/", f"books/nested/{pk}.json"):
        theirs, ours = both(route)
        assert ours.content == theirs.content
    assert json.loads(ours.content)["genres"] == [{"id": books[1].genres.get().pk, "label": "sf"}]


def test_files_are_absolute_urls_with_the_request(books):
    theirs, ours = both("books/nested/")
    covers = [row["cover"] for row in json.loads(ours.content)]
    assert covers[0] == "http://testserver/media/covers/0.png"
    assert covers[2] is None
    assert ours.content == theirs.content


def test_the_method_field_sees_the_request(books):
    ours = APIClient().get("/sorvel/books/labelled/")
    assert json.loads(ours.content)[0]["label"] == "Book 0 «ü» at /sorvel/books/labelled/"


@pytest.mark.parametrize("route, expected", [("books/", 2), ("books/nested/", 2)])
def test_the_queries_of_the_queryset_and_no_more(books, route, expected):
    for label in ("drf", "sorvel"):
        with CaptureQueriesContext(connection) as queries:
            APIClient().get(f"/{label}/{route}")
        assert len(queries) == expected, (label, [q["sql"] for q in queries])


def test_an_unloaded_relation_is_an_error_where_drf_queries_per_row(books):
    with CaptureQueriesContext(connection) as queries:
        APIClient().get("/drf/books/unloaded/")
    assert len(queries) > len(books)
    with CaptureQueriesContext(connection) as queries:
        with pytest.raises(SerializationError, match="row 0, field 'writer'"):
            APIClient().get("/sorvel/books/unloaded/")
    assert len(queries) == 1


def rendered(data):
    return JSONRenderer().render(data)


def test_outside_a_view_data_is_drf_shaped(books):
    queryset = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    many = NESTED["sorvel"](queryset, many=True)
    assert isinstance(many, drf.ListSerializer)
    # DRF leaves a related UUID primary key a UUID in .data, sorvel makes it its text: the
    # rendered documents are the same.
    assert rendered(many.data) == rendered(NESTED["drf"](queryset, many=True).data)
    assert many.data[0]["writer"]["publisher"] == str(books[0].writer.publisher_id)
    assert many.data.serializer is many
    one = NESTED["sorvel"](queryset[0])
    assert rendered(one.data) == rendered(NESTED["drf"](queryset[0]).data)
    assert one.data.serializer is one
    assert NESTED["sorvel"](books[0].genres, many=True).child is not None


def test_related_managers_are_accepted_like_drf(books):
    genres = Book.objects.prefetch_related("genres").get(pk=books[2].pk).genres
    from django_app.drf_views import GENRE

    assert GENRE["sorvel"](genres, many=True).data == GENRE["drf"](genres, many=True).data


def test_writes_are_refused():
    serializer = FLAT["sorvel"](data={"title": "x"})
    with pytest.raises(NotImplementedError, match="only read"):
        serializer.is_valid()


def test_write_only_fields_are_left_out(books):
    class Out(drf.ModelSerializer):
        class Meta:
            model = Book
            fields = ["id", "title", "price"]
            extra_kwargs = {"price": {"write_only": True}}

    assert list(Out(books[0]).data) == ["id", "title"]


@pytest.mark.parametrize(
    "declared, meta, message",
    [
        ({"title": serializers.CharField()}, {}, "field 'title' is a CharField"),
        ({}, {"depth": 1}, "Meta.depth is not supported"),
        ({"x": serializers.SerializerMethodField()}, {}, r"needs a method get_x\(\)"),
        ({}, {"serializer": dict}, "Meta.serializer must be"),
    ],
)
def test_declarations_it_cannot_write_are_errors_at_class_creation(declared, meta, message):
    with pytest.raises(PlanError, match=message):
        type(
            "Bad",
            (drf.ModelSerializer,),
            {**declared, "Meta": type("Meta", (), {"model": Book, "fields": ["id"], **meta})},
        )


def test_nested_inside_a_drf_serializer(books):
    from django_app.drf_views import GENRE, WRITER

    queryset = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    documents = []
    for label in ("drf", "sorvel"):
        declared = {"writer": WRITER[label](), "genres": GENRE[label](many=True)}
        meta = type("Meta", (), {"model": Book, "fields": ["id", "writer", "genres"]})
        mixed = type("Mixed", (serializers.ModelSerializer,), {**declared, "Meta": meta})
        documents.append(rendered(mixed(queryset, many=True).data))
    assert documents[0] == documents[1]
    assert b'"genres":[{"id":' in documents[1]
