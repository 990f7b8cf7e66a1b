"""Reading TSPLIB instances (``.tsp``) and tours (``.tour``, ``.opt.tour``).

:func:`load_tsplib` turns a symmetric (TSP) or asymmetric (ATSP) instance into the distance matrix that
``AntColony.fit`` and ``PermutationGeneticOptimizer.fit`` take, using TSPLIB's own distance rules:

- ``EUC_2D``: Euclidean distance rounded to the nearest integer, ``nint(d) = floor(d + 0.5)``;
- ``CEIL_2D``: Euclidean distance rounded up;
- ``ATT``: the pseudo-Euclidean distance ``r = sqrt((dx² + dy²) / 10)``, rounded to the nearest integer and
  raised by one when that integer is below ``r``;
- ``GEO``: great-circle distance in whole kilometres on the idealised sphere of radius 6378.388 km, with
  coordinates in ``DDD.MM`` form (degrees, then minutes after the point);
- ``EXPLICIT``: the weights as written, in ``FULL_MATRIX``, ``UPPER_ROW``, ``LOWER_ROW``, ``UPPER_DIAG_ROW``
  or ``LOWER_DIAG_ROW`` layout.

A malformed file raises :class:`TsplibError`, a ``ValueError`` that names the file and the line.

A ``DIMENSION`` whose dense matrix could not be held in the machine's memory raises :class:`MemoryError`
as soon as it is read, before any coordinate. The plane rules are computed by the extension module, in the
same double operations as written above; equal entries of the matrix share one float object, which keeps a
matrix of thousands of cities to about the size of its lists.

{bundled}
Both loaders accept such a name instead of a path. A loaded instance has the published optimum when its
distance rule and coordinates are those of a bundled instance, whatever its file or ``NAME`` is called.
"""

from __future__ import annotations

import errno
import functools
import math
import os
import textwrap
from collections.abc import Sequence
from dataclasses import dataclass
from importlib import resources
from pathlib import Path

from ._hivekit import _over_physical_memory, _plane_rows

__all__ = [
    "BUNDLED_OPTIMA",
    "TsplibError",
    "TsplibInstance",
    "bundled_names",
    "load_tour",
    "load_tsplib",
    "tour_length",
]

# The one table of the instances in data/tsplib: their number of cities and their published optimal tour
# length. The list in this module's docstring, in the README and on the tours page is made from it.
_BUNDLED: dict[str, tuple[int, float]] = {
    "eil51": (51, 426.0),
    "berlin52": (52, 7542.0),
    "st70": (70, 675.0),
    "kroA100": (100, 21282.0),
    "pcb442": (442, 50778.0),
    "pr1002": (1002, 259045.0),
}
BUNDLED_OPTIMA: dict[str, float] = {name: optimum for name, (_, optimum) in _BUNDLED.items()}


def _listed(names: Sequence[str], last: str = "and") -> str:
    """``a``, ``b`` and ``c``: the names as one phrase."""
    return ", ".join(names[:-1]) + f" {last} " + names[-1] if len(names) > 1 else "".join(names)


_COUNTS = ("No", "One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine", "Ten", "Eleven", "Twelve")
__doc__ = (__doc__ or "").format(bundled=textwrap.fill(
    f"{_COUNTS[len(_BUNDLED)]} instances ship with the package, with their optimal tours: "
    + _listed([f"``{name}`` ({'optimal length ' if k == 0 else ''}{optimum:g})"
               for k, (name, optimum) in enumerate(BUNDLED_OPTIMA.items())]) + ".", width=104))

_COORDINATE_TYPES = ("EUC_2D", "CEIL_2D", "GEO", "ATT")
_MATRIX_FORMATS = ("FULL_MATRIX", "UPPER_ROW", "LOWER_ROW", "UPPER_DIAG_ROW", "LOWER_DIAG_ROW")
_IGNORED_KEYS = ("CAPACITY", "EDGE_DATA_FORMAT", "DISPLAY_DATA_TYPE", "NODE_COORD_TYPE")
_GEO_PI = 3.141592  # TSPLIB's own value of pi for GEO coordinates; the published optima depend on it
_GEO_RADIUS = 6378.388


