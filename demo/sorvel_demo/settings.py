"""Settings of the sorvel demo: one app, a SQLite database, DRF, production-like (DEBUG off).

SORVEL_DEMO_DB names the database file (`make demo` keeps it in build/demo, outside git).
"""

import os
import pathlib

BASE_DIR = pathlib.Path(__file__).resolve().parent.parent

SECRET_KEY = "sorvel-demo-not-secret"  # the demo listens on loopback only
DEBUG = False
ALLOWED_HOSTS = ["127.0.0.1", "localhost", "[::1]"]

INSTALLED_APPS = [
    "django.contrib.contenttypes",
    "django.contrib.auth",
    "rest_framework",
    "catalog",
]
MIDDLEWARE = ["catalog.timing.ServerTimingMiddleware"]
ROOT_URLCONF = "sorvel_demo.urls"
WSGI_APPLICATION = "sorvel_demo.wsgi.application"
TEMPLATES = [
    {
        "BACKEND": "django.template.backends.django.DjangoTemplates",
        "APP_DIRS": True,
        "OPTIONS": {"context_processors": ["django.template.context_processors.request"]},
    }
]
DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        "NAME": os.environ.get("SORVEL_DEMO_DB", str(BASE_DIR.parent / "build/demo/db.sqlite3")),
    }
}
DEFAULT_AUTO_FIELD = "django.db.models.BigAutoField"
USE_TZ = True
TIME_ZONE = "UTC"
STATIC_URL = "/static/"

REST_FRAMEWORK = {
    # A public read-only API: no sessions, no users, so no per-request auth work either.
    "DEFAULT_AUTHENTICATION_CLASSES": [],
    "DEFAULT_PERMISSION_CLASSES": ["rest_framework.permissions.AllowAny"],
    "UNAUTHENTICATED_USER": None,
}
