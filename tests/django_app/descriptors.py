"""Descriptor dicts as the module writes and reads them."""


def descriptor(name, type_name, nullable=False, has_default=False, **payload):
    """A descriptor dict with its keys in the order the module writes them."""
    return {"name": name, "type": type_name, "nullable": nullable, "has_default": has_default,
            **payload}  # fmt: skip


def as_pairs(descriptor_dicts):
    """Each dict as a list of (key, value) pairs, so that the key order is compared too."""
    return [list(entry.items()) for entry in descriptor_dicts]
