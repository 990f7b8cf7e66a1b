"""Command line: ``python -m hivekit`` runs every optimiser on a built-in problem and prints one table;
``python -m hivekit tsp FILE_OR_NAME`` solves a TSPLIB instance."""

from __future__ import annotations

import argparse
import math
import os
import sys
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import hivekit
from hivekit import _hivekit, _registry, problems, tsplib

TOUR_CLASSES = tuple(cls.__name__ for cls in _registry.TOUR_CLASSES)
CENTRED_PROBLEMS = tuple(problems._BOXES)
# The table runs the shifted variants: on the centred problems the box centre, where several classes start or
# gather, is the optimum itself, which flatters them.
BOX_PROBLEMS = tuple(f"shifted_{name}" for name in CENTRED_PROBLEMS)
VARIANTS = _hivekit._variant_names


@dataclass(frozen=True)
class DemoRun:
    """One row of the table: a class, its problem (a name of :func:`hivekit.problems.problem`, or
    ``tsp:NAME`` for a TSPLIB instance) and the hyperparameters besides ``random_state``."""

    class_name: str
    problem: str
    params: dict[str, Any] = field(default_factory=dict)


# The problem of a class that is not continuous follows from what it works on.
TOUR_PROBLEM = "tsp:berlin52"
PARETO_PROBLEM = "zdt1"
BITS_PROBLEM = "knapsack"

# Each class's settings: its shifted problem (for a continuous class) and its hyperparameters. They are chosen
# so that every class gets somewhere on its problem and the whole table takes seconds; they are not tuned to
# win. A class missing here runs with its defaults (a continuous one on shifted_sphere).
SETTINGS: dict[str, tuple[str | None, dict[str, Any]]] = {
    "AntColony": (None, {"n_ants": 20, "n_iterations": 50}),
    "ParticleSwarm": ("shifted_sphere", {"n_iterations": 300, "w": 0.7, "c1": 1.5, "c2": 1.5}),
    "BeeColony": ("shifted_rastrigin", {"n_iterations": 300}),
    "GreyWolfOptimizer": ("shifted_ackley", {"n_iterations": 300}),
    "FireflyOptimizer": ("shifted_sphere", {"alpha": 0.05}),
    "SimulatedAnnealing": ("shifted_sphere", {"n_iterations": 20000, "cooling_rate": 0.9995, "step_scale": 0.05}),
    "CuckooSearch": ("shifted_ackley", {"n_iterations": 500}),
    "BatAlgorithm": ("shifted_sphere", {"n_iterations": 300}),
    "GlowwormOptimizer": ("shifted_sphere", {"n_iterations": 300, "neighborhood_radius": 15.0}),
    "DifferentialEvolution": ("shifted_rosenbrock", {"n_iterations": 300}),
    "CmaEsOptimizer": ("shifted_rosenbrock", {"n_iterations": 500}),
    "PermutationGeneticOptimizer": (None, {"n_iterations": 200}),
    "BinaryParticleSwarm": (None, {"n_iterations": 300}),
    "Nsga2Optimizer": (None, {"n_iterations": 300}),
    "MopsoOptimizer": (None, {"n_iterations": 300, "w": 0.4}),
}


def _demo_run(info: _registry.ClassInfo) -> DemoRun:
    box_problem, params = SETTINGS.get(info.name, (None, {}))
    if info.input == "tour":
        problem = TOUR_PROBLEM
    elif info.multi_objective:
        problem = PARETO_PROBLEM
    elif info.probe == "zeros":
        problem = BITS_PROBLEM
    else:
        problem = box_problem or BOX_PROBLEMS[0]
    return DemoRun(info.name, problem, params)


# In the module's registration order.
DEMO: list[DemoRun] = [_demo_run(info) for info in _registry.CLASSES]


@dataclass
class Row:
    class_name: str
    problem: str
    value: float | None = None
    gap: float | None = None
    evaluations: int | None = None
    seconds: float | None = None
    error: str | None = None
    # (objective call, gap of the best value after it), one pair per improvement; empty for two objectives.
    curve: list[tuple[int, float]] = field(default_factory=list)


def _after_probe(objective: Callable[[list[float]], Any], monitor: hivekit.Monitor) -> Callable[[list[float]], Any]:
    """Passes the fit's first call, its probe at the box centre, straight to ``objective`` and every later one
    through ``monitor``: the probe is no part of the search, and on the built-in problems the centre is often
    the optimum itself, which would flatten every curve."""
    probed = False

    def watched(x: list[float]) -> Any:
        nonlocal probed
        if probed:
            return monitor(x)
        probed = True
        return objective(x)

    return watched


