"""The extension frame: module building, native classes, argument extraction and conversion,
errors, the fault barrier, PanicException, the interpreter lock and the worker pool."""

import decimal
import gc
import importlib.machinery
import os
import sys
import threading
import types
import weakref

import pytest

import _frametest
import _native

PANIC_BANNER = "--- Sorvel is resuming a panic after fetching a PanicException from Python. ---"

EXPORTED = [
    "Schema",
    "Field",
    "serialize",
    "serialize_many",
    "validate",
    "validate_many",
    "validate_names_batch",
    "validate_ids_batch",
    "compute_risk_batch",
    "batch_stats",
    "version",
]


def fresh_native_module(prepare=None):
    """Builds a second module object from the loaded library, running its exec slot anew."""
    loader = importlib.machinery.ExtensionFileLoader("_native", _native.__file__)
    module = loader.create_module(types.SimpleNamespace(name="_native", origin=_native.__file__))
    if prepare is not None:
        prepare(module)
    loader.exec_module(module)
    return module


def numpy_like_bool(value, with_bool=True):
    """An object whose type looks like NumPy's boolean scalar type (name and module)."""
    namespace = {"__module__": "numpy"}
    if with_bool:
        namespace["__bool__"] = lambda self: value
    return type("bool_", (), namespace)()


# --- module building ---------------------------------------------------------------------------


def test_module_lists_classes_then_functions_in_all():
    assert _native.__all__ == EXPORTED
    assert _native.__doc__ == "The native extension module."
    assert _native.version() == "1.0.1"


@pytest.mark.parametrize("name", EXPORTED[2:])
def test_functions_are_bound_to_the_module(name):
    function = getattr(_native, name)
    assert function.__module__ == "_native"
    assert function.__self__ is _native
    assert function.__name__ == name


def test_panic_exception_is_not_exported():
    assert not hasattr(_native, "PanicException")
    assert "PanicException" not in _native.__all__


def test_second_module_object_shares_the_class_types():
    module = fresh_native_module()
    assert module is not _native
    assert module.__all__ == EXPORTED
    assert module.Field is _native.Field and module.Schema is _native.Schema
    assert module.validate.__self__ is module


def test_existing_all_list_is_extended():
    module = fresh_native_module(lambda m: setattr(m, "__all__", ["kept"]))
    assert module.__all__ == ["kept"] + EXPORTED


def test_all_that_is_not_a_list_fails_the_build_and_leaves_classes_usable():
    with pytest.raises(TypeError) as caught:
        fresh_native_module(lambda m: setattr(m, "__all__", ("kept",)))
    assert str(caught.value) == "'tuple' object is not an instance of 'list'"
    # The process-wide class types survive the failed build.
    assert repr(_native.Schema({"a": _native.Field(int)})) == "Schema(1 fields)"
    assert fresh_native_module().Field is _native.Field


# --- native classes ----------------------------------------------------------------------------


@pytest.mark.parametrize("cls", [_native.Field, _native.Schema])
def test_native_classes_are_closed(cls):
    assert cls.__module__ == "builtins"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    instance = _native.Field(int) if cls is _native.Field else _native.Schema({})
    assert not hasattr(instance, "__dict__")
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)
    assert not gc.is_tracked(instance)


