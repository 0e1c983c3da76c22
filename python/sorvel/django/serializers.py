"""ModelSerializer: a Django model's instances to dicts and JSON bytes, through a native plan.

A serializer class is declared like DRF's::

    class BookOut(ModelSerializer):
        author = AuthorOut()                  # a select_related relation, nested
        tags = TagOut(many=True)              # a prefetched relation, nested
        cost = ModelField(source="price", decimal_format="number")
        label = Computed(lambda book: f"{book.title} ({book.year})")

        class Meta:
            model = Book
            fields = ["id", "title", "author", "tags", "cost", "label"]

The class is compiled once into a plan (when it is created, or on first use if Django's models
are not loaded yet); every dump reads only what the instances already hold.
"""

from __future__ import annotations

import decimal
import uuid
from collections.abc import Callable, Iterable, Iterator, Mapping
from dataclasses import dataclass, field
from typing import Any, ClassVar, Literal, cast

import sorvel_django
from django.apps import apps
from django.conf import settings
from django.db import models
from django.db.models.fields.files import FieldFile
from django.utils import timezone

from sorvel.django._inputs import rows_of
from sorvel.django._plan import (
    DEFAULT_FORMATS,
    DRF_FORMATS,
    Column,
    Flag,
    Formats,
    Kind,
    PlanError,
    default_field_names,
    field_map,
    pk_field,
    pks_column,
    relation_of,
    value_column,
)
from sorvel.django.errors import SerializationError
from sorvel.django.fields import Attribute, Computed, Declared, ModelField
from sorvel.django.validation import InputPlan, ValidationResult, input_fields_of

_NativePlan: Any = getattr(sorvel_django, "_Plan")
_CONTEXT = (SerializationError, decimal.Decimal, FieldFile, uuid.UUID)

KeyOrder = Literal["declared", "sorted"]
OnMissing = Literal["error", "skip"]


@dataclass(frozen=True)
class SerializerOptions:
    """A serializer's Meta, read and checked once."""

    model: type[models.Model] | None
    fields: tuple[str, ...] | Literal["__all__"] | None
    exclude: tuple[str, ...]
    formats: Formats
    key_order: KeyOrder = "declared"
    on_missing: OnMissing = "error"
    chunk_size: int = 2000
    hooks: Mapping[str, Callable[[Any], Any]] = field(default_factory=dict)


def _read_meta(cls: type[ModelSerializer]) -> SerializerOptions:
    meta = getattr(cls, "Meta", None)
    name = cls.__name__
    model = getattr(meta, "model", None)
    if model is not None and not (isinstance(model, type) and issubclass(model, models.Model)):
        raise PlanError(f"{name}: Meta.model must be a Django model class, not {model!r}")
    fields = getattr(meta, "fields", None)
    exclude = getattr(meta, "exclude", None)
    if model is not None and fields is None and exclude is None:
        raise PlanError(f"{name}: Meta needs fields (a list, or '__all__') or exclude")
    if fields is not None and exclude is not None:
        raise PlanError(f"{name}: Meta takes fields or exclude, not both")
    if isinstance(fields, str) and fields != "__all__":
        raise PlanError(f"{name}: Meta.fields must be a list of names or '__all__'")
    preset = getattr(meta, "preset", None)
    if preset not in (None, "drf"):
        raise PlanError(f"{name}: Meta.preset must be 'drf' or absent, not {preset!r}")
    own = Formats(
        datetime_format=getattr(meta, "datetime_format", None),
        localtime=getattr(meta, "localtime", None),
        decimal_format=getattr(meta, "decimal_format", None),
        uuid_format=getattr(meta, "uuid_format", None),
        choices=getattr(meta, "choices", None),
        file_format=getattr(meta, "file_format", None),
        duration_format=getattr(meta, "duration_format", None),
    )
    own.check(name)
    formats = own.over(DRF_FORMATS if preset == "drf" else DEFAULT_FORMATS)
    key_order = getattr(meta, "key_order", "declared")
    if key_order not in ("declared", "sorted"):
        raise PlanError(f"{name}: Meta.key_order must be 'declared' or 'sorted'")
    on_missing = getattr(meta, "on_missing", "error")
    if on_missing not in ("error", "skip"):
        raise PlanError(f"{name}: Meta.on_missing must be 'error' or 'skip'")
    chunk_size = getattr(meta, "chunk_size", 2000)
    if not isinstance(chunk_size, int) or chunk_size < 1:
        raise PlanError(f"{name}: Meta.chunk_size must be a positive int")
    return SerializerOptions(
        model=model,
        fields=fields if fields is None or fields == "__all__" else tuple(fields),
        exclude=tuple(exclude or ()),
        formats=formats,
        key_order=cast(KeyOrder, key_order),
        on_missing=cast(OnMissing, on_missing),
        chunk_size=chunk_size,
        hooks=dict(getattr(meta, "hooks", None) or {}),
    )


