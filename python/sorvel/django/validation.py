"""Request data validated the way Django validates a model instance.

``compile_input_plan(Model, fields)`` reads the model's fields once and compiles a native input
plan. ``plan.validate(data)`` and ``plan.validate_many(rows)`` then clean request data (dicts)
or model instances exactly as ``Model.clean_fields()`` would clean an instance built from the
same data: the same conversions (``"12"`` becomes ``12``, ``"2024-05-01"`` a ``date``), the same
rules (null, blank, choices, ``max_length``, value ranges including the database's integer
range, decimal digits, email, URL, slug and IP address validators) and the same messages, codes
and params, translated in the active language. Bad data never raises: it is reported.

The per-row work runs in native code. Values that only Django can judge (text forms the native
parsers do not know, non-ASCII addresses, custom validators, custom fields) are passed to the
field's own Django methods, for that value only.
"""

from __future__ import annotations

import json
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any

from django.core import validators as django_validators
from django.core.exceptions import FieldDoesNotExist, ValidationError
from django.db import models
from django.db.models.expressions import DatabaseDefault
from django.db.models.fields import AutoFieldMixin
from django.utils.functional import Promise
from django.utils.translation import get_language
from django.utils.translation import gettext_lazy

import sorvel_django

# The private kernels of the native module (not part of its typed surface).
_compile_native: Callable[[list[dict[str, Any]]], Any] = getattr(sorvel_django, "_compile_input_plan")
_validate_native: Callable[[Any, Iterable[Any]], tuple[Any, list[Any]]] = getattr(
    sorvel_django, "_validate_rows"
)
_render_native: Callable[..., dict[Any, Any]] = getattr(sorvel_django, "_render_messages")

ErrorList = list[ValidationError]
Converted = tuple[Any, Any]

__all__ = ["InputPlan", "ValidationResult", "compile_input_plan"]

# The field classes whose to_python() the native side reproduces, most derived first.
_CONVERSIONS = (
    (models.DateTimeField, "datetime"),
    (models.DateField, "date"),
    (models.TimeField, "time"),
    (models.DecimalField, "decimal"),
    (models.FloatField, "float"),
    (models.IntegerField, "integer"),
    (models.BooleanField, "boolean"),
    (models.UUIDField, "uuid"),
    (models.CharField, "text"),
    (models.TextField, "text"),
    (models.JSONField, "json"),
)

_STANDARD_VALIDATE = {models.Field.validate, models.JSONField.validate, AutoFieldMixin.validate}

_IPV46_MESSAGE = gettext_lazy("Enter a valid %(protocol)s address.")
_IPV46_PROTOCOL = gettext_lazy("IPv4 or IPv6")


def _kind_of(field: Any) -> str:
    cls = type(field)
    if cls.clean is not models.Field.clean or cls.run_validators is not models.Field.run_validators:
        return "slow"
    if cls.validate not in _STANDARD_VALIDATE or field.is_relation:
        return "slow"
    for base, kind in _CONVERSIONS:
        if isinstance(field, base) and cls.to_python is base.to_python:
            if kind != "json" and cls.validate is models.JSONField.validate:
                return "slow"
            return kind
    if cls.to_python is models.Field.to_python and cls.validate is not models.JSONField.validate:
        return "identity"
    if cls.validate is models.Field.validate:
        return "python"
    return "slow"


def _empty(field: Any, value: Any) -> bool:
    try:
        return value in field.empty_values
    except Exception:  # noqa: BLE001 - an object whose == fails equals no empty value
        return False


def _reference_clean(field: Any, raw: Any) -> Converted:
    """One field of Model.clean_fields(): (cleaned value, None) or (None, [ValidationError])."""
    if field.blank and _empty(field, raw):
        return raw, None
    if isinstance(raw, DatabaseDefault):
        return raw, None
    try:
        return field.clean(raw, None), None
    except ValidationError as error:
        return None, error.error_list
    except (TypeError, ValueError, OverflowError, ArithmeticError):
        return None, [_unreadable(field, raw)]


def _unreadable(field: Any, raw: Any) -> Any:
    # Django lets a few conversions raise (int(inf), parse_date(5)); the value is reported as
    # invalid instead, with the field's own wording when it has one.
    message = field.error_messages.get("invalid", django_validators.RegexValidator.message)
    return ValidationError(message, code="invalid", params={"value": raw})