# --- argument extraction -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, received",
    [
        ((1, 2), {"d": 4}, [1, 2, None, 4, None]),
        ((1,), {"b": 2, "d": 4, "e": 5}, [1, 2, None, 4, 5]),
        ((1, 2, 3), {"e": 5, "d": 4}, [1, 2, 3, 4, 5]),
        ((1,), {"c": 3, "b": 2, "d": 4}, [1, 2, 3, 4, None]),
    ],
)
def test_probe_fills_each_parameter_kind(args, kwargs, received):
    assert _frametest.probe(*args, **kwargs) == received


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: _frametest.probe(1, 2, 3, 4, d=0),
         "probe() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: _frametest.probe(1, 2, b=3, d=4),
         "probe() got multiple values for argument 'b'"),
        (lambda: _frametest.probe(1, 2, x=1, d=4),
         "probe() got an unexpected keyword argument 'x'"),
        # An unknown keyword is reported before any missing argument.
        (lambda: _frametest.probe(x=1), "probe() got an unexpected keyword argument 'x'"),
        (lambda: _frametest.probe(1, 2, d=4, a=0),
         "probe() got some positional-only arguments passed as keyword arguments: 'a'"),
        (lambda: _frametest.probe(a=1, b=2, d=4),
         "probe() got some positional-only arguments passed as keyword arguments: 'a'"),
        (lambda: _frametest.probe(d=4),
         "probe() missing 2 required positional arguments: 'a' and 'b'"),
        (lambda: _frametest.probe(1, d=4), "probe() missing 1 required positional argument: 'b'"),
        (lambda: _frametest.probe(1, 2), "probe() missing 1 required keyword argument: 'd'"),
        (lambda: _native.batch_stats([1], [2]),
         "batch_stats() takes 1 positional arguments but 2 were given"),
        (lambda: _native.validate({}, None, None),
         "validate() takes 2 positional arguments but 3 were given"),
        (lambda: _frametest.fault_on_worker(1),
         "fault_on_worker() takes 0 positional arguments but 1 was given"),
        (lambda: _native.validate(), "validate() missing 2 required positional arguments: "
                                     "'data' and 'schema'"),
        (lambda: _native.serialize_many(schema=None),
         "serialize_many() missing 1 required positional argument: 'data_list'"),
        (lambda: _native.validate_ids_batch(), "validate_ids_batch() missing 1 required "
                                               "positional argument: 'ids'"),
        (lambda: _native.validate({}, None, data={}),
         "validate() got multiple values for argument 'data'"),
        (lambda: _native.batch_stats(value=[]),
         "batch_stats() got an unexpected keyword argument 'value'"),
    ],
)
def test_argument_errors_use_cpython_wording_without_notes(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message
    assert not hasattr(caught.value, "__notes__")


def test_constructor_argument_errors_name_the_class():
    with pytest.raises(TypeError, match=r"^Field\.\w+\(\) got an unexpected keyword argument "
                                        r"'size'$"):
        _native.Field(str, size=3)
    with pytest.raises(TypeError, match=r"^Schema\.\w+\(\) missing 1 required positional "
                                        r"argument: 'fields'$"):
        _native.Schema()
    with pytest.raises(TypeError, match=r"^Field\.\w+\(\) takes 1 positional arguments but 2 "
                                        r"were given$"):
        _native.Field(str, 5)


def test_every_parameter_can_be_given_by_keyword():
    schema = _native.Schema(fields={"n": _native.Field(python_type=int)})
    assert _native.validate(schema=schema, data={"n": 1})["is_valid"] is True
    assert _native.batch_stats(values=[2])["count"] == 1
    with pytest.raises(TypeError):
        _native.version(1)


# --- argument conversion -----------------------------------------------------------------------


class Holder:
    class Inner:
        pass


@pytest.mark.parametrize(
    "value, error, message",
    [
        (2**32, OverflowError, "out of range integral type conversion attempted"),
        (-1, OverflowError, "out of range integral type conversion attempted"),
        (2**80, OverflowError, None),
        ("7", TypeError, None),
        (1.5, TypeError, None),
        (None, TypeError, None),
    ],
)
def test_failed_conversion_carries_a_note_naming_the_parameter(value, error, message):
    with pytest.raises(error) as caught:
        _frametest.as_u32(value)
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'value'"]


@pytest.mark.parametrize("value", [0, 7, 2**32 - 1, True])
def test_u32_conversion_accepts_its_range(value):
    assert _frametest.as_u32(value) == int(value)


class FakeSequence:
    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index >= 2:
            raise IndexError(index)
        return index


@pytest.mark.parametrize(
    "value, length",
    [([1, 2, 3], 3), ((4, 5), 2), (b"abcd", 4), (range(5), 5), ([], 0), (FakeSequence(), 2)],
)
def test_sequence_conversion_accepts_sequences(value, length):
    assert _frametest.as_vector(value) == length


@pytest.mark.parametrize(
    "value, message",
    [
        ("abc", "Can't extract `str` to `Vec`"),
        (5, "'int' object is not an instance of 'Sequence'"),
        ({1: 2}, "'dict' object is not an instance of 'Sequence'"),
        ({1, 2}, "'set' object is not an instance of 'Sequence'"),
        ([1, "x"], None),
    ],
)
def test_sequence_conversion_refusals(value, message):
    with pytest.raises(TypeError) as caught:
        _frametest.as_vector(value)
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'value'"]


@pytest.mark.parametrize(
    "value, message",
    [
        (None, "'None' is not an instance of 'Schema'"),
        ({}, "'dict' object is not an instance of 'Schema'"),
        (_native.Field(int), "'Field' object is not an instance of 'Schema'"),
        (Holder.Inner(), "'Holder.Inner' object is not an instance of 'Schema'"),
    ],
)
def test_instance_conversion_names_the_qualified_type(value, message):
    with pytest.raises(TypeError) as caught:
        _native.validate({}, value)
    assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'schema'"]


@pytest.mark.parametrize(
    "flag, expected",
    [(True, "true"), (False, "false"), (numpy_like_bool(True), "true"),
     (numpy_like_bool(False), "false")],
)
def test_bool_conversion_accepts_bools_and_numpy_booleans(flag, expected):
    assert repr(_native.Field(int, nullable=flag)) == f"Field(int, nullable={expected})"


@pytest.mark.parametrize(
    "flag, message",
    [
        (1, "'int' object is not an instance of 'bool'"),
        (None, "'None' is not an instance of 'bool'"),
        ("yes", "'str' object is not an instance of 'bool'"),
        (numpy_like_bool(True, with_bool=False),
         "object of type 'bool_' does not define a '__bool__' conversion"),
    ],
)
def test_bool_conversion_is_strict(flag, message):
    with pytest.raises(TypeError) as caught:
        _native.Field(int, nullable=flag)
    assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'nullable'"]


# --- errors and their text forms ---------------------------------------------------------------


def test_lazy_error_of_a_non_exception_type_becomes_type_error():
    with pytest.raises(TypeError, match=r"^exceptions must derive from BaseException$"):
        _frametest.raise_non_exception()


def test_fetching_without_a_pending_exception_is_system_error():
    with pytest.raises(SystemError, match=r"^attempted to fetch exception but none was set$"):
        _frametest.fetch_nothing()


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


class NamelessMeta(type):
    @property
    def __name__(cls):
        raise RuntimeError("no name")


class Nameless(Unprintable, metaclass=NamelessMeta):
    pass


class Surrogates:
    def __str__(self):
        return "a\ud800b"


def raises(exception):
    def f():
        raise exception

    return f


class LocalError(Exception):
    pass


@pytest.mark.parametrize(
    "function, text",
    [
        (raises(ValueError("bad value")), "ValueError: bad value"),
        (raises(KeyError("k")), "KeyError: 'k'"),
        (raises(LocalError()), "LocalError: "),
        (raises(type("Deep", (Exception,), {"__qualname__": "Outer.Deep"})("x")), "Outer.Deep: x"),
        (raises(ValueError(Unprintable())), "ValueError: <exception str() failed>"),
        (lambda: 1, None),
    ],
)
def test_error_text_is_qualname_and_str(function, text):
    assert _frametest.error_text(function) == text


@pytest.mark.parametrize(
    "value, text",
    [
        ("plain", "plain"),
        (12.5, "12.5"),
        (None, "None"),
        ([1, "a"], "[1, 'a']"),
        (Surrogates(), "a" + "\ud800".encode("utf-8", "surrogatepass").decode("utf-8", "replace")
         + "b"),
    ],
)
def test_object_text(value, text):
    assert _frametest.object_text(value) == text


@pytest.mark.parametrize(
    "value, text",
    [(Unprintable(), "<unprintable Unprintable object>"), (Nameless(), "<unprintable object>")],
)
def test_object_text_of_unprintable_objects_reports_unraisable(value, text, monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: seen.append(info))
    assert _frametest.object_text(value) == text
    assert len(seen) == 1
    assert isinstance(seen[0].exc_value, RuntimeError)
    assert seen[0].object is value


# --- faults and PanicException -----------------------------------------------------------------


def test_panic_exception_is_shared_by_both_modules(panic_exception, capfd):
    # _native and sorvel_django are served by one library: a PanicException that _native's
    # class raised in Python code is resumed by sorvel_django, as the same class.
    import sorvel_django

    class Field:
        is_relation = False
        name = "title"
        null = False

        def get_internal_type(self):
            return "CharField"

        def has_default(self):
            return False

    class Model:
        class _meta:
            @staticmethod
            def get_fields():
                return [Field()]

    class Instance:
        @property
        def title(self):
            raise panic_exception("raised in Python")

    schema = sorvel_django.ModelSchema(Model)
    with pytest.raises(panic_exception, match="^raised in Python$"):
        sorvel_django.serialize_instance(Instance(), schema)
    assert "resuming a panic" in capfd.readouterr().err


@pytest.mark.parametrize("which", ["frametest_panic_exception", "panic_exception"])
def test_panic_exception_class(which, request):
    cls = request.getfixturevalue(which)
    assert cls.__name__ == "PanicException"
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert "BaseException" in cls.__doc__


@pytest.mark.parametrize(
    "fault, message",
    [
        (lambda: _frametest.fault_here("invariant broken"), "invariant broken"),
        (lambda: _frametest.fault_on_worker(), "fault on a worker"),
        (lambda: _frametest.fault_here(), None),
        (lambda: _frametest.fail_allocation(), None),
    ],
)
def test_faults_become_panic_exception(fault, message, frametest_panic_exception):
    with pytest.raises(BaseException) as raised:
        fault()
    caught = raised.value
    assert type(caught) is frametest_panic_exception
    assert not isinstance(caught, Exception)
    assert len(caught.args) == 1 and isinstance(caught.args[0], str)
    if message is None:
        assert caught.args[0].strip()
    else:
        assert caught.args[0] == message


def test_pool_works_after_a_worker_fault(frametest_panic_exception):
    for _ in range(3):
        with pytest.raises(frametest_panic_exception):
            _frametest.fault_on_worker()
    values = [float(i % 1000) for i in range(200_000)]
    result = _native.batch_stats(values)
    assert result["count"] == 200_000 and result["max"] == 999.0 and result["median"] == 499.5


# --- PanicException coming back from Python code ------------------------------------------------


@pytest.mark.parametrize("through", [_frametest.call, _frametest.call_discarding])
def test_panic_from_python_is_resumed(through, frametest_panic_exception, capfd):
    original = frametest_panic_exception("from python")
    with pytest.raises(frametest_panic_exception) as caught:
        through(raises(original))
    assert caught.value is not original
    assert caught.value.args == ("from python",)
    err = capfd.readouterr().err
    assert PANIC_BANNER + "\nPython stack trace below:\n" in err
    assert "from python" in err.split(PANIC_BANNER, 1)[1]


def test_resumed_panic_with_unprintable_message(frametest_panic_exception, capfd):
    with pytest.raises(frametest_panic_exception) as caught:
        _frametest.call(raises(frametest_panic_exception(Unprintable())))
    assert caught.value.args == ("Unwrapped panic from Python code",)
    assert PANIC_BANNER in capfd.readouterr().err


def test_subclass_of_panic_exception_is_an_ordinary_error(frametest_panic_exception, capfd):
    derived = type("Derived", (frametest_panic_exception,), {})("plain")
    with pytest.raises(frametest_panic_exception) as caught:
        _frametest.call(raises(derived))
    assert caught.value is derived
    assert _frametest.call_discarding(raises(derived)) is None
    assert PANIC_BANNER not in capfd.readouterr().err


def test_ordinary_exceptions_pass_through_call():
    with pytest.raises(KeyError) as caught:
        _frametest.call(raises(KeyError("k")))
    assert caught.value.args == ("k",)
    assert _frametest.call_discarding(raises(KeyError("k"))) is None


class PanickingRecord:
    def __init__(self, panic_exception):
        self.panic_exception = panic_exception

    @property
    def amount(self):
        raise self.panic_exception("property panicked")


@pytest.mark.parametrize(
    "call",
    [
        lambda schema, record: _native.serialize(record, schema),
        lambda schema, record: _native.validate(record, schema),
        lambda schema, record: _native.serialize_many([record], schema),
        lambda schema, record: _native.validate_many([record], schema),
    ],
)
def test_panic_in_a_record_property_is_resumed(call, panic_exception, capfd):
    # An ordinary exception from this property would only make the field missing.
    schema = _native.Schema({"amount": _native.Field(int, nullable=True)})
    with pytest.raises(panic_exception) as caught:
        call(schema, PanickingRecord(panic_exception))
    assert caught.value.args == ("property panicked",)
    assert PANIC_BANNER in capfd.readouterr().err


def test_panic_in_a_discarded_type_test_is_resumed(panic_exception, capfd):
    class Sized:
        def __len__(self):
            raise panic_exception("len panicked")

    schema = _native.Schema({"name": _native.Field(str)})
    with pytest.raises(panic_exception) as caught:
        _native.validate_many([{"name": Sized()}], schema)
    assert caught.value.args == ("len panicked",)
    assert PANIC_BANNER in capfd.readouterr().err


# --- the interpreter lock ----------------------------------------------------------------------


def test_detached_work_lets_other_threads_run(lock_probe):
    assert lock_probe(lambda: _frametest.sleep_detached(0.05)) > 0


def test_probe_sees_no_progress_while_the_lock_is_held(lock_probe):
    ids = ["12345678-1234"] * 400_000
    assert lock_probe(lambda: _native.validate_ids_batch(ids), repeat=3) == 0


@pytest.mark.parametrize("on_worker", [False, True])
def test_reference_dropped_while_detached_is_released_afterwards(on_worker):
    held = object()
    baseline = sys.getrefcount(held)
    for _ in range(5):
        _frametest.release_detached(held, on_worker=on_worker)
    assert sys.getrefcount(held) == baseline


# --- ownership: a call keeps no reference to what it was given --------------------------------


class Value:
    """A field value readable as any kind, held by the test so its count can be watched."""

    def __str__(self):
        return "1.5"

    def __float__(self):
        return 1.5

    def __len__(self):
        return 1

    def __index__(self):
        return 1


def exercise_entry_points(value, record):
    field_kinds = [str, int, float, decimal.Decimal]
    schema = _native.Schema({f"f{i}": _native.Field(kind) for i, kind in enumerate(field_kinds)})
    wide = _native.Schema({f"w{i}": _native.Field(int, max_value=0) for i in range(130)})
    wide_record = {f"w{i}": value for i in range(130)}
    decimal_only = _native.Schema({"f3": _native.Field(decimal.Decimal)})
    calls = [
        lambda: _native.validate_many([record, record], schema),
        lambda: _native.serialize_many([record, record], schema),
        lambda: _native.validate(wide_record, wide),
        lambda: _native.batch_stats([value, value]),
        lambda: _native.compute_risk_batch([{"age": value, "loan_amount": value}]),
        lambda: _native.validate_names_batch([record["f0"]]),
        lambda: _native.validate_ids_batch([record["f0"]]),
        # Failures part way through must release what was built before them.
        lambda: _native.serialize_many([record, {}], decimal_only),
        lambda: _native.validate_many([record, object()], schema),
        lambda: _native.batch_stats([value, "x"]),
        lambda: _native.validate_names_batch([record["f0"], 5]),
    ]
    for call in calls:
        for _ in range(50):
            try:
                call()
            except (TypeError, ValueError):
                pass


def test_calls_release_every_reference_they_take():
    value = Value()
    text = "Jane Doe " * 3
    record = {"f0": text, "f1": value, "f2": value, "f3": value}
    before = sys.getrefcount(value), sys.getrefcount(text), sys.getrefcount(record)
    exercise_entry_points(value, record)
    assert (sys.getrefcount(value), sys.getrefcount(text), sys.getrefcount(record)) == before


def test_pool_serves_several_python_threads_at_once():
    values = [float(i % 1001) for i in range(100_001)]
    wide = _native.Schema({f"w{i}": _native.Field(int, max_value=0) for i in range(200)})
    wide_record = {f"w{i}": i % 2 for i in range(200)}
    names = ["Jane Doe", "Jane"] * 5000
    failures = []

    def work():
        try:
            for _ in range(5):
                assert _native.batch_stats(values)["median"] == 500.0
                assert _native.validate(wide_record, wide)["error_count"] == 100
                result = _native.validate_names_batch(names)
                assert result[1] == {"valid": False, "errors": ["must contain a space"]}
        except BaseException as exception:  # noqa: BLE001 - reported below
            failures.append(exception)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(thread.is_alive() for thread in threads)
    assert failures == []


# --- the worker pool ---------------------------------------------------------------------------

CPUS = len(os.sched_getaffinity(0))


@pytest.mark.parametrize(
    "num_threads, rs_num_cpus, expected",
    [
        ("3", None, 3),
        ("+5", None, 5),
        ("0", None, CPUS),
        ("7", "2", 7),
        (None, "4", 4),
        (None, "+6", 6),
        (None, "0", CPUS),
        ("many", "3", 3),
        ("-2", "3", 3),
        (" 3", None, CPUS),
        ("", "5", 5),
        ("2.5", None, CPUS),
        (None, "x", CPUS),
        (None, None, CPUS),
        ("256", None, 256),
        ("257", None, 256),  # at most 256 threads
        (None, "+99999999999999999999", 256),
    ],
)
def test_pool_size_from_environment(num_threads, rs_num_cpus, expected, run_python):
    completed = run_python(
        "import _frametest; print(_frametest.pool_size())",
        env={"RAYON_NUM_THREADS": num_threads, "RAYON_RS_NUM_CPUS": rs_num_cpus},
    )
    assert int(completed.stdout) == expected


def test_import_starts_no_thread(run_python):
    completed = run_python(
        "import os, _native, sorvel_core\n"
        "print(len(os.listdir('/proc/self/task')))\n",
        env={"RAYON_NUM_THREADS": "4"},
    )
    assert int(completed.stdout) == 1


@pytest.mark.parametrize("threads", ["1", "9"])
def test_results_do_not_depend_on_the_pool_size(threads, run_python):
    code = (
        "import _native\n"
        "values = [((i * 7919) % 10007) / 7.0 for i in range(100001)]\n"
        "stats = _native.batch_stats(values)\n"
        "risk = _native.compute_risk_batch([{'credit_score': v} for v in values[:5000]])\n"
        "names = _native.validate_names_batch(['Jane Doe', 'Jane', 'J0 x'] * 3000)\n"
        "print(repr((stats['median'], stats['min'], stats['max'], stats['count'])))\n"
        "print(repr(risk[::997]))\n"
        "print(repr(names[:3]), len(names))\n"
    )
    here = run_python(code, env={"RAYON_NUM_THREADS": "2"}).stdout
    there = run_python(code, env={"RAYON_NUM_THREADS": threads}).stdout
    assert there == here
