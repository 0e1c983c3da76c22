from django.apps import AppConfig


class BenchAppConfig(AppConfig):
    name = "benchapp"
    default_auto_field = "django.db.models.AutoField"
