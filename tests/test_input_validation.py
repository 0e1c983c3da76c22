"""sorvel.django input plans against Django itself: for every value of a corpus of good and bad
request data, the plan reports what full_clean() reports for an instance built from the same
data (fields, codes, params and texts, in English and French) and cleans to the same values."""

import datetime
import decimal
import uuid
from unittest.mock import ANY

import pytest

from django_app.environment import start_django

start_django()

from django.core import validators  # noqa: E402
from django.core.exceptions import ValidationError  # noqa: E402
from django.db import models  # noqa: E402
from django.utils import translation  # noqa: E402
from django.utils.translation import gettext_lazy, ngettext_lazy  # noqa: E402

from sorvel.django import compile_input_plan  # noqa: E402


class Choice(models.TextChoices):
    DRAFT = "draft", "Draft"
    LIVE = "live", "Live"


class InputSample(models.Model):
    name = models.CharField(max_length=20)
    text = models.TextField(blank=True)
    nick = models.CharField(max_length=10, null=True, blank=True)
    status = models.CharField(max_length=10, choices=Choice.choices, default=Choice.DRAFT)
    level = models.IntegerField(choices=[(1, "One"), ("Group", [(2, "Two"), (3, "Three")])], null=True, blank=True)
    count = models.IntegerField()
    small = models.SmallIntegerField(default=0)
    positive = models.PositiveIntegerField(null=True)
    psmall = models.PositiveSmallIntegerField(default=1)
    big = models.BigIntegerField(null=True, blank=True)
    score = models.IntegerField(
        default=50, validators=[validators.MinValueValidator(0), validators.MaxValueValidator(100)]
    )
    ratio = models.FloatField(null=True, blank=True)
    price = models.DecimalField(max_digits=5, decimal_places=2)
    amount = models.DecimalField(max_digits=6, decimal_places=0, null=True, blank=True)
    active = models.BooleanField(default=False)
    flag = models.BooleanField(null=True, blank=True)
    day = models.DateField(null=True, blank=True)
    clock = models.TimeField(null=True, blank=True)
    stamp = models.DateTimeField(null=True, blank=True)
    created = models.DateTimeField(auto_now_add=True)
    updated = models.DateField(auto_now=True)
    uid = models.UUIDField(default=uuid.uuid4)
    ref = models.UUIDField(null=True, blank=True)
    payload = models.JSONField(default=dict, blank=True)
    extra = models.JSONField(null=True, blank=True)
    email = models.EmailField(blank=True)
    site = models.URLField(blank=True)
    slug = models.SlugField(max_length=20)
    ip = models.GenericIPAddressField(null=True, blank=True)
    code = models.CharField(max_length=8, blank=True, validators=[validators.RegexValidator(r"^[A-Z]+$")])
    duration = models.DurationField(null=True, blank=True)
    total = models.GeneratedField(
        expression=models.F("count") + 1, output_field=models.IntegerField(), db_persist=True
    )

    class Meta:
        app_label = "django_app"


PLAN = compile_input_plan(InputSample)

BASE = {
    "name": "Ada",
    "count": 3,
    "price": "1.50",
    "slug": "ada",
    "positive": 1,
}

UTC = datetime.timezone.utc
GOOD_UUID = "12345678-1234-5678-1234-567812345678"

