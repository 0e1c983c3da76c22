"""WSGI entry point, served by gunicorn in `make demo`."""

import os

from django.core.wsgi import get_wsgi_application

os.environ.setdefault("DJANGO_SETTINGS_MODULE", "sorvel_demo.settings")
application = get_wsgi_application()