class ModelSerializer:
    """Base class of model serializers; see the module docstring for the declaration.

    Class methods do the work: ``dump``, ``dump_one``, ``dump_json`` and ``stream_json``. An
    instance of a serializer class is only a declaration inside another serializer:
    ``AuthorOut()`` nests one related instance, ``TagOut(many=True)`` a list of them.
    """

    Meta: ClassVar[type]
    serializer_options: ClassVar[SerializerOptions]
    declared_fields: ClassVar[dict[str, Declared | ModelSerializer]]
    _plan: ClassVar[Any] = None
    _input_plan: ClassVar[InputPlan | None] = None
    _columns: ClassVar[tuple[Column, ...]] = ()
    _uses_localtime: ClassVar[bool] = False

    def __init__(self, *, many: bool = False, source: str | None = None) -> None:
        self.many = many
        self.source = source

    def __repr__(self) -> str:
        return f"{type(self).__name__}(many={self.many!r}, source={self.source!r})"

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        declared: dict[str, Declared | ModelSerializer] = {}
        for base in reversed(cls.__mro__[1:]):
            declared.update(getattr(base, "declared_fields", {}))
        for name, value in list(cls.__dict__.items()):
            if isinstance(value, (Declared, ModelSerializer)):
                declared[name] = value
        cls.declared_fields = declared
        cls.serializer_options = _read_meta(cls)
        cls._plan = None
        cls._input_plan = None
        cls._columns = ()
        if cls.serializer_options.model is not None and apps.models_ready:
            cls._compile()

    # --- compilation ------------------------------------------------------------------------

    @classmethod
    def _compiled(cls) -> Any:
        if cls._plan is None:
            if cls.serializer_options.model is None:
                raise PlanError(f"{cls.__name__} has no Meta.model: it cannot serialize")
            cls._compile()
        return cls._plan

    @classmethod
    def _compile(cls) -> None:
        options = cls.serializer_options
        model = options.model
        assert model is not None
        fields = field_map(model)
        declared = cls.declared_fields
        if options.fields is None or options.fields == "__all__":
            names = default_field_names(model, list(declared))
            for excluded in options.exclude:
                if excluded not in names:
                    raise PlanError(f"{cls.__name__}: Meta.exclude names {excluded!r}, which is "
                                    "not one of the serializer's fields")  # fmt: skip
            names = [name for name in names if name not in options.exclude]
        else:
            names = list(options.fields)
            for name in declared:
                if name not in names:
                    raise PlanError(f"{cls.__name__}: field {name!r} is declared but not listed "
                                    "in Meta.fields")  # fmt: skip
        if len(set(names)) != len(names):
            raise PlanError(f"{cls.__name__}: Meta.fields names a field twice")
        columns = [cls._column(name, declared.get(name), fields) for name in names]
        if options.key_order == "sorted":
            columns.sort(key=lambda column: column.key)
        cls._columns = tuple(columns)
        cls._plan = _NativePlan(
            model, [column.as_tuple() for column in columns], _CONTEXT, options.on_missing == "skip"
        )
        cls._uses_localtime = any(
            column.flags & Flag.LOCALTIME
            and column.kind not in (Kind.RELATED, Kind.MANY)
            for column in columns
        ) or any(
            isinstance(declaration, ModelSerializer) and type(declaration)._uses_localtime
            for declaration in declared.values()
        )

    @classmethod
    def _column(cls, key: str, declaration: Declared | ModelSerializer | None,
                fields: Mapping[str, Any]) -> Column:  # fmt: skip
        where = cls.__name__
        model = cls.serializer_options.model
        assert model is not None
        base = cls.serializer_options.formats
        if isinstance(declaration, ModelSerializer):
            return cls._nested_column(key, declaration, fields)
        if isinstance(declaration, Computed):
            formats = declaration.formats.over(base)
            function = declaration.function
            if function is None:
                method = getattr(cls(), f"get_{key}", None)
                if method is None:
                    raise PlanError(f"{where}: Computed field {key!r} has no function and the "
                                    f"serializer has no get_{key}() method")  # fmt: skip
                function = method
            return Column(key, Kind.CALL, None, formats.flags(), function)
        if isinstance(declaration, Attribute):
            formats = declaration.formats.over(base)
            return Column(key, Kind.ATTRIBUTE, declaration.source or key, formats.flags())
        formats = base
        hook = cls.serializer_options.hooks.get(key)
        source = key
        if isinstance(declaration, ModelField):
            formats = declaration.formats.over(base)
            source = declaration.source or key
            hook = declaration.hook or hook
        model_field = pk_field(model) if source == "pk" else fields.get(source)
        if model_field is None:
            raise PlanError(f"{where}: {source!r} is not a field of {model.__name__}")
        if not model_field.is_relation or model_field.many_to_one or (
            model_field.one_to_one and model_field.concrete
        ):
            if not model_field.concrete:
                raise PlanError(f"{where}: field {source!r} of {model.__name__} stores no value "
                                "(declare it as Computed or Attribute)")  # fmt: skip
            return value_column(key, model_field, formats, where, hook)
        relation = relation_of(model_field)
        if relation.many:
            return pks_column(key, relation, formats, where)
        raise PlanError(f"{where}: the reverse one-to-one {source!r} needs a nested serializer")

    @classmethod
    def _nested_column(cls, key: str, nested: ModelSerializer,
                       fields: Mapping[str, Any]) -> Column:  # fmt: skip
        where = cls.__name__
        nested_class = type(nested)
        plan = nested_class._compiled()
        nested_model = nested_class.serializer_options.model
        assert nested_model is not None
        source = nested.source or key
        model_field = fields.get(source)
        if model_field is None or not model_field.is_relation:
            if nested.many:  # a list put on the instance by Prefetch(to_attr=...)
                return Column(key, Kind.MANY, source, int(Flag.TO_ATTR), plan)
            raise PlanError(f"{where}: {source!r} is not a relation of the model")
        relation = relation_of(model_field)
        if not issubclass(relation.related_model, nested_model):
            raise PlanError(f"{where}: {source!r} relates to {relation.related_model.__name__}, "
                            f"but {nested_class.__name__} serializes {nested_model.__name__}")
        if relation.many != nested.many:
            wanted = "many=True" if relation.many else "many=False"
            raise PlanError(f"{where}: {source!r} needs {nested_class.__name__}({wanted})")
        kind = Kind.MANY if relation.many else Kind.RELATED
        return Column(key, kind, relation.cache, 0, plan, relation.fk_attname)

    # --- use --------------------------------------------------------------------------------

    @classmethod
    def _time_zone(cls) -> Any:
        if cls._uses_localtime and settings.USE_TZ:
            return timezone.get_current_timezone()
        return None

    @classmethod
    def dump(cls, objects: Iterable[Any]) -> list[dict[str, Any]]:
        """One dict per instance, in input order."""
        plan = cls._compiled()
        return plan.dump(rows_of(objects, cls.serializer_options.chunk_size), cls._time_zone())  # type: ignore[no-any-return]

    @classmethod
    def dump_one(cls, instance: models.Model) -> dict[str, Any]:
        """The dict of one instance."""
        return cls._compiled().dump_one(instance, cls._time_zone())  # type: ignore[no-any-return]

    @classmethod
    def dump_json(cls, objects: Iterable[Any]) -> bytes:
        """The instances as one JSON array, written straight to bytes."""
        plan = cls._compiled()
        rows = rows_of(objects, cls.serializer_options.chunk_size)
        return plan.dump_json(rows, cls._time_zone())  # type: ignore[no-any-return]

    @classmethod
    def stream_json(cls, objects: Iterable[Any], chunk_size: int | None = None) -> Iterator[bytes]:
        """The JSON array of ``dump_json`` in chunks of ``chunk_size`` rows, for
        StreamingHttpResponse. A QuerySet is fetched ``chunk_size`` rows at a time, so memory
        stays bounded however many rows there are."""
        size = cls.serializer_options.chunk_size if chunk_size is None else chunk_size
        if not isinstance(size, int) or size < 1:
            raise ValueError("chunk_size must be a positive int")
        plan = cls._compiled()
        rows = iter(rows_of(objects, size))
        return _stream(plan, rows, size, cls._time_zone())

    # --- input ------------------------------------------------------------------------------

    @classmethod
    def input_plan(cls) -> InputPlan:
        """The compiled plan that validates request data for the serializer's model columns."""
        plan = cls._input_plan
        if plan is None:
            options = cls.serializer_options
            if options.model is None:
                raise PlanError(f"{cls.__name__} has no Meta.model: it cannot validate")
            fields = input_fields_of(
                options.model, options.fields, options.exclude, cls.declared_fields
            )
            plan = cls._input_plan = InputPlan(options.model, fields)
        return plan

    @classmethod
    def validate(cls, data: Any) -> ValidationResult:
        """Cleans one dict of request data (or an instance) as Model.full_clean() would: see
        :class:`sorvel.django.ValidationResult`. Bad data is reported, never raised."""
        return (cls._input_plan or cls.input_plan()).validate(data)

    @classmethod
    def validate_many(cls, rows: Iterable[Any]) -> ValidationResult:
        """Cleans many rows; errors come as ``{row index: {field: [messages]}}`` and ``data``
        holds the cleaned dicts of the valid rows, ready for ``bulk_create``."""
        return (cls._input_plan or cls.input_plan()).validate_many(rows)

    @classmethod
    def keys(cls) -> list[str]:
        """The output keys, in output order."""
        cls._compiled()
        return [column.key for column in cls._columns]


def _stream(plan: Any, rows: Iterator[Any], size: int, tz: Any) -> Iterator[bytes]:
    start = 0
    while True:
        data, count = plan.json_chunk(rows, size, start, tz)
        if start == 0:
            data = b"[" + data
        start += count
        if count < size:
            yield data + b"]"
            return
        yield data
