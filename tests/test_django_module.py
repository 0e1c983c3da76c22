"""Module sorvel_django: its contents, docstrings, signatures, argument handling, and the one
shared library it shares with _native."""

import inspect
import json
import shutil
import subprocess
import textwrap

import pytest

from django_app.environment import start_django

start_django()

import _native  # noqa: E402
import sorvel_django  # noqa: E402

from django_app.models import Record  # noqa: E402
from django_app.samples import record_values, unsaved_record  # noqa: E402

EXPORTED = [
    "ModelSchema",
    "serialize_instance",
    "serialize_batch",
    "serialize_values_list",
    "validate_instance",
    "extract_model_fields",
    "serialize_fields",
    "validate_fields",
    "version",
]

PARAMETERS = {
    "serialize_instance": ["instance", "schema"],
    "serialize_batch": ["instances", "schema"],
    "serialize_values_list": ["rows", "schema"],
    "validate_instance": ["instance", "schema"],
    "extract_model_fields": ["model_class"],
    "serialize_fields": ["field_descriptors", "values"],
    "validate_fields": ["descriptors", "values"],
    "version": [],
}

SCHEMA = sorvel_django.ModelSchema(Record)
NAMES = SCHEMA.field_names_list


def test_module_contents_in_order():
    assert sorvel_django.__all__ == EXPORTED
    assert sorvel_django.__doc__ == "The native extension module."
    assert sorvel_django.__name__ == "sorvel_django"
    for name in EXPORTED:
        assert hasattr(sorvel_django, name)
    assert not hasattr(sorvel_django, "async_serialize_batch")
    assert not hasattr(sorvel_django, "PanicException")


def test_version():
    assert sorvel_django.version() == "1.0.1"
    assert sorvel_django.version() == _native.version()
    with pytest.raises(TypeError, match=r"version\(\) takes no arguments \(1 given\)$"):
        sorvel_django.version(1)


@pytest.mark.parametrize("name", list(PARAMETERS))
def test_functions_are_bound_to_the_module_and_show_their_signature(name):
    function = getattr(sorvel_django, name)
    assert function.__name__ == name
    assert function.__module__ == "sorvel_django"
    assert function.__self__ is sorvel_django
    signature = inspect.signature(function)
    assert list(signature.parameters) == PARAMETERS[name]
    for parameter in signature.parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty
    assert function.__text_signature__ == "(" + ", ".join(PARAMETERS[name]) + ")"


def test_model_schema_signatures():
    assert list(inspect.signature(sorvel_django.ModelSchema).parameters) == ["model_class"]
    assert list(inspect.signature(sorvel_django.ModelSchema.to_descriptor_list).parameters) == [
        "self"
    ]


FULL_DOCS = {
    "serialize_batch": (
        "Serializes a batch of Django model instances using a precompiled schema.\n\n"
        "Processes all instances in a single call, returning a list of dicts.\n"
        "For batches above 64 records, consider using `async_serialize_batch`\n"
        "from an ASGI view to release the GIL during computation.\n\n"
        "Args:\n"
        "    instances: A list/queryset of Django model instances.\n"
        "    schema: A `ModelSchema` compiled from the model class.\n\n"
        "Returns:\n"
        "    A list of dicts, one per instance."
    ),
    "extract_model_fields": (
        "Extracts field descriptors from a Django model class.\n\n"
        "Returns a list of dicts. For repeated use, prefer `ModelSchema(model_class)`\n"
        "which caches the result."
    ),
    "serialize_fields": (
        "Serializes field values from a dict (legacy API \u2014 prefer `serialize_instance`)."
    ),
    "validate_fields": (
        "Validates field values from a list (legacy API \u2014 prefer `validate_instance`)."
    ),
    "version": "Returns the sorvel-django version string.",
}


@pytest.mark.parametrize("name", list(FULL_DOCS))
def test_docstrings_given_word_for_word(name):
    assert getattr(sorvel_django, name).__doc__ == FULL_DOCS[name]


# Docstrings with lines that only their meaning is given for: None stands for such a line.
OUTLINED_DOCS = {
    "serialize_instance": [
        "Serializes a single Django model instance using a precompiled schema.",
        "",
        "This is the primary fast path: extracts all field values from the instance",
        None,
        None,
        "",
        "Args:",
        "    instance: A Django model instance (e.g., `my_obj`).",
        "    schema: A `ModelSchema` compiled from the model class.",
        "",
        "Returns:",
        "    A dict of serialized field values (JSON-compatible).",
        "",
        "Raises:",
        "    ValueError: On serialization failure.",
        "    TypeError: On type conversion failure.",
    ],
    "serialize_values_list": [
        "Serializes a QuerySet.values_list() result using a precompiled schema.",
        "",
        None,
        "batch. Accepts the output of `qs.values_list(*fields, named=True)` or",
        "`qs.values_list(*fields)` (plain tuples).",
        "",
        "Each row is accessed by index (tuple position), not by getattr \u2014",
        "eliminating per-field Python method dispatch entirely.",
    ],
    "validate_instance": [
        "Validates a Django model instance against its schema.",
        "",
        None,
        None,
        "",
        "Args:",
        "    instance: A Django model instance.",
        "    schema: A `ModelSchema` compiled from the model class.",
        "",
        "Returns:",
        "    A dict with `valid_count`, `error_count`, `errors`, and `is_valid`.",
    ],
}


