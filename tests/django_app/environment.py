"""Starts Django once per test process and creates the database tables."""

import django
from django.conf import settings
from django.core.management import call_command

from django_app import settings as test_settings


def start_django():
    """Configures settings, loads the apps and migrates the in-memory database.

    Safe to call from every test module: only the first call does the work.
    """
    if settings.configured:
        return
    settings.configure(
        **{name: getattr(test_settings, name) for name in dir(test_settings) if name.isupper()}
    )
    django.setup()
    call_command("migrate", run_syncdb=True, verbosity=0)
