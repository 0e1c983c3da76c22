import uuid

from django.db import models


class Article(models.Model):
    """A catalogue entry with the field types a list endpoint typically serves."""

    id = models.UUIDField(primary_key=True, default=uuid.uuid4, editable=False)
    title = models.CharField(max_length=120)
    slug = models.SlugField(max_length=120)
    price = models.DecimalField(max_digits=10, decimal_places=2)
    stock = models.PositiveIntegerField()
    rating = models.FloatField()
    available = models.BooleanField(default=True)
    published = models.DateTimeField()
    released = models.DateField()
    tags = models.JSONField(default=list)

    class Meta:
        ordering = ["published"]

    def __str__(self):
        return self.title