@pytest.mark.parametrize("name", list(OUTLINED_DOCS))
def test_docstrings_given_in_outline(name):
    lines = getattr(sorvel_django, name).__doc__.split("\n")
    expected = OUTLINED_DOCS[name]
    assert len(lines) == len(expected)
    for line, wanted in zip(lines, expected, strict=True):
        if wanted is None:
            assert line.strip()
        else:
            assert line == wanted


def test_model_schema_docstrings():
    assert sorvel_django.ModelSchema.__doc__ == (
        "A compiled model schema that caches field descriptors for repeated use.\n\n"
        "Built once at Django startup from a model class, then reused on every\n"
        "request. Eliminates per-request descriptor parsing overhead entirely.\n\n"
        "Usage from Python:\n"
        "```python\n"
        "schema = sorvel_django.ModelSchema(MyModel)\n"
        "result = sorvel_django.serialize_instance(instance, schema)\n"
        "```"
    )
    assert sorvel_django.ModelSchema.__text_signature__ == "(model_class)"
    assert sorvel_django.ModelSchema.model_name_str.__doc__ == "Returns the model class name."
    assert sorvel_django.ModelSchema.field_names_list.__doc__ == (
        "Returns the list of field names in this schema."
    )
    assert sorvel_django.ModelSchema.to_descriptor_list.__doc__ == (
        "Returns the schema as a list of dicts (for compatibility with existing APIs)."
    )


def call_arguments():
    """Arguments of each function, in parameter order."""
    values = record_values()
    instance = unsaved_record()
    row = tuple(values[name] for name in NAMES)
    descriptors = SCHEMA.to_descriptor_list()
    return {
        "serialize_instance": (instance, SCHEMA),
        "serialize_batch": ([instance, instance], SCHEMA),
        "serialize_values_list": ([row], SCHEMA),
        "validate_instance": (unsaved_record(title="x" * 300), SCHEMA),
        "extract_model_fields": (Record,),
        "serialize_fields": (descriptors, values),
        "validate_fields": (descriptors, [values[name] for name in NAMES]),
    }


@pytest.mark.parametrize("name", list(PARAMETERS)[:-1])
def test_keyword_and_positional_calls_agree(name):
    function = getattr(sorvel_django, name)
    arguments = call_arguments()[name]
    keywords = dict(zip(PARAMETERS[name], arguments, strict=True))
    positional = function(*arguments)
    assert function(**keywords) == positional
    assert function(**dict(reversed(list(keywords.items())))) == positional
    if len(arguments) == 2:
        assert function(arguments[0], **{PARAMETERS[name][1]: arguments[1]}) == positional


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda: sorvel_django.serialize_instance(),
            "serialize_instance() missing 2 required positional arguments: 'instance' and 'schema'",
        ),
        (
            lambda: sorvel_django.serialize_batch([]),
            "serialize_batch() missing 1 required positional argument: 'schema'",
        ),
        (
            lambda: sorvel_django.serialize_values_list(schema=SCHEMA),
            "serialize_values_list() missing 1 required positional argument: 'rows'",
        ),
        (
            lambda: sorvel_django.validate_instance(1, SCHEMA, 3),
            "validate_instance() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda: sorvel_django.extract_model_fields(Record, Record),
            "extract_model_fields() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda: sorvel_django.serialize_fields([], {}, values={}),
            "serialize_fields() got multiple values for argument 'values'",
        ),
        (
            lambda: sorvel_django.validate_fields([], [], strict=True),
            "validate_fields() got an unexpected keyword argument 'strict'",
        ),
        # An unknown keyword is reported before the missing arguments.
        (
            lambda: sorvel_django.serialize_instance(obj=1),
            "serialize_instance() got an unexpected keyword argument 'obj'",
        ),
        (
            lambda: sorvel_django.validate_fields(descriptors=[]),
            "validate_fields() missing 1 required positional argument: 'values'",
        ),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.value.args == (message,)
    assert not hasattr(caught.value, "__notes__")


