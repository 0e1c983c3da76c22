"""Django REST framework read endpoints served by sorvel.

``sorvel.drf.ModelSerializer`` is declared like DRF's own ``ModelSerializer`` and used in the same
places — ``serializer_class`` of a ``ListAPIView``, ``RetrieveAPIView`` or a read-only viewset,
with DRF's pagination, filters and renderers — but its output is written by a sorvel plan in one
native call per list::

    from sorvel import drf

    class ArticleSerializer(drf.ModelSerializer):      # was: serializers.ModelSerializer
        author = AuthorSerializer()                     # nested, from select_related()
        tags = TagSerializer(many=True)                 # nested, from prefetch_related()
        label = serializers.SerializerMethodField()

        class Meta:
            model = Article
            fields = ["id", "title", "author", "tags", "price", "published", "label"]

        def get_label(self, article):
            return f"{article.title} ({article.price})"

    class ArticleList(ListAPIView):
        queryset = Article.objects.select_related("author").prefetch_related("tags")
        serializer_class = ArticleSerializer

The data is what DRF's serializer gives under DRF's settings (DateTimeField in the current time
zone with "Z" for UTC, decimals as strings unless COERCE_DECIMAL_TO_STRING is off, UUIDs
hyphenated, files as absolute URLs when the request is known), so every DRF renderer writes the
same document. What differs is by design: relations are read from what the queryset loaded, and a
relation or deferred field that was not loaded is an error naming the row and the field instead
of a query per row.

These serializers only read: validating and saving input stays with DRF's serializers.
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from contextlib import contextmanager
from contextvars import ContextVar
from typing import Any, ClassVar

from django.db import models
from django.db.models.manager import BaseManager
from rest_framework import serializers
from rest_framework.settings import api_settings
from rest_framework.utils.serializer_helpers import ReturnDict

from sorvel.django import Computed, ModelSerializer as SorvelModelSerializer, PlanError
from sorvel.django.fields import Declared

__all__ = ["ListSerializer", "ModelSerializer"]

# Options of DRF's Meta that change nothing in what a read endpoint writes.
_WRITE_ONLY_OPTIONS = ("read_only_fields", "validators", "list_serializer_class")
# sorvel's own Meta options, passed through as they are.
_SORVEL_OPTIONS = (
    "model",
    "fields",
    "exclude",
    "preset",
    "datetime_format",
    "localtime",
    "decimal_format",
    "uuid_format",
    "choices",
    "file_format",
    "duration_format",
    "key_order",
    "on_missing",
    "chunk_size",
    "hooks",
)


class ListSerializer(serializers.ListSerializer):  # type: ignore[misc]
    """What ``SomeSerializer(objects, many=True)`` makes: the whole list in one native call."""

    child: ModelSerializer

    def to_representation(self, data: Any) -> list[dict[str, Any]]:
        if isinstance(data, BaseManager):  # a related manager, as DRF accepts
            data = data.all()
        with _serving(self.child):
            rows = self.child.sorvel_serializer.dump(data)
        return self.child._with_absolute_urls(rows)

    def create(self, validated_data: Any) -> Any:
        raise NotImplementedError(_READ_ONLY)

    def update(self, instance: Any, validated_data: Any) -> Any:
        raise NotImplementedError(_READ_ONLY)


_READ_ONLY = "sorvel.drf serializers only read: validate and save input with DRF's own serializers"


class ModelSerializer(serializers.BaseSerializer):  # type: ignore[misc]
    """A DRF serializer of a model for read endpoints, written by a sorvel plan.

    The class attribute ``sorvel_serializer`` is the :class:`sorvel.django.ModelSerializer`
    compiled from the declaration; ``Meta.serializer = SomeSorvelSerializer`` uses an existing
    one instead. Besides DRF's ``model``, ``fields``, ``exclude`` and ``extra_kwargs``
    (``write_only`` fields are left out), Meta takes sorvel's options (``datetime_format``,
    ``decimal_format``, ``on_missing``, ...) over DRF's defaults.
    """

    sorvel_serializer: ClassVar[type[SorvelModelSerializer]]
    _file_key_cache: ClassVar[tuple[str, ...] | None] = None

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        meta = cls.__dict__.get("Meta")
        if meta is None:
            base = getattr(cls, "sorvel_serializer", None)
            if base is None:
                raise PlanError(f"{cls.__name__}: a sorvel.drf.ModelSerializer needs a Meta")
            return  # a subclass that only adds methods keeps its base's plan
        given = getattr(meta, "serializer", None)
        if given is not None:
            if not (isinstance(given, type) and issubclass(given, SorvelModelSerializer)):
                raise PlanError(
                    f"{cls.__name__}: Meta.serializer must be a sorvel.django.ModelSerializer "
                    f"subclass, not {given!r}"
                )
            cls.sorvel_serializer = given
        else:
            cls.sorvel_serializer = _compile(cls, meta)
        cls._file_key_cache = None

    @classmethod
    def _file_keys(cls) -> tuple[str, ...]:
        # Found on first use: the plan may compile only once Django's models are loaded.
        if cls._file_key_cache is None:
            cls._file_key_cache = _file_keys(cls.sorvel_serializer)
        return cls._file_key_cache

    @classmethod
    def many_init(cls, *args: Any, **kwargs: Any) -> ListSerializer:
        list_kwargs = {
            key: value for key, value in kwargs.items() if key in serializers.LIST_SERIALIZER_KWARGS
        }
        child_kwargs = {
            key: value
            for key, value in kwargs.items()
            if key not in ("many", "allow_empty", "max_length", "min_length")
        }
        list_kwargs["child"] = cls(*args, **child_kwargs)
        return ListSerializer(*args, **list_kwargs)

    def to_representation(self, instance: models.Model) -> dict[str, Any]:
        with _serving(self):
            row = self.sorvel_serializer.dump_one(instance)
        return self._with_absolute_urls([row])[0]

    def get_initial(self) -> dict[str, Any]:
        return {}

    @property
    def data(self) -> ReturnDict:
        return ReturnDict(super().data, serializer=self)

    def _with_absolute_urls(self, rows: list[dict[str, Any]]) -> list[dict[str, Any]]:
        # DRF writes a file's URL absolute when it knows the request; sorvel writes `.url`.
        keys = self._file_keys()
        request = self.context.get("request") if keys else None
        if request is None:
            return rows
        for row in rows:
            for key in keys:
                url = row.get(key)
                if url:
                    row[key] = request.build_absolute_uri(url)
        return rows

    def to_internal_value(self, data: Any) -> Any:
        raise NotImplementedError(_READ_ONLY)

    def create(self, validated_data: Any) -> Any:
        raise NotImplementedError(_READ_ONLY)

    def update(self, instance: Any, validated_data: Any) -> Any:
        raise NotImplementedError(_READ_ONLY)


def _compile(cls: type[ModelSerializer], meta: type) -> type[SorvelModelSerializer]:
    """The sorvel serializer of a declaration: DRF's Meta and fields in sorvel's terms."""
    name = cls.__name__
    if getattr(meta, "depth", 0):
        raise PlanError(
            f"{name}: Meta.depth is not supported: declare the nested serializers "
            "(their relations must be loaded with select_related or prefetch_related)"
        )
    attributes: dict[str, Any] = {
        option: getattr(meta, option) for option in _SORVEL_OPTIONS if hasattr(meta, option)
    }
    attributes.setdefault("preset", "drf")
    if attributes["preset"] == "drf":
        if not api_settings.COERCE_DECIMAL_TO_STRING:
            attributes.setdefault("decimal_format", "number")
        if not api_settings.UPLOADED_FILES_USE_URL:
            attributes.setdefault("file_format", "name")
    hidden = [
        field
        for field, options in (getattr(meta, "extra_kwargs", None) or {}).items()
        if options.get("write_only")
    ]
    if hidden:
        if isinstance(attributes.get("fields"), (list, tuple)):
            attributes["fields"] = [f for f in attributes["fields"] if f not in hidden]
        else:
            attributes["exclude"] = [*attributes.get("exclude", ()), *hidden]

    body: dict[str, Any] = {"__module__": cls.__module__, "__qualname__": f"{name}.sorvel"}
    for key, value in _declarations(cls).items():
        body[key] = _declared(cls, key, value)
    body["Meta"] = type("Meta", (), attributes)
    return type(f"{name}Sorvel", (SorvelModelSerializer,), body)


def _declarations(cls: type) -> dict[str, Any]:
    declared: dict[str, Any] = {}
    for klass in reversed(cls.__mro__):
        for key, value in vars(klass).items():
            if isinstance(value, (serializers.Field, Declared, SorvelModelSerializer)):
                declared[key] = value
    return declared


def _declared(cls: type[ModelSerializer], key: str, value: Any) -> Any:
    """A declared field of the DRF class, as the sorvel declaration that writes the same."""
    if isinstance(value, (Declared, SorvelModelSerializer)):
        return value
    if isinstance(value, ModelSerializer):
        return type(value).sorvel_serializer(source=value.source)
    if isinstance(value, ListSerializer) and isinstance(value.child, ModelSerializer):
        return type(value.child).sorvel_serializer(many=True, source=value.source)
    if isinstance(value, serializers.SerializerMethodField):
        method_name = value.method_name or f"get_{key}"
        method = getattr(cls, method_name, None)
        if method is None:
            raise PlanError(f"{cls.__name__}: field {key!r} needs a method {method_name}()")
        return Computed(_MethodCall(cls, method))
    raise PlanError(
        f"{cls.__name__}: field {key!r} is a {type(value).__name__}, which sorvel.drf does not "
        "translate: declare nested sorvel.drf serializers, SerializerMethodField, or sorvel's "
        "own ModelField, Attribute and Computed"
    )


# The serializer instance whose dump is running, so that SerializerMethodField methods get it
# (and its context, the request among it) as self, as in DRF.
_current: ContextVar[ModelSerializer | None] = ContextVar("sorvel_drf_current", default=None)


@contextmanager
def _serving(serializer: ModelSerializer) -> Iterator[None]:
    token = _current.set(serializer)
    try:
        yield
    finally:
        _current.reset(token)


class _MethodCall:
    """A SerializerMethodField's method. Its self is the serializer being served when that is
    of the method's class; for a nested serializer's method, one instance of the nested class
    that shares the served serializer's context, as DRF's nested serializers do."""

    def __init__(self, cls: type[ModelSerializer], method: Any) -> None:
        self.method = method
        self.cls = cls

    def __call__(self, instance: Any) -> Any:
        current = _current.get()
        if isinstance(current, self.cls):
            return self.method(current, instance)
        owners = current.__dict__.setdefault("_sorvel_method_owners", {}) if current else {}
        owner = owners.get(self.cls)
        if owner is None:
            owner = owners[self.cls] = self.cls(context=current.context if current else {})
        return self.method(owner, instance)


def _file_keys(serializer: type[SorvelModelSerializer]) -> tuple[str, ...]:
    """The output keys that hold a file field's URL (nested serializers keep theirs)."""
    options = serializer.serializer_options
    model = options.model
    if model is None or options.formats.file_format != "url":
        return ()
    declared: Mapping[str, Any] = serializer.declared_fields
    keys = []
    for key in serializer.keys():
        declaration = declared.get(key)
        if declaration is not None and type(declaration).__name__ != "ModelField":
            continue
        source = getattr(declaration, "source", None) or key
        try:
            field = model._meta.get_field(source)
        except Exception:  # noqa: BLE001 - "pk" and other names that are no model field
            continue
        if isinstance(field, models.FileField) and (
            declaration is None or declaration.formats.file_format in (None, "url")
        ):
            keys.append(key)
    return tuple(keys)
