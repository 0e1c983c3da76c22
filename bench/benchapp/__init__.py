"""The benchmark's Django app: the models the record cases serialize and validate."""
