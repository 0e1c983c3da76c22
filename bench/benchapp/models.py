from django.db import models


class Article(models.Model):
    """Ten fields of mixed types, the shape a list endpoint typically serves."""

    title = models.CharField(max_length=200)
    body = models.TextField()
    views = models.IntegerField()
    rating = models.FloatField()
    published = models.BooleanField(default=False)
    price = models.DecimalField(max_digits=12, decimal_places=2)
    created = models.DateTimeField()
    day = models.DateField()
    ref = models.UUIDField()


class Document(models.Model):
    """Two JSON columns holding what json.loads gives: nested dicts, lists, text and numbers."""

    meta = models.JSONField()
    data = models.JSONField()