CORPUS = {
    "name": ["abc", "", None, "x" * 21, "x" * 20, 123, "é" * 21, "é" * 20, "  "],
    "text": ["", "long text", None],
    "nick": [None, "", "n" * 11, "nick"],
    "status": ["draft", "live", "other", "", None, "DRAFT", Choice.LIVE],
    "level": [1, 2, 3, 4, "1", None, "x", True, 1.0, "", []],
    "count": [0, -5, "12", " 7 ", "1_000", "x", "", None, 2**31, 2**63, -(2**63) - 1, 1.9,
              True, "١٢", [], "12.5", decimal.Decimal("4.7"), "-0", "+3"],
    "small": [40000, -1, "9"],
    "positive": [-1, 0, "5", "-3", None],
    "psmall": [-1, 2**63 - 1, 2**63],
    "big": ["", None, 2**63 - 1, 2**63],
    "score": [-1, 101, 50, "100", "-1"],
    "ratio": [1.5, "1e3", "nan", "inf", "x", None, "", True, 7, " 2.5 ", "1_0.5"],
    "price": ["1.23", "123.4", "1234.5", "0.001", "1.2e2", "-999.99", "999.99", "1E+3", "x", "NaN",
              "Infinity", 1.5, 3, decimal.Decimal("1.234"), "  1.5 ", "", None, "1_0.5", ".5", "5.",
              "0.00", "000123.00", "1e-2", "-0", 2.675, decimal.Decimal("1E+1"), "1e999999999"],
    "amount": ["123456", "1234567", "1.5", None, "0", "1E+5", "1E+6"],
    "active": [True, False, 1, 0, "t", "f", "True", "yes", None, "", 2, "1", "0", 1.0],
    "flag": [None, "", "1", "x", False, []],
    "day": ["2024-05-01", "2024-5-1", "20240501", "2024-02-30", "x", datetime.date(2024, 1, 1),
            datetime.datetime(2024, 1, 1, 23, 30, tzinfo=UTC), "", None, "2024-W01-1",
            "0000-01-01", "2024-02-29", "2023-02-29", "９９９９-01-01"],
    "clock": ["10:30", "10:30:15.5", "25:00", "10:30:00.123456", "10:30+02:00", datetime.time(1, 2),
              "x", "10:30:15", "10:30:15.123", "23:59:59.9999999", "1030", "10:60"],
    "stamp": ["2024-05-01T10:00:00Z", "2024-05-01 10:00", "2024-05-01T10:00:00+02:00",
              "2024-05-01", "2024-13-01T00:00", "x", "2024-05-01T10:00:00.123",
              datetime.datetime(2024, 5, 1, 10), datetime.datetime(2024, 5, 1, 10, tzinfo=UTC),
              "2024-05-01T10:00:00-05:30", "2024-05-01T10:00:00+00:00", "2024-05-01T24:00:00",
              "2024-05-01T10:00:00.123456789", "2024-02-30T10:00"],
    "created": ["x", None, "2024-01-01T00:00", ""],
    "uid": [GOOD_UUID, GOOD_UUID.replace("-", ""), "x", 5, uuid.UUID(GOOD_UUID), "", None,
            "{" + GOOD_UUID + "}", "urn:uuid:" + GOOD_UUID, GOOD_UUID.upper()],
    "ref": [None, "", GOOD_UUID, -1],
    "payload": [{}, [], [1, 2], "s", 5, None, {"a": {1, 2}}, {"a": 1.5}, (1, 2), {1: "a"},
                {"k": object()}, True, 1.5, {"nested": [{"deep": [None]}]}],
    "extra": [None, {"k": [1, None]}, object(), "", [], {}],
    "email": ["a@b.com", "a@localhost", "bad", "a@[127.0.0.1]", "ü@b.com", "a@b.c", "", "a.@b.com",
              '"x y"@b.com', "a@b.com.", "A@B.COM", "a@b.co1", "a@xn--p1ai.xn--p1ai", "a@-b.com",
              "a@[IPv6:::1]", "a@[::1]", "a@b@c.com", "x" * 64 + "@" + "y" * 250 + ".com",
              "a@bü.com", 5],
    "site": ["http://example.com", "https://exa mple.com", "ftp://x.y", "http://[::1]:80/",
             "http://localhost", "mailto:x@y.z", "http://1.2.3.4", "http://256.1.1.1",
             "http://ex_ample.com", "http://exämple.com", "", "HTTP://EXAMPLE.COM",
             "http://user:pw@example.com:8080/p?q=1#f", "http://[::1", "http://example.com:123456",
             "http://a.b-.com", "http://example.com./x", "http://[1.2.3.4]", "//example.com",
             "http://example.com\n", "http://-a.com", "http://a.xn--p1ai", "https://" + "a" * 64 + ".com"],
    "slug": ["a-b_c", "a b", "", "ñ", "x" * 21, "A-Z09", None],
    "ip": ["1.2.3.4", "::1", "1.2.3", "::ffff:1.2.3.4", " 1.2.3.4 ", "x", "01.2.3.4", "2001:DB8::1",
           "", None, "1.2.3.256", "fe80::1%eth0", "1:2:3:4:5:6:7:8:9"],
    "code": ["ABC", "abc", "TOOLONGCODE", "", "toolongcode"],
    "duration": ["1 day, 0:00:01", "x", None, datetime.timedelta(seconds=5), "00:01:00"],
    "total": [5, "x"],
}