def _converter(field: Any) -> Callable[[Any], Converted]:
    def convert(raw: Any) -> Converted:
        try:
            return field.to_python(raw), None
        except ValidationError as error:
            return None, error.error_list
        except (TypeError, ValueError, OverflowError, ArithmeticError):
            return None, _unreadable(field, raw)

    return convert


def _validators_runner(field: Any) -> Callable[[Any], Any]:
    def run(value: Any) -> Any:
        try:
            field.run_validators(value)
        except ValidationError as error:
            return error.error_list
        return None

    return run


def _validator_fallback(field: Any, validator: Any) -> Callable[[Any], Any]:
    """Runs one Django validator as Field.run_validators would: ValidationError or None."""

    def run(value: Any) -> Any:
        try:
            validator(value)
        except ValidationError as error:
            errors = error.error_list
            for item in errors:
                if item.code in field.error_messages:
                    item.message = field.error_messages[item.code]
            return errors
        return None

    return run


def _json_checker(field: Any) -> Callable[[Any], Any]:
    def check(value: Any) -> Any:
        # Django's JSONField lets the encoder's ValueError (a circular reference) and
        # RecursionError (nesting too deep) escape full_clean(); they are reported as invalid
        # JSON instead, so that one row's value cannot stop the rows after it.
        try:
            json.dumps(value, cls=field.encoder)
        except (TypeError, ValueError, RecursionError):
            return ValidationError(
                field.error_messages["invalid"], code="invalid", params={"value": value}
            )
        return None

    return check


def _missing_outcome(field: Any) -> list[Any] | None:
    """What an absent key gives: None when nothing is reported, else the errors."""
    if field.has_default():
        # A callable default (dict, uuid4, now) is called once here: its kind of value, and
        # so the outcome, is the same on every call. One that cannot run now (it needs a
        # request, say) is left to the model.
        try:
            raw = field.get_default()
        except Exception:  # noqa: BLE001
            return None
    elif field.has_db_default():
        return None
    else:
        raw = field.get_default()
    _, errors = _reference_clean(field, raw)
    return None if errors is None else list(errors)


class _Messages:
    """The message templates of one field, by the native side's keys: (code, template, extra)."""

    def __init__(self, field: Any) -> None:
        self.field = field
        self.table: dict[str, tuple[str, Any, dict[str, Any] | None]] = {}
        self.texts: dict[Any, str] = {}  # translated template texts, per language
        for code in ("invalid", "null", "blank", "invalid_choice"):
            if code in field.error_messages:
                self.table[code] = (code, field.error_messages[code], None)

    def add(self, key: str, code: str, template: Any, extra: dict[str, Any] | None = None) -> str:
        template = self.field.error_messages.get(code, template)
        self.table[key] = (code, template, extra)
        return key


def _is_slug(validator: Any) -> bool:
    return (
        type(validator) is django_validators.RegexValidator
        and validator.regex.pattern == django_validators.slug_re.pattern
        and validator.regex.flags == django_validators.slug_re.flags
        and not validator.inverse_match
    )


def _check_specs(field: Any, messages: _Messages) -> list[dict[str, Any]] | None:
    """The native checks of the field's validators, in order; None when one has no native form."""
    checks: list[dict[str, Any]] = []
    for position, validator in enumerate(field.validators):
        key = f"v{position}"
        cls = type(validator)
        if cls in (
            django_validators.MaxLengthValidator,
            django_validators.MinLengthValidator,
            django_validators.MinValueValidator,
            django_validators.MaxValueValidator,
        ):
            limit = validator.limit_value
            if callable(limit):
                return None
            messages.add(key, validator.code, validator.message)
            if cls in (django_validators.MaxLengthValidator, django_validators.MinLengthValidator):
                if type(limit) is not int:
                    return None
                name = "max_length" if cls is django_validators.MaxLengthValidator else "min_length"
                checks.append({"check": name, "key": key, "size": limit})
            else:
                name = "min_value" if cls is django_validators.MinValueValidator else "max_value"
                checks.append({"check": name, "key": key, "limit": limit})
        elif cls is django_validators.DecimalValidator:
            keys = {code: f"{key}.{code}" for code in validator.messages if code != "invalid"}
            for code, sub_key in keys.items():
                messages.add(sub_key, code, validator.messages[code])
            checks.append(
                {
                    "check": "decimal",
                    "key": keys["max_digits"],
                    "places_key": keys["max_decimal_places"],
                    "whole_key": keys["max_whole_digits"],
                    "max_digits": validator.max_digits,
                    "decimal_places": validator.decimal_places,
                    "fallback": _validator_fallback(field, validator),
                }
            )
        elif cls is django_validators.EmailValidator and _default_email(validator):
            messages.add(key, validator.code, validator.message)
            checks.append(
                {
                    "check": "email",
                    "key": key,
                    "words": [str(domain) for domain in validator.domain_allowlist],
                    "fallback": _validator_fallback(field, validator),
                }
            )
        elif cls is django_validators.URLValidator and _default_url(validator):
            messages.add(key, validator.code, validator.message)
            checks.append(
                {
                    "check": "url",
                    "key": key,
                    "words": [str(scheme) for scheme in validator.schemes],
                    "fallback": _validator_fallback(field, validator),
                }
            )
        elif _is_slug(validator):
            messages.add(key, validator.code, validator.message)
            checks.append({"check": "slug", "key": key})
        elif validator is django_validators.validate_ipv46_address:
            messages.add(key, "invalid", _IPV46_MESSAGE, {"protocol": _IPV46_PROTOCOL})
            checks.append(
                {"check": "ipv46", "key": key, "fallback": _validator_fallback(field, validator)}
            )
        else:
            return None
    return checks