def _with_fewer_iterations(cls: type, params: dict[str, Any]) -> dict[str, Any]:
    default = int(cls().get_params()["n_iterations"])
    return {**params, "n_iterations": max(1, int(params.get("n_iterations", default)) // 10)}


def run_demo(run: DemoRun, seed: int, quick: bool = False, box_problem: str | None = None) -> Row:
    """Fits one class on its problem and measures it; a failing fit is reported in the row."""
    cls = getattr(hivekit, run.class_name)
    params = _with_fewer_iterations(cls, run.params) if quick else dict(run.params)
    name = box_problem if box_problem is not None and run.problem in BOX_PROBLEMS else run.problem
    tour = name.startswith("tsp:")
    row = Row(run.class_name, name[4:] if tour else problems.problem(name).name)
    monitor: hivekit.Monitor | None = None
    try:
        if tour:
            instance = tsplib.load_tsplib(row.problem)
            fit_args: tuple[Any, ...] = (instance.distance_matrix,)
        else:
            problem = problems.problem(name)
            monitor = hivekit.Monitor(problem.objective)
            fit_args = (_after_probe(problem.objective, monitor), problem.lower, problem.upper)
        est = cls(**params, random_state=seed)
        start = time.perf_counter()
        est.fit(*fit_args)
        row.seconds = time.perf_counter() - start
        row.value = est.score()
    except (Exception, hivekit.EngineFault) as exc:
        row.error = f"{type(exc).__name__}: {exc}"
        return row
    if tour:
        row.gap = None if instance.optimum is None else row.value - instance.optimum
    else:
        row.gap = problem.gap(row.value)
        if monitor is not None:
            row.evaluations = monitor.n_evaluations + 1
            row.curve = [(call + 1, problem.gap(best)) for call, best in monitor.trace]
    return row


def _number(value: float | None, digits: int = 6) -> str:
    if value is None:
        return "-"
    if math.isfinite(value) and value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.{digits}g}"


def format_table(rows: Sequence[Row]) -> str:
    headers = ("class", "problem", "best value", "gap", "evaluations", "time (s)")
    cells: list[tuple[str, ...]] = []
    for r in rows:
        if r.error is not None:
            cells.append((r.class_name, r.problem, f"error: {r.error}"))
        else:
            seconds = "-" if r.seconds is None else f"{r.seconds:.3f}"
            evaluations = "-" if r.evaluations is None else str(r.evaluations)
            cells.append((r.class_name, r.problem, _number(r.value), _number(r.gap, 3), evaluations, seconds))
    widths = [len(h) for h in headers]
    for c in cells:
        if len(c) == len(headers):
            widths = [max(w, len(s)) for w, s in zip(widths, c)]
        else:
            widths[:2] = [max(w, len(s)) for w, s in zip(widths[:2], c[:2])]

    def line(values: Sequence[str]) -> str:
        left = [f"{values[0]:<{widths[0]}}", f"{values[1]:<{widths[1]}}"]
        if len(values) != len(headers):
            return "  ".join(left + [values[2]])
        right = [f"{v:>{w}}" for v, w in zip(values[2:], widths[2:])]
        return "  ".join(left + right)

    out = [line(headers), "  ".join("-" * w for w in widths)]
    out.extend(line(c) for c in cells)
    return "\n".join(out)


def table_command(args: argparse.Namespace) -> int:
    if args.table_plot is not None and not _have_matplotlib():
        return _fail("--plot needs matplotlib: pip install 'hivekit[plot]'")
    runs = [r for r in DEMO if args.only is None or r.class_name in args.only]
    progress = sys.stderr.isatty()
    rows = []
    for i, run in enumerate(runs, start=1):
        if progress:
            sys.stderr.write(f"\r\x1b[K[{i}/{len(runs)}] {run.class_name} ...")
            sys.stderr.flush()
        rows.append(run_demo(run, args.seed, args.quick, args.problem))
    if progress:
        sys.stderr.write("\r\x1b[K")
        sys.stderr.flush()
    print(format_table(rows))
    if args.table_plot is not None:
        try:
            _plot_curves(rows, args.table_plot)
        except (OSError, ValueError) as exc:
            return _fail(f"cannot write {args.table_plot}: {exc}")
    failed = [r for r in rows if r.error is not None]
    if failed:
        print(f"{len(failed)} of {len(rows)} classes failed", file=sys.stderr)
        return 1
    return 0


def tsp_command(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    if args.variant is not None and args.algo != "AntColony":
        parser.error("--variant applies only to --algo AntColony")
    if args.plot is not None and not _have_matplotlib():
        return _fail("--plot needs matplotlib: pip install 'hivekit[plot]'")
    try:
        instance = tsplib.load_tsplib(args.instance)
    except FileNotFoundError as exc:
        return _fail(exc.strerror or str(exc))
    except (OSError, ValueError, MemoryError) as exc:  # a malformed file, or a DIMENSION too large to hold
        return _fail(str(exc))
    params: dict[str, Any] = {}
    if args.variant is not None:
        params["variant"] = args.variant
    if args.iterations is not None:
        params["n_iterations"] = args.iterations
    try:
        est = getattr(hivekit, args.algo)(**params, random_state=args.seed)
        start = time.perf_counter()
        est.fit(instance.distance_matrix)
        seconds = time.perf_counter() - start
        # Inside the guard: a fit that found no tour has none to give.
        tour, length = est.predict(), est.score()
    except Exception as exc:  # ValueError, MemoryError, OverflowError: errors of this run, not of the program
        return _fail(f"{args.algo} failed: {type(exc).__name__}: {exc}")
    label = args.algo + (f" ({args.variant})" if args.variant else "")
    print(f"instance   {instance.name} ({instance.dimension} cities, {instance.edge_weight_type})")
    print(f"algorithm  {label}, seed {args.seed}")
    print(f"length     {_number(length)}")
    if instance.optimum is not None:
        gap = length - instance.optimum
        print(f"optimum    {_number(instance.optimum)}")
        print(f"gap        {_number(gap)} ({100.0 * gap / instance.optimum:.2f}%)")
    print(f"time       {seconds:.3f} s")
    print("tour       " + " ".join(str(city + 1) for city in tour))
    if args.plot is not None:
        # A class that records only its final best has no curve to draw.
        history = est.history_ if _registry.BY_NAME[args.algo].family == "recorded" else []
        try:
            _plot(instance, tour, history, f"{instance.name}: {label}, length {_number(length)}", args.plot)
        except (OSError, ValueError) as exc:
            return _fail(f"cannot write {args.plot}: {exc}")
        print(f"plot       {args.plot}")
    return 0


def _plot(instance: tsplib.TsplibInstance, tour: list[int], history: list[float], title: str, path: str) -> None:
    from matplotlib.figure import Figure

    fig = Figure(figsize=(11, 5) if history else (6, 5), layout="constrained")
    tour_axes, curve_axes = fig.subplots(1, 2) if history else (fig.subplots(), None)
    fig.suptitle(title)
    if instance.coordinates:
        # GEO files give latitude first; drawing longitude across keeps the map upright.
        points = [(y, x) if instance.edge_weight_type == "GEO" else (x, y) for x, y in instance.coordinates]
        closed = tour + tour[:1]
        tour_axes.plot([points[c][0] for c in closed], [points[c][1] for c in closed], "-o", markersize=3)
        tour_axes.set_aspect("equal", adjustable="datalim")
        tour_axes.set_title("tour")
    else:
        tour_axes.text(0.5, 0.5, "the file gives no coordinates", ha="center", va="center")
        tour_axes.set_axis_off()
    if curve_axes is not None:
        curve_axes.plot(range(1, len(history) + 1), history, label="best")
        if instance.optimum is not None:
            curve_axes.axhline(instance.optimum, linestyle="--", color="grey", label="optimum")
            curve_axes.legend()
        curve_axes.set_xlabel("iteration")
        curve_axes.set_ylabel("best tour length")
        curve_axes.set_title("convergence")
    fig.savefig(path)


def _have_matplotlib() -> bool:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return False
    return True


def _plot_curves(rows: Sequence[Row], path: str) -> None:
    from matplotlib.figure import Figure

    fig = Figure(figsize=(10, 6), layout="constrained")
    axes = fig.subplots()
    lowest = 0.0
    drawn = 0
    for r in rows:
        if not r.curve or r.evaluations is None:
            continue
        calls = [call for call, _ in r.curve] + [r.evaluations]
        gaps = [gap for _, gap in r.curve]
        lowest = min(lowest, gaps[-1])
        # The colour cycle has ten colours; later curves are dashed to stay apart.
        axes.step(calls, gaps + gaps[-1:], where="post", linestyle="-" if drawn < 10 else "--",
                  label=f"{r.class_name} ({r.problem})")
        drawn += 1
    axes.set_xscale("log")
    # Gaps reach exactly 0 and can dip a rounding error below it; a linear band around 0 keeps both drawable.
    axes.set_yscale("symlog", linthresh=1e-6)
    axes.set_ylim(bottom=lowest)
    axes.set_xlabel("objective calls")
    axes.set_ylabel("best value - optimum")
    axes.set_title("convergence of the single-objective runs")
    axes.legend(fontsize="small")
    fig.savefig(path)


def _program() -> str:
    return "hivekit" if sys.argv and Path(sys.argv[0]).name == "hivekit" else "python -m hivekit"


def _fail(message: str) -> int:
    print(f"{_program()}: error: {message}", file=sys.stderr)
    return 1


def _whole(text: str, least: int) -> int:
    # Seeds and sizes are unsigned 64-bit integers in the engine.
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not least <= value < 2**64:
        raise argparse.ArgumentTypeError(f"must be between {least} and 2**64-1: {text}")
    return value


def _seed(text: str) -> int:
    return _whole(text, 0)


def _positive(text: str) -> int:
    return _whole(text, 1)


def _output(text: str) -> str:
    """A path the plot can be written to, checked before the run so that a typo does not cost the whole run."""
    suffix = Path(text).suffix[1:].lower()
    if suffix and _have_matplotlib():
        from matplotlib.backend_bases import FigureCanvasBase

        formats = FigureCanvasBase.get_supported_filetypes()
        if suffix not in formats:
            raise argparse.ArgumentTypeError(f"cannot write {text!r}: matplotlib draws no {suffix!r} files "
                                             f"({', '.join(sorted(formats))})")
    existed = os.path.lexists(text)
    try:
        # Appending changes nothing in a file that is there; one made here is removed again at once.
        with open(text, "ab"):
            pass
    except OSError as exc:
        raise argparse.ArgumentTypeError(f"cannot write {text!r}: {exc.strerror or exc}") from None
    if not existed:
        os.remove(text)
    return text


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=_program(),
        description="Runs every optimiser on a built-in problem with a fixed seed and prints one table: best "
        "value, gap to the known optimum, objective calls (the probe call included) and time. Tour classes "
        f"solve the bundled TSPLIB instance {TOUR_PROBLEM.removeprefix('tsp:')}; the multi-objective classes "
        f"report the hypervolume of their Pareto archive on {PARETO_PROBLEM.upper()} (larger is better). Exits "
        "with status 1 if any class fails.",
    )
    parser.add_argument("--version", action="version", version=f"hivekit {hivekit.__version__}")
    parser.add_argument("--seed", metavar="N", type=_seed, default=0, help="random_state of every run (default 0)")
    parser.add_argument("--problem", choices=BOX_PROBLEMS + CENTRED_PROBLEMS,
                        help="run every continuous class on this problem (by default each runs on its own shifted "
                        "problem; the centred ones have their optimum at the box centre)")
    parser.add_argument("--only", nargs="+", metavar="CLASS", choices=[r.class_name for r in DEMO],
                        help="run only these classes")
    parser.add_argument("--quick", action="store_true", help="a tenth of the iterations (a smoke test)")
    parser.add_argument("--plot", dest="table_plot", metavar="OUT.png", type=_output,
                        help="draw the convergence curve of every single-objective run (needs matplotlib)")
    commands = parser.add_subparsers(dest="command", title="commands")
    tsp = commands.add_parser(
        "tsp",
        help="solve a TSPLIB instance",
        description="Solves a TSPLIB instance and prints the tour length, the gap to the published optimum "
        "(bundled instances) and the tour in the file's 1-based city numbers.",
        epilog=f"Bundled instances: {', '.join(tsplib.bundled_names())}.",
    )
    tsp.add_argument("instance", metavar="FILE_OR_NAME", help="a .tsp file or the name of a bundled instance")
    tsp.add_argument("--algo", choices=TOUR_CLASSES, default="AntColony", help="optimiser (default AntColony)")
    tsp.add_argument("--variant", choices=VARIANTS, help="AntColony rule set (default basic)")
    tsp.add_argument("--seed", dest="tsp_seed", metavar="N", type=_seed, default=0, help="random_state (default 0)")
    tsp.add_argument("--iterations", metavar="N", type=_positive, help="n_iterations (default: the class's default)")
    tsp.add_argument("--plot", metavar="OUT.png", type=_output, help="draw the tour and the convergence curve (needs matplotlib)")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    try:
        status = _dispatch(argv)
        # Flushed here, not at exit, so that a reader that has gone away is noticed below.
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        # The reader (for example `head`) closed the pipe: stop quietly. Standard output is pointed at
        # /dev/null so that the interpreter's own flush at exit does not fail a second time.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


def _dispatch(argv: Sequence[str] | None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command == "tsp":
        args.seed = args.tsp_seed
        return tsp_command(args, parser)
    return table_command(args)


if __name__ == "__main__":
    sys.exit(main())