CASES = [(name, value) for name, values in CORPUS.items() for value in values]


def django_errors(data):
    """What full_clean() reports for an instance built from `data`, and the instance."""
    instance = InputSample(**data)
    try:
        instance.full_clean(validate_unique=False, validate_constraints=False)
    except ValidationError as error:
        return instance, {
            name: [(item.code, str(item.message % item.params) if item.params else str(item.message))
                   for item in items]
            for name, items in error.error_dict.items()
        }
    return instance, {}


def same(a, b):
    """Equal values of the same type; a NaN is the same as a NaN."""
    return type(a) is type(b) and (a == b or (a != a and b != b))


def sorvel_errors(result):
    return {
        name: [(detail["code"], detail["message"]) for detail in details]
        for name, details in result.error_details.items()
    }


def assert_same_as_django(data):
    instance, expected = django_errors(data)
    result = PLAN.validate(data)
    assert sorvel_errors(result) == expected
    # errors are rendered natively, error_details by the Python side: the same messages.
    assert result.errors == {name: [message for _, message in items] for name, items in expected.items()}
    assert result.is_valid == (not expected)
    if result.is_valid:
        for name, value in result.data.items():
            cleaned = getattr(instance, name)
            assert same(value, cleaned), name


@pytest.mark.parametrize("language", ["en", "fr"])
@pytest.mark.parametrize(("name", "value"), CASES, ids=[f"{n}-{i}" for i, (n, _) in enumerate(CASES)])
def test_each_value_is_judged_as_full_clean_judges_it(name, value, language):
    with translation.override(language):
        assert_same_as_django({**BASE, name: value})


@pytest.mark.parametrize("name", [field.name for field in PLAN.fields])
def test_an_absent_field_is_judged_like_the_model_default(name):
    data = {key: value for key, value in BASE.items() if key != name}
    assert_same_as_django(data)


def test_many_rows_keep_their_indexes_and_only_valid_rows_are_cleaned():
    rows = [{**BASE, name: value} for name, value in CASES]
    result = PLAN.validate_many(rows)
    expected_errors = {}
    expected_data = []
    for index, row in enumerate(rows):
        instance, errors = django_errors(row)
        if errors:
            expected_errors[index] = {k: [message for _, message in v] for k, v in errors.items()}
        else:
            expected_data.append(row)
    assert result.errors == expected_errors
    assert result.invalid_rows == list(expected_errors)
    assert len(result.data) == len(expected_data)
    assert not result.is_valid
    # The same rows through any iterable give the same result.
    again = PLAN.validate_many(iter(rows))
    assert again.errors == result.errors and repr(again.data) == repr(result.data)


