from django.db import models


class Item(models.Model):
    title = models.CharField(max_length=100)
    body = models.TextField()
    count = models.IntegerField()
    score = models.FloatField()
    active = models.BooleanField()
    price = models.DecimalField(max_digits=12, decimal_places=2)
    created = models.DateTimeField()
    day = models.DateField()
    ref = models.UUIDField()

    class Meta:
        app_label = "sorvel_bench"
