"""sorvel.django.ModelSerializer against sorvel_django.serialize_batch, orjson and msgspec.

Run with `make bench`. One process, contenders interleaved, each timed as the best (and median)
of several runs over the same 10,000 instances of a ten-field model; then the peak memory of
stream_json over a QuerySet of 10**6 rows, in a child process. Nothing is asserted.
"""

import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from sorvel_bench.setup import items, start  # noqa: E402

start()

import msgspec  # noqa: E402
import orjson  # noqa: E402
import sorvel_django  # noqa: E402
from sorvel_bench.models import Item  # noqa: E402

from sorvel.django import ModelSerializer  # noqa: E402

SCHEMA = sorvel_django.ModelSchema(Item)


class ItemOut(ModelSerializer):
    class Meta:
        model = Item
        fields = SCHEMA.field_names_list  # the same nine fields serialize_batch writes


class ItemStruct(msgspec.Struct):
    title: str
    body: str
    count: int
    score: float
    active: bool
    price: object
    created: object
    day: object
    ref: object


def timings(contenders, runs):
    results = {name: [] for name in contenders}
    for _ in range(runs):
        for name, function in contenders.items():
            start_time = time.perf_counter()
            function()
            results[name].append(time.perf_counter() - start_time)
    return {name: (min(times), statistics.median(times)) for name, times in results.items()}


def table(title, results, base, count):
    print(f"\n### {title} ({count:,} instances)\n")
    print("| contender | best µs/object | median µs/object | vs " + base + " |")
    print("| --- | ---: | ---: | ---: |")
    base_time = results[base][0]
    for name, (best, median) in results.items():
        print(f"| {name} | {best / count * 1e6:.3f} | {median / count * 1e6:.3f} | "
              f"{best / base_time:.2f}× |")  # fmt: skip


def stream_memory(rows):
    """Peak RSS above the baseline while stream_json walks a QuerySet of `rows` rows."""
    with tempfile.TemporaryDirectory() as directory:
        database = os.path.join(directory, "items.sqlite3")
        code = f"""
import resource, sys
sys.path.insert(0, {str(pathlib.Path(__file__).resolve().parent)!r})
from sorvel_bench.setup import item_values, start
start({database!r})
from django.core.management import call_command
from django.db import connection
from sorvel_bench.models import Item
if sys.argv[1] == "fill":
    call_command("migrate", run_syncdb=True, verbosity=0)
    batch = []
    for i in range({rows}):
        batch.append(Item(**item_values(i)))
        if len(batch) == 20000:
            Item.objects.bulk_create(batch)
            batch = []
    Item.objects.bulk_create(batch)
else:
    from sorvel.django import ModelSerializer
    class ItemOut(ModelSerializer):
        class Meta:
            model = Item
            fields = "__all__"
    list(Item.objects.all()[:10])
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    total = count = 0
    for chunk in ItemOut.stream_json(Item.objects.all(), chunk_size=2000):
        total += len(chunk)
        count += 1
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(before, after, total, count)
"""
        subprocess.run([sys.executable, "-c", code, "fill"], check=True)
        out = subprocess.run([sys.executable, "-c", code, "stream"], check=True,
                             capture_output=True, text=True).stdout.split()  # fmt: skip
        before, after, total, count = map(int, out)
        print(f"\n### stream_json over a QuerySet of {rows:,} rows\n")
        print(f"{total / 1e6:.1f} MB of JSON in {count} chunks; peak RSS {before / 1024:.1f} MB "
              f"before, {after / 1024:.1f} MB after: {(after - before) / 1024:.1f} MB above the "
              "baseline")  # fmt: skip


def main():
    count = 10_000
    instances = items(count)
    structs = [ItemStruct(**{name: getattr(item, name) for name in SCHEMA.field_names_list})
               for item in instances]  # fmt: skip
    assert ItemOut.dump(instances[:50]) == [
        dict(sorted(row.items())) for row in sorvel_django.serialize_batch(instances[:50], SCHEMA)
    ]
    runs = int(os.environ.get("SORVEL_BENCH_RUNS", "9"))
    dicts = timings({
        "sorvel_django.serialize_batch": lambda: sorvel_django.serialize_batch(instances, SCHEMA),
        "ItemOut.dump": lambda: ItemOut.dump(instances),
    }, runs)  # fmt: skip
    table("instances → dicts", dicts, "sorvel_django.serialize_batch", count)
    json_bytes = timings({
        "orjson.dumps(serialize_batch(...))":
            lambda: orjson.dumps(sorvel_django.serialize_batch(instances, SCHEMA)),
        "msgspec.json.encode(structs)": lambda: msgspec.json.encode(structs),
        "ItemOut.dump_json": lambda: ItemOut.dump_json(instances),
        "b''.join(ItemOut.stream_json)": lambda: b"".join(ItemOut.stream_json(instances)),
    }, runs)  # fmt: skip
    table("instances → JSON bytes", json_bytes, "orjson.dumps(serialize_batch(...))", count)
    stream_memory(int(os.environ.get("SORVEL_BENCH_STREAM_ROWS", "1000000")))


if __name__ == "__main__":
    main()
