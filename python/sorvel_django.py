"""Loader for the sorvel_django module.

The Django integration lives in the same shared library as ``_native``: the worker pool,
PanicException and the other process-wide objects must exist once per process. This file asks
the interpreter's extension loader to run the library's ``PyInit_sorvel_django`` entry point,
then stands aside: after the import, ``sys.modules["sorvel_django"]`` is the native module.
"""

import importlib.machinery
import importlib.util
import sys


def _load_native_module():
    library = importlib.util.find_spec("_native")
    if library is None or not library.origin:
        raise ImportError("sorvel_django needs the native library _native, which is not installed")
    loader = importlib.machinery.ExtensionFileLoader(__name__, library.origin)
    spec = importlib.util.spec_from_file_location(__name__, library.origin, loader=loader)
    module = importlib.util.module_from_spec(spec)
    sys.modules[__name__] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del sys.modules[__name__]
        raise


_load_native_module()