def _default_email(validator: Any) -> bool:
    cls = django_validators.EmailValidator
    return all(
        name not in vars(validator) for name in ("user_regex", "domain_regex", "literal_regex")
    ) and all(getattr(type(validator), name) is getattr(cls, name) for name in ("__call__",))


def _default_url(validator: Any) -> bool:
    cls = django_validators.URLValidator
    return (
        validator.regex is cls.regex
        and validator.max_length == cls.max_length
        and validator.unsafe_chars == cls.unsafe_chars
        and all(isinstance(scheme, str) for scheme in validator.schemes)
    )


def _field_spec(field: Any, messages: _Messages) -> dict[str, Any]:
    kind = _kind_of(field)
    spec: dict[str, Any] = {
        "key": field.name,
        "attname": field.attname,
        "kind": kind,
        "blank": bool(field.blank),
        "null": bool(field.null),
        "editable": bool(field.editable) and type(field).validate is not AutoFieldMixin.validate,
        "missing": _missing_outcome(field),
    }
    if kind == "slow":
        spec["clean"] = lambda raw, _field=field: _reference_clean(_field, raw)
        return spec
    spec["convert"] = _converter(field)
    if field.choices is not None:
        try:
            spec["choices"] = frozenset(key for key, _ in field.flatchoices)
        except TypeError:  # an unhashable choice: Django's own clean() decides
            spec["kind"] = "slow"
            spec["clean"] = lambda raw, _field=field: _reference_clean(_field, raw)
            return spec
    if kind == "json":
        spec["json_check"] = _json_checker(field)
    checks = _check_specs(field, messages)
    if checks is None:
        spec["validators"] = _validators_runner(field)
    else:
        spec["checks"] = checks
    return spec


def _model_fields(
    model: Any, fields: Sequence[str] | str | None, exclude: Sequence[str] | None
) -> list[Any]:
    meta = model._meta
    if fields is None or fields == "__all__":
        chosen = [field for field in meta.concrete_fields if not field.generated]
    else:
        if isinstance(fields, str):
            raise TypeError("fields must be a list of field names or '__all__'")
        chosen = []
        for name in fields:
            try:
                field = meta.get_field(name)
            except FieldDoesNotExist:
                raise ValueError(f"{model.__name__} has no field named {name!r}") from None
            if not getattr(field, "concrete", False) or field.many_to_many:
                raise ValueError(
                    f"field {name!r} of {model.__name__} is not a column and cannot be validated"
                )
            if not field.generated:
                chosen.append(field)
    if exclude:
        excluded = set(exclude)
        chosen = [field for field in chosen if field.name not in excluded]
    return chosen


def input_fields_of(
    model: Any, names: Sequence[str] | str | None, exclude: Sequence[str], skip: Iterable[str]
) -> list[Any]:
    """The model fields a serializer with these Meta names takes as input: its names that are
    columns of the model (not generated), leaving out `skip` (declared, computed fields)."""
    skipped = set(skip) | set(exclude)
    if names is None or names == "__all__":
        candidates = [field.name for field in model._meta.concrete_fields]
    else:
        candidates = list(names)
    chosen = []
    for name in candidates:
        if name in skipped:
            continue
        try:
            field = model._meta.get_field(name)
        except FieldDoesNotExist:
            continue
        if getattr(field, "concrete", False) and not field.many_to_many and not field.generated:
            chosen.append(field)
    return chosen


