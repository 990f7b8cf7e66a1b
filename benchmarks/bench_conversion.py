"""Cost of converting fit's arguments: a buffer read in one step against the element-by-element sequence path.

Each case times fit with arguments that are refused right after conversion, so the time is the conversion's
(plus a check that stops at the first entry). The baseline of each row is measured in the same run. Run with the
package importable, for example:
    PYTHONPATH=build/dev/pkg .venv/bin/python benchmarks/bench_conversion.py
"""

import timeit

import numpy as np

import hivekit

N_LIMITS = 10**6
N_CITIES = 2000


def best_of(repeats, fn):
    return min(timeit.repeat(fn, number=1, repeat=repeats))


def refused_fit(est, *args):
    """Calls fit, which must fail with ValueError once its arguments are converted."""

    def call():
        try:
            est.fit(*args)
        except ValueError:
            return
        raise AssertionError("fit was expected to refuse its arguments")

    return call


def limit_forms(values):
    """A bound as a float64 array (the buffer path), as the same values left strided (numpy refuses such a view
    as a contiguous buffer, so it is read element by element) and as a list of floats (the sequence path's best
    case)."""
    spaced = np.empty(2 * len(values))
    spaced[::2] = values
    return {"float64 array": values, "strided array": spaced[::2], "list of floats": values.tolist()}


def limits_case(repeats=5):
    """Both limits of ParticleSwarm.fit with N_LIMITS entries; lower[0] > upper[0] stops fit after conversion.
    The floor row copies the same two arrays into new memory, which the buffer path cannot avoid either: the box
    must not change while the objective runs, so fit keeps its own copy."""
    lower = np.linspace(0.0, 1.0, N_LIMITS)
    lowers, uppers = limit_forms(lower), limit_forms(lower - 1.0)
    est = hivekit.ParticleSwarm()
    rows = []
    for form in lowers:
        seconds = best_of(repeats, refused_fit(est, sum, lowers[form], uppers[form]))
        rows.append((f"bound of {N_LIMITS} entries, {form}", seconds / (2 * N_LIMITS)))
    floor = best_of(repeats, lambda: (lower.copy(), lower.copy()))
    rows.insert(1, ("floor: numpy copies of both bounds", floor / (2 * N_LIMITS)))
    return rows


def matrix_case(repeats=3):
    """A N_CITIES x N_CITIES distance matrix given to two_opt with a three-city tour, which it returns unchanged:
    the time is the matrix conversion's. The floor row copies the array once."""
    matrix = np.random.default_rng(0).random((N_CITIES, N_CITIES))
    spaced = np.empty((N_CITIES, 2 * N_CITIES))
    spaced[:, ::2] = matrix
    forms = {"float64 array": matrix, "strided array": spaced[:, ::2], "list of lists": matrix.tolist()}
    entries = N_CITIES * N_CITIES
    rows = [(f"{N_CITIES}x{N_CITIES} matrix, {form}",
             best_of(repeats, lambda m=m: hivekit.two_opt([0, 1, 2], m)) / entries) for form, m in forms.items()]
    rows.insert(1, ("floor: a numpy copy of the matrix", best_of(repeats, matrix.copy) / entries))
    return rows


CASES = [limits_case, matrix_case]


def main():
    print(f"{'case':<48} {'ns/entry':>10} {'vs buffer':>10}")
    for case in CASES:
        rows = case()
        baseline = rows[0][1]
        for name, per_entry in rows:
            print(f"{name:<48} {per_entry * 1e9:>10.2f} {per_entry / baseline:>9.1f}x")


if __name__ == "__main__":
    main()
