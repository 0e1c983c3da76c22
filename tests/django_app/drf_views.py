"""DRF views for the sorvel.drf tests: each endpoint twice, with DRF's ModelSerializer and with
sorvel.drf's, under the same URL after /drf/ or /sorvel/."""

from django.urls import path
from rest_framework import generics, pagination, serializers
from rest_framework.urlpatterns import format_suffix_patterns

from django_app.models import Book, Genre, Writer
from sorvel import drf


def pair(name, model, fields, **declared):
    """The same declaration on both bases: {"drf": class, "sorvel": class}."""
    made = {}
    for label, base in (("drf", serializers.ModelSerializer), ("sorvel", drf.ModelSerializer)):
        fields_of = {
            key: value(label) if callable(value) and not isinstance(value, type) else value
            for key, value in declared.items()
        }
        meta = type("Meta", (), {"model": model, "fields": fields})
        made[label] = type(f"{name}{label.title()}", (base,), {**fields_of, "Meta": meta})
    return made


GENRE = pair("Genre", Genre, "__all__")
WRITER = pair("Writer", Writer, ["id", "name", "publisher"])
FLAT = pair("FlatBook", Book, "__all__")
NESTED = pair(
    "NestedBook",
    Book,
    ["id", "title", "price", "added", "writer", "genres", "cover"],
    writer=lambda label: WRITER[label](),
    genres=lambda label: GENRE[label](many=True),
)


def _label(self, book):
    return f"{book.title} at {self.context['request'].path}"


LABELLED = {}
for label, base in (("drf", serializers.ModelSerializer), ("sorvel", drf.ModelSerializer)):
    LABELLED[label] = type(
        f"LabelledBook{label.title()}",
        (base,),
        {
            "label": serializers.SerializerMethodField(),
            "get_label": _label,
            "Meta": type("Meta", (), {"model": Book, "fields": ["id", "title", "label"]}),
        },
    )


class Pages(pagination.PageNumberPagination):
    page_size = 2


def views(label):
    plain = Book.objects.prefetch_related("genres").order_by("id")
    unloaded = Book.objects.order_by("id")
    loaded = Book.objects.select_related("writer").prefetch_related("genres").order_by("id")
    return [
        ("books/", generics.ListAPIView, {"queryset": plain, "serializer_class": FLAT[label]}),
        (
            "books/paged/",
            generics.ListAPIView,
            {"queryset": plain, "serializer_class": FLAT[label], "pagination_class": Pages},
        ),
        (
            "books/nested/",
            generics.ListAPIView,
            {"queryset": loaded, "serializer_class": NESTED[label]},
        ),
        (
            "books/nested/<int:pk>/",
            generics.RetrieveAPIView,
            {"queryset": loaded, "serializer_class": NESTED[label]},
        ),
        (
            "books/unloaded/",
            generics.ListAPIView,
            {"queryset": unloaded, "serializer_class": NESTED[label]},
        ),
        (
            "books/labelled/",
            generics.ListAPIView,
            {"queryset": plain, "serializer_class": LABELLED[label]},
        ),
    ]


urlpatterns = format_suffix_patterns(
    [
        path(f"{label}/{route}", view.as_view(**options))
        for label in ("drf", "sorvel")
        for route, view, options in views(label)
    ]
)
