"""Compiling a serializer's fields into the column list of its native plan.

A column says where a value lives on a model instance (an attname in ``__dict__``, the
select_related cache, the prefetch cache, an attribute, a function) and which output form it
takes. The kind numbers and flag bits are those of ``src/serializer/plan.hpp``.
"""

from __future__ import annotations

import enum
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import Any

from django.db import models


class Kind(enum.IntEnum):
    STR = 0
    INT = 1
    FLOAT = 2
    BOOL = 3
    DECIMAL = 4
    DATE = 5
    TIME = 6
    DATETIME = 7
    UUID = 8
    DURATION = 9
    JSON = 10
    BYTES = 11
    FILE = 12
    TEXT = 13
    HOOK = 14
    ATTRIBUTE = 15
    CALL = 16
    RELATED = 17
    MANY = 18
    PKS = 19


class Flag(enum.IntFlag):
    DATETIME_ISO = 1 << 0
    DATETIME_Z = 1 << 1
    LOCALTIME = 1 << 2
    DECIMAL_NUMBER = 1 << 3
    UUID_HEX = 1 << 4
    FILE_URL = 1 << 5
    DURATION_ISO = 1 << 6
    DURATION_SECONDS = 1 << 7
    CHOICE_LABEL = 1 << 8
    TO_ATTR = 1 << 9


# Django's internal type names and the kind of value each stores.
INTERNAL_KINDS: dict[str, Kind] = {
    "AutoField": Kind.INT,
    "BigAutoField": Kind.INT,
    "SmallAutoField": Kind.INT,
    "IntegerField": Kind.INT,
    "SmallIntegerField": Kind.INT,
    "BigIntegerField": Kind.INT,
    "PositiveIntegerField": Kind.INT,
    "PositiveSmallIntegerField": Kind.INT,
    "PositiveBigIntegerField": Kind.INT,
    "CharField": Kind.STR,
    "TextField": Kind.STR,
    "EmailField": Kind.STR,
    "URLField": Kind.STR,
    "SlugField": Kind.STR,
    "GenericIPAddressField": Kind.STR,
    "IPAddressField": Kind.STR,
    "FilePathField": Kind.STR,
    "FloatField": Kind.FLOAT,
    "DecimalField": Kind.DECIMAL,
    "BooleanField": Kind.BOOL,
    "NullBooleanField": Kind.BOOL,
    "DateField": Kind.DATE,
    "TimeField": Kind.TIME,
    "DateTimeField": Kind.DATETIME,
    "DurationField": Kind.DURATION,
    "UUIDField": Kind.UUID,
    "JSONField": Kind.JSON,
    "BinaryField": Kind.BYTES,
    "FileField": Kind.FILE,
    "ImageField": Kind.FILE,
}

DATETIME_FORMATS = ("rfc3339", "iso", "z")
DECIMAL_FORMATS = ("string", "number")
UUID_FORMATS = ("hyphenated", "hex")
CHOICE_FORMATS = ("value", "label")
FILE_FORMATS = ("name", "url")
DURATION_FORMATS = ("django", "iso", "seconds")


class PlanError(TypeError):
    """A serializer that cannot be compiled: a field without an output form, an unknown name."""


@dataclass(frozen=True)
class Formats:
    """Output forms of a serializer or of one of its fields (None: inherit)."""

    datetime_format: str | None = None
    localtime: bool | None = None
    decimal_format: str | None = None
    uuid_format: str | None = None
    choices: str | None = None
    file_format: str | None = None
    duration_format: str | None = None

    def over(self, base: Formats) -> Formats:
        """These forms, with the unset ones taken from `base`."""
        return Formats(
            **{
                name: getattr(base, name) if getattr(self, name) is None else getattr(self, name)
                for name in self.__dataclass_fields__
            }
        )

    def check(self, where: str) -> None:
        for name, allowed in (
            ("datetime_format", DATETIME_FORMATS),
            ("decimal_format", DECIMAL_FORMATS),
            ("uuid_format", UUID_FORMATS),
            ("choices", CHOICE_FORMATS),
            ("file_format", FILE_FORMATS),
            ("duration_format", DURATION_FORMATS),
        ):
            value = getattr(self, name)
            if value is not None and value not in allowed:
                raise PlanError(f"{where}: {name} must be one of {', '.join(allowed)}, not {value!r}")

    def flags(self) -> int:
        flags = 0
        if self.datetime_format == "iso":
            flags |= Flag.DATETIME_ISO
        elif self.datetime_format == "z":
            flags |= Flag.DATETIME_Z
        if self.localtime:
            flags |= Flag.LOCALTIME
        if self.decimal_format == "number":
            flags |= Flag.DECIMAL_NUMBER
        if self.uuid_format == "hex":
            flags |= Flag.UUID_HEX
        if self.file_format == "url":
            flags |= Flag.FILE_URL
        if self.duration_format == "iso":
            flags |= Flag.DURATION_ISO
        elif self.duration_format == "seconds":
            flags |= Flag.DURATION_SECONDS
        return int(flags)


DEFAULT_FORMATS = Formats(
    datetime_format="rfc3339",
    localtime=False,
    decimal_format="string",
    uuid_format="hyphenated",
    choices="value",
    file_format="name",
    duration_format="django",
)

