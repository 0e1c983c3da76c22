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


# --- models for the sorvel.django serializers ---------------------------------------------------


class Color:
    """What ColorField hands back: not a str, so only its own value_to_string() can write it."""

    def __init__(self, text):
        self.text = text

    def __eq__(self, other):
        return isinstance(other, Color) and other.text == self.text


class ColorField(models.Field):
    """A custom field of an internal type Django does not ship, with its own text form."""

    def get_internal_type(self):
        return "ColorField"

    def db_type(self, connection):
        return "varchar(7)"

    def from_db_value(self, value, expression, connection):
        return None if value is None else Color(value)

    def get_prep_value(self, value):
        return value.text if isinstance(value, Color) else value

    def value_to_string(self, obj):
        value = self.value_from_object(obj)
        return None if value is None else value.text.upper()


class OpaqueField(models.Field):
    """A custom field with no text form of its own: a serializer must be given a hook."""

    def get_internal_type(self):
        return "OpaqueField"

    def db_type(self, connection):
        return "text"


class Publisher(models.Model):
    code = models.UUIDField(primary_key=True, default=uuid.uuid4)
    name = models.CharField(max_length=100)


class Writer(models.Model):
    name = models.CharField(max_length=100)
    publisher = models.ForeignKey(Publisher, null=True, on_delete=models.SET_NULL,
                                  related_name="writers")  # fmt: skip

    @property
    def shout(self):
        return self.name.upper()


class Genre(models.Model):
    label = models.CharField(max_length=30)


class Book(models.Model):
    class Status(models.TextChoices):
        DRAFT = "d", "Draft"
        PUBLISHED = "p", "Published"

    title = models.CharField(max_length=200)
    status = models.CharField(max_length=1, choices=Status.choices, default="d")
    rating = models.PositiveSmallIntegerField(choices=[(1, "Bad"), (5, "Good")], null=True)
    price = models.DecimalField(max_digits=8, decimal_places=2)
    weight = models.FloatField(null=True)
    in_print = models.BooleanField(default=True)
    published = models.DateField(null=True)
    opens = models.TimeField(null=True)
    added = models.DateTimeField()
    reading_time = models.DurationField(null=True)
    isbn = models.UUIDField(default=uuid.uuid4)
    meta = models.JSONField(default=dict)
    cover = models.ImageField(upload_to="covers", blank=True)
    manuscript = models.FileField(upload_to="docs", blank=True)
    server = models.GenericIPAddressField(null=True)
    email = models.EmailField(blank=True)
    site = models.URLField(blank=True)
    slug = models.SlugField(blank=True)
    thumb = models.BinaryField(null=True)
    big = models.BigIntegerField(default=0)
    small = models.SmallIntegerField(default=0)
    color = ColorField(null=True)
    writer = models.ForeignKey(Writer, on_delete=models.CASCADE, related_name="books")
    genres = models.ManyToManyField(Genre, related_name="books")


class Edition(Book):
    """Multi-table inheritance: the primary key is the parent link."""

    number = models.IntegerField(default=1)


class Profile(models.Model):
    writer = models.OneToOneField(Writer, on_delete=models.CASCADE, related_name="profile")
    bio = models.TextField()
    secret = OpaqueField(null=True)


class Counter(models.Model):
    id = models.SmallAutoField(primary_key=True)
    hits = models.IntegerField(default=0)
