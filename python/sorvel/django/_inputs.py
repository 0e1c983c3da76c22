"""What the dump methods accept as "many instances", turned into something the native plan
walks: a list or tuple as it is, an evaluated QuerySet's own result list, an unevaluated one
through ``.iterator(chunk_size)`` (memory bounded by the chunk), a paginator page's objects, any
other iterable as it is."""

from __future__ import annotations

from collections.abc import Iterable
from typing import Any, cast

from django.core.paginator import Page
from django.db import models


def rows_of(objects: Any, chunk_size: int) -> Iterable[Any]:
    if isinstance(objects, (list, tuple)):
        return objects
    if isinstance(objects, models.QuerySet):
        cached = objects._result_cache
        if cached is not None:
            return cast(list[Any], cached)
        return cast(Iterable[Any], objects.iterator(chunk_size=chunk_size))
    if isinstance(objects, Page):
        return rows_of(objects.object_list, chunk_size)
    if isinstance(objects, models.Model):
        raise TypeError("expected many instances, got one model instance (use dump_one())")
    if isinstance(objects, (str, bytes, dict)) or not hasattr(objects, "__iter__"):
        raise TypeError(
            f"expected a list, tuple, QuerySet, page or iterable of instances, "
            f"got {type(objects).__name__}"
        )
    return cast(Iterable[Any], objects)