class TsplibError(ValueError):
    """A TSPLIB file that cannot be read; ``filename`` and ``line`` (1-based, or None) say where."""

    def __init__(self, filename: str, line: int | None, reason: str) -> None:
        self.filename = filename
        self.line = line
        self.reason = reason
        where = f"{filename}, line {line}" if line is not None else filename
        super().__init__(f"{where}: {reason}")


@dataclass(frozen=True)
class TsplibInstance:
    """A loaded instance.

    ``distance_matrix[a][b]`` is the cost from city ``a`` to city ``b`` (0-based; TSPLIB numbers cities from
    1). ``optimum`` is the published optimal tour length when the file holds a bundled instance (the same
    distance rule and coordinates, whatever its name) and None otherwise.
    ``coordinates`` are the node (or display) coordinates in file order, when the file has any.
    """

    name: str
    dimension: int
    distance_matrix: list[list[float]]
    optimum: float | None
    comment: str
    edge_weight_type: str
    coordinates: list[tuple[float, float]] | None


def bundled_names() -> list[str]:
    """Names of the instances shipped with the package."""
    return list(BUNDLED_OPTIMA)


def tour_length(tour: Sequence[int], distance_matrix: Sequence[Sequence[float]]) -> float:
    """Closed length of ``tour`` (0-based city indices), returning from the last city to the first.

    Adds the legs in tour order from 0.0, as the optimisers do, so lengths compare exactly with ``score()``.
    """
    total = 0.0
    m = len(tour)
    for k in range(m):
        total += distance_matrix[tour[k]][tour[(k + 1) % m]]
    return total


def load_tsplib(path_or_name: str | os.PathLike[str]) -> TsplibInstance:
    """Reads a TSPLIB instance from a file, or a bundled instance by name (``"berlin52"``)."""
    filename, text = _read(path_or_name, ".tsp")
    return _InstanceReader(filename, text).read()


def load_tour(path_or_name: str | os.PathLike[str]) -> list[int]:
    """Reads a TSPLIB tour file and returns the tour as 0-based city indices.

    A bundled instance's name (``"berlin52"``) gives its optimal tour.
    """
    filename, text = _read(path_or_name, ".opt.tour")
    return _TourReader(filename, text).read()


def _read(path_or_name: str | os.PathLike[str], suffix: str) -> tuple[str, str]:
    given = os.fspath(path_or_name)
    path = Path(given)
    if path.is_file():
        filename, data = given, path.read_bytes()
    else:
        name = _bundled_name(given, suffix)
        if name is None:
            raise FileNotFoundError(
                errno.ENOENT,
                f"no TSPLIB file or bundled instance named {given!r} (bundled: {', '.join(BUNDLED_OPTIMA)})",
                given,
            )
        filename = f"{name}{suffix}"
        data = _bundled_bytes(filename)
    return filename, _decoded(filename, data)


def _bundled_bytes(filename: str) -> bytes:
    return resources.files("hivekit").joinpath("data", "tsplib", filename).read_bytes()


def _decoded(filename: str, data: bytes) -> str:
    try:
        # Editors on some systems start a UTF-8 file with a byte-order mark; it is no part of the first keyword.
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        line = data[: exc.start].count(b"\n") + 1
        raise TsplibError(filename, line, "not a text file (invalid UTF-8)") from None


def _bundled_name(given: str, suffix: str) -> str | None:
    stem = given[: -len(suffix)] if given.endswith(suffix) else given
    for name in BUNDLED_OPTIMA:
        if stem.lower() == name.lower():
            return name
    return None


