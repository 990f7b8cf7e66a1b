"""The estimator classes as the engine's registry describes them: the one source of the package's class lists."""

from __future__ import annotations

from dataclasses import dataclass

from hivekit import _hivekit


@dataclass(frozen=True)
class Param:
    """A hyperparameter: its name, its kind (``size``, ``real``, ``flag`` or ``variant``) and its default."""

    name: str
    kind: str
    default: int | float | bool | str


@dataclass(frozen=True)
class ClassInfo:
    """A class of the engine: what ``fit`` takes (``box`` or ``tour``), what it keeps (``best``, ``recorded`` or
    ``pareto``), what the probe call receives, its hyperparameters in constructor order, and the smallest value
    of its first one that ``fit`` accepts with the refusal of one below it (0 and None when any size runs)."""

    cls: type
    docstring: str
    input: str
    family: str
    probe: str
    params: tuple[Param, ...]
    smallest: int
    refusal: str | None

    @property
    def name(self) -> str:
        return self.cls.__name__

    @property
    def multi_objective(self) -> bool:
        return self.family == "pareto"

    @property
    def works_on(self) -> str:
        """What ``fit`` searches, as the README and the API reference group the classes."""
        if self.input == "tour":
            return "tours"
        return {"zeros": "bit vectors", "centre_objectives": "box, two objectives"}.get(self.probe, "box")


CLASSES: tuple[ClassInfo, ...] = tuple(
    ClassInfo(getattr(_hivekit, name), doc, fit_input, family, probe, tuple(Param(*p) for p in params), smallest,
              refusal)
    for name, doc, fit_input, family, probe, params, smallest, refusal in _hivekit._registry
)
BY_NAME: dict[str, ClassInfo] = {info.name: info for info in CLASSES}
TOUR_CLASSES: tuple[type, ...] = tuple(info.cls for info in CLASSES if info.input == "tour")
BOX_CLASSES: tuple[type, ...] = tuple(info.cls for info in CLASSES if info.input == "box")
MULTI_OBJECTIVE_CLASSES: tuple[type, ...] = tuple(info.cls for info in CLASSES if info.multi_objective)
