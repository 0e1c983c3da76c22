// A serializer's compiled plan: one column per output key, each saying where its value lives on
// a model instance and which output form it takes. Built once per serializer class from the
// description the Python layer gives, then only read.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/dict_template.hpp"
#include "frame/instance_values.hpp"
#include "frame/ref.hpp"

namespace sorvel::serializer {

// What a column reads and how. The first twelve read a stored value out of the instance's
// __dict__ by attname; the numbers are shared with python/sorvel/django/_plan.py.
enum class Kind : uint8_t {
    Str,
    Int,
    Float,
    Bool,
    Decimal,
    Date,
    Time,
    DateTime,
    Uuid,
    Duration,
    Json,
    Bytes,
    File,       // a stored file name: the name itself, or storage.url(name)
    Text,       // the model field's value_to_string(instance)
    Hook,       // hook(stored value)
    Attribute,  // getattr(instance, name): a property or any attribute
    Call,       // function(instance)
    Related,    // one related instance from the select_related cache, through a nested plan
    Many,       // prefetched related instances, through a nested plan
    Pks,        // prefetched related instances, as their primary keys
};
inline constexpr int kKindCount = int(Kind::Pks) + 1;

// Output options of a column; they also govern values that computed columns return.
enum Flag : uint32_t {
    kDateTimeIso = 1u << 0,  // isoformat(); neither this nor kDateTimeZ: RFC 3339 in UTC
    kDateTimeZ = 1u << 1,    // UTC (or the current zone) with "Z" for a zero offset
    kLocalTime = 1u << 2,    // convert aware values to the call's time zone first
    kDecimalNumber = 1u << 3,
    kUuidHex = 1u << 4,
    kFileUrl = 1u << 5,
    kDurationIso = 1u << 6,
    kDurationSeconds = 1u << 7,
    kChoiceLabel = 1u << 8,  // `extra` maps stored values to labels
    kToAttr = 1u << 9,       // Many/Pks: a list stored under `source` (Prefetch(to_attr=...))
    kAllFlags = (1u << 10) - 1,
};

struct Plan;

struct Column {
    frame::Ref key;        // interned output key
    std::string json_key;  // ",\"<key>\":", the key as JSON text between a comma and a colon
    // The same text, zero-padded, for keys up to its size: copied with one fixed-size move.
    std::array<char, 32> short_key{};
    Kind kind;
    uint32_t flags;
    frame::Ref source;  // interned attname, cache name or attribute name (null for Call)
    frame::Ref extra;   // choices dict, storage, model field, callable, nested plan, pk attname
    frame::Ref extra2;  // Related: the foreign key's attname (null for a reverse one-to-one)
    Kind pk_kind = Kind::Int;      // Pks: the related primary key's kind
    const Plan* nested = nullptr;  // Related/Many: the plan held by `extra`
    // Where Plan::names holds `source` and `extra2`, for the columns that read them from the
    // instance's storage; kNoName otherwise.
    uint32_t source_name = kNoName;
    uint32_t extra2_name = kNoName;
    static constexpr uint32_t kNoName = UINT32_MAX;
};

struct Plan {
    frame::Ref model;  // instances must be of this class (or a subclass)
    std::vector<Column> columns;
    frame::Ref error_class;     // called as error_class(message, row, field)
    frame::Ref decimal_type;    // decimal.Decimal
    frame::Ref fieldfile_type;  // django.db.models.fields.files.FieldFile
    frame::Ref uuid_type;       // uuid.UUID
    bool skip_missing = false;  // a deferred field or unloaded relation leaves its key out
    // Per column, where its attname sat in the last instance's __dict__: instances of one model
    // share their key order, so the next one is usually found there without a hash lookup.
    std::unique_ptr<std::atomic<Py_ssize_t>[]> hints;
    // The names read out of an instance's storage (the columns' attnames, "_state",
    // "_prefetched_objects_cache"), and the reader of its inline values by those names. Plans
    // may be shared between threads: the reader is used only with the interpreter lock held,
    // and not at all where there is none (it is null then).
    std::vector<PyObject*> names;
    uint32_t state_name = Column::kNoName;
    uint32_t prefetched_name = Column::kNoName;
    std::unique_ptr<frame::InstanceValues> values;
    // New row dicts with the columns' keys in order, copied from one template dict.
    std::unique_ptr<frame::DictTemplate> dicts;
};

// The Python class _Plan of module sorvel_django (private: not in __all__).
PyTypeObject* plan_type();

}  // namespace sorvel::serializer