class _Lines:
    """The non-blank lines of a file with their 1-based numbers, read front to back."""

    def __init__(self, filename: str, text: str) -> None:
        self.filename = filename
        self.items = [(i, line.strip()) for i, line in enumerate(text.splitlines(), start=1) if line.strip()]
        self.pos = 0

    def error(self, reason: str) -> TsplibError:
        """An error at the line last read (the last line when the file ended early)."""
        line = self.items[min(self.pos, len(self.items)) - 1][0] if self.items else None
        return TsplibError(self.filename, line, reason)

    def more(self) -> bool:
        return self.pos < len(self.items)

    def next(self) -> tuple[int, str]:
        item = self.items[self.pos]
        self.pos += 1
        return item

    def header(self) -> tuple[int, str, str | None]:
        """The next line as (number, KEY, value), value None for a bare keyword such as a section name."""
        number, line = self.next()
        if ":" in line:
            key, value = line.split(":", 1)
            key, value = key.strip().upper(), value.strip()
            if key.endswith("_SECTION") and not value:
                return number, key, None
            return number, key, value
        return number, line.split()[0].upper(), None

    def numbers(self, count: int, what: str) -> list[float]:
        """The next ``count`` whitespace-separated numbers, which may span lines."""
        values: list[float] = []
        while len(values) < count:
            if not self.more():
                raise self.error(f"{what} ends after {len(values)} of {count} entries")
            number, line = self.next()
            for token in line.split():
                if len(values) == count:
                    raise TsplibError(self.filename, number, f"{what} has more than {count} entries")
                values.append(_number(token, self.filename, number))
        return values


# Tokens from the file are quoted up to this many characters: a line of megabytes would otherwise be
# repeated whole in the message.
_QUOTED = 40


def _clipped(text: str) -> str:
    """``text`` cut to its first characters when long, so that a message stays readable."""
    return text if len(text) <= _QUOTED else f"{text[:_QUOTED]}… ({len(text)} characters)"


def _quoted(text: str) -> str:
    """``text`` in quotes, cut as :func:`_clipped` cuts it."""
    return repr(text) if len(text) <= _QUOTED else f"{text[:_QUOTED]!r}… ({len(text)} characters)"


def _number(token: str, filename: str, line: int) -> float:
    try:
        value = float(token)
    except ValueError:
        raise TsplibError(filename, line, f"expected a number, found {_quoted(token)}") from None
    if not math.isfinite(value):
        raise TsplibError(filename, line, f"expected a finite number, found {_quoted(token)}")
    return value


def _dimension(value: str, filename: str, line: int) -> int:
    try:
        n = int(value)
    except ValueError:
        raise TsplibError(filename, line, f"DIMENSION must be a whole number, found {_quoted(value)}") from None
    if n < 1:
        raise TsplibError(filename, line, f"DIMENSION must be at least 1, found {_clipped(str(n))}")
    return n


# Bytes one entry of the matrix costs at the least: the list's pointer and the double a fit copies it into. The
# plane rules share one float object among equal entries, so the objects add little; the header may not have
# named the rule yet when DIMENSION is read, and only a matrix that surely cannot be held is refused.
_BYTES_PER_ENTRY = 8 + 8


def _check_room(n: int) -> None:
    """Refuses a dimension whose dense matrix could not stay in memory, before anything is built, by the
    engine's own limit."""
    physical = _over_physical_memory(n * n, _BYTES_PER_ENTRY)
    if physical is not None:
        needed = n * n * _BYTES_PER_ENTRY
        raise MemoryError(
            f"DIMENSION {_clipped(str(n))} needs a dense distance matrix of about {_gigabytes(needed)}, "
            f"more than the {_gigabytes(physical)} of memory of this machine"
        )


def _gigabytes(count: int) -> str:
    # A dimension may have thousands of digits, and its square no longer divides into a float.
    if count.bit_length() > 1000:
        return f"10^{int((count.bit_length() - 31) * math.log10(2))} GiB"
    return f"{count / 2**30:.1f} GiB"


