"""Every script in examples/ runs to completion (with --small) and says what it set out to show."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
CASES = {"box_minimisation.py": "reproduced exactly: True", "tsp_tour.py": "same length measured in Python: True",
         "pareto_front.py": "MopsoOptimizer: ", "bit_vectors.py": "of at most 470",
         "multistart_seeds.py": "gives the same score: True"}


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_runs(name):
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == sorted(CASES)  # every example is exercised
    result = subprocess.run([sys.executable, str(EXAMPLES / name), "--small"], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0 and CASES[name] in result.stdout, result.stderr