def test_cleaned_data_builds_the_instance():
    data = {**BASE, "count": "41", "price": "2.50", "day": "2024-05-01", "stamp": "2024-05-01T10:00:00Z",
            "uid": GOOD_UUID, "payload": [1, "two"], "ip": "::ffff:10.0.0.1", "duration": "00:01:00"}
    result = PLAN.validate(data)
    assert result.is_valid, result.errors
    assert result.data["count"] == 41
    assert result.data["price"] == decimal.Decimal("2.50")
    assert result.data["day"] == datetime.date(2024, 5, 1)
    assert result.data["stamp"] == datetime.datetime(2024, 5, 1, 10, tzinfo=UTC)
    assert result.data["uid"] == uuid.UUID(GOOD_UUID)
    assert result.data["duration"] == datetime.timedelta(minutes=1)
    assert "total" not in result.data  # generated by the database
    instance = InputSample(**result.data)
    instance.full_clean(validate_unique=False, validate_constraints=False)


def test_an_instance_is_validated_from_its_attributes():
    instance = InputSample(**{**BASE, "count": "x", "email": "nope"})
    result = PLAN.validate(instance)
    assert result.error_codes == {"count": ["invalid"], "email": ["invalid"]}
    assert result.error_details["count"][0]["params"] == {"value": "x"}


def test_details_carry_djangos_params():
    result = PLAN.validate({**BASE, "name": "x" * 25, "price": "1234.5", "ip": "x"})
    details = result.error_details
    assert details["name"] == [{
        "message": "Ensure this value has at most 20 characters (it has 25).",
        "code": "max_length",
        "params": {"limit_value": 20, "show_value": 25, "value": "x" * 25},
    }]
    assert details["price"][0]["code"] == "max_whole_digits"
    assert details["price"][0]["params"] == {"max": 3, "value": decimal.Decimal("1234.5")}
    assert details["ip"][0]["params"] == {"protocol": "IPv4 or IPv6", "value": "x"}
    with translation.override("fr"):
        assert result.errors["ip"] == ["Saisissez une adresse IPv4 ou IPv6 valide."]


def test_messages_follow_the_language_active_when_read():
    result = PLAN.validate({**BASE, "name": ""})
    with translation.override("fr"):
        assert result.errors == {"name": ["Ce champ ne peut pas être vide."]}
    with translation.override("de"):
        assert result.errors == {"name": ["Dieses Feld darf nicht leer sein."]}
    assert result.errors == {"name": ["This field cannot be blank."]}


def test_fields_and_exclude_choose_the_plan_fields():
    plan = compile_input_plan(InputSample, fields=["name", "count"])
    assert [field.name for field in plan.fields] == ["name", "count"]
    assert plan.validate({"name": "a", "count": 1}).data == {"name": "a", "count": 1}
    excluded = compile_input_plan(InputSample, exclude=["name"])
    assert "name" not in [field.name for field in excluded.fields]
    with pytest.raises(ValueError, match="no field named 'nope'"):
        compile_input_plan(InputSample, fields=["nope"])
    with pytest.raises(TypeError):
        compile_input_plan(dict)


def test_a_custom_field_and_a_custom_validator_use_djangos_own_code():
    class Upper(models.CharField):
        def to_python(self, value):
            return super().to_python(value).upper()

    def even(value):
        if value % 2:
            raise ValidationError("%(value)s is odd", code="odd", params={"value": value})

    class Custom(models.Model):
        word = Upper(max_length=3)
        number = models.IntegerField(validators=[even])

        class Meta:
            app_label = "django_app"

    plan = compile_input_plan(Custom)
    result = plan.validate_many([{"word": "abc", "number": 2}, {"word": "abcd", "number": "3"}])
    assert result.data == [{"word": "ABC", "number": 2}]
    assert result.error_details == {1: {
        "word": [{"message": "Ensure this value has at most 3 characters (it has 4).",
                  "code": "max_length", "params": {"limit_value": 3, "show_value": 4, "value": "ABCD"}}],
        "number": [{"message": "3 is odd", "code": "odd", "params": {"value": 3}}],
    }}