@pytest.mark.parametrize(
    ("name", "arguments", "message", "parameter"),
    [
        (
            "serialize_instance",
            (object(), None),
            "'None' is not an instance of 'ModelSchema'",
            "schema",
        ),
        (
            "serialize_instance",
            (object(), _native.Schema({})),
            "'Schema' object is not an instance of 'ModelSchema'",
            "schema",
        ),
        (
            "serialize_batch",
            ((), SCHEMA),
            "'tuple' object is not an instance of 'list'",
            "instances",
        ),
        (
            "serialize_values_list",
            ({}, SCHEMA),
            "'dict' object is not an instance of 'list'",
            "rows",
        ),
        (
            "validate_instance",
            (object(), 1),
            "'int' object is not an instance of 'ModelSchema'",
            "schema",
        ),
        (
            "serialize_fields",
            ([], [("a", 1)]),
            "'list' object is not an instance of 'dict'",
            "values",
        ),
        (
            "validate_fields",
            ("abc", []),
            "'str' object is not an instance of 'list'",
            "descriptors",
        ),
    ],
)
def test_conversion_errors_name_their_parameter(name, arguments, message, parameter):
    with pytest.raises(TypeError) as caught:
        getattr(sorvel_django, name)(*arguments)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: sorvel_django.ModelSchema(42), ValueError, "model class has no _meta attribute"),
        (
            lambda: sorvel_django.serialize_instance(unsaved_record(count="12"), SCHEMA),
            TypeError,
            "type conversion error: expected int, got str",
        ),
        (
            lambda: sorvel_django.serialize_values_list([(None,)], SCHEMA),
            ValueError,
            "field 'title' is required but received null",
        ),
    ],
)
def test_django_errors_carry_only_their_text(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert type(caught.value) is error
    assert caught.value.args == (message,)


# --- one shared library for both modules --------------------------------------------------------

SHARED_LIBRARY_PROBE = textwrap.dedent(
    """
    import json, os
    {imports}
    mapped = set()
    with open("/proc/self/maps") as maps:
        for line in maps:
            parts = line.split()
            if len(parts) >= 6 and os.path.basename(parts[5]).startswith("_native"):
                mapped.add((parts[3], parts[4], parts[5]))
    print(json.dumps({{
        "native": _native.__file__,
        "django": sorvel_django.__file__,
        "mapped": sorted(mapped),
        "django_all": sorvel_django.__all__,
        "native_all": _native.__all__,
        "version": [sorvel_django.version(), _native.version()],
        "types": [type(sorvel_django.version).__name__, type(_native.version).__name__],
        "django_module": sorvel_django.serialize_instance.__module__,
        "native_module": _native.serialize.__module__,
    }}))
    """
)


@pytest.mark.parametrize(
    "imports",
    ["import _native\nimport sorvel_django", "import sorvel_django\nimport _native"],
    ids=["native first", "django first"],
)
def test_both_modules_come_from_one_loaded_library(run_python, imports):
    completed = run_python(SHARED_LIBRARY_PROBE.format(imports=imports))
    facts = json.loads(completed.stdout)
    assert facts["django"] == facts["native"]
    assert facts["native"].endswith(".so")
    # One file, mapped under one path and one inode.
    assert {(device, inode) for device, inode, _ in facts["mapped"]} == {
        (facts["mapped"][0][0], facts["mapped"][0][1])
    }
    assert {path for _, _, path in facts["mapped"]} == {facts["native"]}
    assert facts["django_all"] == EXPORTED
    assert facts["native_all"][-1] == "version"
    assert facts["version"] == ["1.0.1", "1.0.1"]
    assert facts["django_module"] == "sorvel_django"
    assert facts["native_module"] == "_native"


def test_importing_sorvel_django_reads_no_model_and_imports_no_json(run_python):
    # Nothing but the module itself is set up at import: json is first needed by a JSONField.
    completed = run_python(
        "import sys\n"
        "import sorvel_django\n"
        "print('json' in sys.modules, 'django' in sys.modules)\n"
        "sorvel_django.serialize_fields(\n"
        "    [{'name': 'j', 'type': 'JSONField', 'nullable': False, 'has_default': False}],\n"
        "    {'j': {'a': 1}})\n"
        "print('json' in sys.modules)\n",
    )
    assert completed.stdout.split() == ["False", "False", "True"]


def test_the_library_exports_only_the_module_entry_points():
    # Everything else stays inside the library, so nothing can clash with other extensions.
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", _native.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert sorted(line.split()[-1] for line in listing.splitlines()) == [
        "PyInit__native",
        "PyInit_sorvel_django",
        "PyModExport__native",
        "PyModExport_sorvel_django",
    ]