class InputPlan:
    """A compiled plan that cleans request data for some fields of one model.

    Build it with :func:`compile_input_plan`; it is immutable and may be shared by threads.
    """

    __slots__ = ("model", "fields", "_native", "_messages", "_names", "_renderers")

    def __init__(self, model: Any, fields: Sequence[Any]) -> None:
        self.model = model
        self.fields = tuple(fields)
        self._messages = [_Messages(field) for field in self.fields]
        specs = [_field_spec(field, messages) for field, messages in zip(self.fields, self._messages)]
        self._native = _compile_native(specs)
        self._names = tuple(field.name for field in self.fields)
        # Per language: what the native renderer of the messages is given (see _renderer).
        self._renderers: dict[str | None, tuple[Any, ...]] = {}

    def _renderer(self, language: str | None) -> tuple[Any, ...]:
        """For one language: per field, a dict from message key to how its text is made (see
        _entry), filled on first need by the first callable; then the callables that give a
        plural form's text, render a template of another kind and a ValidationError."""
        entries: list[dict[str, tuple[Any, ...]]] = [{} for _ in self.fields]
        tables = [messages.table for messages in self._messages]

        def resolve(position: int, key: str) -> tuple[Any, ...]:
            entry = entries[position][key] = _entry(tables[position][key])
            return entry

        def plural_text(position: int, key: str, number: Any) -> str:
            return str(tables[position][key][1]._translate(number))

        def render_other(position: int, key: str, params: dict[str, Any] | None) -> str:
            messages = self._messages[position]
            return _format(messages.table[key][1], params, messages.texts, key, language)

        def render_django(error: Any) -> str:
            return _format(error.message, error.params, {}, None, language)

        return entries, resolve, plural_text, render_other, render_django

    def validate(self, data: Mapping[str, Any] | Any) -> ValidationResult:
        """Cleans one dict of request data (keys are field names) or one model instance."""
        cleaned, records = _validate_native(self._native, (data,))
        # Positional: a keyword argument costs a dict per call.
        return ValidationResult(self, cleaned[0] if cleaned else {}, records, False)

    def validate_many(self, rows: Iterable[Any]) -> ValidationResult:
        """Cleans many rows (dicts or instances); one row's errors never stop the others."""
        cleaned, records = _validate_native(self._native, rows)
        return ValidationResult(self, cleaned, records, True)

    def __repr__(self) -> str:
        names = ", ".join(field.name for field in self.fields)
        return f"<InputPlan {self.model.__name__}: {names}>"


def compile_input_plan(
    model: Any,
    fields: Sequence[str] | str | None = None,
    exclude: Sequence[str] | None = None,
) -> InputPlan:
    """Compiles an input plan for `fields` of `model` (all concrete fields by default).

    Generated fields are left out: the database computes them. Fields Django fills itself
    (auto fields, ``auto_now``/``auto_now_add`` dates) and fields with a default may be absent
    from the data.
    """
    if not (isinstance(model, type) and issubclass(model, models.Model)):
        raise TypeError(f"expected a Django model class, got {model!r}")
    return InputPlan(model, _model_fields(model, fields, exclude))


class ValidationResult:
    """The outcome of :meth:`InputPlan.validate` or :meth:`InputPlan.validate_many`.

    ``is_valid``: no row has an error. ``data``: the cleaned values, converted to the model
    fields' Python types and keyed by attribute name, ready for ``Model(**data)``; for
    ``validate_many`` a list with the cleaned dict of each valid row, in input order.
    ``errors``: ``{field: [message, ...]}`` (``validate_many``: ``{row index: {field: [...]}}``,
    valid rows absent), the messages translated in the active language. ``error_details``: the
    same shape with ``{"message", "code", "params"}`` dicts; ``error_codes``: codes only.
    """

    # No __slots__: a class with plain instance attributes is made by the interpreter's fast road
    # for calls of Python classes, which a class with slots is not.

    def __init__(self, plan: InputPlan, data: Any, records: list[Any], many: bool) -> None:
        self.plan = plan
        self.data = data
        self.is_valid = not records
        self._records = records
        self._many = many
        # Made on the first rendering: most results are read for their data only.
        self._rendered: dict[str | None, list[Any]] | None = None

    @property
    def invalid_rows(self) -> list[int]:
        """The indexes of the rows with errors, in order."""
        return list(dict.fromkeys(record[0] for record in self._records))

    @property
    def errors(self) -> dict[Any, Any]:
        if not self._records:
            return {}
        # The records are walked and their messages formatted natively; the texts come from
        # Django's catalogue, once per plan, language and message (see InputPlan._renderer).
        plan = self.plan
        language = get_language()
        renderer = plan._renderers.get(language)
        if renderer is None:
            renderer = plan._renderers[language] = plan._renderer(language)
        return _render_native(self._records, plan._names, *renderer, self._many)

    @property
    def error_codes(self) -> dict[Any, Any]:
        return self._shaped(lambda detail: detail["code"])

    @property
    def error_details(self) -> dict[Any, Any]:
        return self._shaped(lambda detail: dict(detail))

    def _shaped(self, pick: Callable[[dict[str, Any]], Any]) -> dict[Any, Any]:
        by_row: dict[int, dict[str, list[Any]]] = {}
        for row, field_name, detail in self._details():
            by_row.setdefault(row, {}).setdefault(field_name, []).append(pick(detail))
        if self._many:
            return by_row
        return by_row.get(0, {})

    def _details(self) -> list[Any]:
        language = get_language()
        if self._rendered is None:
            self._rendered = {}
        rendered = self._rendered.get(language)
        if rendered is None:
            rendered = self._rendered[language] = _render(self.plan, self._records)
        return rendered

    def __repr__(self) -> str:
        state = "valid" if self.is_valid else f"{len(self._records)} errors"
        return f"<ValidationResult {state}>"


