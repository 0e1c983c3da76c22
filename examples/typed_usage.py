"""Every installed module, used the way a typed application would use it.

`make test` runs this file and checks it with `mypy --strict`: the types below come from the
installed stubs (the stub packages `_native-stubs` and `sorvel_django-stubs`, and sorvel_core's
own) and from the annotations of the `sorvel` package (py.typed), and each `assert_type` fails
the check if they say something else.
"""

from __future__ import annotations

import decimal
from typing import TYPE_CHECKING, Any, assert_type

import django
from django.conf import settings

import _native
import sorvel_core
from sorvel_core import Field, Schema, serialize, serialize_many, validate, validate_many

if TYPE_CHECKING:
    from _native import BatchStats, NameResult, ValidationReport
    from sorvel_django import DescriptorDict

settings.configure(
    INSTALLED_APPS=["django.contrib.contenttypes"],
    DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
)
django.setup()

from django.db import models  # noqa: E402

import sorvel  # noqa: E402
import sorvel_django  # noqa: E402
from sorvel import drf  # noqa: E402
from sorvel.django import ModelSerializer  # noqa: E402


class Product(models.Model):  # type: ignore[misc]  # Django is untyped: Model is Any
    title = models.CharField(max_length=40)
    price = models.DecimalField(max_digits=8, decimal_places=2)

    class Meta:
        app_label = "typed_usage"


def engine() -> None:
    schema = Schema({"title": Field(str, max_length=40), "stock": Field(int, min_value=0)})
    assert_type(schema.field_names_list(), list[str])
    record = {"title": "Pen", "stock": 3}
    assert_type(serialize(record, schema), dict[str, Any])
    assert_type(serialize_many([record], schema), list[dict[str, Any]])
    report: ValidationReport = validate({"title": "Pen", "stock": -1}, schema)
    assert not report["is_valid"]
    for error in report["errors"]:
        assert_type(error["message"], str)
    assert_type(validate_many([record], schema)["error_count"], int)

    names: list[NameResult] = _native.validate_names_batch(["Ada Lovelace"])
    assert_type(names[0]["valid"], bool)
    assert_type(_native.validate_ids_batch(["1234"]), list[bool])
    assert_type(_native.compute_risk_batch([{"amount": 10.0}]), list[float])
    stats: BatchStats = _native.batch_stats([1.0, 2.0, 4.0])
    assert stats.get("count") == 3
    assert sorvel_core.version() == _native.version() == sorvel_core.__version__


def django_integration() -> None:
    schema = sorvel_django.ModelSchema(Product)
    assert_type(schema.field_names_list, list[str])
    assert_type(schema.model_name_str, str)
    descriptors: list[DescriptorDict] = schema.to_descriptor_list()
    assert_type(sorvel_django.extract_model_fields(Product), "list[DescriptorDict]")
    product = Product(id=1, title="Pen", price=decimal.Decimal("1.50"))
    row = sorvel_django.serialize_instance(product, schema)
    assert row == sorvel_django.serialize_batch([product], schema)[0]
    values = ("Pen", decimal.Decimal("1.50"))  # in the order of schema.field_names_list
    assert row == sorvel_django.serialize_values_list([values], schema)[0]
    assert_type(sorvel_django.validate_instance(product, schema)["is_valid"], bool)
    by_name = dict(zip(schema.field_names_list, values))
    assert_type(sorvel_django.serialize_fields(descriptors, by_name), dict[str, Any])
    assert_type(sorvel_django.validate_fields(descriptors, list(values)), "ValidationReport")
    assert len(schema) == len(descriptors)


class ProductOut(ModelSerializer):
    class Meta:
        model = Product
        fields = ["id", "title", "price"]


class ProductSerializer(drf.ModelSerializer):
    class Meta:
        model = Product
        fields = ["id", "title", "price"]


def package() -> None:
    assert_type(sorvel.__version__, str)
    assert sorvel.Schema is Schema
    products = [Product(id=i, title=f"P{i}", price=decimal.Decimal(i)) for i in range(3)]
    rows = ProductOut.dump(products)
    assert_type(rows, list[dict[str, Any]])
    assert_type(ProductOut.dump_one(products[0]), dict[str, Any])
    document = ProductOut.dump_json(products)
    assert_type(document, bytes)
    assert b"".join(ProductOut.stream_json(products, chunk_size=2)) == document
    assert rows[1] == {"id": 1, "title": "P1", "price": "1"}
    assert ProductSerializer(products, many=True).data == rows
    result = ProductOut.validate({"title": "", "price": "x"})
    assert_type(result.is_valid, bool)
    assert set(result.errors) == {"title", "price"}


if __name__ == "__main__":
    engine()
    django_integration()
    package()
    print("typed usage: all modules ran")
