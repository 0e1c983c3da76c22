"""Type stubs for the native module ``sorvel_django``."""

from typing import Any, Literal, TypedDict, final, type_check_only

from _native import ValidationReport

# For type checkers only, like the TypedDicts of _native.

@type_check_only
class DescriptorDict(TypedDict, total=False):
    name: str
    type: str
    nullable: bool
    has_default: bool
    max_length: int
    max_digits: int
    decimal_places: int

@final
class ModelSchema:
    def __new__(cls, model_class: type) -> ModelSchema: ...
    @property
    def model_name_str(self) -> str: ...
    @property
    def field_names_list(self) -> list[str]: ...
    def to_descriptor_list(self) -> list[DescriptorDict]: ...
    def __len__(self) -> int: ...

def serialize_instance(instance: Any, schema: ModelSchema) -> dict[str, Any]: ...
def serialize_batch(instances: list[Any], schema: ModelSchema) -> list[dict[str, Any]]: ...
def serialize_values_list(rows: list[Any], schema: ModelSchema) -> list[dict[str, Any]]: ...
def validate_instance(instance: Any, schema: ModelSchema) -> ValidationReport: ...
def extract_model_fields(model_class: type) -> list[DescriptorDict]: ...
def serialize_fields(
    field_descriptors: list[DescriptorDict], values: dict[str, Any]
) -> dict[str, Any]: ...
def validate_fields(descriptors: list[DescriptorDict], values: list[Any]) -> ValidationReport: ...
def version() -> Literal["1.0.1"]: ...

__all__ = [
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
