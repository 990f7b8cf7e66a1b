"""The command line (the table of every class, the tsp command and its plot, exit codes, errors, closed pipes) and the
example scripts."""

import pathlib
import subprocess
import sys

import pytest

import hivekit
from hivekit import __main__ as cli
from hivekit import problems, tsplib
from hivekit._registry import CLASSES
from small_runs import on_terminal


def run(capsys, *args):
    """Runs the command in this process: its exit status, standard output and standard error."""
    try:
        status = cli.main(list(args))
    except SystemExit as e:  # argparse's own exits
        status = e.code
    out, err = capsys.readouterr()
    return status, out, err


def rows(out):
    return {line.split()[0]: line.split() for line in out.splitlines()[2:]}


def field(output, name):
    return next(line[len(name):].strip() for line in output.splitlines() if line.startswith(name + " "))


def test_python_m_hivekit_prints_every_class_and_shows_progress_only_on_a_terminal():
    seen, proc = on_terminal("-m", "hivekit", "--quick")
    lines = proc.stdout.decode().splitlines()
    assert lines[0].split(maxsplit=2)[:2] == ["class", "problem"] and "evaluations" in lines[0] and "gap" in lines[0]
    assert [line.split()[0] for line in lines[2:]] == [info.name for info in CLASSES]
    assert proc.returncode == 0 and b"error:" not in proc.stdout and b"[1/" not in proc.stdout
    assert f"[{len(CLASSES)}/{len(CLASSES)}] MopsoOptimizer".encode() in seen


def test_table_rows_report_problem_value_evaluations_or_their_error_and_repeat_under_a_seed(capsys, monkeypatch):
    status, out, err = run(capsys, "--only", "ParticleSwarm", "AntColony", "DifferentialEvolution", "--quick")
    assert status == 0 and err == ""  # no progress line when not on a terminal
    swarm, colony = rows(out)["ParticleSwarm"], rows(out)["AntColony"]
    assert swarm[1] == "shifted-sphere-10" and int(swarm[4]) > 0 and float(swarm[2]) >= 0
    assert colony[1] == "berlin52" and colony[4] == "-" and float(colony[3]) == float(colony[2]) - 7542
    again = run(capsys, "--only", "DifferentialEvolution", "--quick")[1]
    assert rows(again)["DifferentialEvolution"][:5] == rows(out)["DifferentialEvolution"][:5]
    moved = rows(run(capsys, "--only", "ParticleSwarm", "BinaryParticleSwarm", "--problem", "ackley", "--quick")[1])
    assert (moved["ParticleSwarm"][1], moved["BinaryParticleSwarm"][1]) == ("ackley-5", "knapsack-24")
    monkeypatch.setattr(cli, "DEMO", [cli.DemoRun("BatAlgorithm", "sphere", {"n_bats": 1}),
                                      cli.DemoRun("ParticleSwarm", "sphere", {"n_iterations": 5})])
    status, out, err = run(capsys)
    bat, swarm = out.splitlines()[2:]
    assert status == 1 and "1 of 2 classes failed" in err
    assert "error: ValueError: Invalid input: n_bats must be at least 2 for bat algorithm" in bat
    assert swarm.split()[:2] == ["ParticleSwarm", "sphere-10"] and "error" not in swarm


def test_the_table_runs_the_continuous_classes_on_shifted_problems_unless_told_otherwise(capsys):
    for run_ in cli.DEMO:  # the default: each continuous class on a problem whose optimum is off-centre
        if not run_.problem.startswith(("tsp:", "zdt", "knapsack")):
            p = problems.problem(run_.problem)
            centre = [(lo + hi) / 2 for lo, hi in zip(p.lower, p.upper)]
            assert run_.problem in cli.BOX_PROBLEMS and p.solution != centre, run_
    for name in cli.BOX_PROBLEMS + cli.CENTRED_PROBLEMS:
        status, out, _ = run(capsys, "--problem", name, "--only", "GreyWolfOptimizer", "CuckooSearch", "--quick")
        table = rows(out)
        assert status == 0 and [table[c][1] for c in ("GreyWolfOptimizer", "CuckooSearch")] == [
            problems.problem(name).name] * 2
        gap = float(table["CuckooSearch"][2]) - problems.problem(name).optimum
        assert float(table["CuckooSearch"][3]) == pytest.approx(gap, rel=1e-2)  # the gap column has 3 digits


