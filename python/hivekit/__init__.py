"""Metaheuristic optimisers with a C++ engine; a given ``random_state`` reproduces a run bit for bit.

Besides the sixteen estimator classes and ``two_opt`` of the engine, the package offers objectives written in C
(:class:`NativeObjective`, evaluated without the interpreter), built-in test problems
(:mod:`hivekit.problems`), a TSPLIB reader (:mod:`hivekit.tsplib`) and parallel multi-start
(:func:`multistart`, :func:`multistart_tour`), and watching and stopping a run (:class:`Monitor`,
:func:`minimize`, :func:`expected_evaluations`).
"""

from hivekit import _hivekit
from hivekit._hivekit import *  # noqa: F403
from hivekit._hivekit import EngineFault as EngineFault, NativeObjective as NativeObjective, __all__ as _engine_all
from hivekit import problems as problems, tsplib as tsplib
from hivekit.monitor import (
    MinimizeResult as MinimizeResult,
    Monitor as Monitor,
    StopRun as StopRun,
    expected_evaluations as expected_evaluations,
    minimize as minimize,
)
from hivekit.parallel import (
    Parallel as Parallel,
    Vectorized as Vectorized,
    get_threads as get_threads,
    set_threads as set_threads,
    threads as threads,
)
from hivekit.multistart import StartResult as StartResult, multistart as multistart, multistart_tour as multistart_tour
from hivekit.tsplib import (
    TsplibError as TsplibError,
    TsplibInstance as TsplibInstance,
    load_tour as load_tour,
    load_tsplib as load_tsplib,
)

__version__ = "0.1.0"

__all__ = list(_engine_all) + [
    "MinimizeResult",
    "Monitor",
    "NativeObjective",
    "Parallel",
    "Vectorized",
    "get_threads",
    "set_threads",
    "threads",
    "StopRun",
    "expected_evaluations",
    "minimize",
    "StartResult",
    "TsplibError",
    "TsplibInstance",
    "load_tour",
    "load_tsplib",
    "multistart",
    "multistart_tour",
    "problems",
    "tsplib",
]
