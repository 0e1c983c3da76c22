"""One road of the stream memory case, in its own process: `stream_memory.py ROAD ROWS DB`.

Fills the SQLite file DB with ROWS articles if it has fewer, then writes them all as JSON by
ROAD (stream, dump_json or orjson) and prints the peak resident memory above the baseline, in
bytes, and the number of bytes written."""

import sys

import django_setup


def status(field: str) -> int:
    with open("/proc/self/status") as info:
        for line in info:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def fill(rows: int) -> None:
    import random

    from django.db import connection, transaction

    from benchapp.models import Article

    have = Article.objects.count()
    if have >= rows:
        return
    rng = random.Random(1)
    columns = ["title", "body", "views", "rating", "published", "price", "created", "day", "ref"]
    table = Article._meta.db_table
    sql = (f"INSERT INTO {table} ({', '.join(columns)}) "
           f"VALUES ({', '.join(['%s'] * len(columns))})")
    fields = [Article._meta.get_field(c) for c in columns]
    with transaction.atomic(), connection.cursor() as cursor:
        for start in range(have, rows, 10_000):
            batch = []
            for i in range(start, min(rows, start + 10_000)):
                a = django_setup.article(i, rng)
                batch.append([f.get_db_prep_save(getattr(a, f.attname), connection)
                              for f in fields])
            cursor.executemany(sql, batch)


def main() -> None:
    road, rows, database = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    django_setup.setup(database)
    fill(rows)
    import sorvel_django

    from benchapp.models import Article
    from cases_sorvel import article_serializer

    out = article_serializer("stream_json", "dump_json")
    queryset = Article.objects.order_by("id")[:rows]
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # resets the high-water mark to the current resident size
    baseline = status("VmRSS")
    written = 0
    if road == "stream":
        for chunk in out.stream_json(queryset):
            written += len(chunk)
    elif road == "dump_json":
        written = len(out.dump_json(list(queryset)))
    elif road == "orjson":
        import orjson

        schema = sorvel_django.ModelSchema(Article)
        written = len(orjson.dumps(sorvel_django.serialize_batch(list(queryset), schema)))
    else:
        raise SystemExit(f"unknown road {road}")
    print(status("VmHWM") - baseline, written)


if __name__ == "__main__":
    main()
