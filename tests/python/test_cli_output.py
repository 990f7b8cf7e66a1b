"""The command line writing into a closed pipe, and what its plot draws."""

import subprocess
import sys

import pytest

from hivekit import __main__ as cli


@pytest.mark.parametrize("args", [["--only", "ParticleSwarm", "--quick"],
                                  ["tsp", "berlin52", "--iterations", "2"]])
def test_a_reader_that_goes_away_gets_no_traceback(args):
    # As `python -m hivekit | head -1` does once it has its line; here the reader leaves before the first one.
    child = subprocess.Popen([sys.executable, "-m", "hivekit", *args], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    child.stdout.close()
    err = child.stderr.read()
    child.wait(timeout=60)
    assert err == ""
    assert child.returncode == 1


@pytest.mark.parametrize("algo, panels", [("AntColony", 1), ("PermutationGeneticOptimizer", 2)])
def test_the_plot_draws_a_convergence_curve_only_from_a_recorded_history(monkeypatch, tmp_path, algo, panels):
    figure = pytest.importorskip("matplotlib.figure")
    saved = []
    monkeypatch.setattr(figure.Figure, "savefig", lambda fig, path: saved.append(fig))
    assert cli.main(["tsp", "eil51", "--algo", algo, "--iterations", "3", "--plot", str(tmp_path / "p.png")]) == 0
    [fig] = saved
    assert len(fig.axes) == panels
    if panels == 2:
        assert len(fig.axes[1].lines[0].get_xdata()) == 3
