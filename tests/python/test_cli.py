"""``python -m hivekit`` end to end: the table, the tsp command, exit codes and errors."""

import os
import pty
import subprocess
import sys

import pytest

import hivekit
from hivekit import __main__ as cli
from hivekit import tsplib

COLUMNS = ["class", "problem", "best value", "gap", "evaluations", "time (s)"]


def run(*args, env=None):
    return subprocess.run([sys.executable, "-m", "hivekit", *args], capture_output=True, text=True, timeout=120,
                          env=env)


def field(output, name):
    for line in output.splitlines():
        if line.startswith(name + " "):
            return line[len(name):].strip()
    raise AssertionError(f"no {name!r} line in {output!r}")


def test_help_describes_the_table_and_the_tsp_command():
    top, tsp = run("--help"), run("tsp", "--help")
    assert top.returncode == 0 and "tsp" in top.stdout and "--seed" in top.stdout
    assert tsp.returncode == 0 and "--variant" in tsp.stdout and "berlin52" in tsp.stdout


def test_table_lists_every_class_and_exits_zero_only_without_errors():
    result = run("--quick")
    lines = result.stdout.splitlines()
    header = lines[0]
    assert [c for c in COLUMNS if c in header] == COLUMNS
    names = [line.split()[0] for line in lines[2:]]
    assert names == [n for n in hivekit._hivekit.__all__ if n != "two_opt"]
    has_error = "error:" in result.stdout
    assert (result.returncode == 0) == (not has_error)
    if not has_error:
        assert result.stderr == ""


def test_table_rows_report_problem_value_and_evaluations():
    result = run("--only", "ParticleSwarm", "AntColony", "--quick")
    assert result.returncode == 0, result.stderr
    rows = {line.split()[0]: line.split() for line in result.stdout.splitlines()[2:]}
    swarm, colony = rows["ParticleSwarm"], rows["AntColony"]
    assert swarm[1] == "sphere-10" and int(swarm[4]) > 0 and float(swarm[2]) >= 0
    assert colony[1] == "berlin52" and colony[4] == "-" and float(colony[3]) == float(colony[2]) - 7542


def test_same_seed_gives_the_same_values():
    first = run("--only", "DifferentialEvolution", "--seed", "3", "--quick").stdout.splitlines()[2].split()
    second = run("--only", "DifferentialEvolution", "--seed", "3", "--quick").stdout.splitlines()[2].split()
    assert first[:5] == second[:5]


def test_problem_option_moves_the_continuous_classes_only():
    result = run("--only", "ParticleSwarm", "BinaryParticleSwarm", "--problem", "ackley", "--quick")
    rows = {line.split()[0]: line.split()[1] for line in result.stdout.splitlines()[2:]}
    assert rows == {"ParticleSwarm": "ackley-5", "BinaryParticleSwarm": "knapsack-24"}


def test_failing_class_shows_its_error_in_its_row_and_the_exit_status(monkeypatch, capsys):
    monkeypatch.setattr(cli, "DEMO", [
        cli.DemoRun("BatAlgorithm", "sphere", {"n_bats": 1}),
        cli.DemoRun("ParticleSwarm", "sphere", {"n_iterations": 5}),
    ])
    assert cli.main([]) == 1
    out, err = capsys.readouterr()
    bat, swarm = out.splitlines()[2:]
    assert "error: ValueError: Invalid input: n_bats must be at least 2 for bat algorithm" in bat
    assert swarm.split()[:2] == ["ParticleSwarm", "sphere-10"] and "error" not in swarm
    assert "1 of 2 classes failed" in err


def test_progress_line_appears_only_on_a_terminal():
    piped = run("--only", "ParticleSwarm", "--quick")
    assert "[1/1]" not in piped.stderr
    primary, secondary = pty.openpty()
    try:
        proc = subprocess.run([sys.executable, "-m", "hivekit", "--only", "ParticleSwarm", "--quick"],
                              stdout=subprocess.PIPE, stderr=secondary, timeout=60)
        os.close(secondary)
        seen = b""
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    finally:
        os.close(primary)
    assert proc.returncode == 0
    assert b"[1/1] ParticleSwarm" in seen
    assert b"[1/1]" not in proc.stdout


def test_tsp_berlin52_seed_0_prints_a_tour_of_the_printed_length():
    result = run("tsp", "berlin52", "--seed", "0")
    assert result.returncode == 0, result.stderr
    tour = [int(c) - 1 for c in field(result.stdout, "tour").split()]
    length = float(field(result.stdout, "length"))
    assert sorted(tour) == list(range(52))
    assert tsplib.tour_length(tour, tsplib.load_tsplib("berlin52").distance_matrix) == length
    assert field(result.stdout, "optimum") == "7542"
    assert field(result.stdout, "gap").startswith(f"{length - 7542:g} (")


def test_tsp_runs_the_genetic_optimizer_on_a_file(tmp_path):
    path = tmp_path / "square.tsp"
    path.write_text("NAME : square\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
                    "1 0 0\n2 0 10\n3 10 0\n4 10 10\nEOF\n")
    result = run("tsp", str(path), "--algo", "PermutationGeneticOptimizer", "--iterations", "3")
    assert result.returncode == 0, result.stderr
    assert field(result.stdout, "length") == "40"
    assert "gap" not in result.stdout


def test_tsp_plot_writes_a_png(tmp_path):
    pytest.importorskip("matplotlib")
    out = tmp_path / "tour.png"
    result = run("tsp", "eil51", "--iterations", "2", "--plot", str(out))
    assert result.returncode == 0, result.stderr
    assert out.read_bytes().startswith(b"\x89PNG")


def test_tsp_plot_without_matplotlib_fails_clearly(tmp_path):
    blocker = tmp_path / "matplotlib"
    blocker.mkdir()
    (blocker / "__init__.py").write_text("raise ImportError('not installed')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), os.environ.get("PYTHONPATH", "")]))
    result = run("tsp", "berlin52", "--plot", str(tmp_path / "x.png"), env=env)
    assert result.returncode == 1
    assert "--plot needs matplotlib" in result.stderr


@pytest.mark.parametrize(
    "args",
    [
        ["--seed", "-1"],
        ["--seed", "x"],
        ["--only", "Nope"],
        ["--problem", "zdt1"],
        ["frobnicate"],
        ["tsp"],
        ["tsp", "berlin52", "--algo", "ParticleSwarm"],
        ["tsp", "berlin52", "--algo", "PermutationGeneticOptimizer", "--variant", "acs"],
        ["tsp", "berlin52", "--variant", "ACS"],
        ["tsp", "berlin52", "--iterations", "0"],
    ],
)
def test_bad_arguments_exit_with_a_usage_error(args):
    result = run(*args)
    assert result.returncode == 2
    assert "usage:" in result.stderr and "error:" in result.stderr


def test_tsp_unknown_instance_names_the_bundled_ones():
    result = run("tsp", "no-such-instance")
    assert result.returncode == 1
    assert "no-such-instance" in result.stderr and "berlin52" in result.stderr


def test_tsp_malformed_file_reports_file_and_line(tmp_path):
    path = tmp_path / "broken.tsp"
    path.write_text("NAME : broken\nDIMENSION : 2\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 0 y\n")
    result = run("tsp", str(path))
    assert result.returncode == 1
    assert f"{path}, line 6: expected a number" in result.stderr
