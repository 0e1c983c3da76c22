"""Stand-ins for the cases that real Django models cannot produce.

sorvel_django reads a model only through `_meta.get_fields()` and a handful of attributes of
each field, so plain objects offering those attributes are read the same way. An attribute that
a fake field is not given (apart from is_relation and null, which default to False) is missing:
looking it up raises AttributeError.
"""

MISSING = object()


class FakeField:
    """A field object whose attributes and methods are exactly the ones given.

    `internal_type` and `default` may be exceptions, which the corresponding method raises;
    other attributes may be properties given as `property` objects.
    """

    def __init__(self, name=MISSING, internal_type="CharField", default=False, **attributes):
        if name is not MISSING:
            attributes["name"] = name
        attributes.setdefault("is_relation", False)
        attributes.setdefault("null", False)
        self._internal_type = internal_type
        self._default = default
        self._attributes = attributes

    def __getattr__(self, attribute):
        try:
            value = self.__dict__["_attributes"][attribute]
        except KeyError:
            raise AttributeError(attribute) from None
        if isinstance(value, property):
            return value.fget(self)
        return value

    def get_internal_type(self):
        if isinstance(self._internal_type, BaseException):
            raise self._internal_type
        return self._internal_type

    def has_default(self):
        if isinstance(self._default, BaseException):
            raise self._default
        return self._default


class raising(property):  # noqa: N801 - used like a function
    """A property that raises `exception` when it is read."""

    def __init__(self, exception):
        def read(_):
            raise exception

        super().__init__(read)
        self.exception = exception

    def __repr__(self):
        return f"raising({type(self.exception).__name__})"


class FakeMeta:
    def __init__(self, fields):
        self._fields = fields

    def get_fields(self):
        if isinstance(self._fields, BaseException):
            raise self._fields
        return self._fields


def fake_model(fields, name="Fake"):
    """A model class whose `_meta.get_fields()` returns `fields` (or raises it)."""
    return type(name, (), {"_meta": FakeMeta(fields)})


def numpy_like_bool(value):
    """An object whose type looks like NumPy's boolean scalar type (name and module)."""
    namespace = {
        "__module__": "numpy",
        "__bool__": lambda self: value,
        "__repr__": lambda self: f"numpy.bool_({value})",
    }
    return type("bool_", (), namespace)()
