"""Type stub for sorvel_core, which re-exports the native module ``_native``."""

from _native import (
    Field as Field,
    Schema as Schema,
    batch_stats as batch_stats,
    compute_risk_batch as compute_risk_batch,
    serialize as serialize,
    serialize_many as serialize_many,
    validate as validate,
    validate_ids_batch as validate_ids_batch,
    validate_many as validate_many,
    validate_names_batch as validate_names_batch,
    version as version,
)

__all__ = [
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
__version__: str
