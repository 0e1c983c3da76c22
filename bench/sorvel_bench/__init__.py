"""A Django app for the sorvel benchmarks: one model of ten mixed fields."""
