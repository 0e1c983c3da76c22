import pathlib

import rest_framework
from django.urls import path, re_path
from django.views.static import serve

from catalog import views
from catalog.endpoints import ENDPOINTS

# DRF's browsable API needs its CSS and scripts; no web server sits in front of gunicorn here.
DRF_STATIC = pathlib.Path(rest_framework.__file__).parent / "static"

urlpatterns = [
    path("", views.index, name="index"),
    path("api/", views.api_index),
    *(path(f"api/{endpoint.slug}/articles/", endpoint.view) for endpoint in ENDPOINTS),
    re_path(r"^static/(?P<path>.*)$", serve, {"document_root": DRF_STATIC}),
]
