"""sorvel: validation and serialization of records at native speed.

``Schema`` and ``Field`` describe a record once; ``validate``/``serialize`` and their batch forms
check and convert dicts or objects against it. Everything here comes from the native module
``_native``.
"""

import _native
from _native import *  # noqa: F401,F403

__all__ = list(_native.__all__)
__version__ = _native.version()
