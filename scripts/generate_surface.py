"""Writes what the package says about its classes from the engine's registry and the built types (docstrings,
published signatures, smallest sizes and counts of objective calls): the class section and ``__all__`` of
python/hivekit/_hivekit.pyi and the class table of README.md; and the README's one-line lists kept elsewhere in
one table (the command line's problems, the bundled instances, the variant codes), each written between
``<!-- NAME -->`` and ``<!-- /NAME -->``, NAME a key of ``PARTS``. With --check it writes nothing and fails, showing
the difference, when either file is not what the registry gives; the tests run it so.

Run it against a build of the extension:  PYTHONPATH=build/dev/pkg python scripts/generate_surface.py
"""

from __future__ import annotations

import difflib
import pathlib
import re
import sys
import textwrap

import hivekit
from hivekit import __main__ as cli
from hivekit import _hivekit, tsplib
from hivekit._registry import CLASSES, ClassInfo

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUB = ROOT / "python" / "hivekit" / "_hivekit.pyi"
README = ROOT / "README.md"
STUB_CLASSES = "# -- The classes, written by scripts/generate_surface.py from the engine's registry. --\n"
TABLE_START = "<!-- The class table, written by scripts/generate_surface.py from the engine's registry. -->\n"
TABLE_END = "<!-- End of the class table. -->\n"
ANNOTATION = {"size": "_Size", "real": "_Real", "flag": "bool", "variant": "str"}
GROUPS = ("tours", "box", "bit vectors", "box, two objectives")  # the order of the classes in both files
ORDERED = sorted(CLASSES, key=lambda info: GROUPS.index(info.works_on))
NOTES = {  # what a family or a probe changes for the user
    "zeros": "The box only sets the number of bits; the objective sees each bit as 0.0 or 1.0.",
    "pareto": "``predict`` returns the Pareto archive's positions, ``score`` its hypervolume against (1, 1).",
}


def defaults(info: ClassInfo) -> list[tuple[str, str]]:
    """(parameter, default as the published signature writes it), random_state left out."""
    signature = info.cls.__text_signature__
    return [(name, text) for name, text in re.findall(r"(\w+)=([^,)]+)", signature) if name != "random_state"]


def stub_class(info: ClassInfo) -> str:
    kinds = {p.name: p.kind for p in info.params}
    params = [f"{name}: {ANNOTATION[kinds[name]]} = {text}" for name, text in defaults(info)]
    params = ["cls", *params, "random_state: _Seed = None"]
    new = f"    def __new__({', '.join(params)}) -> Self: ..."
    if len(new) > 120:
        new = "    def __new__(\n" + "".join(f"        {p},\n" for p in params) + "    ) -> Self: ..."
    tour, pareto = info.input == "tour", info.multi_objective
    fit = "distance_matrix: _Matrix" if tour else \
        f"objective: {'_MultiObjective' if pareto else '_Objective'}, lower: _Bound, upper: _Bound"
    solution = "list[int]" if tour else "list[list[float]]" if pareto else "list[float]"
    doc = "\n".join(f"    {line}" if line else "" for line in info.docstring.split("\n")).lstrip()
    lines = ["@final", f"class {info.name}:", f'    """{doc}"""', ""]
    notes = [NOTES.get(info.probe), NOTES.get(info.family)]
    if info.refusal:
        notes.append(f"fit refuses {info.params[0].name} below {info.smallest} with the ValueError")
        notes.append(f'"Invalid input: {info.refusal}".')
    if not tour:
        calls = hivekit.expected_evaluations(info.cls(), 1)
        made = "a number of objective calls that depends on the run" if calls is None else f"{calls} objective calls"
        notes.append(f"With the defaults fit makes {made}, the probe call included.")
    for note in filter(None, notes):
        lines += textwrap.wrap(note, 116, initial_indent="    # ", subsequent_indent="    # ")
    lines.append(new)
    for method, signature in (("fit", f"self, {fit}) -> None"), ("predict", f"self) -> {solution}"),
                              ("score", "self) -> float"), ("get_params", "self) -> dict[str, float]")):
        doc = getattr(info.cls, method).__doc__
        lines.append(f"    def {method}({signature}:" + (f'\n        """{doc}"""' if doc else " ..."))
    if not pareto:
        lines += ["    @property", "    def history_(self) -> list[float]: ..."]
    lines += ["    @property", "    def population_(self) -> list[list[float]]: ..."]
    return "\n".join(lines) + "\n"


def stub(current: str) -> str:
    names = ["two_opt", *(info.name for info in CLASSES)]
    listed = "__all__ = [\n" + "".join(f'    "{name}",\n' for name in names) + "]\n"
    text = re.sub(r"^__all__ = \[\n(?:    .*\n)*\]\n", lambda _: listed, current, count=1, flags=re.M)
    head = text.split(STUB_CLASSES, 1)[0]
    return head + STUB_CLASSES + "\n" + "\n".join(stub_class(info) for info in ORDERED)


def names(items: tuple[str, ...]) -> str:
    return ", ".join(f"`{item}`" for item in items)


PARTS = {
    "shifted-problems": lambda: names(cli.BOX_PROBLEMS),
    "centred-problems": lambda: names(cli.CENTRED_PROBLEMS),
    "bundled-instances": lambda: ", ".join(f"`{name}` ({optimum:g})" for name, optimum in tsplib.BUNDLED_OPTIMA.items()),
    "variant-codes": lambda: ", ".join(f"{code} {name}" for code, name in enumerate(_hivekit._variant_names)),
}


def readme(current: str) -> str:
    rows = ["| Class | Works on | Hyperparameters and defaults |\n", "|---|---|---|\n"]
    for info in ORDERED:
        kinds = {p.name: p.kind for p in info.params}
        others = ", ".join(f'`"{name}"`' for name in _hivekit._variant_names[1:])
        listed = ", ".join(f"`{name}={text}`" + (f" (or {others})" if kinds[name] == "variant" else "")
                           for name, text in defaults(info))
        rows.append(f"| `{info.name}` | {info.works_on} | {listed} |\n")
    head, rest = current.split(TABLE_START, 1)
    text = head + TABLE_START + "".join(rows) + TABLE_END + rest.split(TABLE_END, 1)[1]
    for name, make in PARTS.items():
        pattern = re.compile(f"(<!-- {name} -->).*?(<!-- /{name} -->)")
        if not pattern.search(text):
            raise ValueError(f"README.md has no part {name}")
        text = pattern.sub(lambda m: m.group(1) + make() + m.group(2), text)
    return text


def main(argv: list[str]) -> int:
    stale = []
    for path, make in ((STUB, stub), (README, readme)):
        current = path.read_text()
        wanted = make(current)
        if wanted == current:
            continue
        if "--check" in argv:
            stale.append("".join(difflib.unified_diff(current.splitlines(True), wanted.splitlines(True),
                                                      str(path.relative_to(ROOT)), "from the registry")))
        else:
            path.write_text(wanted)
    if stale:
        print("".join(stale) + "\nnot current: run scripts/generate_surface.py", file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
