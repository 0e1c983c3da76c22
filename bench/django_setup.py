"""A real Django project for the benchmark: settings, an in-memory SQLite database with the
benchmark app's tables, and rows loaded through the ORM as an application would load them."""

from __future__ import annotations

import datetime
import decimal
import os
import random
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
_ready = False


def setup(database: str = ":memory:") -> None:
    """Configures Django once per process, on an SQLite database (in memory by default)."""
    global _ready
    if _ready:
        return
    if HERE not in sys.path:
        sys.path.insert(0, HERE)
    import django
    from django.conf import settings

    apps = ["django.contrib.contenttypes", "django.contrib.auth", "benchapp"]
    if _has("rest_framework"):
        apps.append("rest_framework")
    settings.configure(
        SECRET_KEY="sorvel-bench",
        USE_TZ=True,
        TIME_ZONE="UTC",
        INSTALLED_APPS=apps,
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": database}},
        DEFAULT_AUTO_FIELD="django.db.models.AutoField",
    )
    django.setup()
    from django.db import connection

    from benchapp.models import Article, Document

    existing = connection.introspection.table_names()
    with connection.schema_editor() as editor:
        for model in (Article, Document):
            if model._meta.db_table not in existing:
                editor.create_model(model)
    _ready = True


def _has(module: str) -> bool:
    import importlib.util

    return importlib.util.find_spec(module) is not None


_stored = {"articles": 0, "documents": 0}


def article(i: int, rng: random.Random):
    from benchapp.models import Article

    return Article(
        title=f"Article number {i}",
        body="Lorem ipsum dolor sit amet, consectetur adipiscing elit. " * (1 + i % 3),
        views=rng.randrange(1_000_000),
        rating=round(rng.uniform(0, 5), 3),
        published=i % 3 != 0,
        price=decimal.Decimal(rng.randrange(10**7)).scaleb(-2),
        created=datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
        + datetime.timedelta(seconds=rng.randrange(10**8), microseconds=rng.randrange(10**6)),
        day=datetime.date(2020, 1, 1) + datetime.timedelta(days=rng.randrange(2000)),
        ref=uuid.UUID(int=rng.getrandbits(128), version=4),
    )


def json_payload(i: int, rng: random.Random) -> tuple[dict, dict]:
    meta = {"source": "import", "version": i % 7, "tags": ["a", "b", f"t{i % 13}"],
            "score": rng.random(), "active": i % 2 == 0, "owner": None}
    data = {"items": [{"sku": f"SKU-{i}-{k}", "qty": k, "price": 9.99 + k} for k in range(3)],
            "address": {"city": "Zürich", "zip": "8001", "lines": ["Bahnhofstrasse 1"]},
            "notes": "ok"}
    return meta, data


def ensure_rows(kind: str, n: int) -> None:
    """Stores at least n rows of the kind (articles or documents)."""
    from benchapp.models import Article, Document

    have = _stored[kind]
    if have >= n:
        return
    rng = random.Random(have)
    if kind == "articles":
        Article.objects.bulk_create([article(i, rng) for i in range(have, n)], batch_size=5000)
    else:
        rows = []
        for i in range(have, n):
            meta, data = json_payload(i, rng)
            rows.append(Document(meta=meta, data=data))
        Document.objects.bulk_create(rows, batch_size=5000)
    _stored[kind] = n


def articles(n: int) -> list:
    """n Article instances freshly loaded from the database."""
    from benchapp.models import Article

    ensure_rows("articles", n)
    return list(Article.objects.order_by("id")[:n])


def documents(n: int) -> list:
    from benchapp.models import Document

    ensure_rows("documents", n)
    return list(Document.objects.order_by("id")[:n])