def _plain_params(params: dict[str, Any] | None) -> dict[str, Any]:
    if not params:
        return {}
    return {name: str(value) if isinstance(value, Promise) else value for name, value in params.items()}


_PLAIN_LAZY = type(gettext_lazy("x"))


def _format(template: Any, params: dict[str, Any] | None, texts: dict[Any, str], ident: Any,
            language: str | None) -> str:
    """Django's rendering of a message (``message % params``), with the translated template
    text cached per language: resolving a lazy message through the catalogue costs far more
    than formatting it."""
    number_of = getattr(template, "_get_number_value", None)
    translate = getattr(template, "_translate", None)
    if type(template) is not _PLAIN_LAZY and (number_of is None or translate is None):
        return str(template % params) if params else str(template)  # no text to cache
    if number_of is not None and translate is not None:
        # ngettext_lazy with a named number: the text depends on that param's value.
        number = number_of(params) if params else None
        cache_key = (language, ident, number)
        text = texts.get(cache_key)
        if text is None:
            text = texts[cache_key] = str(translate(number))
        try:
            return text % params if params else text
        except TypeError:  # a text without the placeholder, as Django allows
            return text
    cache_key = (language, ident, None)
    text = texts.get(cache_key)
    if text is None:
        text = texts[cache_key] = str(template)
    return text % params if params else text


class _NumberProbe(dict):  # type: ignore[type-arg]
    """Finds the param that picks a plural form: the key the message reads from its params."""

    name: str | None = None

    def __missing__(self, key: str) -> int:
        self.name = key
        return 1


def _entry(message: tuple[str, Any, dict[str, Any] | None]) -> tuple[Any, ...]:
    """How the native renderer makes a message's text in the active language, as _format makes
    it: (0, text, extra) for one text; (1, the number's param name, extra, {number: text}) for a
    plural form; (2, None, extra) for a template _format renders itself, record by record."""
    _, template, extra = message
    number_of = getattr(template, "_get_number_value", None)
    translate = getattr(template, "_translate", None)
    if number_of is not None and translate is not None:
        probe = _NumberProbe()
        try:
            number_of(probe)
        except Exception:  # noqa: BLE001 - not a lookup by name: rendered record by record
            probe.name = None
        if probe.name is not None:
            return (1, probe.name, extra, {})
    elif type(template) is _PLAIN_LAZY or type(template) is str:
        return (0, str(template), extra)
    return (2, None, extra)


def _render(plan: InputPlan, records: list[Any]) -> list[Any]:
    language = get_language()
    details = []
    local: dict[Any, str] = {}  # Django's own errors: their messages live as long as the records
    for row, position, key, params in records:
        field = plan.fields[position]
        if params is not None:  # (name, value, name, value, ...) from the native side
            params = dict(zip(params[::2], params[1::2]))
        if isinstance(key, str):
            messages = plan._messages[position]
            code, template, extra = messages.table[key]
            if extra:
                params = {**extra, **(params or {})}
            message = _format(template, params, messages.texts, key, language)
        else:
            code, params = key.code, key.params
            message = _format(key.message, params, local, id(key.message), language)
        details.append(
            (row, field.name, {"message": message, "code": code, "params": _plain_params(params)})
        )
    return details