def test_every_single_objective_table_run_draws_a_falling_curve():
    for run_ in cli.DEMO:
        row = cli.run_demo(run_, seed=0, quick=True)
        gaps = [gap for _, gap in row.curve]
        if run_.problem.startswith("tsp:") or row.problem.startswith("zdt"):
            assert gaps == []
        else:
            assert len(gaps) > 2 and gaps == sorted(set(gaps), reverse=True), run_
            assert row.curve[-1][0] <= row.evaluations


def test_tsp_prints_length_gap_and_help_its_errors_name_the_bundled_instances_and_the_version_prints(capsys, tmp_path):
    status, out, _ = run(capsys, "tsp", "berlin52", "--seed", "0")
    tour, length = [int(c) - 1 for c in field(out, "tour").split()], float(field(out, "length"))
    assert status == 0 and sorted(tour) == list(range(52))
    assert tsplib.tour_length(tour, tsplib.load_tsplib("berlin52").distance_matrix) == length
    assert field(out, "optimum") == "7542" and field(out, "gap").startswith(f"{length - 7542:g} (")
    path = tmp_path / "square.tsp"
    path.write_text("NAME : square\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
                    "1 0 0\n2 0 10\n3 10 0\n4 10 10\nEOF\n")
    status, out, _ = run(capsys, "tsp", str(path), "--algo", "PermutationGeneticOptimizer", "--iterations", "3")
    assert status == 0 and field(out, "length") == "40" and "gap" not in out
    path = tmp_path / "berlin52.tsp"  # the name, but not the cities, of a bundled instance
    path.write_text("NAME : berlin52\nTYPE : TSP\nDIMENSION : 52\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
                    + "".join(f"{i} {i} 0\n" for i in range(1, 53)) + "EOF\n")
    status, out, _ = run(capsys, "tsp", str(path), "--iterations", "1")
    assert status == 0 and field(out, "length") == "102" and "gap" not in out and "optimum" not in out
    status, out, _ = run(capsys, "tsp", "--help")
    assert status == 0 and "--variant" in out and "berlin52" in out
    assert run(capsys, "--version") == (0, f"hivekit {hivekit.__version__}\n", "")
    status, _, err = run(capsys, "tsp", "no-such-instance")
    assert status == 1 and "no-such-instance" in err and "berlin52" in err
    path = tmp_path / "broken.tsp"
    path.write_text("NAME : broken\nDIMENSION : 2\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 0 y\n")
    status, _, err = run(capsys, "tsp", str(path))
    assert status == 1 and f"{path}, line 6: expected a number" in err


def test_tsp_plot_draws_the_recorded_history_or_says_it_needs_matplotlib(capsys, tmp_path, monkeypatch):
    figure = pytest.importorskip("matplotlib.figure")
    saved, savefig = [], figure.Figure.savefig
    monkeypatch.setattr(figure.Figure, "savefig", lambda fig, path: saved.append(fig) or savefig(fig, path))
    for algo, panels in [("AntColony", 1), ("PermutationGeneticOptimizer", 2)]:  # a convergence curve needs a history
        out = tmp_path / f"{algo}.png"
        assert run(capsys, "tsp", "eil51", "--algo", algo, "--iterations", "3", "--plot", str(out))[0] == 0
        assert out.read_bytes().startswith(b"\x89PNG") and len(saved[-1].axes) == panels
    assert len(saved[-1].axes[1].lines[0].get_xdata()) == 3
    for module in [m for m in sys.modules if m.split(".")[0] == "matplotlib"]:
        monkeypatch.setitem(sys.modules, module, None)  # importing it now fails
    status, _, err = run(capsys, "tsp", "berlin52", "--plot", str(tmp_path / "x.png"))
    assert status == 1 and "--plot needs matplotlib" in err


