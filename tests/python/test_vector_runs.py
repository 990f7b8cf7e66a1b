"""Seeded runs reproduce the expected results of tests/data/runs.json bit for bit, and its generator,
scripts/make_runs.py, states the inputs of every run."""

import importlib.util
import pathlib

import pytest

import hivekit
from vectors import bits, decode, objective, runs

ALL_RUNS = runs()


def fitted(run):
    cls = getattr(hivekit, run["class"])
    est = cls(**run["kwargs"])
    if "distance_matrix" in run:
        est.fit(decode(run["distance_matrix"]))
    else:
        est.fit(objective(run["objective"]), run["lower"], run["upper"])
    return est


@pytest.mark.parametrize("run", [r for r in ALL_RUNS if r["class"] != "two_opt"], ids=lambda r: r["id"])
def test_seeded_run_matches_expected_bits(run):
    est = fitted(run)
    expect = decode(run["expect"])
    assert bits(est.predict()) == bits(expect["predict"])
    assert bits(est.score()) == bits(expect["score"])
    if "history_" in expect:
        assert bits(est.history_) == bits(expect["history_"])
    assert bits(est.population_) == bits(expect["population_"])


@pytest.mark.parametrize("run", [r for r in ALL_RUNS if r["class"] == "two_opt"], ids=lambda r: r["id"])
def test_two_opt_matches_expected_bits(run):
    tour, length = hivekit.two_opt(run["tour"], decode(run["distance_matrix"]))
    expect_tour, expect_length = decode(run["expect"]["result"])
    assert tour == expect_tour
    assert length.hex() == expect_length.hex()


def test_the_generator_states_the_inputs_of_every_recorded_run():
    found = importlib.util.spec_from_file_location("make_runs", pathlib.Path(__file__).parents[2] / "scripts" / "make_runs.py")
    make_runs = importlib.util.module_from_spec(found)
    found.loader.exec_module(make_runs)
    assert [make_runs.inputs(run) for run in make_runs.RUNS] == [{k: v for k, v in r.items() if k != "expect"}
                                                                  for r in ALL_RUNS]