class _InstanceReader:
    def __init__(self, filename: str, text: str) -> None:
        self.filename = filename
        self.lines = _Lines(filename, text)
        self.keys: dict[str, str] = {}
        self.key_lines: dict[str, int] = {}
        self.comments: list[str] = []
        self.dimension: int | None = None
        self.coordinates: list[tuple[float, float]] | None = None
        self.display: list[tuple[float, float]] | None = None
        self.weights: list[float] | None = None

    def read(self) -> TsplibInstance:
        self.parse()
        return self.build()

    def parse(self) -> None:
        lines = self.lines
        if not lines.more():
            raise TsplibError(self.filename, None, "the file is empty")
        while lines.more():
            number, key, value = lines.header()
            if key == "EOF":
                break
            if value is None:
                self.section(key, number)
            else:
                self.keyword(key, value, number)

    def keyword(self, key: str, value: str, number: int) -> None:
        if key == "COMMENT":
            self.comments.append(value)
            return
        if key not in ("NAME", "TYPE", "DIMENSION", "EDGE_WEIGHT_TYPE", "EDGE_WEIGHT_FORMAT") + _IGNORED_KEYS:
            raise TsplibError(self.filename, number, f"unknown keyword {_quoted(key)}")
        if key in self.keys:
            raise TsplibError(self.filename, number, f"{key} is given twice")
        self.keys[key] = value
        self.key_lines[key] = number
        if key == "DIMENSION":
            self.dimension = _dimension(value, self.filename, number)
            _check_room(self.dimension)
        elif key == "TYPE":
            kind = value.split()[0].upper() if value else ""
            if kind == "TOUR":
                raise TsplibError(self.filename, number, "this is a tour file; read it with load_tour")
            if kind not in ("TSP", "ATSP"):
                raise TsplibError(self.filename, number, f"TYPE {_quoted(value)} is not supported (only TSP and ATSP)")
        elif key == "EDGE_WEIGHT_TYPE" and value.upper() not in _COORDINATE_TYPES + ("EXPLICIT",):
            supported = ", ".join(_COORDINATE_TYPES + ("EXPLICIT",))
            raise TsplibError(self.filename, number, f"EDGE_WEIGHT_TYPE {_quoted(value)} is not supported ({supported})")
        elif key == "EDGE_WEIGHT_FORMAT" and value.upper() not in _MATRIX_FORMATS + ("FUNCTION",):
            supported = ", ".join(_MATRIX_FORMATS)
            raise TsplibError(self.filename, number, f"EDGE_WEIGHT_FORMAT {_quoted(value)} is not supported ({supported})")

    def section(self, key: str, number: int) -> None:
        if key in ("FIXED_EDGES_SECTION", "DEPOT_SECTION"):
            self.skip_until_minus_one(key)
            return
        if key not in ("NODE_COORD_SECTION", "DISPLAY_DATA_SECTION", "EDGE_WEIGHT_SECTION"):
            raise TsplibError(self.filename, number, f"unknown keyword {_quoted(key)}")
        n = self.dimension
        if n is None:
            raise TsplibError(self.filename, number, f"DIMENSION must be given before {key}")
        if key == "NODE_COORD_SECTION":
            self.coordinates = self.points(key, n)
        elif key == "DISPLAY_DATA_SECTION":
            self.display = self.points(key, n)
        else:
            layout = self.keys.get("EDGE_WEIGHT_FORMAT", "").upper()
            if layout == "FUNCTION":
                # FUNCTION says the weights come from the coordinates, so the section has no layout to be read in.
                supported = ", ".join(_MATRIX_FORMATS)
                raise TsplibError(self.filename, number, "EDGE_WEIGHT_FORMAT FUNCTION gives no layout for the "
                                  f"weights of EDGE_WEIGHT_SECTION; it needs one of {supported}")
            if layout not in _MATRIX_FORMATS:
                raise TsplibError(self.filename, number, "EDGE_WEIGHT_FORMAT must be given before EDGE_WEIGHT_SECTION")
            self.weights = self.lines.numbers(_entry_count(layout, n), key)

    def points(self, key: str, n: int) -> list[tuple[float, float]]:
        found: list[tuple[float, float] | None] = [None] * n
        for _ in range(n):
            if not self.lines.more():
                raise self.lines.error(f"{key} ends before all {n} nodes are listed")
            number, line = self.lines.next()
            fields = line.split()
            if fields[0].upper() == "EOF" or fields[0].upper().endswith("_SECTION"):
                # Counted only here: counting on every line made reading quadratic in the dimension.
                listed = sum(p is not None for p in found)
                raise TsplibError(self.filename, number, f"{key} lists {listed} of {n} nodes")
            if len(fields) != 3:
                raise TsplibError(self.filename, number, f"{key} expects 'node x y', found {_quoted(line)}")
            try:
                node = int(fields[0])
            except ValueError:
                reason = f"node number must be a whole number, found {_quoted(fields[0])}"
                raise TsplibError(self.filename, number, reason) from None
            if not 1 <= node <= n:
                raise TsplibError(self.filename, number, f"node number {node} is outside 1..{n}")
            if found[node - 1] is not None:
                raise TsplibError(self.filename, number, f"node {node} is listed twice")
            found[node - 1] = (_number(fields[1], self.filename, number), _number(fields[2], self.filename, number))
        return [p for p in found if p is not None]

    def skip_until_minus_one(self, key: str) -> None:
        while self.lines.more():
            _, line = self.lines.next()
            if line.split()[-1] == "-1":
                return
        raise self.lines.error(f"{key} is not closed by -1")

    def build(self) -> TsplibInstance:
        if self.dimension is None:
            raise TsplibError(self.filename, None, "DIMENSION is missing")
        n = self.dimension
        weight_type = self.keys.get("EDGE_WEIGHT_TYPE", "").upper()
        if not weight_type:
            raise TsplibError(self.filename, None, "EDGE_WEIGHT_TYPE is missing")
        if weight_type == "EXPLICIT":
            if self.weights is None:
                raise TsplibError(self.filename, None, "EDGE_WEIGHT_TYPE EXPLICIT needs an EDGE_WEIGHT_SECTION")
            matrix = _explicit_matrix(self.keys["EDGE_WEIGHT_FORMAT"].upper(), n, self.weights)
        else:
            if self.coordinates is None:
                raise TsplibError(self.filename, None, f"EDGE_WEIGHT_TYPE {weight_type} needs a NODE_COORD_SECTION")
            matrix = _coordinate_matrix(weight_type, self.coordinates)
        name = self.keys.get("NAME") or Path(self.filename).stem
        optimum = None if self.coordinates is None else _bundled_optimum(weight_type, self.coordinates)
        return TsplibInstance(
            name=name,
            dimension=n,
            distance_matrix=matrix,
            optimum=optimum,
            comment="\n".join(self.comments),
            edge_weight_type=weight_type,
            coordinates=self.coordinates if self.coordinates is not None else self.display,
        )


