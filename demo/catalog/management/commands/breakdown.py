import json
import time

from django.core.management.base import BaseCommand
from rest_framework.renderers import JSONRenderer

import sorvel_django
from catalog.models import Article
from catalog.serializers import (
    ARTICLE_SCHEMA,
    FIELDS,
    ArticleOut,
    ArticleSerializer,
    ArticleSorvelSerializer,
)


def best(work, rounds):
    """The fastest of `rounds` runs, in milliseconds: the least disturbed by other load."""
    times = []
    for _ in range(rounds):
        began = time.perf_counter()
        work()
        times.append(time.perf_counter() - began)
    return min(times) * 1e3


class Command(BaseCommand):
    help = "Where a list request's time goes, in this process: the query, then each serializer."

    def add_arguments(self, parser):
        parser.add_argument("--limit", type=int, default=1000)
        parser.add_argument("--rounds", type=int, default=15)

    def handle(self, *args, limit, rounds, **options):
        queryset = Article.objects.all()[:limit]
        instances = list(queryset)
        rows = list(queryset.values_list(*ARTICLE_SCHEMA.field_names_list))
        dicts = ArticleOut.dump(instances)
        renderer = JSONRenderer()
        steps = [
            ("query + model instances", lambda: list(queryset.all())),
            ("query, values_list() rows", lambda: list(queryset.values_list(*FIELDS))),
            ("DRF ModelSerializer(...).data", lambda: ArticleSerializer(instances, many=True).data),
            (
                "sorvel.drf ModelSerializer(...).data",
                lambda: ArticleSorvelSerializer(instances, many=True).data,
            ),
            ("DRF JSONRenderer of those dicts", lambda: renderer.render(dicts)),
            ("sorvel ArticleOut.dump", lambda: ArticleOut.dump(instances)),
            ("sorvel ArticleOut.dump_json", lambda: ArticleOut.dump_json(instances)),
            (
                "sorvel_django.serialize_batch",
                lambda: sorvel_django.serialize_batch(instances, ARTICLE_SCHEMA),
            ),
            (
                "sorvel_django.serialize_values_list",
                lambda: sorvel_django.serialize_values_list(rows, ARTICLE_SCHEMA),
            ),
            ("json.dumps of those dicts", lambda: json.dumps(dicts, separators=(",", ":"))),
        ]
        self.stdout.write(f"{'step, ' + str(len(instances)) + ' rows':40} {'best ms':>8}")
        for name, work in steps:
            self.stdout.write(f"{name:40} {best(work, rounds):>8.2f}")
