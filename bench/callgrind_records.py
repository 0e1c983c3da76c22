"""Instructions per object of the record paths, counted by callgrind (stable on a noisy machine).

    python bench/callgrind_records.py [--n 1000] [case ...]

runs each case in its own `valgrind --tool=callgrind` process and prints a markdown table.
Only the measured statement is counted: it runs through sys.call_tracing(), which nothing else
calls, and callgrind collects only within the interpreter's sys_call_tracing. Before it, the same statement runs once on other
objects, so first-use caches are warm while the measured objects are freshly loaded.

The model is the ten-field one of the benchmarks (AutoField, CharField, TextField,
IntegerField, FloatField, BooleanField, DecimalField(12, 2), DateTimeField, DateField,
UUIDField); ModelSchema serializes the nine that are not the AutoField, and every contender
(the floor, the _native schema, msgspec) produces those same nine keys. Rows loaded from an in-memory SQLite database with USE_TZ. msgspec rows appear when
msgspec is installed. Not a test.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

CASES = {
    # name: (setup, statement); the statement is counted, per object.
    "floor": ("floor", "[{'active': t[0], 'created': t[1], 'day': t[2], 'description': t[3], "
              "'name': t[4], 'price': t[5], 'quantity': t[6], 'rating': t[7], "
              "'ref': t[8]} for t in tuples]"),
    "hand-written": ("django", "[hand(o) for o in objs]"),
    "msgspec convert+to_builtins": ("msgspec", "to_builtins(convert(objs, list[Row], "
                                    "from_attributes=True))"),
    "serialize_batch": ("django", "sd.serialize_batch(objs, mschema)"),
    "serialize_instance (loop)": ("django", "[sd.serialize_instance(o, mschema) for o in objs]"),
    "serialize_values_list": ("rows", "sd.serialize_values_list(rows, mschema)"),
    "serialize_many (objects)": ("plain", "n.serialize_many(plain, nschema)"),
    "serialize (loop)": ("plain", "[n.serialize(o, nschema) for o in plain]"),
    "serialize_many (dicts)": ("dicts", "n.serialize_many(dicts, nschema)"),
    "validate_many (dicts)": ("dicts", "n.validate_many(dicts, nschema)"),
    "msgspec convert (dicts)": ("msgspec_dicts", "convert(dicts, list[Row])"),
    "JSONField serialize_batch": ("json", "sd.serialize_batch(docs, jschema)"),
    "ModelSerializer.dump": ("sorvel", "Out.dump(objs)"),
    "ModelSerializer.dump_json": ("sorvel", "Out.dump_json(objs)"),
    "msgspec json.encode (built Structs)": ("msgspec_structs", "encoder.encode(structs)"),
}

SETUP = r'''
import datetime as dt, decimal, uuid
import django
from django.conf import settings
settings.configure(USE_TZ=True, TIME_ZONE="UTC", INSTALLED_APPS=[],
                   DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}})
django.setup()
from django.db import connection, models
import sorvel_django as sd
import _native as n

class Product(models.Model):
    name = models.CharField(max_length=100)
    description = models.TextField()
    quantity = models.IntegerField()
    rating = models.FloatField()
    active = models.BooleanField()
    price = models.DecimalField(max_digits=12, decimal_places=2)
    created = models.DateTimeField()
    day = models.DateField()
    ref = models.UUIDField()
    class Meta:
        app_label = "bench"

class Doc(models.Model):
    meta = models.JSONField()
    tags = models.JSONField()
    class Meta:
        app_label = "bench"

with connection.schema_editor() as editor:
    editor.create_model(Product)
    editor.create_model(Doc)

def make(count):
    Product.objects.bulk_create(Product(
        name=f"product {i}", description="a plain description " * 3, quantity=i, rating=i / 7,
        active=i % 2 == 0, price=decimal.Decimal(i) / 4 + decimal.Decimal("0.01"),
        created=dt.datetime(2024, 1, 15, 10, 30, i % 60, 1000 * (i % 999), tzinfo=dt.timezone.utc),
        day=dt.date(2024, 1, 1 + i % 28), ref=uuid.UUID(int=i * 7919)) for i in range(count))
    Doc.objects.bulk_create(Doc(meta={"id": i, "name": f"doc {i}", "score": i / 3, "ok": True,
                                      "parts": [1, 2, {"k": None}]},
                                tags=["a", "b", f"t{i}"]) for i in range(count))

make(2 * N)
mschema = sd.ModelSchema(Product)
jschema = sd.ModelSchema(Doc)
# What ModelSchema serializes: every field but the AutoField, in output order.
FIELDS = ["active", "created", "day", "description", "name", "price", "quantity", "rating", "ref"]
all_objs = list(Product.objects.order_by("id"))
warm_objs, objs = all_objs[:N], all_objs[N:]
all_j = list(Doc.objects.order_by("id"))
warm_docs, docs = all_j[:N], all_j[N:]
all_rows = list(Product.objects.order_by("id").values_list(*mschema.field_names_list))
warm_rows, rows = all_rows[:N], all_rows[N:]

def hand(o):
    return {"active": o.active, "created": o.created.isoformat(), "day": o.day.isoformat(),
            "description": o.description, "name": o.name, "price": str(o.price),
            "quantity": o.quantity, "rating": o.rating, "ref": str(o.ref)}

tuples = [tuple(hand(o)[k] for k in FIELDS) for o in objs]
warm_tuples = tuples

nschema = n.Schema({"name": n.Field(str, max_length=100),
                    "description": n.Field(str), "quantity": n.Field(int),
                    "rating": n.Field(float), "active": n.Field(bool),
                    "price": n.Field(decimal.Decimal, max_digits=12, decimal_places=2),
                    "created": n.Field(dt.datetime), "day": n.Field(dt.date),
                    "ref": n.Field(uuid.UUID)})

class Plain:
    pass

def plain_of(o):
    p = Plain()
    for k in FIELDS:
        setattr(p, k, getattr(o, k))
    return p

warm_plain, plain = [plain_of(o) for o in warm_objs], [plain_of(o) for o in objs]
warm_dicts = [{k: getattr(o, k) for k in FIELDS} for o in warm_objs]
dicts = [{k: getattr(o, k) for k in FIELDS} for o in objs]

if CASE.startswith("msgspec"):
    import msgspec
    from msgspec import convert, to_builtins
    class Row(msgspec.Struct):
        name: str
        description: str
        quantity: int
        rating: float
        active: bool
        price: decimal.Decimal
        created: dt.datetime
        day: dt.date
        ref: uuid.UUID
    if CASE == "msgspec json.encode (built Structs)":
        encoder = msgspec.json.Encoder(decimal_format="string")
        warm_structs = convert(warm_objs, list[Row], from_attributes=True)
        structs = convert(objs, list[Row], from_attributes=True)

if CASE.startswith("ModelSerializer"):
    from sorvel.django import ModelSerializer

    class Out(ModelSerializer):
        class Meta:
            model = Product
            fields = FIELDS
'''


def run_case(name, n, keep=None):
    _, statement = CASES[name]
    warm = (statement.replace("objs", "warm_objs").replace("rows", "warm_rows")
            .replace("tuples", "warm_tuples").replace("plain", "warm_plain")
            .replace("dicts", "warm_dicts").replace("docs", "warm_docs")
            .replace("structs", "warm_structs"))
    warm = re.sub(r"\bwarm_warm_", "warm_", warm)
    program = (f"N = {n}\nCASE = {name!r}\n" + SETUP +
               f"\n{warm}\nimport sys\nsys.call_tracing(lambda: {statement}, ())\n")
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "case.py")
        with open(script, "w") as handle:
            handle.write(program)
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                        "--toggle-collect=sys_call_tracing", f"--callgrind-out-file={out}",
                        sys.executable, script], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(out) as handle:
            for line in handle:
                if line.startswith(("summary:", "totals:")):
                    if keep:
                        os.makedirs(keep, exist_ok=True)
                        safe = re.sub(r"[^A-Za-z0-9]+", "_", name).strip("_")
                        os.replace(out, os.path.join(keep, f"callgrind.{safe}.out"))
                    return int(line.split()[1]) / n
    raise RuntimeError(f"no totals for {name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=1000)
    parser.add_argument("--keep", metavar="DIR",
                        help="keep each case's callgrind output in DIR (for callgrind_annotate)")
    parser.add_argument("cases", nargs="*", default=list(CASES))
    args = parser.parse_args()
    results = {}
    for name in args.cases:
        if CASES[name][0].startswith("msgspec"):
            try:
                import msgspec  # noqa: F401
            except ImportError:
                continue
        results[name] = run_case(name, args.n, args.keep)
        print(f"{name}: {results[name]:,.0f}", file=sys.stderr)
    floor = results.get("floor")
    print(f"| case (N = {args.n}) | instructions per object | vs floor |")
    print("|---|---:|---:|")
    for name, count in results.items():
        ratio = f"{count / floor:.2f}x" if floor else ""
        print(f"| {name} | {count:,.0f} | {ratio} |")


if __name__ == "__main__":
    main()