def test_rows_that_are_not_dicts_are_read_as_objects():
    result = PLAN.validate_many([5, None])
    assert sorted(result.errors) == [0, 1]
    assert "name" in result.errors[0] and "count" in result.errors[0]


def test_serializers_validate_their_model_columns():
    from sorvel.django import Computed, ModelSerializer

    class SampleIn(ModelSerializer):
        shout = Computed(lambda sample: sample.name.upper())

        class Meta:
            model = InputSample
            fields = ["id", "name", "count", "price", "slug", "positive", "shout", "total"]

    assert [field.name for field in SampleIn.input_plan().fields] == [
        "id", "name", "count", "price", "slug", "positive"
    ]
    from django.db import connection
    from django.test.utils import CaptureQueriesContext

    with CaptureQueriesContext(connection) as queries:
        one = SampleIn.validate({**BASE, "count": "7"})
        many = SampleIn.validate_many([BASE, {**BASE, "price": "10000.5"}, {"name": "x" * 30}])
    assert len(queries) == 0
    assert one.is_valid and one.data["count"] == 7 and "shout" not in one.data
    assert many.invalid_rows == [1, 2]
    assert many.error_codes[1] == {"price": ["max_digits"]}
    assert set(many.errors[2]) == {"name", "count", "price", "slug", "positive"}
    assert len(many.data) == 1
    with translation.override("fr"):
        assert many.errors[1] == {"price": ["Assurez-vous qu’il n’y a pas plus de 5 chiffres au total."]}


def test_a_serializer_without_model_cannot_validate():
    from sorvel.django import ModelSerializer, PlanError

    class Abstract(ModelSerializer):
        pass

    with pytest.raises(PlanError, match="cannot validate"):
        Abstract.validate({})


def uuid_texts():
    import random

    rng = random.Random(5)
    texts = []
    for _ in range(400):
        text = str(uuid.UUID(int=rng.getrandbits(128)))
        action = rng.randrange(6)
        if action == 1:
            text = text.replace("-", "")
        elif action == 2:
            text = text.upper()
        elif action == 3:
            at = rng.randrange(len(text))
            text = text[:at] + rng.choice("g-_ {}xX0") + text[at + 1:]
        elif action == 4:
            text = text[:-1]
        elif action == 5:
            at = rng.randrange(len(text))
            text = text[:at] + "-" + text[at:]
        texts.append(text)
    return texts


def test_uuid_texts_are_read_as_uuid_reads_them():
    texts = uuid_texts()
    result = PLAN.validate_many([{**BASE, "ref": text} for text in texts])
    valid = iter(result.data)
    for index, text in enumerate(texts):
        try:
            expected = uuid.UUID(hex=text)
        except ValueError:
            assert result.error_codes[index] == {"ref": ["invalid"]}
        else:
            assert index not in result.errors
            cleaned = next(valid)["ref"]
            assert cleaned == expected and type(cleaned) is uuid.UUID
            assert str(cleaned) == str(expected) and cleaned.is_safe == expected.is_safe


def test_a_query_dict_is_read_through_its_own_lookup():
    from django.http import QueryDict

    form = QueryDict("name=Ada&count=1&count=41&price=1.50&slug=ada&positive=2")
    result = PLAN.validate(form)
    assert result.is_valid, result.errors
    assert result.data["count"] == 41  # QueryDict gives the last value, not the list


def test_a_validator_that_changes_the_rows_cannot_upset_the_walk():
    rows = []

    def meddle(value):
        rows.clear()  # the kernel reads the list by index and stops at its new end

    class Meddling(models.Model):
        word = models.CharField(max_length=5, validators=[meddle])

        class Meta:
            app_label = "django_app"

    rows.extend([{"word": "a"}, {"word": "b"}, {"word": "c"}])
    result = compile_input_plan(Meddling).validate_many(rows)
    assert result.is_valid and result.data == [{"word": "a"}]


