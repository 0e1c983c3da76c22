"""A plain-Python writer of a serializer's plan, column by column, built on Python's and
Django's own text forms (isoformat(), str(), format(), django.utils.duration). The native kernel
must give exactly its output (and fail where it fails), so the tests compare the two."""

import base64
import datetime
import decimal
import math
import uuid

from django.db.models.fields.files import FieldFile
from django.utils.duration import duration_iso_string, duration_string

from sorvel.django._plan import Flag, Kind


class ReferenceError_(Exception):
    """The reference refuses the value (the native kernel must refuse it too)."""


def _engine_clock(hour, minute, second, microsecond):
    text = f"{hour:02d}:{minute:02d}:{second:02d}"
    if microsecond:
        text += f".{microsecond // 1000:03d}" if microsecond % 1000 == 0 else f".{microsecond:06d}"
    return text


def _datetime(value, flags, tz):
    if not isinstance(value, datetime.datetime):
        raise ReferenceError_("not a datetime")
    aware = value.tzinfo is not None and value.utcoffset() is not None
    python_form = flags & (Flag.DATETIME_ISO | Flag.DATETIME_Z)
    if aware and python_form and flags & Flag.LOCALTIME and tz is not None:
        text = value.astimezone(tz).isoformat()
        if flags & Flag.DATETIME_Z and text.endswith("+00:00"):
            text = text[:-6] + "Z"
        return text
    if flags & Flag.DATETIME_ISO:
        return value.isoformat()
    if flags & Flag.DATETIME_Z:
        if not aware:
            return value.isoformat()
        return value.astimezone(datetime.UTC).replace(tzinfo=None).isoformat() + "Z"
    utc = value.astimezone(datetime.UTC).replace(tzinfo=None) if aware else value
    return (
        utc.date().isoformat()
        + "T"
        + _engine_clock(utc.hour, utc.minute, utc.second, utc.microsecond)
        + "+00:00"
    )


def _time(value, flags):
    if not isinstance(value, datetime.time):
        raise ReferenceError_("not a time")
    if value.tzinfo is None and not flags & (Flag.DATETIME_ISO | Flag.DATETIME_Z):
        return _engine_clock(value.hour, value.minute, value.second, value.microsecond)
    return value.isoformat()


def _decimal(value, flags):
    if not isinstance(value, decimal.Decimal):
        raise ReferenceError_("not a Decimal")
    if not value.is_finite():
        raise ReferenceError_("not finite")
    text = str(value)
    if "E" in text.upper():
        text = format(value, "f")
    return float(value) if flags & Flag.DECIMAL_NUMBER else text


def _float(value):
    if not isinstance(value, (int, float)):
        raise ReferenceError_("not a float")
    value = float(value)
    if not math.isfinite(value):
        raise ReferenceError_("not finite")
    return value


def stored(kind, flags, value, tz):
    if kind is Kind.STR:
        if not isinstance(value, str):
            raise ReferenceError_("not a str")
        return str.__str__(value)
    if kind is Kind.INT:
        if not isinstance(value, int):
            raise ReferenceError_("not an int")
        return int(value)
    if kind is Kind.FLOAT:
        return _float(value)
    if kind is Kind.BOOL:
        if not isinstance(value, bool):
            raise ReferenceError_("not a bool")
        return value
    if kind is Kind.DECIMAL:
        return _decimal(value, flags)
    if kind is Kind.DATE:
        if not isinstance(value, datetime.date):
            raise ReferenceError_("not a date")
        return value.isoformat()
    if kind is Kind.TIME:
        return _time(value, flags)
    if kind is Kind.DATETIME:
        return _datetime(value, flags, tz)
    if kind is Kind.DURATION:
        if not isinstance(value, datetime.timedelta):
            raise ReferenceError_("not a timedelta")
        if flags & Flag.DURATION_SECONDS:
            return value.total_seconds()
        if flags & Flag.DURATION_ISO:
            return duration_iso_string(value)
        return duration_string(value)
    if kind is Kind.UUID:
        if not isinstance(value, uuid.UUID):
            raise ReferenceError_("not a UUID")
        return value.hex if flags & Flag.UUID_HEX else str(value)
    if kind is Kind.BYTES:
        if isinstance(value, str):
            raise ReferenceError_("not bytes")
        return base64.b64encode(bytes(value)).decode("ascii")
    if kind is Kind.JSON:
        return value
    raise AssertionError(kind)


