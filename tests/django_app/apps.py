"""App configuration of the test app."""

from django.apps import AppConfig


class DjangoAppConfig(AppConfig):
    name = "django_app"
    label = "django_app"
    default_auto_field = "django.db.models.BigAutoField"
