"""Test isolation for the in-memory database."""

import pytest
from django.db import transaction


@pytest.fixture
def rollback():
    """Runs a test inside a transaction that is rolled back afterwards."""
    with transaction.atomic():
        yield
        transaction.set_rollback(True)