@pytest.mark.parametrize("args", [
    ["--seed", "-1"], ["--seed", "x"], ["--only", "Nope"], ["--problem", "zdt1"], ["frobnicate"], ["tsp"],
    ["tsp", "berlin52", "--algo", "ParticleSwarm"], ["tsp", "berlin52", "--algo", "PermutationGeneticOptimizer",
                                                     "--variant", "acs"],
    ["tsp", "berlin52", "--variant", "ACS"], ["tsp", "berlin52", "--iterations", "0"],
    ["tsp", "berlin52", "--iterations", str(2**64)], ["--seed", str(2**64)],
])
def test_bad_arguments_exit_with_a_usage_error(args, capsys):
    status, _, err = run(capsys, *args)
    assert status == 2 and "usage:" in err and "error:" in err


def test_a_plot_that_cannot_be_written_is_refused_before_the_run(capsys, tmp_path):
    paths = [tmp_path / "missing" / "out.png", tmp_path] + ([tmp_path / "out.pnj"] if cli._have_matplotlib() else [])
    for command in (["tsp", "eil51"], ["--only", "ParticleSwarm", "--quick"]):
        for path in paths:
            status, out, err = run(capsys, *command, "--plot", str(path))
            assert (status, out) == (2, "") and f"argument --plot: cannot write {str(path)!r}" in err, err
    assert list(tmp_path.iterdir()) == []  # checking leaves no file behind
    kept = tmp_path / "kept.png"
    kept.write_bytes(b"old")
    assert cli._output(str(kept)) == str(kept) and kept.read_bytes() == b"old"


def test_errors_of_the_run_exit_with_status_1_and_no_traceback(capsys, tmp_path):
    huge = tmp_path / "huge.tsp"
    huge.write_text("NAME : huge\nTYPE : TSP\nDIMENSION : " + "9" * 100 + "\nEDGE_WEIGHT_TYPE : EUC_2D\n")
    far = tmp_path / "far.tsp"  # every distance overflows to infinity
    far.write_text("NAME : far\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
                   "1 1e308 1e308\n2 -1e308 -1e308\n3 1e308 -1e308\n4 -1e308 1e308\nEOF\n")
    for path, fragment in [(huge, "needs a dense distance matrix"), (far, "AntColony failed: ValueError: ")]:
        status, out, err = run(capsys, "tsp", str(path), "--iterations", "2")
        assert (status, out) == (1, "") and err.startswith(f"{cli._program()}: error: ") and fragment in err, err


@pytest.mark.parametrize("args", [["--only", "ParticleSwarm", "--quick"], ["tsp", "berlin52", "--iterations", "2"]])
def test_a_reader_that_goes_away_gets_no_traceback(args):
    # As `python -m hivekit | head -1` does once it has its line; here the reader leaves before the first one.
    child = subprocess.Popen([sys.executable, "-m", "hivekit", *args], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    child.stdout.close()
    err = child.stderr.read()
    child.wait(timeout=60)
    assert (err, child.returncode) == ("", 1)


EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
CASES = {"box_minimisation.py": "reproduced exactly: True", "tsp_tour.py": "same length measured in Python: True",
         "pareto_front.py": "MopsoOptimizer: ", "bit_vectors.py": "of at most 470",
         "multistart_seeds.py": "gives the same score: True"}


@pytest.mark.parametrize("name", sorted(set(CASES) | {p.name for p in EXAMPLES.glob("*.py")}))
def test_every_example_runs(name):
    assert name in CASES and (EXAMPLES / name).is_file()
    result = subprocess.run([sys.executable, str(EXAMPLES / name), "--small"], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0 and CASES[name] in result.stdout, result.stderr