# What DRF's ModelSerializer writes under its default settings.
DRF_FORMATS = Formats(
    datetime_format="z",
    localtime=True,
    decimal_format="string",
    uuid_format="hyphenated",
    choices="value",
    file_format="url",
    duration_format="django",
)


@dataclass
class Column:
    """One output key of a plan, in the tuple form the native plan reads."""

    key: str
    kind: Kind
    source: str | None
    flags: int = 0
    extra: Any = None
    extra2: str | None = None
    pk_kind: Kind = Kind.INT

    def as_tuple(self) -> tuple[str, int, str | None, int, Any, str | None, int]:
        return (
            self.key,
            int(self.kind),
            self.source,
            self.flags,
            self.extra,
            self.extra2,
            int(self.pk_kind),
        )


def stored_kind(field: Any) -> Kind | None:
    """The kind of value a concrete model field stores, following foreign keys to their target;
    None when the field's internal type is not one Django ships."""
    while getattr(field, "is_relation", False) and getattr(field, "target_field", None) is not None:
        if field.many_to_many:
            return None
        field = field.target_field
    return INTERNAL_KINDS.get(field.get_internal_type())


def has_own_value_to_string(field: Any) -> bool:
    return type(field).value_to_string is not models.Field.value_to_string


def choice_labels(field: Any) -> dict[Any, Any]:
    labels: dict[Any, Any] = {}
    for value, label in field.flatchoices:
        labels[value] = label
    return labels


def value_column(
    key: str,
    field: Any,
    formats: Formats,
    where: str,
    hook: Callable[[Any], Any] | None = None,
) -> Column:
    """The column of a concrete field (a foreign key writes its related primary key)."""
    flags = formats.flags()
    if hook is not None:
        return Column(key, Kind.HOOK, field.attname, flags, hook)
    kind = stored_kind(field)
    if kind is None:
        if has_own_value_to_string(field):
            return Column(key, Kind.TEXT, field.attname, flags, field)
        raise PlanError(
            f"{where}: field {field.name!r} ({type(field).__name__}) has no known output form; "
            "declare it with ModelField(hook=...) or give the field a value_to_string()"
        )
    extra: Any = None
    if kind is Kind.FILE:
        extra = field.storage
    elif kind is Kind.JSON:
        extra = getattr(field, "encoder", None)
    if formats.choices == "label" and getattr(field, "choices", None) and not field.is_relation:
        flags |= Flag.CHOICE_LABEL
        extra = choice_labels(field)
    return Column(key, kind, field.attname, flags, extra)


@dataclass(frozen=True)
class Relation:
    """Where the instances of a relation are cached on the instance that holds it."""

    cache: str  # key of _state.fields_cache (one) or _prefetched_objects_cache (many)
    many: bool
    fk_attname: str | None  # forward one: the attname holding the related key
    related_model: type[models.Model]


def relation_of(field: Any) -> Relation:
    related_model = field.related_model
    if field.many_to_many:
        if field.auto_created and not field.concrete:  # reverse many-to-many
            return Relation(field.field.related_query_name(), True, None, related_model)
        return Relation(field.name, True, None, related_model)
    if field.one_to_many:  # reverse foreign key
        return Relation(field.cache_name, True, None, related_model)
    if field.auto_created and not field.concrete:  # reverse one-to-one
        return Relation(field.cache_name, False, None, related_model)
    return Relation(field.cache_name, False, field.attname, related_model)


def pk_field(model: type[models.Model]) -> Any:
    """The primary key as DRF names it: a parent link's own target, up to the root model."""
    pk = model._meta.pk
    while pk is not None and pk.remote_field is not None and pk.remote_field.parent_link:
        pk = pk.target_field
    return pk


def pks_column(key: str, relation: Relation, formats: Formats, where: str) -> Column:
    pk = pk_field(relation.related_model)
    kind = stored_kind(pk)
    if kind is None:
        raise PlanError(f"{where}: the primary key of {relation.related_model.__name__} has no known form")
    return Column(key, Kind.PKS, relation.cache, formats.flags(), pk.attname, None, kind)


def field_map(model: type[models.Model]) -> Mapping[str, Any]:
    """Every field of the model by name, reverse relations by accessor name."""
    fields: dict[str, Any] = {}
    for field in model._meta.get_fields(include_hidden=False):
        if field.auto_created and not field.concrete and field.is_relation:
            name = field.get_accessor_name()
            if name:
                fields[name] = field
        else:
            fields[field.name] = field
    return fields


def default_field_names(model: type[models.Model], declared: list[str]) -> list[str]:
    """DRF's order for fields = "__all__": the primary key, the declared fields, the model's
    other fields, then its forward relations."""
    opts = model._meta
    pk = pk_field(model)
    names = [pk.name]
    for name in declared:
        if name not in names:
            names.append(name)
    plain = [f.name for f in opts.fields if f.serialize and not f.remote_field]
    forward = [f.name for f in opts.fields if f.serialize and f.remote_field]
    forward += [f.name for f in opts.many_to_many if f.serialize]
    for name in plain + forward:
        if name not in names:
            names.append(name)
    return names
