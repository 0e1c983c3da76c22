"""Django settings for the sorvel_django tests: an in-memory SQLite database and aware
date-times, so that values come back from real queries the way a production app sees them."""

SECRET_KEY = "sorvel-django-tests"
USE_TZ = True
TIME_ZONE = "UTC"
MEDIA_URL = "/media/"
INSTALLED_APPS = [
    "django.contrib.contenttypes",
    "django.contrib.auth",
    "django_app.apps.DjangoAppConfig",
]
DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        "NAME": ":memory:",
    }
}
DEFAULT_AUTO_FIELD = "django.db.models.AutoField"