def plain(value, flags, tz):
    if value is None or isinstance(value, bool):
        return value
    if isinstance(value, str):
        return str.__str__(value)
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return _float(value)
    if isinstance(value, decimal.Decimal):
        return _decimal(value, flags)
    if isinstance(value, datetime.datetime):
        return _datetime(value, flags, tz)
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, datetime.time):
        return _time(value, flags)
    if isinstance(value, datetime.timedelta):
        return stored(Kind.DURATION, flags, value, tz)
    if isinstance(value, uuid.UUID):
        return stored(Kind.UUID, flags, value, tz)
    if isinstance(value, (list, tuple)):
        return [plain(item, flags, tz) for item in value]
    if isinstance(value, dict):
        if not all(isinstance(key, str) for key in value):
            raise ReferenceError_("a key that is not a str")
        return {key: plain(item, flags, tz) for key, item in value.items()}
    raise ReferenceError_("no JSON form")


class _Missing(Exception):
    pass


def _related_list(column, instance):
    if column.flags & Flag.TO_ATTR:
        if column.source not in instance.__dict__:
            raise _Missing
        return instance.__dict__[column.source]
    cache = instance.__dict__.get("_prefetched_objects_cache", {})
    if column.source not in cache:
        raise _Missing
    entry = cache[column.source]
    return entry if isinstance(entry, (list, tuple)) else entry._result_cache


def _column(serializer_columns, column, instance, tz, plan_of):
    state = instance.__dict__
    kind = column.kind
    if kind is Kind.CALL:
        return plain(column.extra(instance), column.flags, tz)
    if kind is Kind.ATTRIBUTE:
        return plain(getattr(instance, column.source), column.flags, tz)
    if kind is Kind.RELATED:
        if column.extra2 is not None:
            if column.extra2 not in state:
                raise _Missing
            if state[column.extra2] is None:
                return None
        cache = state["_state"].fields_cache
        if column.source not in cache:
            raise _Missing
        related = cache[column.source]
        return None if related is None else row(plan_of(column.extra), related, tz, plan_of)
    if kind in (Kind.MANY, Kind.PKS):
        items = _related_list(column, instance)
        if kind is Kind.MANY:
            return [row(plan_of(column.extra), item, tz, plan_of) for item in items]
        return [
            None
            if item.__dict__[column.extra] is None
            else stored(column.pk_kind, column.flags, item.__dict__[column.extra], tz)
            for item in items
        ]
    if column.source not in state:
        raise _Missing
    value = state[column.source]
    if kind is Kind.HOOK:
        return plain(column.extra(value), column.flags, tz)
    if value is None:
        return None
    if column.flags & Flag.CHOICE_LABEL and value in column.extra:
        return str(column.extra[value])
    if kind is Kind.FILE:
        name = value.name if isinstance(value, FieldFile) else value
        if not name:
            return None
        return column.extra.url(name) if column.flags & Flag.FILE_URL else name
    if kind is Kind.TEXT:
        return plain(column.extra.value_to_string(instance), column.flags, tz)
    return stored(kind, column.flags, value, tz)


def row(columns, instance, tz, plan_of, skip_missing=False):
    out = {}
    for column in columns:
        try:
            out[column.key] = _column(columns, column, instance, tz, plan_of)
        except _Missing:
            if not skip_missing:
                raise ReferenceError_("missing") from None
    return out


def reference_dump(serializer, instances, tz=None):
    """What serializer.dump(instances) must return; ReferenceError_ where it must fail."""
    serializer._compiled()
    plans = {}

    def register(cls):
        cls._compiled()
        plans[id(cls._plan)] = cls._columns
        for declaration in cls.declared_fields.values():
            if hasattr(declaration, "many"):
                register(type(declaration))

    register(serializer)
    skip = serializer.serializer_options.on_missing == "skip"
    return [
        row(serializer._columns, instance, tz, lambda plan: plans[id(plan)], skip)
        for instance in instances
    ]
