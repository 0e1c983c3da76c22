"""A self-contained demo: a Django model in an in-memory SQLite database, served by sorvel.

Run it where sorvel and Django are installed (for example `.venv/bin/python examples/django_demo.py`
after `make test`). It prints the same articles serialized three ways, a validation report, and the
timing of sorvel against Django's own `model_to_dict` on a few thousand rows.
"""

import datetime
import decimal
import json
import time
import uuid

import django
from django.conf import settings

settings.configure(
    INSTALLED_APPS=["django.contrib.contenttypes"],
    DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
    USE_TZ=True,
)
django.setup()

from django.db import connection, models  # noqa: E402
from django.forms.models import model_to_dict  # noqa: E402

import sorvel_django  # noqa: E402


class Article(models.Model):
    title = models.CharField(max_length=120)
    slug = models.SlugField()
    price = models.DecimalField(max_digits=8, decimal_places=2)
    published = models.DateTimeField()
    ref = models.UUIDField(default=uuid.uuid4)
    tags = models.JSONField(default=list)

    class Meta:
        app_label = "demo"


with connection.schema_editor() as editor:
    editor.create_model(Article)

ARTICLE = sorvel_django.ModelSchema(Article)  # compiled once, at start-up


def main():
    start = datetime.datetime(2024, 1, 15, 10, 30, tzinfo=datetime.timezone.utc)
    Article.objects.bulk_create(
        Article(
            title=f"Article {i}",
            slug=f"article-{i}",
            price=decimal.Decimal(i) / 4,
            published=start + datetime.timedelta(hours=i),
            tags=["news", i % 3],
        )
        for i in range(5000)
    )
    print(ARTICLE)

    first = Article.objects.order_by("id").first()
    print(json.dumps(sorvel_django.serialize_instance(first, ARTICLE), indent=2))
    print(sorvel_django.validate_instance(Article(title="x" * 130, slug="s"), ARTICLE))

    articles = list(Article.objects.all())
    rows = list(Article.objects.values_list(*ARTICLE.field_names_list))
    assert sorvel_django.serialize_batch(articles, ARTICLE) == sorvel_django.serialize_values_list(
        rows, ARTICLE
    )

    for label, work in [
        ("sorvel serialize_batch", lambda: sorvel_django.serialize_batch(articles, ARTICLE)),
        ("sorvel serialize_values_list", lambda: sorvel_django.serialize_values_list(rows, ARTICLE)),
        ("django model_to_dict", lambda: [model_to_dict(a) for a in articles]),
    ]:
        began = time.perf_counter()
        work()
        print(f"{label:30} {(time.perf_counter() - began) * 1e3:7.1f} ms for {len(articles)} rows")


if __name__ == "__main__":
    main()
