"""Models of the test app.

`Record` carries one field of every supported type, an automatic primary key and two relations
that a compiled schema must leave out. `Draft` holds the same kinds as nullable fields, so that
NULL columns come back as None. `Loose` is never stored: its fields keep the attributes that
Django leaves unset (no max_length, no digits), which the schema must replace by defaults.
"""

import uuid

from django.db import models


class Author(models.Model):
    name = models.CharField(max_length=100)


class Tag(models.Model):
    label = models.CharField(max_length=30)


class Record(models.Model):
    title = models.CharField(max_length=200)
    body = models.TextField()
    count = models.IntegerField()
    small = models.SmallIntegerField()
    positive = models.PositiveIntegerField()
    positive_small = models.PositiveSmallIntegerField()
    big = models.BigIntegerField()
    positive_big = models.PositiveBigIntegerField()
    ratio = models.FloatField()
    price = models.DecimalField(max_digits=8, decimal_places=2)
    active = models.BooleanField(default=False)
    day = models.DateField()
    clock = models.TimeField()
    stamp = models.DateTimeField()
    uid = models.UUIDField(default=uuid.uuid4)
    payload = models.JSONField(default=dict)
    blob = models.BinaryField(max_length=16)
    email = models.EmailField()
    site = models.URLField()
    slug = models.SlugField()
    note = models.CharField(max_length=20, null=True)
    author = models.ForeignKey(Author, on_delete=models.CASCADE, related_name="records")
    tags = models.ManyToManyField(Tag, related_name="records")


class Draft(models.Model):
    # Differs from `title` only in case; SQLite column names do not, hence db_column.
    Title = models.CharField(max_length=10, null=True, db_column="title_upper")
    title = models.CharField(max_length=10, null=True)
    count = models.IntegerField(null=True)
    ratio = models.FloatField(null=True)
    price = models.DecimalField(max_digits=5, decimal_places=1, null=True)
    day = models.DateField(null=True)
    stamp = models.DateTimeField(null=True)
    uid = models.UUIDField(null=True)
    payload = models.JSONField(null=True)
    blob = models.BinaryField(null=True)
    owner = models.OneToOneField(Author, on_delete=models.SET_NULL, null=True)


class Loose(models.Model):
    text = models.CharField()
    amount = models.DecimalField()
    raw = models.BinaryField()

    class Meta:
        managed = False


class Measure(models.Model):
    # A column with many places: SQLite hands its zero back as Decimal("0E-8").
    amount = models.DecimalField(max_digits=18, decimal_places=8)
    stamp = models.DateTimeField(null=True)