def _bundled_optimum(weight_type: str, coordinates: list[tuple[float, float]]) -> float | None:
    """The published optimum of the bundled instance whose matrix this rule and these coordinates give.

    An optimum belongs to the distances, not to a name: a file called berlin52 with other cities has none,
    and a renamed copy of berlin52, whatever the spelling of its numbers, has berlin52's.
    """
    for name, (size, optimum) in _BUNDLED.items():
        if size == len(coordinates) and _bundled_content(name) == (weight_type, coordinates):
            return optimum
    return None


@functools.cache
def _bundled_content(name: str) -> tuple[str, list[tuple[float, float]] | None]:
    """The rule and the coordinates of a bundled instance, read from the package once."""
    filename = f"{name}.tsp"
    reader = _InstanceReader(filename, _decoded(filename, _bundled_bytes(filename)))
    reader.parse()
    return reader.keys["EDGE_WEIGHT_TYPE"].upper(), reader.coordinates


def _entry_count(layout: str, n: int) -> int:
    return {
        "FULL_MATRIX": n * n,
        "UPPER_ROW": n * (n - 1) // 2,
        "LOWER_ROW": n * (n - 1) // 2,
        "UPPER_DIAG_ROW": n * (n + 1) // 2,
        "LOWER_DIAG_ROW": n * (n + 1) // 2,
    }[layout]


def _explicit_matrix(layout: str, n: int, weights: list[float]) -> list[list[float]]:
    if layout == "FULL_MATRIX":
        return [weights[i * n : (i + 1) * n] for i in range(n)]
    matrix = [[0.0] * n for _ in range(n)]
    if layout == "UPPER_ROW":
        cells = ((i, j) for i in range(n) for j in range(i + 1, n))
    elif layout == "LOWER_ROW":
        cells = ((i, j) for i in range(n) for j in range(i))
    elif layout == "UPPER_DIAG_ROW":
        cells = ((i, j) for i in range(n) for j in range(i, n))
    else:
        cells = ((i, j) for i in range(n) for j in range(i + 1))
    for (i, j), w in zip(cells, weights, strict=True):
        matrix[i][j] = w
        matrix[j][i] = w
    return matrix