def test_a_validator_that_replaces_the_rows_ahead_is_read_as_it_left_them():
    # The rows ahead of the one being cleaned are looked at early, only to prefetch their
    # memory: what is cleaned is what the list holds when the walk comes to them.
    rows = [{"word": "a"}, {"word": "b"}, {"word": "c"}, {"word": "d"}]
    replaced = []

    def meddle(value):
        if not replaced:
            replaced.append(True)
            rows[1:] = [{"word": "y"}, {"other": 1, "word": "z"}]

    class Replacing(models.Model):
        word = models.CharField(max_length=5, validators=[meddle])

        class Meta:
            app_label = "django_app"

    result = compile_input_plan(Replacing).validate_many(rows)
    assert result.is_valid and result.data == [{"word": "a"}, {"word": "y"}, {"word": "z"}]


def test_django_exceptions_that_escape_full_clean_are_reported_as_invalid():
    result = PLAN.validate({**BASE, "day": 5, "ratio": 10**400})
    assert result.error_codes == {"day": ["invalid"], "ratio": ["invalid"]}
    with pytest.raises(TypeError):
        django_errors({**BASE, "day": 5})


def nested(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def cyclic_list():
    value = [1]
    value.append(value)
    return value


def cyclic_dict():
    value = {"a": 1}
    value["self"] = value
    return value


@pytest.mark.parametrize("make", [cyclic_list, cyclic_dict, lambda: nested(100_000)],
                         ids=["cyclic list", "cyclic dict", "deep"])
def test_json_that_cannot_be_written_is_invalid_json_and_stops_no_other_row(make):
    with pytest.raises((ValueError, RecursionError)):
        django_errors({**BASE, "payload": make()})  # full_clean() lets these escape
    result = PLAN.validate_many([{**BASE, "payload": make()}, BASE])
    assert result.error_details == {0: {"payload": [
        {"message": "Value must be valid JSON.", "code": "invalid", "params": {"value": ANY}}]}}
    assert len(result.data) == 1


def test_a_default_that_cannot_run_at_compile_time_is_left_to_the_model():
    def needs_a_request():
        raise RuntimeError("no request")

    class Later(models.Model):
        owner = models.CharField(max_length=5, default=needs_a_request)

        class Meta:
            app_label = "django_app"

    plan = compile_input_plan(Later)
    assert plan.validate({}).is_valid
    assert plan.validate({"owner": "toolong"}).error_codes == {"owner": ["max_length"]}


@pytest.mark.parametrize("extra_keys", [0, 50])
def test_wide_models_and_wide_rows_are_read_whole(extra_keys):
    # Plans and rows wider than a call's inline scratch: every field is still found, judged
    # and kept under its own name, whatever the order and number of the row's keys.
    names = [f"n{i}" for i in range(45)]
    attrs = {name: models.IntegerField(validators=[validators.MaxValueValidator(i)])
             for i, name in enumerate(names)}
    Wide = type(f"Wide{extra_keys}", (models.Model,),
                {**attrs, "__module__": __name__, "Meta": type("Meta", (), {"app_label": "django_app"})})
    plan = compile_input_plan(Wide, fields=names)
    good = {name: i for i, name in enumerate(names)}
    bad = {name: i + (1 if i % 7 == 0 else 0) for i, name in enumerate(names)}
    noise = {f"zz{i}": i for i in range(extra_keys)}
    # The last row's key that is not a str stops the walk over its entries late.
    rows = [{**noise, **good}, dict(reversed(list({**good, **noise}.items()))), {**bad, **noise},
            {**good, **noise, 1: "x"}]
    result = plan.validate_many(rows)
    assert result.data == [good, good, good]
    assert result.error_codes == {2: {name: ["max_value"] for i, name in enumerate(names) if i % 7 == 0}}


class Stop(BaseException):
    """Neither an Exception nor a failure of the value: like KeyboardInterrupt, a demand to stop."""


def raising_reads(exception):
    """Rows whose reading raises `exception`: by attribute, by item and by hashing a value."""

    class Instance:
        name, count, price, slug, positive = "Ada", 3, "1.50", "ada", 1

        @property
        def text(self):
            raise exception

    class Form(dict):
        def __getitem__(self, key):
            if key == "text":
                raise exception
            return dict.__getitem__(self, key)

    class Unhashable(str):
        def __hash__(self):
            raise exception

    return [Instance(), Form(BASE), {**BASE, "status": Unhashable("draft")}]


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, Stop])
@pytest.mark.parametrize("row", range(3), ids=["attribute", "item", "hash"])
def test_a_demand_to_stop_raised_while_reading_ends_the_call(exception, row):
    with pytest.raises(exception):
        PLAN.validate(raising_reads(exception("stop"))[row])


