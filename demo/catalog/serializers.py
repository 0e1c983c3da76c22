"""The same list of articles, described for each serializer the demo compares."""

from rest_framework import serializers

import sorvel_django

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

try:
    from sorvel.django import ModelSerializer
except ImportError:  # a build of sorvel without the Django serializers
    ModelSerializer = None

if ModelSerializer is not None:

    class ArticleOut(ModelSerializer):
        """sorvel's serializer of the same fields, compiled once per class."""

        class Meta:
            model = Article
            fields = FIELDS

else:
    ArticleOut = None
