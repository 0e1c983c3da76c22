"""Typed use of sorvel.django, checked by mypy --strict in test_sorvel_typing.py (never run)."""

from collections.abc import Iterator
from typing import Any

from django.db import models
from django.http import StreamingHttpResponse

import sorvel
from sorvel.django import Computed, ModelField, ModelSerializer, SerializationError


# Django ships no types of its own, so its base classes are Any to mypy.
class Article(models.Model):  # type: ignore[misc]
    title = models.CharField(max_length=100)
    price = models.DecimalField(max_digits=8, decimal_places=2)

    class Meta:
        app_label = "example"


def label(article: Article) -> str:
    return str(article.title).upper()


class ArticleOut(ModelSerializer):
    cost = ModelField(source="price", decimal_format="number")
    shout = Computed(label)

    class Meta:
        model = Article
        fields = ["id", "title", "cost", "shout"]


def rows(articles: list[Article]) -> list[dict[str, Any]]:
    return ArticleOut.dump(articles)


def one(article: Article) -> dict[str, Any]:
    return ArticleOut.dump_one(article)


def body(articles: list[Article]) -> bytes:
    try:
        return ArticleOut.dump_json(articles)
    except SerializationError as error:
        row: int | None = error.row
        field: str | None = error.field
        raise RuntimeError(f"{row} {field}") from error


def stream(articles: list[Article]) -> StreamingHttpResponse:
    chunks: Iterator[bytes] = ArticleOut.stream_json(articles, chunk_size=500)
    return StreamingHttpResponse(chunks, content_type="application/json")


VERSION: str = sorvel.__version__
KEYS: list[str] = ArticleOut.keys()
