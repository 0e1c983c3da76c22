"""sorvel: validation and serialization of records for Django applications, at native speed.

The schema engine is re-exported here (``sorvel.Field``, ``sorvel.Schema``, ``sorvel.validate``,
...); the Django model serializers live in :mod:`sorvel.django`.
"""

from _native import (
    Field,
    Schema,
    batch_stats,
    compute_risk_batch,
    serialize,
    serialize_many,
    validate,
    validate_ids_batch,
    validate_many,
    validate_names_batch,
)

__version__ = "1.0.1"

__all__ = [
    "Field",
    "Schema",
    "__version__",
    "batch_stats",
    "compute_risk_batch",
    "serialize",
    "serialize_many",
    "validate",
    "validate_ids_batch",
    "validate_many",
    "validate_names_batch",
]
