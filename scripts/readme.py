"""Rewrites the generated parts of README.md from the tables that state them, or checks that they are current.

    PYTHONPATH=build/dev/pkg .venv/bin/python scripts/readme.py           # rewrite the parts
    PYTHONPATH=build/dev/pkg .venv/bin/python scripts/readme.py --check   # exit 1 if one is stale

A generated part stands between ``<!-- NAME -->`` and ``<!-- /NAME -->`` on one line of the README, NAME
being a key of ``PARTS``; everything else in the file is written by hand.
"""

from __future__ import annotations

import argparse
import pathlib
import re
import sys
from collections.abc import Callable

from hivekit import __main__ as cli
from hivekit import _hivekit, tsplib

README = pathlib.Path(__file__).resolve().parents[1] / "README.md"

def names(items: tuple[str, ...]) -> str:
    return ", ".join(f"`{item}`" for item in items)


PARTS: dict[str, Callable[[], str]] = {
    "shifted-problems": lambda: names(cli.BOX_PROBLEMS),
    "centred-problems": lambda: names(cli.CENTRED_PROBLEMS),
    "bundled-instances": lambda: ", ".join(f"`{name}` ({optimum:g})" for name, optimum in tsplib.BUNDLED_OPTIMA.items()),
    "variant-codes": lambda: ", ".join(f"{code} {name}" for code, name in enumerate(_hivekit._variant_names)),
}


def generated(text: str) -> str:
    """``text`` with every generated part made anew."""
    for name, make in PARTS.items():
        pattern = re.compile(f"(<!-- {name} -->).*?(<!-- /{name} -->)")
        if not pattern.search(text):
            raise ValueError(f"README.md has no part {name}")
        text = pattern.sub(lambda m: m.group(1) + make() + m.group(2), text)
    return text


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args(argv)
    text = README.read_text()
    made = generated(text)
    if args.check:
        if made != text:
            print("README.md is stale: run scripts/readme.py", file=sys.stderr)
            return 1
        return 0
    README.write_text(made)
    return 0


if __name__ == "__main__":
    sys.exit(main())
