"""A small Django app whose models exercise every field type that sorvel_django reads.

Test modules call `django_app.environment.start_django()` before they import
`django_app.models`: Django must be configured before any model class is defined.
"""