@pytest.mark.parametrize("row", range(3), ids=["attribute", "item", "hash"])
def test_a_failing_read_counts_as_an_absent_or_unequal_value(row):
    result = PLAN.validate(raising_reads(RuntimeError("failed"))[row])
    assert result.error_codes == ({"status": ["invalid_choice"]} if row == 2 else {})


def test_parsed_request_bodies_are_read_as_literal_dicts_are():
    # json.loads makes its own key strs (shared by the rows of one document, equal to the field
    # names but not the same objects); rows in other key orders, with keys missing or added,
    # and a row whose key is a str of the same text made afresh all read the same.
    import json

    def json_able(value):
        try:
            loaded = json.loads(json.dumps(value))
            return loaded == value and type(loaded) is type(value)
        except (TypeError, ValueError):
            return False

    rows = [{**BASE, name: value} for name, value in CASES if json_able(value)]
    rows += [dict(reversed(list(row.items()))) for row in rows[::7]]
    rows += [{k: v for k, v in BASE.items() if k != "count"}, {**BASE, "unknown": 1}]
    rows.append({"".join(["na", "me"]): "Ada", **{k: v for k, v in BASE.items() if k != "name"}})
    # Keys that name no field, learned at their places and then met there by field keys (and
    # the reverse).
    rows += [{"id": 7, **BASE, "extra": 1}] * 3 + [BASE, {"id": 7, **BASE}]
    rows += [{"id": 7, **{k: v for k, v in BASE.items() if k != "name"}, "name": "Bo"}]
    parsed = json.loads(json.dumps(rows))
    expected, result = PLAN.validate_many(rows), PLAN.validate_many(parsed)
    assert result.error_details == expected.error_details
    assert repr(result.data) == repr(expected.data)
    assert len(result.data) > 20 and len(result.error_details) > 20
    # Each row alone, with nothing learned from the rows before it.
    alone = [PLAN.validate(row) for row in rows]
    assert result.error_details == {i: r.error_details for i, r in enumerate(alone) if r.error_details}
    assert repr(result.data) == repr([r.data for r in alone if r.is_valid])


class Shouting(str):
    """A message template of the user's own class: rendered as Django renders it."""

    def __mod__(self, params):
        return str.__mod__(self, params).upper()


def no_sevens(value):
    if "7" in str(value):
        raise ValidationError("%(value)s has a seven", code="seven", params={"value": value})


class Messages(models.Model):
    plain = models.CharField(max_length=3, error_messages={"blank": "Empty!"})
    own = models.IntegerField(error_messages={"invalid": Shouting("bad %(value)s")})
    checked = models.CharField(max_length=9, blank=True, validators=[no_sevens])
    counted = models.CharField(
        max_length=2, blank=True,
        error_messages={"max_length": ngettext_lazy("at most %(limit_value)d", "%(limit_value)d max",
                                                    "limit_value")})
    fixed = models.CharField(max_length=2, blank=True,
                             error_messages={"max_length": ngettext_lazy("one", "many", 3)})
    lazy = models.SlugField(blank=True, error_messages={"invalid": gettext_lazy("Enter a valid “slug”.")})

    class Meta:
        app_label = "django_app"


