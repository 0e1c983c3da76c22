"""Type stubs for the native module ``_native``."""

from typing import Any, Literal, TypedDict, final, type_check_only

# The TypedDicts name the shapes of the dicts the functions return; they exist for type checkers
# only (import them under `if TYPE_CHECKING:`).

@type_check_only
class FieldErrorDict(TypedDict):
    field: str
    message: str
    code: str
    params: dict[str, str]

@type_check_only
class ValidationReport(TypedDict):
    valid_count: int
    error_count: int
    is_valid: bool
    errors: list[FieldErrorDict]

@type_check_only
class BatchStats(TypedDict, total=False):
    mean: float
    median: float
    stdev: float
    min: float
    max: float
    count: int

@type_check_only
class NameResult(TypedDict):
    valid: bool
    errors: list[str]

@final
class Field:
    def __new__(
        cls,
        python_type: type | Any,
        *,
        max_length: int | None = None,
        min_length: int | None = None,
        min_value: int | float | None = None,
        max_value: int | float | None = None,
        max_digits: int | None = None,
        decimal_places: int | None = None,
        nullable: bool = False,
        default: bool = False,
    ) -> Field: ...

@final
class Schema:
    def __new__(cls, fields: dict[str, Field]) -> Schema: ...
    def field_names_list(self) -> list[str]: ...

def serialize(data: Any, schema: Schema) -> dict[str, Any]: ...
def serialize_many(data_list: list[Any], schema: Schema) -> list[dict[str, Any]]: ...
def validate(data: Any, schema: Schema) -> ValidationReport: ...
def validate_many(data_list: list[Any], schema: Schema) -> ValidationReport: ...
def validate_names_batch(names: list[str]) -> list[NameResult]: ...
def validate_ids_batch(ids: list[str]) -> list[bool]: ...
def compute_risk_batch(records: list[dict[str, Any]]) -> list[float]: ...
def batch_stats(values: list[float]) -> BatchStats: ...
def version() -> Literal["1.0.1"]: ...

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
