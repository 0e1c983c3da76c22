"""The list endpoints the demo serves and measures, each the same rows through another road."""

import dataclasses
import json

from django.http import HttpResponse, JsonResponse, StreamingHttpResponse
from rest_framework.generics import ListAPIView

import sorvel_django

from .models import Article
from .serializers import (
    ARTICLE_SCHEMA,
    FIELDS,
    ArticleOut,
    ArticleSerializer,
    ArticleSorvelSerializer,
)

DEFAULT_LIMIT = 1000


def articles(request):
    """The rows every endpoint serves: the first `?limit=` articles (1000 by default)."""
    try:
        limit = max(0, int(request.GET.get("limit", DEFAULT_LIMIT)))
    except ValueError:
        limit = DEFAULT_LIMIT
    return Article.objects.all()[:limit]


@dataclasses.dataclass(frozen=True)
class Endpoint:
    slug: str
    name: str
    how: str
    view: object


class DRFArticleList(ListAPIView):
    serializer_class = ArticleSerializer

    def get_queryset(self):
        return articles(self.request)


class SorvelDRFArticleList(DRFArticleList):
    serializer_class = ArticleSorvelSerializer


def sorvel_dump_json(request):
    return HttpResponse(ArticleOut.dump_json(articles(request)), content_type="application/json")


def sorvel_stream_json(request):
    return StreamingHttpResponse(
        ArticleOut.stream_json(articles(request), chunk_size=250), content_type="application/json"
    )


def django_values(request):
    # Django alone: values() rows through JsonResponse's encoder (DjangoJSONEncoder).
    return JsonResponse(list(articles(request).values(*FIELDS)), safe=False)


def sorvel_django_batch(request):
    rows = sorvel_django.serialize_batch(list(articles(request)), ARTICLE_SCHEMA)
    return HttpResponse(
        json.dumps(rows, ensure_ascii=False, separators=(",", ":")), content_type="application/json"
    )


def sorvel_django_values_list(request):
    rows = list(articles(request).values_list(*ARTICLE_SCHEMA.field_names_list))
    payload = json.dumps(
        sorvel_django.serialize_values_list(rows, ARTICLE_SCHEMA),
        ensure_ascii=False,
        separators=(",", ":"),
    )
    return HttpResponse(payload, content_type="application/json")


ENDPOINTS = [
    Endpoint(
        "drf",
        "DRF ModelSerializer",
        "ListAPIView + rest_framework ModelSerializer",
        DRFArticleList.as_view(),
    ),
    Endpoint(
        "drf-sorvel",
        "DRF + sorvel.drf.ModelSerializer",
        "the same ListAPIView, serializer from sorvel.drf",
        SorvelDRFArticleList.as_view(),
    ),
    Endpoint(
        "sorvel",
        "sorvel ModelSerializer.dump_json",
        "instances -> JSON bytes in one native call",
        sorvel_dump_json,
    ),
    Endpoint(
        "sorvel-stream",
        "sorvel ModelSerializer.stream_json",
        "StreamingHttpResponse of JSON chunks (250 rows)",
        sorvel_stream_json,
    ),
    Endpoint(
        "sorvel-django-batch",
        "sorvel_django.serialize_batch",
        "instances -> serialize_batch -> json.dumps",
        sorvel_django_batch,
    ),
    Endpoint(
        "sorvel-django-values",
        "sorvel_django.serialize_values_list",
        "values_list() rows -> serialize_values_list -> json.dumps",
        sorvel_django_values_list,
    ),
    Endpoint("django", "Django values()", "QuerySet.values() + JsonResponse", django_values),
]
