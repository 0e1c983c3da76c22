"""The error a serializer raises for a value it cannot write."""

from __future__ import annotations


class SerializationError(ValueError):
    """A value that cannot be written, or one that is not loaded.

    The message says where: "row 17, field 'price': expected a Decimal, got str". ``row`` is the
    position of the instance in the input (None for ``dump_one``), ``field`` the key path inside
    it ("author.name", "tags[2].label"; None when the instance itself is wrong). An exception
    raised by a computed field or a hook is the ``__cause__``.
    """

    def __init__(self, message: str, row: int | None = None, field: str | None = None) -> None:
        super().__init__(message)
        self.row = row
        self.field = field
