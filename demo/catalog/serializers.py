"""The same list of articles, described for each serializer the demo compares."""

import sorvel_django
from rest_framework import serializers
from sorvel import drf
from sorvel.django import ModelSerializer

from .models import Article

FIELDS = [
    "id",
    "title",
    "slug",
    "price",
    "stock",
    "rating",
    "available",
    "published",
    "released",
    "tags",
]


class ArticleSerializer(serializers.ModelSerializer):
    """Django REST framework's own serializer: the baseline."""

    class Meta:
        model = Article
        fields = FIELDS


# sorvel_django's schema of the model, compiled once at start-up.
ARTICLE_SCHEMA = sorvel_django.ModelSchema(Article)


class ArticleOut(ModelSerializer):
    """sorvel's own serializer of the same fields, compiled once per class."""

    class Meta:
        model = Article
        fields = FIELDS


class ArticleSorvelSerializer(drf.ModelSerializer):
    """The DRF serializer above with one import changed: sorvel.drf writes its data."""

    class Meta:
        model = Article
        fields = FIELDS