@pytest.mark.parametrize("language", ["en", "fr"])
def test_errors_render_every_kind_of_message_as_error_details_do(language):
    plan = compile_input_plan(Messages)
    rows = [{"plain": "", "own": "x", "checked": "a7", "counted": "abc", "fixed": "abc", "lazy": "a b"},
            {"plain": "abcd", "own": "1", "checked": "77", "counted": "", "fixed": "", "lazy": ""},
            {"plain": "ok", "own": 2},
            {"plain": "", "own": [], "counted": "x" * 30}]
    with translation.override(language):
        result = plan.validate_many(rows)
        details = result.error_details
        assert result.errors == {row: {name: [d["message"] for d in items] for name, items in fields.items()}
                                 for row, fields in details.items()}
        single = plan.validate(rows[0])
        assert single.errors == result.errors[0]
    assert sorted(result.errors) == [0, 1, 3]
    assert result.errors[0]["own"] == ["BAD X"] and result.errors[0]["checked"] == ["a7 has a seven"]
    assert result.errors[0]["fixed"] == ["many"]


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


TEXTS = ["plain", "%(a)s", "x %(a)s y %(b)d z", "100%% %(a)s", "%(a)r", "%(a)5s", "%(missing)s",
         "%(a)s%(a)s", "é %(a)s", "“%(a)s” 𝄞", "%(a(b))s", "%(a)", "%", "%%", "%(a)s %", "%(b)d%%",
         "%(a)s" * 10, "ü %(ä)s", "%(ä)s", "x %(ä)s", "𝄞%(a)s%(𝄞)s"]
class Seven(int):
    def __str__(self):
        return "seven"


VALUES = ["str", "", "é", "𝄞", 5, -12, 2**70, -(2**63), Seven(7), decimal.Decimal("1.5"), True,
          None, ["x"], Unprintable()]


@pytest.mark.parametrize("text", TEXTS)
def test_messages_are_formatted_as_percent_formats_them(text):
    # The native formatting of the common forms against Python's own text % params, for
    # every kind of text and value: the same str (of the same kind), or the same exception.
    import sorvel_django

    def outcome(render):
        try:
            return render()
        except Exception as error:  # noqa: BLE001
            return type(error)

    unused = lambda *args: pytest.fail("no text needs resolving")  # noqa: E731
    for a in VALUES:
        for b in (3, 0, True, 1.5, Seven(7)):
            expected = outcome(lambda: text % {"a": a, "b": b, "ä": a, "𝄞": b})
            got = outcome(lambda: sorvel_django._render_messages(
                [(0, 0, "k", ("a", a, "b", b, "ä", a, "𝄞", b))], ("f",), [{"k": (0, text, None)}],
                unused, unused, unused, unused, False)["f"][0])
            assert got == expected and type(got) is type(expected), (text, a, b)
            # The same kind of str: equal strs of another kind would compare equal all the same.
            if type(got) is str:
                assert got.isascii() == expected.isascii()


@pytest.mark.parametrize("fields", [["name", "price", "ref", "payload"], None], ids=["every key", "some"])
def test_cleaned_rows_are_tracked_by_the_collector_only_when_they_hold_containers(fields):
    # A row of atomic values (a Decimal and a UUID among them) cannot be part of a cycle and is
    # left untracked; a row holding a JSON container must stay visible to the collector.
    import gc

    plan = compile_input_plan(InputSample, fields) if fields else PLAN
    atomic = {**BASE, "ref": GOOD_UUID, "payload": 5}
    rows = [atomic, {**atomic, "payload": {"a": [1]}}, atomic]
    result = plan.validate_many([{k: v for k, v in row.items() if k in (fields or row)} for row in rows])
    assert result.is_valid
    assert [gc.is_tracked(row) for row in result.data] == [False, True, False]
