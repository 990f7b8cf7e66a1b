"""Reading the expected-result files kept in tests/data."""

import functools
import json
import math
import operator
import pathlib


def decode(value):
    """Turns {'hex': ...} leaves back into floats, recursively."""
    if isinstance(value, dict):
        return float.fromhex(value["hex"]) if set(value) == {"hex"} else {k: decode(v) for k, v in value.items()}
    return [decode(v) for v in value] if isinstance(value, list) else value


def plain_sum(iterable, start=0):
    """Left-to-right addition, as the expected results were computed (since CPython 3.12 the built-in sum() adds
    floats with compensation, which changes the last bit of some objective values)."""
    return functools.reduce(operator.add, iterable, start)


def objective(source):
    return eval(source, {"math": math, "sum": plain_sum})


def bits(value):
    """A float or nested list of floats as comparable hex strings (ints kept as they are)."""
    if isinstance(value, float):
        return value.hex()
    return [bits(v) for v in value] if isinstance(value, (list, tuple)) else value


def runs(class_name=None):
    data = json.loads((pathlib.Path(__file__).resolve().parents[1] / "data" / "runs.json").read_text())["runs"]
    return [r for r in data if class_name is None or r["class"] == class_name]
