"""Django model serializers with native hot paths.

``ModelSerializer`` subclasses describe a model's output once (fields, relations, formats) and
turn instances, lists, QuerySets and pages into dicts (``dump``), JSON bytes (``dump_json``) or a
stream of JSON chunks (``stream_json``), reading only what the instances already hold. The same
classes validate request data as Django's ``full_clean()`` would (``validate``,
``validate_many``); ``compile_input_plan`` does that for any model without a serializer.
"""

from sorvel.django._plan import PlanError
from sorvel.django.errors import SerializationError
from sorvel.django.fields import Attribute, Computed, ModelField
from sorvel.django.serializers import ModelSerializer, SerializerOptions
from sorvel.django.validation import InputPlan, ValidationResult, compile_input_plan

__all__ = [
    "Attribute",
    "Computed",
    "InputPlan",
    "ModelField",
    "ModelSerializer",
    "PlanError",
    "SerializationError",
    "SerializerOptions",
    "ValidationResult",
    "compile_input_plan",
]