def _geo_radians(value: float) -> float:
    degrees = math.trunc(value)
    minutes = value - degrees
    return _GEO_PI * (degrees + 5.0 * minutes / 3.0) / 180.0


def _coordinate_matrix(weight_type: str, points: list[tuple[float, float]]) -> list[list[float]]:
    if weight_type == "GEO":
        return _geo_matrix(points)
    return _plane_rows([x for x, _ in points], [y for _, y in points], weight_type)


def _geo_matrix(points: list[tuple[float, float]]) -> list[list[float]]:
    n = len(points)
    matrix = [[0.0] * n for _ in range(n)]
    radians = [(_geo_radians(x), _geo_radians(y)) for x, y in points]
    cos, acos = math.cos, math.acos
    for i in range(n):
        lat_i, long_i = radians[i]
        row = matrix[i]
        for j in range(i + 1, n):
            lat_j, long_j = radians[j]
            q1 = cos(long_i - long_j)
            q2 = cos(lat_i - lat_j)
            q3 = cos(lat_i + lat_j)
            cosine = max(-1.0, min(1.0, 0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3)))
            d = float(int(_GEO_RADIUS * acos(cosine) + 1.0))
            row[j] = d
            matrix[j][i] = d
    return matrix


class _TourReader:
    def __init__(self, filename: str, text: str) -> None:
        self.filename = filename
        self.lines = _Lines(filename, text)
        self.largest: tuple[int, int] | None = None  # the largest city number read, and its line

    def read(self) -> list[int]:
        lines = self.lines
        if not lines.more():
            raise TsplibError(self.filename, None, "the file is empty")
        dimension: int | None = None
        tour: list[int] | None = None
        while lines.more():
            number, key, value = lines.header()
            if key == "EOF":
                break
            if key == "TOUR_SECTION" and value is None:
                if tour is not None:
                    raise TsplibError(self.filename, number, "TOUR_SECTION is given twice")
                tour = self.section(dimension)
            elif key == "DIMENSION" and value is not None:
                dimension = _dimension(value, self.filename, number)
            elif key == "TYPE" and value is not None:
                if not value or value.split()[0].upper() != "TOUR":
                    raise TsplibError(self.filename, number, f"TYPE is {_quoted(value)}, expected TOUR")
            elif key not in ("NAME", "COMMENT") or value is None:
                raise TsplibError(self.filename, number, f"unknown keyword {_quoted(key)}")
        if tour is None:
            raise TsplibError(self.filename, None, "TOUR_SECTION is missing")
        if dimension is not None and self.largest is not None and self.largest[0] > dimension:
            # DIMENSION came after the section, which could check only the lower bound.
            city, number = self.largest
            raise TsplibError(self.filename, number, f"city number {city} is outside 1..{dimension}")
        if dimension is not None and len(tour) != dimension:
            raise TsplibError(self.filename, None, f"the tour visits {len(tour)} cities, DIMENSION is {dimension}")
        return tour

    def section(self, dimension: int | None) -> list[int]:
        tour: list[int] = []
        seen: set[int] = set()
        while self.lines.more():
            number, line = self.lines.next()
            for token in line.split():
                try:
                    city = int(token)
                except ValueError:
                    raise TsplibError(self.filename, number, f"expected a city number, found {_quoted(token)}") from None
                if city == -1:
                    return tour
                if city < 1 or (dimension is not None and city > dimension):
                    upper = f"..{dimension}" if dimension is not None else " or more"
                    raise TsplibError(self.filename, number, f"city number {city} is outside 1{upper}")
                if city in seen:
                    raise TsplibError(self.filename, number, f"city {city} appears twice in the tour")
                if self.largest is None or city > self.largest[0]:
                    self.largest = (city, number)
                seen.add(city)
                tour.append(city - 1)
        raise self.lines.error("TOUR_SECTION is not closed by -1")
