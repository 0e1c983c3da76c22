"""What "the same data" means across serializers that differ only in spelling."""

import datetime
import decimal


def canonical(rows):
    """Rows with the spellings that differ between equally valid serializers made equal:
    datetimes as aware values ("Z" or "+00:00"), decimals as numbers, keys in any order."""
    return [{key: _value(value) for key, value in row.items()} for row in rows]


def _value(value):
    if isinstance(value, str):
        if len(value) >= 19 and value[10:11] == "T":
            try:
                return datetime.datetime.fromisoformat(value.replace("Z", "+00:00"))
            except ValueError:
                return value
        try:
            if value and (value[0].isdigit() or value[0] == "-") and "." in value:
                return decimal.Decimal(value)
        except decimal.InvalidOperation:
            return value
    return value
