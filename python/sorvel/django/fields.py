"""Declared fields of a ModelSerializer: options for a model field, and computed values."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

from sorvel.django._plan import Formats


class Declared:
    """Base of everything a serializer class may declare as a class attribute."""

    def __init__(
        self,
        *,
        source: str | None = None,
        datetime_format: str | None = None,
        localtime: bool | None = None,
        decimal_format: str | None = None,
        uuid_format: str | None = None,
        choices: str | None = None,
        file_format: str | None = None,
        duration_format: str | None = None,
    ) -> None:
        self.source = source
        self.formats = Formats(
            datetime_format=datetime_format,
            localtime=localtime,
            decimal_format=decimal_format,
            uuid_format=uuid_format,
            choices=choices,
            file_format=file_format,
            duration_format=duration_format,
        )

    def __repr__(self) -> str:
        source = f"source={self.source!r}" if self.source else ""
        return f"{type(self).__name__}({source})"


class ModelField(Declared):
    """A model field under this key, with its own output forms.

    ``cost = ModelField(source="price", decimal_format="number")`` writes the model's ``price``
    under the key ``cost``. ``hook`` replaces the built-in conversion: it is called with the
    stored value (None included) and returns a JSON-compatible value.
    """

    def __init__(self, source: str | None = None, *, hook: Callable[[Any], Any] | None = None,
                 **formats: Any) -> None:  # fmt: skip
        super().__init__(source=source, **formats)
        self.hook = hook


class Computed(Declared):
    """A value computed from the instance: ``function(instance)``.

    Without a function, the serializer's method ``get_<key>(instance)`` is used, as with DRF's
    SerializerMethodField. The result may be any JSON-compatible value, or a Decimal, date,
    time, datetime, timedelta or UUID, written in the field's forms.
    """

    def __init__(self, function: Callable[[Any], Any] | None = None, **formats: Any) -> None:
        super().__init__(**formats)
        self.function = function


class Attribute(Declared):
    """An attribute of the instance, read with getattr: a model property, for example.

    ``Attribute()`` reads the attribute named like the key; ``Attribute("get_full_name")``
    another one. A property may run any code, including queries: it costs what it does.
    """

    def __init__(self, source: str | None = None, **formats: Any) -> None:
        super().__init__(source=source, **formats)
